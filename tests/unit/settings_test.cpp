#include "common/decimal.h"
#include "common/text.h"
#include "common/utf8.h"
#include "driver/settings.h"
#include <gtest/gtest.h>
#include <codecvt>
#include <cstring>
#include <locale>
#include <random>
#include <string>

namespace {

TEST(ParseDecimal, SignsBlanksAndStops)
{
    EXPECT_EQ(ParseDecimal("  \t-42abc"), -42);
    EXPECT_EQ(ParseDecimal(""), 0);
    EXPECT_EQ(ParseDecimal("+7"), 0);
    EXPECT_EQ(ParseDecimal("- 5"), 0);
    EXPECT_EQ(ParseDecimal("12.5"), 12);
    EXPECT_EQ(ParseDecimal("007"), 7);
    EXPECT_EQ(ParseDecimal("\n5"), 0);
    EXPECT_EQ(ParseDecimal("abc"), 0);
}

TEST(ParseDecimal, WrapsModulo2To32)
{
    EXPECT_EQ(ParseDecimal("4294967295"), -1);
    EXPECT_EQ(ParseDecimal("4294967296"), 0);
    EXPECT_EQ(ParseDecimal("2147483648"), -2147483647 - 1);
    EXPECT_EQ(ParseDecimal("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(ParseDecimal("99999999999999999999"), 1661992959); // 10^20 mod 2^32
}

TEST(ParseVersionText, IntoTwoWords)
{
    unsigned ms = 1, ls = 1;
    ParseVersionText("3.1.4000.2435", &ms, &ls);
    EXPECT_EQ(ms, 0x00030001u);
    EXPECT_EQ(ls, 0x0FA00983u);
    ParseVersionText("2.0", &ms, &ls);
    EXPECT_EQ(ms, 0x00020000u);
    EXPECT_EQ(ls, 0u);
    ParseVersionText("", &ms, &ls);
    EXPECT_EQ(ms, 0u);
    EXPECT_EQ(ls, 0u);
    ParseVersionText("1..5", &ms, &ls);
    EXPECT_EQ(ms, 0x00010000u);
    EXPECT_EQ(ls, 0x00050000u);
}

TEST(ApplyDelayRebootRule, MajorVersionOneOrLessClears)
{
    struct Case {
        unsigned ms;
        unsigned char expected;
    } cases[] = {
        {0x00010001, 0}, // 1.1
        {0x00000005, 0}, // 0.5
        {0x00020000, 1}, // 2.0
        {0x00030001, 1}, // 3.1
        {0, 1},          // no requirement
        {0x80000000, 0}, // a major above 32767 reads as negative
    };
    for (const Case &c : cases) {
        InstallerSettingsRecord s = {};
        s.RuntimeVersionMS = c.ms;
        s.DelayReboot = 1;
        ApplyDelayRebootRule(&s);
        EXPECT_EQ(s.DelayReboot, c.expected) << std::hex << c.ms;
    }
}

std::string SettingsPathOf(const char *module, unsigned capacity = 256)
{
    char out[256];
    MakeSettingsPath(out, capacity, module);
    return out;
}

TEST(MakeSettingsPath, ReplacesOnlyTheFileNamesExtension)
{
    EXPECT_EQ(SettingsPathOf("C:\\dir\\setup.exe"), "C:\\dir\\setup.ini");
    EXPECT_EQ(SettingsPathOf("C:\\dir\\my.setup.exe"), "C:\\dir\\my.setup.ini");
    EXPECT_EQ(SettingsPathOf("C:\\my.dir\\setup"), "C:\\my.dir\\setup.ini");
    EXPECT_EQ(SettingsPathOf("setup"), "setup.ini");
    EXPECT_EQ(SettingsPathOf("setup.exe"), "setup.ini");
}

TEST(MakeSettingsPath, CutsToCapacity)
{
    EXPECT_EQ(SettingsPathOf("C:\\a\\setup.exe", 8), "C:\\a\\se");
    EXPECT_EQ(SettingsPathOf("C:\\a.exe", 5), "C:\\a");
}

TEST(BoundedText, CopyAndAppendNeverOverrun)
{
    char buf[6];
    EXPECT_EQ(CopyText(buf, sizeof buf, "abcdefgh"), 5u);
    EXPECT_STREQ(buf, "abcde");
    EXPECT_EQ(CopyText(buf, sizeof buf, "ab"), 2u);
    EXPECT_EQ(AppendText(buf, sizeof buf, "cdefg"), 5u);
    EXPECT_STREQ(buf, "abcde");
    EXPECT_EQ(CopyText(buf, sizeof buf, nullptr), 0u);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(CopyText(buf, 0, "x"), 0u);
}

TEST(BoundedText, CaseInsensitiveAsciiComparisons)
{
    EXPECT_TRUE(TextStartsWithNoCase("HTTP://host/x.msi", "http://"));
    EXPECT_FALSE(TextStartsWithNoCase("htt", "http://"));
    EXPECT_TRUE(TextEqualNoCase(".MST", ".mst"));
    EXPECT_TRUE(TextEqual("1.0.0", "1.0.0"));
    EXPECT_FALSE(TextEqual("1.0.0", "1.0"));
    EXPECT_FALSE(TextEqual("1.0.0a", "1.0.0A"));
    EXPECT_FALSE(TextEqualNoCase(".MSTX", ".mst"));
}

} // namespace

TEST(FileNames, OnlyPlainNamesFromThePayloadAreFiles)
{
    for (const char *name : {"Setup.msi", "a", "CONSOLE.msi", "COM10.msi", "LPT0.txt", "nul2",
                             ".hidden.msi", "x.y.z"})
        EXPECT_TRUE(IsPlainFileName(name)) << name;
    for (const char *name : {"", "sub\\a.msi", "sub/a.msi", "C:a.msi", "..", "a..msi",
                             "CON", "con.msi", "Nul .msi", "aux", "PRN.x", "COM1.msi", "lpt9",
                             "COM1"})
        EXPECT_FALSE(IsPlainFileName(name)) << name;
    EXPECT_TRUE(IsDeviceName("com7.msi"));
    EXPECT_FALSE(IsDeviceName("co"));
    EXPECT_FALSE(IsDeviceName("com"));
}

// UTF-16 in the system's calls, UTF-8 in the stub's buffers: the names of
// the folders users really have, a character outside the first plane, and
// a surrogate without its partner, which Windows allows in a file name.
TEST(Utf8, KnownTextsAndUnpairedSurrogates)
{
    const std::u16string texts[] = {u"C:\\Plain Folder", u"C:\\Café Démo", u"C:\\Приложение",
                                    u"C:\\安装程序\\setup.exe", u"D:\\Ελληνικά\\\U0001F600.msi",
                                    std::u16string(1, u'\xD800') + u"x" + u'\xDFFF'};
    std::wstring_convert<std::codecvt_utf8_utf16<char16_t>, char16_t> reference;
    for (const std::u16string &text : texts) {
        char utf8[128];
        Utf16Unit back[64];
        const Utf16Unit *in = reinterpret_cast<const Utf16Unit *>(text.c_str());
        unsigned length = Utf8FromUtf16(in, utf8, sizeof utf8);
        ASSERT_GT(length, 0u);
        if (text[0] != u'\xD800')
            EXPECT_EQ(std::string(utf8), reference.to_bytes(text));
        else
            EXPECT_EQ(std::string(utf8), "\xED\xA0\x80x\xED\xBF\xBF");
        ASSERT_EQ(Utf16FromUtf8(utf8, back, 64), text.size());
        EXPECT_EQ(std::u16string(reinterpret_cast<char16_t *>(back)), text);
        // Exactly the room it needs, and one short: then nothing at all.
        EXPECT_EQ(Utf8FromUtf16(in, utf8, length + 1), length);
        EXPECT_EQ(Utf8FromUtf16(in, utf8, length), 0u);
        EXPECT_EQ(utf8[0], 0);
        EXPECT_EQ(Utf16FromUtf8(reference.to_bytes(u"ab").c_str(), back, 2), 0u);
        EXPECT_EQ(back[0], 0);
    }
}

TEST(Utf8, EveryUtf16TextComesBackUnitForUnit)
{
    std::mt19937 noise(22);
    for (int round = 0; round < 2000; ++round) {
        Utf16Unit text[40], back[40];
        int length = 1 + int(noise() % 39);
        for (int i = 0; i < length - 1; ++i) {
            // Mostly surrogates and other wide units, where the bytes differ.
            static const unsigned ranges[][2] = {{1, 0x80}, {0x80, 0x800}, {0x800, 0x10000},
                                                 {0xD800, 0xE000}};
            const unsigned *r = ranges[noise() % 4];
            text[i] = Utf16Unit(r[0] + noise() % (r[1] - r[0]));
        }
        text[length - 1] = 0;
        char utf8[160];
        ASSERT_GT(Utf8FromUtf16(text, utf8, sizeof utf8) + (length == 1), 0u);
        ASSERT_EQ(Utf16FromUtf8(utf8, back, 40), unsigned(length - 1));
        EXPECT_EQ(std::memcmp(text, back, 2 * length), 0) << round;
    }
}
