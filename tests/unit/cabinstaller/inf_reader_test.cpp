// Reading real INF files through the profile functions.
#include <gtest/gtest.h>

#include <string>

#include "cabinstaller/UKitLoader.h"
#include "support/test_support.h"

namespace {

class InfReader : public ::testing::Test {
 protected:
  std::string Write(const std::string& text) {
    std::string path = folder / "test.inf";
    kittest::WriteTextFile(path, text);
    return path;
  }
  kittest::TempFolder folder;
  kittest::MemoryLog log;
};

}  // namespace

TEST_F(InfReader, ReadsPairsInFileOrderAndAppendsToTheCallersList) {
  std::string inf = Write("[CabFiles]\r\nfirst.cab=1\r\nsecond.cab=2\r\n\r\n[Other]\r\nx=y\r\n");
  UStringPairList pairs{{"kept", "pair"}};
  EXPECT_EQ(UKitLoader::GetInfSection(&pairs, "CabFiles", inf.c_str(), nullptr, nullptr), 0);
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[1], UStringPair("first.cab", "1"));
  EXPECT_EQ(pairs[2], UStringPair("second.cab", "2"));
}

TEST_F(InfReader, SectionNameMatchesWithoutCaseAndAbsentSectionIsNoError) {
  std::string inf = Write("[CabFiles]\r\na=b\r\n");
  UStringPairList pairs;
  EXPECT_EQ(UKitLoader::GetInfSection(&pairs, "cabfiles", inf.c_str(), nullptr, nullptr), 0);
  EXPECT_EQ(pairs.size(), 1u);
  pairs.clear();
  EXPECT_EQ(UKitLoader::GetInfSection(&pairs, "Missing", inf.c_str(), nullptr, nullptr), 0);
  EXPECT_TRUE(pairs.empty());
}

TEST_F(InfReader, PrefersTheDecoratedVariantOnlyWhenAPlatformTagIsGiven) {
  std::string inf = Write(
      "[Add.Code]\r\nplain=1\r\n[Add.Code.ntx86]\r\nntx86=1\r\n[Add.Code.Win10.0x9]\r\nexact=1\r\n");
  UStringPairList pairs;
  EXPECT_EQ(UKitLoader::GetInfSection(&pairs, "Add.Code", inf.c_str(), "Win10", "0x9"), 0);
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].first, "exact");

  pairs.clear();
  EXPECT_EQ(UKitLoader::GetInfSection(&pairs, "Add.Code", inf.c_str(), "Win7", "0x7"), 0);
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].first, "ntx86");

  pairs.clear();
  EXPECT_EQ(UKitLoader::GetInfSection(&pairs, "Add.Code", inf.c_str(), nullptr, "0x9"), 0);
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].first, "plain");
}

TEST_F(InfReader, VariantsDifferingOnlyInCaseAreNotChosen) {
  std::string inf = Write("[Add.Code]\r\nplain=1\r\n[add.code.ntx86]\r\nlower=1\r\n");
  UStringPairList pairs;
  EXPECT_EQ(UKitLoader::GetInfSection(&pairs, "Add.Code", inf.c_str(), "Win10", "0x9"), 0);
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].first, "plain");
}

TEST_F(InfReader, LongSectionsAndManySectionNamesAreReadCompletely) {
  // A section far larger than the first 128-byte buffer, with a last line
  // that lands exactly at the 126-character truncation mark at some step.
  std::string text = "[Big]\r\n";
  for (int i = 0; i < 200; ++i) text += "key" + std::to_string(i) + "=" + std::string(i % 37, 'v') + "\r\n";
  for (int i = 0; i < 60; ++i) text += "[Section" + std::to_string(i) + "]\r\nx=" + std::to_string(i) + "\r\n";
  std::string inf = Write(text);

  UStringPairList pairs;
  EXPECT_EQ(UKitLoader::GetInfSection(&pairs, "Big", inf.c_str(), nullptr, nullptr), 0);
  ASSERT_EQ(pairs.size(), 200u);
  EXPECT_EQ(pairs[199], UStringPair("key199", std::string(199 % 37, 'v')));

  UStringList names;
  EXPECT_EQ(UKitLoader::GetSectionNames(&names, inf.c_str()), 0);
  ASSERT_EQ(names.size(), 61u);
  EXPECT_EQ(names.back(), "Section59");
}

TEST_F(InfReader, EverySectionSizeAroundTheBufferStepsReadsWhole) {
  // Grow one line a character at a time through several 128-byte steps.
  for (int len = 100; len < 400; ++len) {
    std::string inf = Write("[S]\r\nk=" + std::string(len, 'a') + "\r\n");
    UStringPairList pairs;
    ASSERT_EQ(UKitLoader::GetInfSection(&pairs, "S", inf.c_str(), nullptr, nullptr), 0);
    ASSERT_EQ(pairs.size(), 1u) << len;
    ASSERT_EQ(pairs[0].second.length(), static_cast<std::size_t>(len));
  }
}

TEST_F(InfReader, MissingFileAndNullListFailWithTheirCodes) {
  std::string missing = folder / "absent.inf";
  UStringPairList pairs;
  EXPECT_EQ(UKitLoader::GetInfSection(&pairs, "CabFiles", missing.c_str(), nullptr, nullptr), -1);
  EXPECT_TRUE(log.Contains(".inf file not found"));
  EXPECT_TRUE(log.Contains("EXCEPTION caught: UKitLoader::GetSection() - EXCEPTION"));

  std::string inf = Write("[S]\r\na=b\r\n");
  EXPECT_EQ(UKitLoader::GetInfSection(nullptr, "S", inf.c_str(), nullptr, nullptr), 87);
  EXPECT_EQ(UKitLoader::GetSectionNames(nullptr, inf.c_str()), 87);

  UStringList names;
  log.Clear();
  EXPECT_EQ(UKitLoader::GetSectionNames(&names, missing.c_str()), -1);
  EXPECT_TRUE(log.Contains("file not found"));
  EXPECT_TRUE(log.Contains("EXCEPTION caught: UKitLoader::GetSectionNames() - EXCEPTION"));
  EXPECT_TRUE(names.empty());
}
