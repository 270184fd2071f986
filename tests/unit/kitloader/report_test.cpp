#include "kitloader/report.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The texts of Wine's system table and of its wininet.dll; codes without a
// text take the program's unknown form (2102 is a network-management code:
// netmsg.dll is absent under Wine and the system table has nothing either).
TEST(GetInstallErrorText, SystemAndInternetTextsOrTheUnknownForm) {
  const struct {
    std::uint32_t code;
    const char* text;
  } rows[] = {
      {2, "File not found.\r\n"},
      {5, "Access denied.\r\n"},
      {1223, "Operation canceled by user.\r\n"},
      {1603, "Installation failure.\r\n"},
      {12029, "The attempt to connect to the server failed.\r\n"},  // not in the system table: from wininet.dll
      {3010, "Unknown (3010)\n"},
      {2102, "Unknown (2102)\n"},
      {12999, "Unknown (12999)\n"},
      {4294967294u, "Unknown (4294967294)\n"},
  };
  for (const auto& row : rows) EXPECT_EQ(row.text, GetInstallErrorText(row.code).str()) << row.code;
}

TEST(FormatFailureText, HeadlineErrorAndFile) {
  EXPECT_EQ("Installation failed.\n\nError: Unknown (4294967294)\nFile: C:\\x\\pkg.cab",
            FormatFailureText(-2, "C:\\x\\pkg.cab").str());
}

TEST(LoadResourceString, MissingStringIsEmpty) { EXPECT_TRUE(LoadResourceString(999).empty()); }

}  // namespace
