#include "driver/settings.h"
#include "ui/language_list.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const unsigned German = 1031, SwissGerman = 2055, French = 1036;

struct Split {
    std::string name;
    int match;
};

Split SplitOne(const char *text, unsigned user, unsigned charSize = 8, int index = 3)
{
    std::vector<char> entry(text, text + strlen(text) + 1);
    int match = NoLanguageMatch;
    SplitLanguageEntry(entry.data(), index, user, charSize, &match);
    return {entry.data(), match};
}

TEST(SplitLanguageEntry, NameEndsAtTheFirstSeparator)
{
    EXPECT_EQ(SplitOne("Deutsch,1031;2055", French).name, "Deutsch");
    EXPECT_EQ(SplitOne("Fran\xe7" "ais;1036", German).name, "Fran\xe7" "ais");
    EXPECT_EQ(SplitOne("English", German).name, "English");
    EXPECT_EQ(SplitOne(",1031", French).name, "");
    EXPECT_EQ(SplitOne("", French).name, "");
    // A blank is part of the name, not a separator.
    EXPECT_EQ(SplitOne("Chinese (Traditional),1028", German).name, "Chinese (Traditional)");
}

TEST(SplitLanguageEntry, AnyIdentifierOfTheEntryMatches)
{
    EXPECT_EQ(SplitOne("Deutsch,1031;2055", German).match, 3);
    EXPECT_EQ(SplitOne("Deutsch,1031;2055", SwissGerman).match, 3);
    EXPECT_EQ(SplitOne("Deutsch;2055,1031", German).match, 3);
    EXPECT_EQ(SplitOne("Deutsch,1031;2055", French).match, NoLanguageMatch);
    // Blanks and tabs may lead an identifier; what follows its digits is
    // skipped up to the next separator.
    EXPECT_EQ(SplitOne("French, \t1036", French).match, 3);
    EXPECT_EQ(SplitOne("Deutsch,1031x;2055", SwissGerman).match, 3);
    EXPECT_EQ(SplitOne("Deutsch,,;1031", German).match, 3);
}

TEST(SplitLanguageEntry, IdentifiersThatNeverMatch)
{
    EXPECT_EQ(SplitOne("Zero,0", 0).match, NoLanguageMatch);
    EXPECT_EQ(SplitOne("Word,abc", 0).match, NoLanguageMatch);
    EXPECT_EQ(SplitOne("Signed,+1031", German).match, NoLanguageMatch);
    // Identifiers are 16 bits: a value beyond is another number.
    EXPECT_EQ(SplitOne("Wide,66567", German).match, NoLanguageMatch);
    EXPECT_EQ(SplitOne("Minus,-1", 0xFFFF).match, NoLanguageMatch);
    EXPECT_EQ(SplitOne("Deutsch 1031", German).match, NoLanguageMatch);
}

TEST(SplitLanguageEntry, AlwaysPromptBitDisablesMatching)
{
    EXPECT_EQ(SplitOne("Deutsch,1031", German, 0x8A).match, NoLanguageMatch);
    EXPECT_EQ(SplitOne("Deutsch,1031", German, 0x8A).name, "Deutsch");
    EXPECT_EQ(SplitOne("Deutsch,1031", German, 0x7F).match, 3);
}

// The list as the dialog feeds it: entries in order, one match variable.
int MatchList(std::vector<std::string> entries, unsigned user, std::vector<std::string> *names)
{
    int match = NoLanguageMatch;
    for (size_t i = 0; i < entries.size(); ++i) {
        std::vector<char> entry(entries[i].begin(), entries[i].end());
        entry.push_back(0);
        SplitLanguageEntry(entry.data(), int(i), user, 8, &match);
        names->push_back(entry.data());
    }
    return match;
}

TEST(SplitLanguageEntry, LastMatchingEntryWins)
{
    std::vector<std::string> names;
    EXPECT_EQ(MatchList({"English,1033", "Deutsch,1031", "French;1036"}, German, &names), 1);
    EXPECT_EQ(names, (std::vector<std::string>{"English", "Deutsch", "French"}));
    names.clear();
    EXPECT_EQ(MatchList({"English,1033", "Deutsch,1031", "Schweiz,2055;1031", "French;1036"},
                        German, &names), 2);
    names.clear();
    EXPECT_EQ(MatchList({"English,1033", "Deutsch,1031"}, 1041, &names), NoLanguageMatch);
    names.clear();
    EXPECT_EQ(MatchList({"English,1033;1031", "Deutsch"}, German, &names), 0);
}

} // namespace
