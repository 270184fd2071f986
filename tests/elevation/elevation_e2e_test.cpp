// The test build of the program (kitloader_testable.exe) with the rights each
// case gives it: whether it asks for elevation, the relaunch through the
// elevation prompt, and the user-mode installers started by the installer
// helper (ombrixhelper.exe, registered as a local server of the prefix).
#include <gtest/gtest.h>

#include <functional>
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
const char kHelperKey[] = "CLSID\\{A1A36BF9-1CAA-43D4-BB51-0EBC7B2F64C9}";
const char kRelaunchEvent[] = "cde2660f-df48-422b-9426-e6f55a1024c3-kitloader.exe";
const std::string kLimitedAdmin = "[process]\nIntegrityLevel=0x2000\nAdministratorsMember=0\nElevationType=limited\n";
const std::string kStandardUser = "[process]\nIntegrityLevel=0x2000\nAdministratorsMember=0\nElevationType=default\n";

// The helper and the installer staged together and registered; the helper's
// installers get `installerArgs`. Stops them and unregisters at the end.
class RegisteredHelper {
 public:
  explicit RegisteredHelper(const std::string& installerArgs)
      : m_stop(CreateEventA(nullptr, TRUE, FALSE, kStopInstallers)) {
    ResetEvent(m_stop.get());
    kittest::CopyFileOrFail(WindowsPathOf(OMBRIXHELPER_EXE), m_folder / "ombrixhelper.exe");
    kittest::CopyFileOrFail(WindowsPathOf(OMBRIXAPPINST_EXE), m_folder / "ombrixappinst.exe");
    EXPECT_EQ(0u, Helper("/RegServer /stop " + std::string(kStopInstallers) + " " + installerArgs));
  }
  ~RegisteredHelper() {
    SetEvent(m_stop.get());
    for (int i = 0; i < 50 && (srvGetServiceVersion(100, 1) || srvGetServiceVersion(100, 2)); ++i) Sleep(100);
    EXPECT_EQ(0u, Helper("/UnregServer"));
    EXPECT_FALSE(kittest::RegKeyExists(HKEY_CLASSES_ROOT, kHelperKey));
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
};

// Runs the stage's program, answers the permission dialog with `answer` and
// closes every message box until it ends. `whileWaiting` runs once the
// dialog is answered.
Seen Drive(const kittest::KitloaderStage& stage, const std::string& args, int answer = IDCANCEL,
           const std::function<void(DWORD)>& whileWaiting = nullptr) {
  Seen seen;
  kittest::ChildProcess run = stage.Start(args);
  auto ours = [](HWND w) { return kittest::IsPermissionDialog(w) || kittest::IsMessageBox(w); };
  while (HWND window = kittest::WaitForWindow(run.handle(), run.id(), ours, 90000)) {
    const bool permission = kittest::IsPermissionDialog(window);
    seen.permissionDialog |= permission;
    seen.messageBoxes += !permission;
    kittest::PressButton(window, permission ? answer : IDOK);
    if (permission && whileWaiting) whileWaiting(run.id());
    Sleep(200);
  }
  seen.exitCode = run.Wait(90000).exitCode;
  seen.log = stage.Log();
  return seen;
}

// Ends the elevated copy, which runs with a window of its own, without its
// signal.
void KillCopy(DWORD firstInstance) {
  for (int i = 0; i < 300; ++i, Sleep(100)) {
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, nullptr, nullptr)) != nullptr) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner == firstInstance || !IsWindowVisible(window) ||
          !(kittest::IsProgressWindow(window) || kittest::IsMessageBox(window)))
        continue;
      kit::UniqueHandle copy(OpenProcess(PROCESS_TERMINATE, FALSE, owner));
      TerminateProcess(copy.get(), 0);
      return;
    }
  }
  ADD_FAILURE() << "the elevated copy showed no window";
}

bool Has(const std::string& log, const std::string& text) { return log.find(text) != std::string::npos; }

TEST(ElevationE2E, UserModeInstallersStartThroughTheHelper) {
  const struct {
    std::string facts;
    std::string classId;       // "service:" classes take the high-integrity installer only
    std::string installer;     // the installers' arguments, as registered
    bool alreadyAnswering;     // an installer serves pipe 1 before the run
    bool holdMutex;
    const char* args;
    DWORD exitCode;
    std::vector<std::string> texts;  // in the shared log
    const char* absent;
  } cases[] = {
      // Medium integrity before high: the helper as the user starts pipe 2.
      {"[process]\nIntegrityLevel=0x1000\nAdministratorsMember=0\n", "", "/result 3010", false, false, "", 3010,
       {"selector 2", "using medium integrity user mode installer process, reboot required"}, "StartOnAltPipe"},
      {kStandardUser + "ElevationMoniker=accept\n", "service:kittest", "", false, false, "", 0,
       {"OmbrixHelper::StartOnAltPipe(), enter", "HI UserMode service is available"}, "selector 1"},
      {kStandardUser + "ElevationMoniker=cancel\n", "service:kittest", "", false, false, "", 1603,
       {"StartLegacyService() canceled by user", "failed to start high integrity user-mode installer process"},
       "StartAsUser"},
      // Wine has no elevation moniker: the helper as the user, selector 1.
      {kStandardUser, "service:kittest", "/result 3010", false, false, "", 3010,
       {"uCoCreateInstanceAsAdmin() failed, -2147221014", "selector 1"}, "StartOnAltPipe"},
      {kStandardUser + "ElevationMoniker=fail 0x80080005\n", "service:kittest", "/bogus", false, false, "", 1603,
       {"selector 1", "service failed to go online"}, "HI UserMode service is available"},
      {kStandardUser, "service:kittest", "", true, false, "", 5, {"HI UserMode service is available"}, "StartAsUser"},
      {kStandardUser + "[process.waits]\nElevationMutex=300\n", "service:kittest", "", false, true, "", 1603,
       {"IsAcquired failed"}, "StartAsUser"},
      {kStandardUser, "service:kittest", "", false, false, "/s", 1603,
       {"attempt to run in service or with silent flag"}, "StartAsUser"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.facts + c.installer + c.args);
    kittest::KitloaderStage stage(WindowsPathOf(KITLOADER_TESTABLE_EXE));
    RegisteredHelper helper(c.installer);
    kittest::FactsFile facts(c.facts);
    kittest::ChildProcess running;
    if (c.alreadyAnswering)
      running = kittest::StartProcess("\"" + WindowsPathOf(OMBRIXAPPINST_EXE) + "\" /pipe 1 /result 5 /stop " +
                                      kStopInstallers);
    for (int i = 0; c.alreadyAnswering && i < 50 && !srvGetServiceVersion(100, 1); ++i) Sleep(100);
    kit::UniqueHandle mutex(c.holdMutex ? CreateMutexA(nullptr, TRUE, "{F57A6D66-48FB-4070-B2C9-F057C1510AF9}"
                                                                      ".ElevationMutex")
                                        : nullptr);
    kittest::WriteTextFile(stage.folder() + "\\pkg.cab", "handed over as it is");
    stage.WriteSetupInf("[CabFiles]\r\npkg.cab=1\r\n[pkg.cab]\r\nCLSID=" + c.classId + "\r\n");
    const Seen seen = Drive(stage, c.args);
    EXPECT_EQ(c.exitCode, seen.exitCode) << seen.log;
    EXPECT_FALSE(seen.permissionDialog);
    for (const auto& text : c.texts) EXPECT_TRUE(Has(seen.log, text)) << text << "\n" << seen.log;
    EXPECT_FALSE(Has(seen.log, c.absent)) << seen.log;
  }
}

TEST(ElevationE2E, PermissionDialogAndRelaunch) {
  const std::string installed = SGetDownloadedProgramFilesFolder().str() + "\\ombrixtrust.dat";
  const std::string accept = kLimitedAdmin + "ElevationPrompt=accept\n";
  const DWORD notTrusted = 0x800B0004;
  enum Setup { kNothing, kWindowsXp, kServiceAnswers, kRelaunchWaiting, kRegisteredPerUser };
  const struct {
    std::string facts;
    Setup setup;
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
  const std::string userClass = "{11111111-2222-3333-4444-888888888888}";
  const std::string userClassKey = "Software\\Classes\\CLSID\\" + userClass;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.facts + std::to_string(c.setup) + " " + c.text);
    const std::string name = "kl_elevation_" + std::to_string(GetCurrentProcessId()) + ".exe";
    kittest::KitloaderStage stage(WindowsPathOf(KITLOADER_TESTABLE_EXE), name);
    std::unique_ptr<kittest::WineAppVersion> xp;
    if (c.setup == kWindowsXp) xp = std::make_unique<kittest::WineAppVersion>(name, "winxp");
    kittest::ChildProcess service;
    if (c.setup == kServiceAnswers)
      service = kittest::StartProcess("\"" + WindowsPathOf(OMBRIXAPPINST_EXE) + "\" /pipe 0 /result 7 /idle 3000");
    for (int i = 0; c.setup == kServiceAnswers && i < 50 && !srvGetServiceVersion(100, 0); ++i) Sleep(100);
    kit::UniqueHandle relaunch(c.setup == kRelaunchWaiting ? CreateEventA(nullptr, FALSE, FALSE, kRelaunchEvent)
                                                           : nullptr);
    if (c.setup == kRegisteredPerUser)
      kittest::SetRegString(HKEY_CURRENT_USER, userClassKey + "\\InprocServer32", "", "C:\\absent\\userctl.dll");
    kittest::FactsFile facts(c.facts);
    if (c.signedPackage)
      kittest::CopyFileOrFail(WindowsPathOf(KITLOADER_PACKAGE_DIR "/trust_signer03.cab"), stage.folder() + "\\pkg.cab");
    else
      kittest::WriteTextFile(stage.folder() + "\\pkg.cab", "no cabinet");
    stage.WriteSetupInf("[CabFiles]\r\npkg.cab=1\r\n[pkg.cab]\r\nCLSID=" +
                        (c.setup == kRegisteredPerUser ? userClass : "") + "\r\n");
    DeleteFileA(installed.c_str());

    const DWORD start = GetTickCount();
    const Seen seen = Drive(stage, c.killCopy ? "" : "/s", c.answer ? c.answer : IDCANCEL,
                            c.killCopy ? std::function<void(DWORD)>(KillCopy) : nullptr);
    EXPECT_LT(GetTickCount() - start, 60000u);
    RegDeleteTreeA(HKEY_CURRENT_USER, userClassKey.c_str());
    EXPECT_EQ(c.exitCode, seen.exitCode) << seen.log;
    EXPECT_EQ(c.answer != 0, seen.permissionDialog);
    EXPECT_TRUE(Has(seen.log, c.text)) << seen.log;
    // Only what an elevated run installs, nothing after a refusal or a failure.
    EXPECT_EQ(c.signedPackage && c.answer != IDCANCEL && c.exitCode == 0, kittest::FileExists(installed));
    // The first instance shows a failure box only for a copy that did not report.
    EXPECT_EQ(c.killCopy ? 1 : 0, seen.messageBoxes);
    DeleteFileA(installed.c_str());
  }
}

}  // namespace
