// kitloader_testable.exe with each case's rights: whether it asks for
// elevation, the relaunch, and the user-mode installers that the installer
// helper (ombrixhelper.exe, a registered local server) starts.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "e2e/kitloader_run.h"
#include "foundation/m_folders.h"
#include "installer_service/installer_service.h"
#include "support/platform_facts_support.h"
#include "support/registry_sandbox.h"
#include "support/window_driver.h"

namespace {

using kittest::WindowsPathOf;
const char kStopInstallers[] = "kittest-elevation-stop-installers";
const char kRelaunchEvent[] = "cde2660f-df48-422b-9426-e6f55a1024c3-kitloader.exe";
#define kUserClass "{11111111-2222-3333-4444-888888888888}"
const std::string kLimitedAdmin = "[process]\nIntegrityLevel=0x2000\nAdministratorsMember=0\nElevationType=limited\n";
const std::string kStandardUser = "[process]\nIntegrityLevel=0x2000\nAdministratorsMember=0\nElevationType=default\n";

// The helper and the installer staged and registered, the installers getting
// `installerArgs`; stopped and unregistered at the end.
class RegisteredHelper {
 public:
  const std::string kClass = "CLSID\\{A1A36BF9-1CAA-43D4-BB51-0EBC7B2F64C9}";
  explicit RegisteredHelper(const std::string& installerArgs)
      : m_stop(CreateEventA(nullptr, TRUE, FALSE, kStopInstallers)) {
    ResetEvent(m_stop.get());
    kittest::CopyFileOrFail(WindowsPathOf(OMBRIXHELPER_EXE), m_folder / "ombrixhelper.exe");
    kittest::CopyFileOrFail(WindowsPathOf(OMBRIXAPPINST_EXE), m_folder / "ombrixappinst.exe");
    EXPECT_EQ(0u, Helper("/RegServer /stop " + std::string(kStopInstallers) + " " + installerArgs));
    // What the elevation moniker needs of the class on Windows.
    DWORD enabled = 0, size = sizeof enabled;
    EXPECT_TRUE(RegGetValueA(HKEY_CLASSES_ROOT, (kClass + "\\Elevation").c_str(), "Enabled", RRF_RT_REG_DWORD,
                             nullptr, &enabled, &size) == ERROR_SUCCESS && enabled == 1);
    EXPECT_TRUE(kittest::RegValueExists(HKEY_CLASSES_ROOT, kClass, "LocalizedString"));
  }
  ~RegisteredHelper() {
    SetEvent(m_stop.get());
    for (int i = 0; i < 50 && (srvGetServiceVersion(100, 1) || srvGetServiceVersion(100, 2)); ++i) Sleep(100);
    kittest::EndProgramsFrom(m_folder.path());
    EXPECT_EQ(0u, Helper("/UnregServer"));
    EXPECT_FALSE(kittest::RegKeyExists(HKEY_CLASSES_ROOT, kClass));
  }

 private:
  DWORD Helper(const std::string& args) {
    return kittest::RunProcess("\"" + (m_folder / "ombrixhelper.exe") + "\" " + args).exitCode;
  }
  kittest::TempFolder m_folder;
  kit::UniqueHandle m_stop;
};

struct Seen {
  DWORD exitCode = 0;
  bool permissionDialog = false;
  int messageBoxes = 0;
  std::string log;
  bool Has(const std::string& text) const { return log.find(text) != std::string::npos; }
};

void KillCopy(DWORD firstInstance);

// What one run may take, windows and all, before it is ended and reported
// with its log: well inside the test program's own time limit.
const DWORD kRunBudgetMs = 45000;

// Runs the stage's program, answers the permission dialog with `answer` (then
// kills the elevated copy if asked) and closes every message box until it ends.
Seen Drive(const kittest::KitloaderStage& stage, const std::string& args, int answer = IDCANCEL, bool kill = false) {
  Seen seen;
  kittest::ChildProcess run = stage.Start(args);
  auto ours = [](HWND w) { return kittest::IsPermissionDialog(w) || kittest::IsMessageBox(w); };
  const DWORD start = GetTickCount();
  auto left = [&] { return std::max<DWORD>(1000, kRunBudgetMs - std::min(kRunBudgetMs, GetTickCount() - start)); };
  while (HWND window = kittest::WaitForWindow(run.handle(), run.id(), ours, left())) {
    const bool permission = kittest::IsPermissionDialog(window);
    seen.permissionDialog |= permission;
    seen.messageBoxes += !permission;
    kittest::PressButton(window, permission ? answer : IDOK);
    if (permission && kill) KillCopy(run.id());
    Sleep(200);
  }
  const kittest::ProcessResult result = run.Wait(left());
  EXPECT_FALSE(result.timedOut) << "still running after " << kRunBudgetMs << " ms: " << args;
  seen.exitCode = result.exitCode;
  seen.log = stage.Log();
  return seen;
}

// Ends the elevated copy (the other process with our windows) without its signal.
void KillCopy(DWORD firstInstance) {
  for (int i = 0; i < 300; ++i, Sleep(100)) {
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, nullptr, nullptr)) != nullptr;) {
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner != firstInstance && IsWindowVisible(w) && (kittest::IsProgressWindow(w) || kittest::IsMessageBox(w)))
        return (void)TerminateProcess(kit::UniqueHandle(OpenProcess(PROCESS_TERMINATE, FALSE, owner)).get(), 0);
    }
  }
  ADD_FAILURE() << "the elevated copy showed no window";
}

// What the prefix holds while a case runs.
enum Held { kNothing, kWindowsXp, kServiceAnswers, kRelaunchWaiting, kRegisteredPerUser, kPipe1Answers, kMutexHeld };
class Situation {
 public:
  Situation(Held setup, const std::string& exeName) : m_setup(setup) {
    if (setup == kWindowsXp) m_xp = std::make_unique<kittest::WineAppVersion>(exeName, "winxp");
    const int pipe = setup == kServiceAnswers ? 0 : 1;
    // The service's stand-in runs as ombrixsvc.exe, the system's account for
    // the test build.
    const std::string program = m_bin / (pipe ? "ombrixappinst.exe" : "ombrixsvc.exe");
    if (setup == kServiceAnswers || setup == kPipe1Answers) {
      kittest::CopyFileOrFail(WindowsPathOf(OMBRIXAPPINST_EXE), program);
      m_server = kittest::StartProcess("\"" + program + "\" /pipe " + std::to_string(pipe) + " /result " +
                                       (pipe ? "5" : "7") + " /idle 3000");
    }
    for (int i = 0; m_server.started() && i < 50 && !srvGetServiceVersion(100, pipe); ++i) Sleep(100);
    if (setup == kRelaunchWaiting) m_object.reset(CreateEventA(nullptr, FALSE, FALSE, kRelaunchEvent));
    if (setup == kMutexHeld)
      m_object.reset(CreateMutexA(nullptr, TRUE, "{F57A6D66-48FB-4070-B2C9-F057C1510AF9}.ElevationMutex"));
    if (setup == kRegisteredPerUser) kittest::SetRegString(HKEY_CURRENT_USER, kUserKey, "", "C:\\absent\\u.dll");
  }
  ~Situation() {
    if (m_setup == kMutexHeld) ReleaseMutex(m_object.get());
    if (m_setup == kRegisteredPerUser) RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Classes\\CLSID\\" kUserClass);
  }
  static constexpr const char* kUserKey = "Software\\Classes\\CLSID\\" kUserClass "\\InprocServer32";

 private:
  Held m_setup;
  kittest::FactsFile m_users{"[users]\r\nombrixsvc.exe=S-1-5-18\r\n", "KITLOADER_TEST_USERS"};
  kittest::TempFolder m_bin;
  std::unique_ptr<kittest::WineAppVersion> m_xp;
  kittest::ChildProcess m_server;
  kit::UniqueHandle m_object;
};

TEST(ElevationE2E, UserModeInstallersStartThroughTheHelper) {
  const struct {
    std::string facts;
    std::string classId;    // "service:" classes take the high-integrity installer only
    std::string installer;  // the installers' arguments, as registered
    Held setup;
    const char* args;
    DWORD exitCode;
    std::vector<std::string> texts;  // in the shared log
    const char* absent;
  } cases[] = {
      // Medium integrity before high: the helper as the user starts pipe 2.
      {"[process]\nIntegrityLevel=0x1000\nAdministratorsMember=0\n", "", "/result 3010", kNothing, "", 3010,
       {"selector 2", "using medium integrity user mode installer process, reboot required"}, "StartOnAltPipe"},
      {kStandardUser + "ElevationMoniker=accept\n", "service:kittest", "/result 0", kNothing, "", 0,
       {"OmbrixHelper::StartOnAltPipe(), enter", "HI UserMode service is available"}, "selector 1"},
      {kStandardUser + "ElevationMoniker=cancel\n", "service:kittest", "", kNothing, "", 1603,
       {"StartLegacyService() canceled by user", "failed to start high integrity user-mode installer process"},
       "StartAsUser"},
      // Wine has no elevation moniker: the helper as the user, selector 1.
      {kStandardUser, "service:kittest", "/result 3010", kNothing, "", 3010,
       {"uCoCreateInstanceAsAdmin() failed, -2147221014", "selector 1"}, "StartOnAltPipe"},
      {kStandardUser + "ElevationMoniker=fail 0x80080005\n", "service:kittest", "/bogus", kNothing, "", 1603,
       {"selector 1", "service failed to go online"}, "HI UserMode service is available"},
      {kStandardUser, "service:kittest", "", kPipe1Answers, "", 5, {"HI UserMode service is available"}, "StartAsUser"},
      {kStandardUser + "[process.waits]\nElevationMutex=300\n", "service:kittest", "", kMutexHeld, "", 1603,
       {"IsAcquired failed"}, "StartAsUser"},
      {kStandardUser, "service:kittest", "", kNothing, "/s", 1603, {"attempt to run in service or with silent flag"},
       "StartAsUser"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.facts + c.installer + c.args);
    kittest::KitloaderStage stage(WindowsPathOf(KITLOADER_TESTABLE_EXE));
    RegisteredHelper helper(c.installer);
    Situation situation(c.setup, "kitloader.exe");
    kittest::FactsFile facts(c.facts);
    kittest::WriteTextFile(stage.folder() + "\\pkg.cab", "handed over as it is");
    stage.WriteSetupInf("[CabFiles]\r\npkg.cab=1\r\n[pkg.cab]\r\nCLSID=" + c.classId + "\r\n");
    const Seen seen = Drive(stage, c.args);
    EXPECT_EQ(c.exitCode, seen.exitCode) << seen.log;
    EXPECT_FALSE(seen.permissionDialog);
    for (const auto& text : c.texts) EXPECT_TRUE(seen.Has(text)) << text << "\n" << seen.log;
    EXPECT_FALSE(seen.Has(c.absent)) << seen.log;
  }
}

TEST(ElevationE2E, PermissionDialogAndRelaunch) {
  const std::string installed = SGetDownloadedProgramFilesFolder().str() + "\\ombrixtrust.dat";
  const std::string accept = kLimitedAdmin + "ElevationPrompt=accept\n";
  const DWORD notTrusted = 0x800B0004;
  const struct {
    std::string facts;
    Held setup;
    bool signedPackage;  // the maker's package, else a file that is no cabinet
    int answer;          // to the permission dialog, 0 when it must not appear
    bool killCopy;
    DWORD exitCode;
    const char* text;
  } cases[] = {
      {"", kNothing, true, 0, false, 0, "control installed successfully"},  // already elevated
      {kLimitedAdmin, kWindowsXp, false, 0, false, notTrusted, "XP Admin/XP"},
      {kLimitedAdmin, kServiceAnswers, false, 0, false, 7, "Installer Service is running"},
      {kStandardUser, kNothing, false, 0, false, notTrusted, "LOCAL_USER EXTERNAL_PROCESS_HI"},
      {kLimitedAdmin, kRelaunchWaiting, false, 0, false, 1603, "The second instance of kitloader.exe started not at"},
      {kLimitedAdmin, kRegisteredPerUser, false, 0, false, notTrusted, "registered-per-user"},
      {accept, kNothing, true, IDCANCEL, false, 0, "exit, 0"},
      {kLimitedAdmin + "ElevationPrompt=decline\n", kNothing, true, IDOK, false, 1223, "ShellExecuteEx failed"},
      {accept, kNothing, true, IDOK, false, 0, "elevated instance exit, 0"},
      {accept, kNothing, false, IDOK, false, notTrusted, "elevated instance exit, 2148204548"},
      {accept, kNothing, false, IDOK, true, ERROR_PROCESS_ABORTED, "elevated instance exit, 1067"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.facts + std::to_string(c.setup) + " " + c.text);
    const std::string name = "kl_elevation_" + std::to_string(GetCurrentProcessId()) + ".exe";
    kittest::KitloaderStage stage(WindowsPathOf(KITLOADER_TESTABLE_EXE), name);
    Situation situation(c.setup, name);
    kittest::FactsFile facts(c.facts);
    if (c.signedPackage)
      kittest::CopyFileOrFail(WindowsPathOf(KITLOADER_PACKAGE_DIR "/trust_signer03.cab"), stage.folder() + "\\pkg.cab");
    else
      kittest::WriteTextFile(stage.folder() + "\\pkg.cab", "no cabinet");
    stage.WriteSetupInf(std::string("[CabFiles]\r\npkg.cab=1\r\n[pkg.cab]\r\nCLSID=") +
                        (c.setup == kRegisteredPerUser ? kUserClass : "") + "\r\n");
    DeleteFileA(installed.c_str());
    const DWORD start = GetTickCount();
    const Seen seen = Drive(stage, c.killCopy ? "" : "/s", c.answer ? c.answer : IDCANCEL, c.killCopy);
    EXPECT_LT(GetTickCount() - start, 60000u);
    EXPECT_EQ(c.exitCode, seen.exitCode) << seen.log;
    EXPECT_EQ(c.answer != 0, seen.permissionDialog);
    EXPECT_TRUE(seen.Has(c.text)) << seen.log;
    // Only what an elevated run installs, nothing after a refusal or a failure.
    EXPECT_EQ(c.signedPackage && c.answer != IDCANCEL && c.exitCode == 0, kittest::FileExists(installed));
    // The first instance shows a failure box only for a copy that did not report.
    EXPECT_EQ(c.killCopy ? 1 : 0, seen.messageBoxes);
    DeleteFileA(installed.c_str());
  }
}

}  // namespace
