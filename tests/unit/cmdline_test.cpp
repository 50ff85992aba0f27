#include "driver/cmdline.h"
#include "common/flags.h"
#include <gtest/gtest.h>
#include <string>

namespace {

std::string Split(const char *commandLine)
{
    return SplitCommandLine(commandLine);
}

TEST(SplitCommandLine, KeepsSlashArgumentsAndPropertyAssignments)
{
    EXPECT_EQ(Split("setup.exe /i"), "/i");
    EXPECT_EQ(Split("setup.exe foo BAR=1"), "foo BAR=1");
    EXPECT_EQ(Split("setup.exe foo"), "");
    EXPECT_EQ(Split("setup.exe"), "");
    EXPECT_EQ(Split(""), "");
}

TEST(SplitCommandLine, DiscardPointsAtTheEndOfTheText)
{
    const char *text = "setup.exe foo";
    EXPECT_EQ(SplitCommandLine(text), text + 13);
}

TEST(SplitCommandLine, QuotedProgramNames)
{
    EXPECT_EQ(Split("\"C:\\My Dir\\setup.exe\"   /qn"), "/qn");
    EXPECT_EQ(Split("\"C:\\My Dir\\setup.exe\"/qn"), "/qn");
    EXPECT_EQ(Split("\"C:\\My Dir\\setup.exe /qn"), "");
    EXPECT_EQ(Split("\"C:\\My Dir\\setup.exe\""), "");
}

TEST(SplitCommandLine, TabsDoNotSeparate)
{
    // Unquoted: the tab and what follows up to the next blank belong to the name.
    EXPECT_EQ(Split("setup.exe\t/qn"), "");
    EXPECT_EQ(Split("setup.exe\t/qn /i"), "/i");
    // Quoted: arguments that begin with a tab are kept only with an '='.
    EXPECT_EQ(Split("\"setup.exe\"\t/qn"), "");
    EXPECT_EQ(Split("\"setup.exe\"\tA=1"), "\tA=1");
}

TEST(HasQuietSwitch, QuietForms)
{
    for (const char *on : {"/q", "/Q", "/qn", "/QN", "/qn+", "/q-", "/i x /q", "/q1", "/q /i"})
        EXPECT_TRUE(HasQuietSwitch(on)) << on;
    for (const char *off : {"/qb", "/qr", "/qf", "/quiet", "/QB", "", "q", "/i"})
        EXPECT_FALSE(HasQuietSwitch(off)) << off;
    EXPECT_FALSE(HasQuietSwitch(nullptr));
}

TEST(HasQuietSwitch, QuotedTextIsSkipped)
{
    EXPECT_FALSE(HasQuietSwitch("/i PROP=\"/q\""));
    EXPECT_FALSE(HasQuietSwitch("\"/q\"\"/qn\""));
    EXPECT_TRUE(HasQuietSwitch("PROP=\"a\" /qn"));
    EXPECT_TRUE(HasQuietSwitch("\"a\"/q"));
    // A quote that is never closed ends the scan.
    EXPECT_FALSE(HasQuietSwitch("PROP=\"/q"));
    EXPECT_TRUE(HasQuietSwitch("/q PROP=\"x"));
}

TEST(ScanQuietSwitch, NeverClears)
{
    QuietMode = 0;
    ScanQuietSwitch("/qb");
    EXPECT_EQ(QuietMode, 0);
    ScanQuietSwitch("/qn");
    EXPECT_EQ(QuietMode, 1);
    ScanQuietSwitch("/qb");
    EXPECT_EQ(QuietMode, 1);
    QuietMode = 0;
}

} // namespace
