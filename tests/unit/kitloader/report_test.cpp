#include "kitloader/report.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/handles.h"
#include "kitloader/resource_ids.h"

namespace {

std::string Format(DWORD flags, HMODULE source, DWORD code) {
  char* message = nullptr;
  FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, source, code,
                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&message), 0, nullptr);
  kit::UniqueLocal owner(message);
  return message ? message : "";
}

std::string UnknownForm(const char* code) { return LoadResourceString(IDS_UNKNOWN).str() + " (" + code + ")\n"; }

TEST(GetInstallErrorText, ProgramResultsShowTheSystemText) {
  for (DWORD code : {2u, 5u, 1223u, 1603u}) {
    SCOPED_TRACE(code);
    std::string system = Format(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code);
    ASSERT_FALSE(system.empty());
    EXPECT_EQ(system, GetInstallErrorText(code).str());
  }
}

TEST(GetInstallErrorText, InternetCodesComeFromWininet) {
  // Wine's system table has no text for 12029; wininet.dll has.
  ASSERT_TRUE(Format(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 12029).empty());
  kit::UniqueModule wininet(LoadLibraryExA("wininet.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(wininet);
  std::string text = Format(FORMAT_MESSAGE_FROM_HMODULE, wininet.get(), 12029);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text, GetInstallErrorText(12029).str());
}

TEST(GetInstallErrorText, CodesWithoutTextTakeTheUnknownForm) {
  ASSERT_FALSE(LoadResourceString(IDS_UNKNOWN).empty());
  // 2102 is a network-management code: netmsg.dll is absent under Wine and
  // the system table has nothing either.
  EXPECT_EQ(UnknownForm("3010"), GetInstallErrorText(3010).str());
  EXPECT_EQ(UnknownForm("2102"), GetInstallErrorText(2102).str());
  EXPECT_EQ(UnknownForm("4294967294"), GetInstallErrorText(static_cast<std::uint32_t>(-2)).str());
  EXPECT_EQ(UnknownForm("12999"), GetInstallErrorText(12999).str());
}

TEST(FormatFailureText, HeadlineErrorAndFile) {
  EXPECT_EQ(LoadResourceString(IDS_FAILURE).str() + "\n\n" + LoadResourceString(IDS_ERROR_LABEL).str() +
                UnknownForm("4294967294") + LoadResourceString(IDS_FILE_LABEL).str() + "C:\\x\\pkg.cab",
            FormatFailureText(-2, "C:\\x\\pkg.cab").str());
}

TEST(LoadResourceString, MissingStringIsEmpty) { EXPECT_TRUE(LoadResourceString(999).empty()); }

}  // namespace
