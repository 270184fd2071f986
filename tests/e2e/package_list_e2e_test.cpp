// What kitloader.exe hands to the engine for each package, read from its log.
#include <gtest/gtest.h>

#include "kitloader_run.h"

using kittest::KitloaderStage;

namespace {
std::size_t CountOf(const std::string& text, const std::string& fragment) {
  std::size_t n = 0;
  for (std::size_t pos = text.find(fragment); pos != std::string::npos; pos = text.find(fragment, pos + 1)) ++n;
  return n;
}

// The record of a package handed to the engine.
std::string Handed(const std::string& codebase) { return "WinMain(), File:\"" + codebase + "\", CLSID:\""; }
}  // namespace

TEST(KitloaderPackageList, AQuotedPathWithSpacesIsOnePackage) {
  KitloaderStage stage;
  stage.Run("/s \"my pkg.cab\"");
  std::string log = stage.Log();
  EXPECT_EQ(CountOf(log, Handed(stage.folder() + "\\my pkg.cab") + "\""), 1u) << log;
  EXPECT_EQ(CountOf(log, "WinMain(), File:"), 1u) << log;
}

TEST(KitloaderPackageList, RelativePathsAreTakenFromTheProgramFolderNotTheCurrentOne) {
  KitloaderStage stage;
  kittest::TempFolder elsewhere;
  stage.Run("/s sub\\a.cab", elsewhere.path());
  std::string log = stage.Log();
  EXPECT_EQ(CountOf(log, Handed(stage.folder() + "\\sub\\a.cab")), 1u) << log;
  stage.Run("/s C:\\absolute\\b.cab \\\\server\\share\\c.cab");
  log = stage.Log();
  EXPECT_EQ(CountOf(log, Handed("C:\\absolute\\b.cab")), 1u) << log;
}

TEST(KitloaderPackageList, AQuotedCabFilesKeyNamesItsSectionAndTheVersionJoinsTheCodebase) {
  KitloaderStage stage;
  stage.WriteSetupInf(
      "[CabFiles]\r\n\"quoted.cab\"=1\r\n"
      "[quoted.cab]\r\nCLSID={11111111-2222-3333-4444-555555555555}\r\nFileVersion=1, 2,3,4\r\nfile=thiscab\r\n");
  stage.Run("/s");
  std::string log = stage.Log();
  EXPECT_EQ(CountOf(log, "File:\"" + stage.folder() + "\\quoted.cab#1, 2,3,4\", CLSID:\"{11111111-2222-3333-4444-555555555555}\""),
            1u)
      << log;
}

TEST(KitloaderPackageList, IgnoredPackagesLeaveNoLineAndTheRunSucceeds) {
  KitloaderStage stage;
  stage.WriteSetupInf("[CabFiles]\r\nskip.cab=1\r\n[skip.cab]\r\nfile=ignore\r\n");
  EXPECT_EQ(stage.Run("/s").exitCode, 0u);
  std::string log = stage.Log();
  EXPECT_EQ(CountOf(log, "skip.cab"), 0u) << log;
  EXPECT_EQ(CountOf(log, "Installation failed"), 0u) << log;
}

TEST(KitloaderPackageList, AMissingSetupInfIsLoggedWithItsPath) {
  KitloaderStage stage;
  EXPECT_EQ(stage.Run("/s").exitCode, 2u);
  std::string log = stage.Log();
  const std::string inf = stage.folder() + "\\setup.inf";
  EXPECT_EQ(CountOf(log, "Cannot find [CabFiles] section in file:\"" + inf + "\""), 1u) << log;
  EXPECT_EQ(CountOf(log, "Installation failed. Code:2 (\""), 1u) << log;
  // The record stays on one line: the system text's line break is not in it.
  const std::size_t record = log.find("Installation failed. Code:2 (\"");
  ASSERT_NE(record, std::string::npos);
  const std::string line = log.substr(record, log.find('\n', record) - record);
  EXPECT_NE(line.find("\"), File:\"" + inf + "\""), std::string::npos) << line;
  EXPECT_EQ(line.find("\r\r"), std::string::npos) << line;
  EXPECT_EQ(CountOf(log, "File:\"" + inf + "\""), 1u) << log;
}

TEST(KitloaderPackageList, AFailedPackageEndsTheLoop) {
  KitloaderStage stage;
  stage.Run("/s first.cab second.cab");
  std::string log = stage.Log();
  EXPECT_EQ(CountOf(log, "first.cab\", CLSID"), 1u) << log;
  EXPECT_EQ(CountOf(log, "second.cab"), 0u) << log;
  EXPECT_EQ(CountOf(log, "Installation failed. Code:"), 1u) << log;
}
