#include "common/decimal.h"
#include "common/text.h"
#include "driver/settings.h"
#include <gtest/gtest.h>
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

TEST(FormatDecimal, BackwardsFromTheEnd)
{
    char digits[11] = "##########";
    EXPECT_STREQ(FormatDecimal(0, digits + 10), "0");
    EXPECT_STREQ(FormatDecimal(4294967295u, digits + 10), "4294967295");
    EXPECT_STREQ(FormatDecimal(80, digits + 10), "80");
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
