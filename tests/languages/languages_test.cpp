// The program's windows and texts in one of its nine languages, as the
// running program shows them. CTest runs this program once per language,
// with KITTEST_LANGUAGE naming the row of the table and LANG the Unix locale.
//
// How Wine picks the language: a wine process takes the user's UI language
// (which resource language LoadStringA and the dialogs use) from LC_MESSAGES
// and the ANSI code page from LC_CTYPE of its Unix environment (both from
// LANG unless set on their own), provided the Unix locale exists (scripts/setup
// generates the nine). A process started by another wine process gets its
// parent's Unix locale: LANG or LC_ALL in the Windows environment block of
// CreateProcess are not used. LC_MESSAGES alone gives the language with code
// page 1252, which turns Russian and CJK texts of the ANSI calls into question
// marks; LANG gives both.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "e2e/program_runs.h"
#include "languages/language_table.h"

using namespace kittest;

namespace {

const LanguageTexts& Language() {
  const char* name = std::getenv("KITTEST_LANGUAGE");
  for (const LanguageTexts& lang : kLanguages)
    if (name && std::strcmp(name, lang.name) == 0) return lang;
  ADD_FAILURE() << "KITTEST_LANGUAGE names no language: " << (name ? name : "(unset)");
  return kLanguages[0];
}

TEST(Language, TheProgramsRunWithTheLanguageAndItsCodePage) {
  const LanguageTexts& lang = Language();
  TempFolder folder;
  std::string out = folder / "locale.txt";
  ProcessResult result =
      RunProcess(Quoted(WindowsPathOf(DIALOG_PREVIEW_EXE)) + " locale " + Quoted(out));
  ASSERT_EQ(0u, result.exitCode);
  unsigned acp = 0, ui = 0;
  ASSERT_EQ(2, std::sscanf(ReadTextFile(out).c_str(), "acp=%u ui=%x", &acp, &ui)) << ReadTextFile(out);
  EXPECT_EQ(lang.ansiCodePage, acp) << "is the Unix locale " << lang.unixLocale << " generated? (scripts/setup)";
  EXPECT_EQ(PRIMARYLANGID(lang.resourceLanguage), PRIMARYLANGID(ui));
}

TEST(Language, ProgressWindowAndFailureBox) {
  const LanguageTexts& lang = Language();
  HeldRun run;
  ASSERT_TRUE(run.progress);
  EXPECT_EQ(Wide(lang.progressCaption), WindowText(run.progress));
  EXPECT_EQ(Wide(lang.progressCancel), ControlText(run.progress, IDCANCEL));
  EXPECT_EQ(Wide(lang.progressText), StaticText(run.progress));
  PressButton(run.progress, IDCANCEL);

  // Strings 1 to 5: caption, headline, file and error labels, unknown.
  AnsweredBox box = AnswerMessageBox(run.process);
  ASSERT_TRUE(box.shown);
  EXPECT_EQ(Wide(lang.strings[0]), box.caption);
  EXPECT_EQ(Wide(std::string(lang.strings[1]) + "\n\n" + lang.strings[3] + lang.strings[4] + " (4294967294)\n" +
                 lang.strings[2] + run.package),
            box.text);
  EXPECT_EQ(kCancelled, box.exitCode);
}

TEST(Language, SuccessBox) {
  const LanguageTexts& lang = Language();
  KitloaderStage program;
  ChildProcess process = program.Start("/v /i");
  AnsweredBox box = AnswerMessageBox(process);
  ASSERT_TRUE(box.shown);
  EXPECT_EQ(Wide(lang.strings[0]), box.caption);
  EXPECT_EQ(Wide(lang.strings[5]), box.text);
  EXPECT_EQ(0u, box.exitCode);
}

TEST(Language, PermissionDialog) {
  const LanguageTexts& lang = Language();
  ChildProcess process = StartProcess(Quoted(WindowsPathOf(DIALOG_PREVIEW_EXE)) + " permission");
  HWND dialog = WaitForWindow(process.handle(), process.id(), IsPermissionDialog);
  ASSERT_TRUE(dialog);
  EXPECT_EQ(Wide(lang.permissionCaption), WindowText(dialog));
  EXPECT_EQ(Wide(lang.permissionContinue), ControlText(dialog, IDOK));
  EXPECT_EQ(Wide(lang.permissionCancel), ControlText(dialog, IDCANCEL));
  EXPECT_EQ(Wide(lang.permissionText), ControlText(dialog, 1000));
  PressButton(dialog, IDCANCEL);
  EXPECT_EQ(2u, process.Wait().exitCode);
}

}  // namespace
