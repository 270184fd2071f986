// kitloader.exe started for real: the command line, setup.inf and the exit
// code. Whether a package was handed to the engine is read from the log's
// record of it.
#include <gtest/gtest.h>

#include "program_runs.h"

using kittest::KitloaderStage;

namespace {
// The run hands a package to the engine (the log records it), which cannot install it.
void ExpectHanded(const KitloaderStage& stage, const std::string& args, const std::string& currentFolder = "") {
  const std::size_t before = stage.Log().size();
  kittest::ProcessResult r = stage.Run(args, currentFolder);
  ASSERT_FALSE(r.timedOut) << args;
  EXPECT_NE(stage.Log().find("WinMain(), File:\"", before > stage.Log().size() ? 0 : before), std::string::npos)
      << args;
  EXPECT_NE(r.exitCode, 0u) << args;
}

void ExpectExit(const KitloaderStage& stage, const std::string& args, DWORD expected) {
  kittest::ProcessResult r = stage.Run(args);
  ASSERT_TRUE(r.started);
  ASSERT_FALSE(r.timedOut) << args;
  EXPECT_EQ(r.exitCode, expected) << "arguments: " << args;
}
}  // namespace

TEST(KitloaderCommandLine, NoArgumentsAndNoSetupInfGives2) {
  KitloaderStage stage;
  ExpectExit(stage, "/s", 2);
  ExpectExit(stage, "/v /q", 2);
}

TEST(KitloaderCommandLine, UsageSwitchAnywhereGives0AndInstallsNothing) {
  KitloaderStage stage;
  for (const char* args : {"/s /i a.cab /?", "-S? b.cab", "/x? c.cab"}) {
    kittest::ChildProcess process = stage.Start(args);
    kittest::AnsweredBox box = kittest::AnswerMessageBox(process);
    EXPECT_TRUE(box.shown) << args;
    EXPECT_EQ(box.exitCode, 0u) << args;
  }
  EXPECT_EQ(stage.Log().find("File:"), std::string::npos);
}

TEST(KitloaderCommandLine, InstallSwitchAloneGives0) {
  KitloaderStage stage;
  ExpectExit(stage, "/i", 0);
  ExpectExit(stage, "-I -s", 0);
}

TEST(KitloaderCommandLine, PackagesOnTheCommandLineReachTheEngineWhateverTheSwitchForm) {
  KitloaderStage stage;
  for (const char* args : {"/s a.cab", "a.cab /s", "-S a.cab", "/SI a.cab", "/x /s a.cab", "/s \"my pkg.cab\""})
    ExpectHanded(stage, args);
}

TEST(KitloaderCommandLine, PackagesComeFromSetupInfBesideTheProgram) {
  KitloaderStage stage;
  stage.WriteSetupInf("[CabFiles]\r\none.cab=1\r\n");
  ExpectHanded(stage, "/s");
}

TEST(KitloaderCommandLine, SetupInfIsFoundBesideTheProgramNotInTheCurrentFolder) {
  KitloaderStage stage;
  stage.WriteSetupInf("[CabFiles]\r\none.cab=1\r\n");
  kittest::TempFolder elsewhere;
  ExpectHanded(stage, "/s", elsewhere.path());

  KitloaderStage empty;
  kittest::WriteTextFile(elsewhere / "setup.inf", "[CabFiles]\r\none.cab=1\r\n");
  EXPECT_EQ(empty.Run("/s", elsewhere.path()).exitCode, 2u);
}

TEST(KitloaderCommandLine, IgnoredPackagesAreSkipped) {
  KitloaderStage stage;
  stage.WriteSetupInf(
      "[CabFiles]\r\n\"skipped.cab\"=1\r\nalso.cab=1\r\n"
      "[skipped.cab]\r\nfile=IGNORE\r\n"
      "[also.cab]\r\nfile-win32-x86=ignore\r\n");
  ExpectExit(stage, "/s", 0);
}

TEST(KitloaderCommandLine, SetupInfWithoutPackagesIsNoFailure) {
  KitloaderStage stage;
  stage.WriteSetupInf("[Other]\r\nx=y\r\n");
  ExpectExit(stage, "/s", 0);
  stage.WriteSetupInf("[CabFiles]\r\n; only a comment\r\nno equals sign\r\n");
  ExpectExit(stage, "/s", 0);
}

TEST(KitloaderCommandLine, AnUnreadableSetupInfFailsWith2) {
  // A folder in its place.
  KitloaderStage folderInstead;
  ASSERT_TRUE(CreateDirectoryA((folderInstead.folder() + "\\setup.inf").c_str(), nullptr));
  ExpectExit(folderInstead, "/s", 2);

  // A file another process holds open without sharing it.
  KitloaderStage locked;
  locked.WriteSetupInf("[CabFiles]\r\none.cab=1\r\n");
  kit::UniqueFile hold(CreateFileA((locked.folder() + "\\setup.inf").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(hold);
  ExpectExit(locked, "/s", 2);
  hold.reset();
  ExpectHanded(locked, "/s");
}

TEST(KitloaderCommandLine, ASetupInfOfGarbageListsNothing) {
  KitloaderStage stage;
  std::string garbage;
  for (int i = 0; i < 70000; ++i) garbage += static_cast<char>((i * 7919) % 251 + 1);
  stage.WriteSetupInf(garbage);
  ExpectExit(stage, "/s", 0);
  // A [CabFiles] section whose keys are only blanks, quotes or an equals sign.
  stage.WriteSetupInf("[CabFiles]\r\n\"\"=1\r\n=2\r\n  \"  \"  =3\r\n");
  ExpectExit(stage, "/s", 0);
}
