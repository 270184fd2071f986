// The profile-block parsers and the section-variant choice.
#include "cabinstaller/inf_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {
// A profile block: each entry NUL-terminated, one more NUL at the end.
std::string Block(std::initializer_list<const char*> entries) {
  std::string b;
  for (const char* e : entries) {
    b += e;
    b += '\0';
  }
  b += '\0';
  return b;
}

UStringPairList Parse(const std::string& block) {
  UStringPairList pairs;
  ParseSectionBlock(block.data(), block.size() - 1, pairs);
  return pairs;
}
}  // namespace

TEST(InfText, SplitsAtTheFirstEqualsAndTrimsBothSides) {
  UStringPairList p = Parse(Block({"a=b=c", "  key \t=\t value \r", "=empty key", "quoted=\"v w\""}));
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(p[0], UStringPair("a", "b=c"));
  EXPECT_EQ(p[1], UStringPair("key", "value"));
  EXPECT_EQ(p[2], UStringPair("", "empty key"));
  EXPECT_EQ(p[3], UStringPair("quoted", "\"v w\""));
}

TEST(InfText, SkipsCommentsAndLinesWithoutEquals) {
  UStringPairList p = Parse(Block({"; a=comment", "   ;also=comment", "no equals here", "k=v"}));
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(p[0], UStringPair("k", "v"));
}

TEST(InfText, ALineOfBlanksEndsTheSectionAndDuplicatesStay) {
  UStringPairList p = Parse(Block({"k=1", "k=2", "   ", "after=blank"}));
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].second, "1");
  EXPECT_EQ(p[1].second, "2");
}

TEST(InfText, AppendsToWhatTheListAlreadyHolds) {
  UStringPairList p{{"old", "pair"}};
  std::string b = Block({"new=pair"});
  ParseSectionBlock(b.data(), b.size() - 1, p);
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].first, "old");
  EXPECT_EQ(p[1].first, "new");
}

TEST(InfText, ABlockCutWithoutTerminatorIsReadSafely) {
  const char raw[] = {'k', '=', 'v', '\0', 'x', '=', 'y'};
  UStringPairList p;
  ParseSectionBlock(raw, sizeof raw, p);
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[1], UStringPair("x", "y"));
  ParseSectionBlock(nullptr, 10, p);
  EXPECT_EQ(p.size(), 2u);
}

TEST(InfText, SectionNamesSkipLeadingBlanksOnlyAndStopAtABlankName) {
  std::string b = Block({"Version", "  Add.Code ", "\tTabbed", "  ", "Hidden"});
  UStringList names;
  ParseSectionNamesBlock(b.data(), b.size() - 1, names);
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], "Version");
  EXPECT_EQ(names[1], "Add.Code ");
  EXPECT_EQ(names[2], "\tTabbed");
}

// Which variant wins, for the platform tag Win10 and the language tag 0x9.
struct VariantCase {
  UStringList present;
  const char* expected;
};

class SectionVariant : public ::testing::TestWithParam<VariantCase> {};

TEST_P(SectionVariant, FirstPresentCandidateWins) {
  EXPECT_EQ(ChooseSectionVariant("Add.Code", "Win10", "0x9", GetParam().present), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Candidates, SectionVariant,
    ::testing::Values(
        VariantCase{{"Add.Code", "Add.Code.ntx86"}, "Add.Code.ntx86"},
        VariantCase{{"Add.Code", "Add.Code.ntx86", "Add.Code.Win10.0x9", "Add.Code.Win10"}, "Add.Code.Win10.0x9"},
        VariantCase{{"Add.Code.Win10", "Add.Code.ntx86.0x9"}, "Add.Code.Win10"},
        VariantCase{{"Add.Code.ntx86", "Add.Code.ntx86.0x9"}, "Add.Code.ntx86.0x9"},
        VariantCase{{"Add.Code.nt", "Add.Code.nt.0x9", "Add.Code.0x9"}, "Add.Code.nt.0x9"},
        VariantCase{{"Add.Code.nt", "Add.Code.0x9"}, "Add.Code.nt"},
        VariantCase{{"Add.Code.0x9", "Add.Code"}, "Add.Code.0x9"},
        // Variants are compared with case.
        VariantCase{{"add.code.ntx86", "Add.Code"}, "Add.Code"},
        VariantCase{{}, "Add.Code"}));

TEST(SectionVariantTags, EmptyLanguageTagStillBuildsDottedCandidates) {
  EXPECT_EQ(ChooseSectionVariant("S", "Win7", "", {"S.ntx86."}), "S.ntx86.");
  EXPECT_EQ(ChooseSectionVariant("S", "", "", {"S.."}), "S..");
}
