#include "foundation/m_strings.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(UString, NullInputGivesTheEmptyTextEverywhere) {
  const char* none = nullptr;
  EXPECT_EQ(UString(none), "");
  UString s("x");
  s = none;
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(UString("a") + none, "a");
  EXPECT_EQ(none + UString("b"), "b");
  s += none;
  EXPECT_EQ(s, "");
}

TEST(UString, PrefixConstructorStopsAtCountOrNulAndHonoursDefault) {
  EXPECT_EQ(UString("abcdef", 3), "abc");
  EXPECT_EQ(UString("ab\0cd", 5), "ab");
  EXPECT_EQ(UString("abc", 0), "abc");
  EXPECT_EQ(UString("abc", -4), "abc");
  EXPECT_EQ(UString(nullptr, 3, "dflt"), "dflt");
  EXPECT_EQ(UString(nullptr, 3, nullptr), "");
}

TEST(UString, CopiesAreIndependentValues) {
  UString a("shared");
  UString b = a;
  b += "!";
  EXPECT_EQ(a, "shared");
  EXPECT_EQ(b, "shared!");
}

TEST(UString, LeftAndMidClampTheirArguments) {
  UString s("hello");
  EXPECT_EQ(s.Left(-1), "");
  EXPECT_EQ(s.Left(2), "he");
  EXPECT_EQ(s.Left(99), "hello");
  EXPECT_EQ(s.Mid(-3, 2), "he");
  EXPECT_EQ(s.Mid(1, -2), "");
  EXPECT_EQ(s.Mid(5, 1), "");
  EXPECT_EQ(s.Mid(9, 1), "");
  EXPECT_EQ(s.Mid(3, 99), "lo");
  EXPECT_EQ(s.Mid(2), "llo");
}

TEST(UString, ReplaceDoesNotRescanInsertedText) {
  UString s("aaa");
  EXPECT_EQ(s.Replace("a", "aa"), 3);
  EXPECT_EQ(s, "aaaaaa");
  UString t("%x%");
  EXPECT_EQ(t.Replace("%", "%%"), 2);
  EXPECT_EQ(t, "%%x%%");
  UString u("abc");
  EXPECT_EQ(u.Replace("", "z"), 0);
  EXPECT_EQ(u.Replace(nullptr, "z"), 0);
  EXPECT_EQ(u.Replace("b", nullptr), 1);
  EXPECT_EQ(u, "ac");
}

TEST(UString, FormatIsNeverTruncated) {
  std::string big(10000, 'q');
  UString s = UString::Format("<%s>", big.c_str());
  EXPECT_EQ(s.length(), 10002u);
  EXPECT_EQ(UString::Format("%d-%u", -5, 7u), "-5-7");
}

TEST(UString, TrimAndCaseInsensitiveComparisons) {
  EXPECT_EQ(UString(" \t\r\n\v\fx y\f\v\n\r\t ").Trimmed(), "x y");
  EXPECT_EQ(UString("   ").Trimmed(), "");
  EXPECT_TRUE(UString("ThisCab").EqualsNoCase("THISCAB"));
  EXPECT_FALSE(UString("ThisCab").EqualsNoCase("THISCA"));
  EXPECT_TRUE(UString("pkg.CAB").EndsWithNoCase(".cab"));
  EXPECT_FALSE(UString("ab").EndsWithNoCase(".cab"));
}

TEST(NumberTexts, MatchTheirFormats) {
  EXPECT_EQ(SIntToString(-1), "-1");
  EXPECT_EQ(SUIntToString(4294967294u), "4294967294");
  EXPECT_EQ(SUInt64ToString(18446744073709551615ull), "18446744073709551615");
  EXPECT_EQ(SHex64ToString(0x1A2Bull), "0x1a2b");
  EXPECT_EQ(SHex64ToString(0), "0x0");
  // Upper-case hexadecimal padded to the pointer's width (8 digits here).
  const std::string zeros(2 * sizeof(void*), '0');
  EXPECT_EQ(SPointerToString(nullptr), "0x" + zeros);
  EXPECT_EQ(SPointerToString(reinterpret_cast<void*>(0xAB12)), "0x" + zeros.substr(4) + "AB12");
}

// The message builder's rules, each row a template, its arguments and the
// finished text.
TEST(UMessage, PlaceholdersFillLowestDigitFirstAndRepeat) {
  EXPECT_EQ(UMessage("a %1 b %1 c").Arg("X").Text(), "a X b X c");
  EXPECT_EQ(UMessage("%2 then %1").Arg("a").Arg("b").Text(), "b then a");
  EXPECT_EQ(UMessage("%0 %9").Arg("zero").Arg("nine").Text(), "zero nine");
  // One digit only: %12 is placeholder 1 followed by "2".
  EXPECT_EQ(UMessage("%12").Arg("x").Text(), "x2");
  // A placeholder without an argument stays as it is.
  EXPECT_EQ(UMessage("%1 and %3").Arg("a").Text(), "a and %3");
}

TEST(UMessage, PercentSignsInArgumentsAreProtected) {
  EXPECT_EQ(UMessage("[%1]").Arg("100%").Text(), "[100%]");
  // An argument holding "%2" is never substituted into by a later argument.
  EXPECT_EQ(UMessage("%1 %2").Arg("has %2 inside").Arg("second").Text(), "has %2 inside second");
  EXPECT_EQ(UMessage::Format("%1", "%%"), "%%");
}

TEST(UMessage, PlainPercentSignsAndDoubledOnes) {
  EXPECT_EQ(UMessage("50% off %a").Arg("x").Text(), "50% off %a");
  EXPECT_EQ(UMessage("%%1 is literal, %1 is not").Arg("x").Text(), "%1 is literal, x is not");
  EXPECT_EQ(UMessage("trailing %").Arg("x").Text(), "trailing %");
  EXPECT_EQ(UMessage("no args %% here").Text(), "no args % here");
  EXPECT_EQ(UMessage(nullptr).Text(), "");
}

TEST(UMessage, SurplusArgumentsAreAppendedOnlyByFormat) {
  EXPECT_EQ(UMessage::Format("v=%1", 5, 6), "v=5, 6");
  EXPECT_EQ(UMessage("v=%1").Arg(5).Arg(6).Text(), "v=5");
  EXPECT_EQ(UMessage::Format("exit", 0), "exit, 0");
}

TEST(UMessage, ArgumentTypesConvertAsDocumented) {
  const char* nullText = nullptr;
  EXPECT_EQ(UMessage::Format("<%1>", nullText), "<>");
  EXPECT_EQ(UMessage::Format("<%1>", UString()), "<>");
  EXPECT_EQ(UMessage::Format("<%1>", static_cast<const void*>(nullptr)),
            "<0x" + std::string(2 * sizeof(void*), '0') + ">");
  EXPECT_EQ(UMessage::Format("%1 %2 %3", -3, 3u, std::uint64_t(1) << 40), "-3 3 1099511627776");
  EXPECT_EQ(UMessage::Format("%1", static_cast<unsigned long>(0xFFFFFFFEu)), "4294967294");
  EXPECT_EQ(UMessage::Format("%1%2%3%4%5%6", 1, "b", UString("c"), 4u, "e", -6), "1bc4e-6");
}
