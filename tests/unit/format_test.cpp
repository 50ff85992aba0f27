#include "ui/message_format.h"
#include <gtest/gtest.h>
#include <string>

namespace {

std::string Format(const char *format, std::initializer_list<const char *> args, unsigned cap = 256)
{
    char out[256];
    FormatMessageText(out, cap, format, args.begin(), unsigned(args.size()));
    return out;
}

TEST(FormatMessageText, FillsTheExistErrorInOrder)
{
    EXPECT_EQ(Format("%s Version %s is already installed. You must uninstall the existing version "
                     "before installing %s Version %s.\r\n\r\nDo you want to uninstall the "
                     "existing version of %s?",
                     {"Demo", "1.0", "Demo", "2.0", "Demo"}),
              "Demo Version 1.0 is already installed. You must uninstall the existing version "
              "before installing Demo Version 2.0.\r\n\r\nDo you want to uninstall the existing "
              "version of Demo?");
}

TEST(FormatMessageText, ForeignTextsCannotReadPastTheArguments)
{
    EXPECT_EQ(Format("%s %s %s", {"a"}), "a  ");
    EXPECT_EQ(Format("100%% %d %n %", {"a"}), "100% %d %n %");
    EXPECT_EQ(Format("no placeholders", {"a", "b"}), "no placeholders");
}

TEST(FormatMessageText, CutsToCapacity)
{
    EXPECT_EQ(Format("%s-%s", {"abcdef", "ghi"}, 5), "abcd");
    EXPECT_EQ(Format("abcdef", {}, 4), "abc");
    EXPECT_EQ(Format("%s", {"x"}, 1), "");
}

} // namespace
