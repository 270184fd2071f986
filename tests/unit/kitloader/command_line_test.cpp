// Tokenizing and interpreting the command line.
#include "kitloader/command_line.h"

#include <gtest/gtest.h>

using Args = std::vector<std::string>;

TEST(Tokenizer, NullLineGivesNoArgumentsOthersSplitByTheSharedRules) {
  EXPECT_TRUE(TokenizeCommandLine(nullptr).empty());
  EXPECT_EQ(TokenizeCommandLine("prog \"a b\" /s"), Args({"prog", "a b", "/s"}));
}

TEST(Arguments, SwitchGroupsInAnyCaseWithSlashOrDash) {
  for (const char* group : {"/siv", "-SIV", "/s", "-q"}) {
    RunOptions o = ParseArguments({"prog", group});
    EXPECT_TRUE(o.silent) << group;
  }
  RunOptions o = ParseArguments({"prog", "-sIV"});
  EXPECT_TRUE(o.silent);
  EXPECT_TRUE(o.installListMode);
  EXPECT_TRUE(o.verbose);
  EXPECT_FALSE(o.usage);
  EXPECT_TRUE(o.packages.empty());
}

TEST(Arguments, UnknownLettersAndLoneSwitchCharactersAreIgnored) {
  RunOptions o = ParseArguments({"prog", "/", "-", "/xyz", "-k"});
  EXPECT_FALSE(o.silent || o.verbose || o.installListMode || o.usage);
  EXPECT_TRUE(o.packages.empty());
}

TEST(Arguments, QuestionMarkAnywhereStopsEverything) {
  RunOptions o = ParseArguments({"prog", "a.cab", "/s?", "b.cab"});
  EXPECT_TRUE(o.usage);
  RunOptions p = ParseArguments({"prog", "-i", "x.cab", "/v", "/?"});
  EXPECT_TRUE(p.usage);
}

TEST(Arguments, EveryOtherArgumentIsAPackageInOrder) {
  RunOptions o = ParseArguments({"prog", "a.cab", "/s", "C:\\b c.cab", ""});
  EXPECT_TRUE(o.installListMode);
  EXPECT_TRUE(o.silent);
  ASSERT_EQ(o.packages.size(), 3u);
  EXPECT_EQ(o.packages[0], UStringPair("a.cab", "a.cab"));
  EXPECT_EQ(o.packages[1], UStringPair("C:\\b c.cab", "C:\\b c.cab"));
  EXPECT_EQ(o.packages[2], UStringPair("", ""));
}

TEST(Arguments, InstallSwitchAloneListsNothing) {
  // Other installers' switches hold an "i": silent, and nothing listed.
  for (const char* line : {"/i", "/quiet", "/silent", "/passive"}) {
    RunOptions o = ParseArguments({"prog", line});
    EXPECT_TRUE(o.installListMode) << line;
    EXPECT_EQ(o.silent, line[2] != 0) << line;
    EXPECT_TRUE(o.packages.empty()) << line;
  }
  EXPECT_FALSE(ParseArguments({"prog"}).installListMode);
}
