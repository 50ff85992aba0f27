// The runtime phase's decisions: the version rule, the runtime step, the
// entries and their switches, what a result asks for, and the packed
// product code.
#include "runtime/rules.h"
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

TEST(RuntimeTooOld, RevisionsCountOnlyForDotNet)
{
    // Windows Installer 2.0.2600.0 against 2.0.2600.1000: the revision is
    // ignored, unless the runtime is .NET.
    EXPECT_FALSE(RuntimeTooOld(0x00020000, 0x0A280000, 0x00020000, 0x0A2803E8, 0));
    EXPECT_TRUE(RuntimeTooOld(0x00020000, 0x0A280000, 0x00020000, 0x0A2803E8, 1));
    EXPECT_TRUE(RuntimeTooOld(0x00020000, 0x0A270000, 0x00020000, 0x0A280000, 0));
    EXPECT_TRUE(RuntimeTooOld(0x00010001, 0xFFFFFFFF, 0x00020000, 0, 0));
    EXPECT_FALSE(RuntimeTooOld(0x00030001, 0, 0x00020000, 0xFFFFFFFF, 0));
    // .NET 2.0.50727.42 against 1.1.4322.573: recent enough.
    EXPECT_FALSE(RuntimeTooOld(0x00020000, 0xC627002A, 0x00010001, 0x10E2023D, 1));
    // .NET 4.0.30319.1 against 2.0.50727.0: its build.revision word is
    // lower, whatever the majors say.
    EXPECT_TRUE(RuntimeTooOld(0x00040000, 0x766F0001, 0x00020000, 0xC6270000, 1));
    // No requirement: never too old, not even with no runtime at all.
    EXPECT_FALSE(RuntimeTooOld(0, 0, 0, 0, 0));
    EXPECT_FALSE(RuntimeTooOld(0, 0, 0, 0, 1));
}

TEST(RuntimeStepWanted, SomethingToInstallOnThisPlatform)
{
    InstallerSettingsRecord s{};
    EXPECT_FALSE(RuntimeStepWanted(&s, 0, 1));
    EXPECT_FALSE(RuntimeStepWanted(&s, 0, 0));
    EXPECT_TRUE(RuntimeStepWanted(&s, 1, 1));
    EXPECT_TRUE(RuntimeStepWanted(&s, 1, 0));
    s.StreamSizeNT = 100;
    EXPECT_TRUE(RuntimeStepWanted(&s, 0, 1));
    EXPECT_FALSE(RuntimeStepWanted(&s, 0, 0));
    s = InstallerSettingsRecord{};
    s.RuntimeSize9X = 2;
    EXPECT_TRUE(RuntimeStepWanted(&s, 0, 0));
    // A hostile header's sizes add up without wrapping round to positive.
    s = InstallerSettingsRecord{};
    s.StreamSizeNT = -0x7FFFFFFF;
    s.RuntimeSizeNT = -0x7FFFFFFF;
    EXPECT_FALSE(RuntimeStepWanted(&s, 0, 1));
    s.StreamSizeNT = 0x7FFFFFFF;
    s.RuntimeSizeNT = 0x7FFFFFFF;
    EXPECT_TRUE(RuntimeStepWanted(&s, 0, 1));
}

TEST(RuntimeEntries, ByModePlatformAndPass)
{
    EXPECT_EQ(ChooseRuntimeEntry(0, 1, 0), RuntimeEntryNT);
    EXPECT_EQ(ChooseRuntimeEntry(0, 0, 0), RuntimeEntry9X);
    EXPECT_EQ(ChooseRuntimeEntry(1, 1, 0), RuntimeEntryDotNet);
    EXPECT_EQ(ChooseRuntimeEntry(1, 0, 1), RuntimeEntryDotNetUpdate);
    // The payload holds 9X then NT, or the .NET runtime then its update.
    EXPECT_EQ(RuntimeStreamIndex(RuntimeEntry9X), 0);
    EXPECT_EQ(RuntimeStreamIndex(RuntimeEntryNT), 1);
    EXPECT_EQ(RuntimeStreamIndex(RuntimeEntryDotNet), 0);
    EXPECT_EQ(RuntimeStreamIndex(RuntimeEntryDotNetUpdate), 1);

    InstallerSettingsRecord s{};
    s.RuntimeSizeNT = 1; // a stored URL of length 1 is the empty text
    EXPECT_FALSE(RuntimePassDownloads(&s, 1, 0));
    s.RuntimeSizeNT = 2;
    EXPECT_TRUE(RuntimePassDownloads(&s, 1, 0));
    EXPECT_FALSE(RuntimePassDownloads(&s, 0, 0));
    // Both marks count in every mode.
    s = InstallerSettingsRecord{};
    s.RuntimeSizeDotNetUpdate = 5;
    EXPECT_FALSE(RuntimePassDownloads(&s, 1, 0));
    EXPECT_TRUE(RuntimePassDownloads(&s, 1, 1));

    s = InstallerSettingsRecord{};
    s.RuntimeSizeNT = 2000000;
    s.DownloadSizeNT = 3000000;
    EXPECT_EQ(RuntimeDownloadSize(&s, RuntimeEntryNT, 0), 2000000u);
    EXPECT_EQ(RuntimeDownloadSize(&s, RuntimeEntryNT, 1), 3000000u);
    // A damaged size of 2 GiB or more would read as a negative one, which
    // the transfer client takes for a form post: it counts as unknown.
    s.DownloadSizeNT = 0x80000000u;
    EXPECT_EQ(RuntimeDownloadSize(&s, RuntimeEntryNT, 1), 0u);
    s.DownloadSizeNT = 0xFFFFFFFFu;
    EXPECT_EQ(RuntimeDownloadSize(&s, RuntimeEntryNT, 1), 0u);
    s.DownloadSizeNT = 0x7FFFFFFFu;
    EXPECT_EQ(RuntimeDownloadSize(&s, RuntimeEntryNT, 1), 0x7FFFFFFFu);
}

TEST(ChooseRuntimeSwitches, BuiltInAndTheSettingsFilesOwn)
{
    char out[RuntimeSwitchesSize];
    EXPECT_FALSE(ChooseRuntimeSwitches(1, 0, 0, nullptr, out));
    EXPECT_STREQ(out, "/q:a /c:\"Install /q\"");
    EXPECT_FALSE(ChooseRuntimeSwitches(1, 1, 1, "ignored", out));
    EXPECT_STREQ(out, "/q:a");
    EXPECT_FALSE(ChooseRuntimeSwitches(0, 0, 1, nullptr, out));
    EXPECT_STREQ(out, "/c:\"msiinst /delayrebootq\"");
    EXPECT_FALSE(ChooseRuntimeSwitches(0, 0, 0, nullptr, out));
    EXPECT_STREQ(out, "/q /r:n");

    // A settings file's value: the default, in any case, is no command of
    // the author's own; with DelayReboot it becomes the delayed one.
    EXPECT_FALSE(ChooseRuntimeSwitches(0, 0, 0, "/Q /R:N", out));
    EXPECT_STREQ(out, "/Q /R:N");
    EXPECT_FALSE(ChooseRuntimeSwitches(0, 0, 1, "/Q /R:N", out));
    EXPECT_STREQ(out, "/c:\"msiinst /delayrebootq\"");
    EXPECT_TRUE(ChooseRuntimeSwitches(0, 0, 0, "/q", out));
    EXPECT_STREQ(out, "/q");
    EXPECT_TRUE(ChooseRuntimeSwitches(0, 0, 1, "/q", out));
    EXPECT_FALSE(ChooseRuntimeSwitches(0, 0, 1, "/C:\"MSIINST /DELAYREBOOTQ\"", out));
}

TEST(RuntimeResultMeaning, WhatEachResultAsksFor)
{
    EXPECT_EQ(RuntimeResultMeaning(0, 0, 0, 0, 0, 0), RuntimeGoOn);
    EXPECT_EQ(RuntimeResultMeaning(3010, 0, 0, 0, 0, 0), RuntimeAskRestart);
    // Any other non-zero result may have replaced files in use.
    EXPECT_EQ(RuntimeResultMeaning(1, 0, 0, 0, 0, 0), RuntimeAskRestart);
    EXPECT_EQ(RuntimeResultMeaning(3010, 0, 0, 0, 1, 0), RuntimeRestartDue);
    EXPECT_EQ(RuntimeResultMeaning(3010, 1, 1, 0, 0, 1), RuntimeGoOn); // asked once
    EXPECT_EQ(RuntimeResultMeaning(3010, 0, 0, 1, 0, 0), RuntimeGoOn); // the author's command
    EXPECT_EQ(RuntimeResultMeaning(1633, 1, 0, 0, 0, 0), RuntimeRerunQuiet);
    EXPECT_EQ(RuntimeResultMeaning(1633, 1, 1, 0, 0, 0), RuntimeAskRestart);
    EXPECT_EQ(RuntimeResultMeaning(1633, 0, 0, 0, 0, 0), RuntimeAskRestart);
    EXPECT_EQ(RuntimeResultMeaning(0x800401FAu, 0, 0, 1, 1, 1), RuntimeNeedsSp6);
}

std::string Pack(const char *guid)
{
    char out[64];
    std::memset(out, 'U', sizeof out); // an unset byte must never show
    unsigned n = PackGuid(guid, out);
    EXPECT_EQ(n, std::strlen(out));
    return out;
}

TEST(PackGuid, WindowsInstallersPackedForm)
{
    EXPECT_EQ(Pack("{12345678-9ABC-DEF0-1234-56789ABCDEF0}"), "87654321CBA90FED21436587A9CBED0F");
    EXPECT_EQ(Pack("{12345678-9abc-def0-1234-56789abcdef0}"), "87654321cba90fed21436587a9cbed0f");
    // Anything after the closing brace is dropped.
    EXPECT_EQ(Pack("{12345678-9ABC-DEF0-1234-56789ABCDEF0}trailing"),
              "87654321CBA90FED21436587A9CBED0F");
    // Short or malformed codes: what was placed before the first gap.
    EXPECT_EQ(Pack(""), "");
    EXPECT_EQ(Pack("{1234"), "");
    EXPECT_EQ(Pack("{12345678"), "87654321");
    EXPECT_EQ(Pack("{12345678-9AB"), "87654321");
    EXPECT_EQ(Pack("{12345678-9ABC-DEF0-1234-56789ABCDEF"), "87654321CBA90FED21436587A9CBED");
    // Without its brace every group shifts, and the last place stays empty.
    EXPECT_EQ(Pack("12345678-9ABC-DEF0-1234-56789ABCDEF0"), "-8765432-CBA-0FE32-47698BADCFE");
}

} // namespace
