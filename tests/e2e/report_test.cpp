// What the user sees, driven end to end: kitloader.exe (and kitloader_held.exe,
// whose install requests wait for the test) under Wine's null graphics driver,
// its windows found and pressed from this process.
//
// The texts in the other eight languages: tests/languages.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "e2e/program_runs.h"
#include "kit_build_identity.h"
#include "languages/language_table.h"
#include "support/test_support.h"
#include "support/window_driver.h"

using namespace kittest;

namespace {

TEST(ProgressWindow, CancelEndsTheRunWithMinusTwoAndAFailureBoxInTheUnknownForm) {
  // Decision 2: the stopped worker reports 1223; decision 1: it reports 0.
  // Neither may replace the cancel.
  for (const char* decision : {"2", "1"}) {
    SCOPED_TRACE(decision);
    HeldRun run(decision);
    ASSERT_TRUE(run.progress);
    EXPECT_EQ(L"Installation in progress. Please wait ...", StaticText(run.progress));
    PressButton(run.progress, IDCANCEL);

    AnsweredBox box = AnswerMessageBox(run.process);
    ASSERT_TRUE(box.shown);
    EXPECT_EQ(L"Setup", box.caption);
    EXPECT_EQ(Wide("Installation failed.\n\nError: Unknown (4294967294)\nFile: " + run.package), box.text);
    EXPECT_EQ(kCancelled, box.exitCode);
  }
}

TEST(ProgressWindow, TheCloseBoxActsAsCancel) {
  HeldRun run("1");
  ASSERT_TRUE(run.progress);
  PostMessageW(run.progress, WM_SYSCOMMAND, SC_CLOSE, 0);
  AnsweredBox box = AnswerMessageBox(run.process);
  ASSERT_TRUE(box.shown);
  EXPECT_EQ(Wide("Installation failed.\n\nError: Unknown (4294967294)\nFile: " + run.package), box.text);
  EXPECT_EQ(kCancelled, box.exitCode);
}

TEST(ProgressWindow, AFailedPackageReportsTheSystemTextAndThePackage) {
  HeldRun run;
  ASSERT_TRUE(run.progress);
  run.hold.Release();
  AnsweredBox box = AnswerMessageBox(run.process);
  ASSERT_TRUE(box.shown);
  ASSERT_FALSE(SystemText(ERROR_INSTALL_FAILURE).empty());
  EXPECT_EQ(L"Installation failed.\n\nError: " + SystemText(ERROR_INSTALL_FAILURE) + L"File: " + Wide(run.package),
            box.text);
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE), box.exitCode);
}

TEST(ProgressWindow, SilentFailureShowsNothing) {
  HeldRun run("2", "/s");
  EXPECT_FALSE(WaitForWindow(run.process.handle(), run.process.id(), [](HWND) { return true; }, 500))
      << "a silent run shows no window";
  run.hold.Release();
  ProcessResult result = run.process.Wait();
  EXPECT_FALSE(result.timedOut) << "a box would have blocked the silent run";
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE), result.exitCode);
}

TEST(FinalReport, MissingSetupInfShowsTheSystemTextAndTheSetupInfPath) {
  KitloaderStage program;
  ChildProcess process = program.Start("");
  AnsweredBox box = AnswerMessageBox(process);
  ASSERT_TRUE(box.shown);
  EXPECT_EQ(L"Setup", box.caption);
  ASSERT_FALSE(SystemText(ERROR_FILE_NOT_FOUND).empty());
  EXPECT_EQ(L"Installation failed.\n\nError: " + SystemText(ERROR_FILE_NOT_FOUND) + L"File: " +
                Wide(program.folder() + "\\setup.inf"),
            box.text);
  EXPECT_EQ(2u, box.exitCode);
}

TEST(FinalReport, VerboseSuccessShowsTheSuccessBox) {
  KitloaderStage program;
  ChildProcess process = program.Start("/v /i");
  AnsweredBox box = AnswerMessageBox(process);
  ASSERT_TRUE(box.shown);
  EXPECT_EQ(L"Setup", box.caption);
  EXPECT_EQ(L"Installation successfully complete.", box.text);
  EXPECT_EQ(0u, box.exitCode);
}

TEST(FinalReport, SilentRunsShowNothing) {
  KitloaderStage program;
  // A box would block these runs: that they end on their own is the check.
  for (const char* arguments : {"/s", "-S", "/s /v /i", "/v /q /i"}) {
    SCOPED_TRACE(arguments);
    ProcessResult result = program.Start(arguments).Wait(60000);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(std::string(arguments).find("/i") == std::string::npos ? 2u : 0u, result.exitCode);
  }
}

TEST(FinalReport, UsageBoxShowsItsTextAndExitsWithZero) {
  KitloaderStage program;
  for (const char* arguments : {"/?", "/s /? pkg.cab"}) {
    SCOPED_TRACE(arguments);
    ChildProcess process = program.Start(arguments);
    AnsweredBox box = AnswerMessageBox(process);
    ASSERT_TRUE(box.shown);
    EXPECT_EQ(L"kitloader", box.caption);
    EXPECT_EQ(
        L"Usage: kitloader.exe [/s][/i <cabfile>[ <cabfile_n>]]\n/i - \tInstall <cabfile>\n"
        L"/s - \tSilent; display no message boxes\n/? - \tPrint this message\n",
        box.text);
    EXPECT_EQ(0u, box.exitCode);
  }
}

TEST(Resources, EveryLanguageIsStoredUnderItsLanguageId) {
  kit::UniqueModule exe(LoadLibraryExA(WindowsPathOf(KITLOADER_EXE).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(exe);
  for (const LanguageTexts& lang : kLanguages) {
    SCOPED_TRACE(lang.name);
    EXPECT_TRUE(FindResourceExA(exe.get(), RT_DIALOG, MAKEINTRESOURCEA(101), lang.resourceLanguage));
    EXPECT_TRUE(FindResourceExA(exe.get(), RT_DIALOG, MAKEINTRESOURCEA(102), lang.resourceLanguage));
    // Strings 1 to 6 live in the first block of sixteen.
    EXPECT_TRUE(FindResourceExA(exe.get(), RT_STRING, MAKEINTRESOURCEA(1), lang.resourceLanguage));
  }
}

TEST(Resources, TheVersionNamesTheMakerAndTheSuite) {
  const std::string exe = WindowsPathOf(KITLOADER_EXE);
  DWORD ignored = 0;
  std::vector<char> info(GetFileVersionInfoSizeA(exe.c_str(), &ignored));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  auto value = [&](const char* name) {
    char* text = nullptr;
    UINT length = 0;
    std::string path = std::string("\\StringFileInfo\\040904b0\\") + name;
    return VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&text), &length) && text
               ? std::string(text)
               : std::string("<missing>");
  };
  EXPECT_EQ("Norvane", value("CompanyName"));
  EXPECT_EQ("Norvane Ombrix", value("ProductName"));
  EXPECT_EQ("Norvane Package installer", value("FileDescription"));
  EXPECT_EQ("kitloader.exe", value("OriginalFilename"));
  // A build that pins the development signers says so; one that pins the
  // maker's own has no such comment.
  EXPECT_EQ(KITLOADER_DEVELOPMENT_SIGNERS ? KITLOADER_BUILD_NOTICE : "<missing>", value("Comments"));
}

TEST(Resources, TheShippedProgramHasNoTestHold) {
  std::string exe = ReadTextFile(WindowsPathOf(KITLOADER_EXE));
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(std::string::npos, exe.find("KITTEST_")) << "the held engine belongs to kitloader_held.exe only";
  EXPECT_NE(std::string::npos, ReadTextFile(WindowsPathOf(KITLOADER_HELD_EXE)).find("KITTEST_HOLD_EVENT"));
}

TEST(PermissionDialog, ContinueAndClose) {
  for (int button : {IDOK, 0}) {
    ChildProcess process = StartProcess(Quoted(WindowsPathOf(DIALOG_PREVIEW_EXE)) + " permission");
    HWND dialog = WaitForWindow(process.handle(), process.id(), IsPermissionDialog);
    ASSERT_TRUE(dialog);
    if (button)
      PressButton(dialog, button);
    else
      PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(button ? 1u : 2u, process.Wait().exitCode);
  }
}

TEST(Manifest, AsksForTheCallersLevelAndCommonControlsSix) {
  kit::UniqueModule exe(LoadLibraryExA(WindowsPathOf(KITLOADER_EXE).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(exe);
  HRSRC found = FindResourceA(exe.get(), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_TRUE(found);
  std::string manifest(static_cast<const char*>(LockResource(LoadResource(exe.get(), found))),
                       SizeofResource(exe.get(), found));
  for (const char* part :
       {"level=\"asInvoker\"", "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "processorArchitecture=\"X86\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"",
        "name=\"Norvane.Ombrix.Package installer\" version=\"1.0.0.0\" processorArchitecture=\"X86\"",
        "<description>Norvane Package installer</description>", "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
    EXPECT_NE(std::string::npos, manifest.find(part)) << part;
}

}  // namespace
