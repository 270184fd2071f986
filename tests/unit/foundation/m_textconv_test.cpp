#include "foundation/m_textconv.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "support/test_support.h"

TEST(createString, ConvertsWideTextAndTreatsNullAsEmpty) {
  EXPECT_EQ(createString(nullptr), "");
  EXPECT_EQ(createString(L""), "");
  EXPECT_EQ(createString(L"C:\\Program Files\\x.cab"), "C:\\Program Files\\x.cab");
}

TEST(UMessage, WideArgumentsAreConvertedAndNullIsEmpty) {
  const wchar_t* nullWide = nullptr;
  EXPECT_EQ(UMessage::Format("<%1>", nullWide), "<>");
  EXPECT_EQ(UMessage::Format("%1 %2", L"wide", 2), "wide 2");
}

TEST(StringToWideChar, SizeQueryConversionAndArgumentErrors) {
  kittest::MemoryLog log;
  EXPECT_EQ(StringToWideChar("", nullptr, 0), 1u);
  EXPECT_EQ(StringToWideChar("abc", nullptr, 0), 4u);

  wchar_t small[3] = {L'x', L'x', L'x'};
  EXPECT_EQ(StringToWideChar("abc", small, 3), 4u);
  EXPECT_EQ(small[0], L'\0');

  wchar_t buf[8];
  EXPECT_EQ(StringToWideChar("abc", buf, 8), 0u);
  EXPECT_STREQ(buf, L"abc");

  EXPECT_EQ(StringToWideChar(nullptr, buf, 8), 0xFFFFFFFFu);
  EXPECT_TRUE(log.Contains("Invalid argument: a_src"));
  EXPECT_EQ(StringToWideChar("abc", nullptr, 5), 0xFFFFFFFFu);
  EXPECT_TRUE(log.Contains("Invalid arguments: a_dst or a_len"));
}

TEST(SGetErrorText, NumberPartThenSystemTextWithoutLineBreak) {
  UString text = SGetErrorText(5);
  ASSERT_EQ(text.Left(8), "5 (0x5) ") << text.c_str();
  EXPECT_GT(text.length(), 8u);
  EXPECT_NE(text[text.length() - 1], '\n');
  EXPECT_NE(text[text.length() - 1], '\r');
}

TEST(SGetErrorText, UnknownCodeGivesTheNumberPartAlone) {
  EXPECT_EQ(SGetErrorText(0x2AFFFFFF), "721420287 (0x2affffff) ");
  EXPECT_EQ(SGetErrorText(static_cast<std::uint32_t>(-2)), "-2 (0xfffffffe) ");
}
