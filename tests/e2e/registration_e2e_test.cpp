// The registry an installed control leaves, read back after runs of the real
// program (class, record, shared counts), the update decision reading it,
// registrations that refuse, fault or hang, and the per-user ones. The runs
// are other processes: the prefix's real registry is used and cleaned.
#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <string>

#include "e2e/kitloader_run.h"
#include "foundation/m_folders.h"
#include "foundation/m_io.h"
#include "foundation/m_registry.h"
#include "support/platform_facts_support.h"
#include "support/registry_sandbox.h"
#include "support/sample_control.h"
#include "support/window_driver.h"

namespace {

const std::string kUnits = "SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\";
const std::string kUsage = "Software\\Microsoft\\Windows\\CurrentVersion\\ModuleUsage\\";
const char kShared[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
const std::string kViewer = "{5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36}";
const std::string kPanel = "{7A1C2E90-3B4D-4E5F-8A6B-1C2D3E4F5A60}";
const std::string kToolbar = "{7A1C2E91-3B4D-4E5F-8A6B-1C2D3E4F5A60}";
const char kSkip[] = "needn't install/update control";

std::string Text(HKEY hive, const std::string& key, const char* name) {
  return SGetRegistryAsString(hive, key.c_str(), name, "<none>", 0, 0).str();
}

std::set<std::string> ValueNames(HKEY hive, const std::string& key) {
  std::set<std::string> names;
  kit::UniqueKey opened;
  if (RegOpenKeyExA(hive, key.c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS) return names;
  char name[1024];
  for (DWORD i = 0, n = sizeof name; RegEnumValueA(opened.get(), i, name, &n, nullptr, nullptr, nullptr, nullptr) == 0;
       ++i, n = sizeof name)
    names.insert(name);
  return names;
}

std::string Slashed(std::string path) {
  for (char& c : path) c = c == '\\' ? '/' : c;
  return path;
}

// Everything an installation of `classId` with `files` may have written, in
// the hive of its scope and in the classes of both.
void Forget(HKEY hive, const std::string& classId, const std::set<std::string>& files) {
  RegDeleteTreeA(hive, (kUnits + classId).c_str());
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
    for (std::string key : {"CLSID\\" + classId, std::string("Norvane.OmbrixControl.1"),
                            std::string("TypeLib\\{2D6B9C31-7E85-4A0F-B3C2-9F1E4D7A6B58}")})
      RegDeleteTreeA(root, ("Software\\Classes\\" + key).c_str());
  for (const std::string& file : files) {
    RegDeleteTreeA(hive, (kUsage + Slashed(file)).c_str());
    RegDeleteKeyValueA(hive, kShared, file.c_str());
    DeleteFileA(file.c_str());
  }
}

// The record of a class and the shared records of its files.
void ExpectRecord(HKEY hive, const std::string& classId, const std::string& version, const std::string& folder,
                  const std::string& inf, const std::set<std::string>& files, const std::string& owner, DWORD count) {
  SCOPED_TRACE(classId + " " + version);
  const std::string unit = kUnits + classId;
  EXPECT_EQ("MSICD", Text(hive, unit, "INSTALLER"));
  EXPECT_EQ("0", Text(hive, unit, "SystemComponent"));
  EXPECT_EQ(files, ValueNames(hive, unit + "\\Contains\\Files"));
  EXPECT_EQ(folder + "\\" + inf, Text(hive, unit + "\\DownloadInformation", "INF"));
  EXPECT_NE("<none>", Text(hive, unit + "\\DownloadInformation", "CODEBASE"));
  EXPECT_EQ(version, Text(hive, unit + "\\InstalledVersion", ""));
  EXPECT_EQ("", Text(hive, unit + "\\InstalledVersion", "LastModified"));
  for (const std::string& file : files) {
    EXPECT_TRUE(kittest::FileExists(file)) << file;
    EXPECT_EQ(owner, Text(hive, kUsage + Slashed(file), ".Owner"));
    EXPECT_EQ("", Text(hive, kUsage + Slashed(file), classId.c_str()));
    EXPECT_EQ(count, GetRegistryAsDWORDA(hive, kShared, file.c_str(), 0, 0)) << file;
  }
}

// Runs a package staged as `name`: with a class, through setup.inf (and the
// update decision), otherwise given with /i. `cancelInHook`: with its
// window, Cancel pressed once the package's hook started exit_with.exe,
// which is then ended.
struct Outcome { std::string log; DWORD exitCode; };
Outcome Install(const std::string& package, const std::string& name, const std::string& classId = "",
            const std::string& version = "", const std::string& program = "", bool withUserRegister = false,
            bool cancelInHook = false) {
  kittest::KitloaderStage stage(program);
  kittest::CopyFileOrFail(kittest::WindowsPathOf(KITLOADER_PACKAGE_DIR "/" + package + ".cab"),
                          stage.folder() + "\\" + name + ".cab");
  if (withUserRegister)
    kittest::CopyFileOrFail(kittest::WindowsPathOf(KITLOADER_BUILD_DIR "/suite/userregsvr.exe"),
                            stage.folder() + "\\userregsvr.exe");
  if (!classId.empty())
    stage.WriteSetupInf("[CabFiles]\r\n" + name + ".cab=1\r\n[" + name + ".cab]\r\nCLSID=" + classId +
                        "\r\nFileVersion=" + version + "\r\nfile=thiscab\r\n");
  if (cancelInHook) {
    kittest::ChildProcess process = stage.Start("");
    const HWND progress = kittest::WaitForWindow(process.handle(), process.id(), kittest::IsProgressWindow);
    kit::UniqueHandle hook;
    while (progress && !(hook = kittest::ChildNamed(process.id(), "exit_with.exe")) &&
           WaitForSingleObject(process.handle(), 0) == WAIT_TIMEOUT)
      Sleep(1);
    kittest::PressButton(progress, IDCANCEL);
    kittest::PressButton(kittest::WaitForWindow(process.handle(), process.id(), kittest::IsMessageBox), IDOK);
    const DWORD exitCode = process.Wait().exitCode;
    if (hook && TerminateProcess(hook.get(), 1)) WaitForSingleObject(hook.get(), 10000);
    return {stage.Log(), exitCode};
  }
  const kittest::ProcessResult run = stage.Run(classId.empty() ? "/s /i " + name + ".cab" : "/s");
  return {stage.Log(), run.exitCode};
}

TEST(RegistrationE2E, AMachineControlIsRecordedSkippedAndRepaired) {
  const std::string dpf = SGetDownloadedProgramFilesFolder().str(), control = dpf + "\\ombrixctl.dll";
  Forget(HKEY_LOCAL_MACHINE, kViewer, {control, dpf + "\\ombrixctl.inf"});  // the demo's, say
  Outcome run = Install("ombrixctl-1.0.0.1", "ombrixctl", kViewer, "1,0,0,1");
  EXPECT_EQ(0u, run.exitCode) << run.log;
  const std::string classKey = "Software\\Classes\\CLSID\\" + kViewer;
  EXPECT_EQ(control, Text(HKEY_LOCAL_MACHINE, classKey + "\\InprocServer32", ""));
  EXPECT_EQ(control, Text(HKEY_LOCAL_MACHINE,
                          "Software\\Classes\\TypeLib\\{2D6B9C31-7E85-4A0F-B3C2-9F1E4D7A6B58}\\1.0\\0\\win32", ""));
  ExpectRecord(HKEY_LOCAL_MACHINE, kViewer, "1,0,0,1", dpf, "ombrixctl.inf", {control}, kViewer, 1);

  // Intact: the decision leaves it alone.
  run = Install("ombrixctl-1.0.0.1", "ombrixctl", kViewer, "1,0,0,1");
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_NE(std::string::npos, run.log.find(kSkip)) << run.log;

  // The class lost its server: installed again, and registered again.
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, (classKey + "\\InprocServer32").c_str());
  run = Install("ombrixctl-1.0.0.1", "ombrixctl", kViewer, "1,0,0,1");
  EXPECT_EQ(0u, run.exitCode);
  EXPECT_EQ(std::string::npos, run.log.find(kSkip)) << run.log;
  EXPECT_EQ(control, Text(HKEY_LOCAL_MACHINE, classKey + "\\InprocServer32", ""));

  Forget(HKEY_LOCAL_MACHINE, kViewer, {control, dpf + "\\ombrixctl.inf"});
}

// An update that fails after 2.0 was placed, registered and recorded (a file
// placed after the control, a hook), or is cancelled while its hook's program
// runs, puts 1.0 back: its file, class, record and INF copy, and the next
// run finds it current.
TEST(RegistrationE2E, AnUpdateThatFailsLateLeavesThePreviousVersion) {
  const std::string dpf = SGetDownloadedProgramFilesFolder().str(), control = dpf + "\\ombrixctl.dll";
  const std::string classKey = "Software\\Classes\\CLSID\\" + kViewer, inf = dpf + "\\ombrixctl.inf";
  Forget(HKEY_LOCAL_MACHINE, kViewer, {control, inf});
  ASSERT_EQ(0u, Install("ombrixctl-1.0.0.1", "ombrixctl", kViewer, "1,0,0,1").exitCode);
  const std::string file = kittest::ReadTextFile(control), infText = kittest::ReadTextFile(inf);
  kittest::WriteTextFile(control + ".4294967292-0-1.old", "moved aside by a run that was killed");  // goes too
  kittest::FactsFile facts("[process.waits]\r\nHookRun=100\r\n");  // the hook's waits, of the testable program
  for (const auto& [package, cancel] : {std::pair<const char*, bool>{"ombrixctl-2.0.0.1-badcopy", false},
                                        {"ombrixctl-2.0.0.1-badhook", false},
                                        {"ombrixctl-2.0.0.1-slowhook", true}}) {
    SCOPED_TRACE(package);
    Outcome run = Install(package, "ombrixctl", kViewer, "2,0,0,1",
                          cancel ? kittest::WindowsPathOf(KITLOADER_TESTABLE_EXE) : "", false, cancel);
    EXPECT_EQ(cancel ? static_cast<DWORD>(-2) : 0u, run.exitCode) << run.log;
    EXPECT_NE(std::string::npos, run.log.find("undoing the installation")) << run.log;
    EXPECT_TRUE(file == kittest::ReadTextFile(control) && infText == kittest::ReadTextFile(inf));
    EXPECT_EQ(control, Text(HKEY_LOCAL_MACHINE, classKey + "\\InprocServer32", ""));
    ExpectRecord(HKEY_LOCAL_MACHINE, kViewer, "1,0,0,1", dpf, "ombrixctl.inf", {control}, kViewer, 1);
    run = Install("ombrixctl-1.0.0.1", "ombrixctl", kViewer, "1,0,0,1");
    EXPECT_NE(std::string::npos, run.log.find(kSkip)) << run.log;
  }
  WIN32_FIND_DATAA left;
  EXPECT_FALSE(kit::UniqueFind(FindFirstFileA((dpf + "\\*.old").c_str(), &left)));
  Forget(HKEY_LOCAL_MACHINE, kViewer, {control, inf});
}

TEST(RegistrationE2E, TwoClassesShareAFileAndANewVersionDropsOne) {
  const std::string dpf = SGetDownloadedProgramFilesFolder().str();
  const std::string panel = dpf + "\\ombrixpanel.dll", skin = dpf + "\\ombrixpanel.dat";
  const std::set<std::string> all = {panel, skin, dpf + "\\ombrixpanel.inf", dpf + "\\ombrixtoolbar.inf"};

  Outcome run = Install("ombrixpanel-1.0.0.1", "ombrixpanel", kPanel, "1,0,0,1");
  EXPECT_EQ(0u, run.exitCode) << run.log;
  ExpectRecord(HKEY_LOCAL_MACHINE, kPanel, "1,0,0,1", dpf, "ombrixpanel.inf", {panel, skin}, kPanel, 1);

  // A file the record lists is gone: the package is installed again.
  DeleteFileA(skin.c_str());
  run = Install("ombrixpanel-1.0.0.1", "ombrixpanel", kPanel, "1,0,0,1");
  EXPECT_NE(std::string::npos, run.log.find("required component is missing")) << run.log;
  EXPECT_TRUE(kittest::FileExists(skin));

  // The toolbar's package carries the same file: two owners, the first one ".Owner".
  run = Install("ombrixtoolbar-1.0.0.1", "ombrixtoolbar");
  EXPECT_EQ(0u, run.exitCode) << run.log;
  ExpectRecord(HKEY_LOCAL_MACHINE, kToolbar, "1,0,0,1", dpf, "ombrixtoolbar.inf", {panel}, kPanel, 2);

  // 2.0 no longer has the skin: its value leaves the record.
  run = Install("ombrixpanel-2.0.0.1", "ombrixpanel", kPanel, "2,0,0,1");
  EXPECT_EQ(0u, run.exitCode) << run.log;
  ExpectRecord(HKEY_LOCAL_MACHINE, kPanel, "2,0,0,1", dpf, "ombrixpanel.inf", {panel}, kPanel, 2);
  // Its optional and ignored entries were not placed and are not recorded: the next run finds it intact.
  run = Install("ombrixpanel-2.0.0.1", "ombrixpanel", kPanel, "2,0,0,1");
  EXPECT_NE(std::string::npos, run.log.find(kSkip)) << run.log;

  Forget(HKEY_LOCAL_MACHINE, kPanel, all);
  Forget(HKEY_LOCAL_MACHINE, kToolbar, {});
}

TEST(RegistrationE2E, ControlsThatCannotRegisterFailTheirPackageAndLeaveNoRecord) {
  const std::string dpf = SGetDownloadedProgramFilesFolder().str();
  const struct { const char *package, *classId, *logged; } cases[] = {
      {"ombrixfail", "{7A1C2E9E-3B4D-4E5F-8A6B-1C2D3E4F5A60}", "DLLRegisterServer failed, -2147220991"},
      {"ombrixcrash", "{7A1C2E9F-3B4D-4E5F-8A6B-1C2D3E4F5A60}",  // faults in this process, which survives
       "entry point raised an exception, DllRegisterServer, 0xC0000005"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.package);
    const std::string file = dpf + "\\" + c.package + ".dll";
    const Outcome run = Install(c.package, c.package);
    EXPECT_NE(0u, run.exitCode);
    EXPECT_NE(std::string::npos, run.log.find(c.logged)) << run.log;
    EXPECT_NE(std::string::npos, run.log.find("Installation failed. Code:")) << run.log;
    EXPECT_FALSE(kittest::RegKeyExists(HKEY_LOCAL_MACHINE, kUnits + c.classId));
    DeleteFileA(file.c_str());
  }
}

TEST(RegistrationE2E, PerUserRegistrationsWriteOnlyTheUsersHive) {
  kittest::ForgetSampleControl();
  const std::string dpf = SGetUserDownloadedProgramFilesFolder(true).str();
  const std::string control = dpf + "\\ombrixctl.dll";
  const std::string userClass = "Software\\Classes\\CLSID\\" + kViewer + "\\InprocServer32";
  const struct { const char* package; bool userRegister, installed; const char* logged; } cases[] = {
      {"ombrixctl-user-entry", false, true, "control installed successfully"},
      {"ombrixctl-user-app", true, true, "control installed successfully"},
      {"ombrixctl-user-redirect", true, true, "control installed successfully"},
      {"ombrixctl-user-app", false, false, "cannot find per-user register applicaiton"},
      {"ombrixslow", true, false, "USmartUpdateEx::RegisterActiveXUser(), installation aborted"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.package) + (c.userRegister ? " with userregsvr.exe" : ""));
    // Only the slow registration gets the short wait: a loaded machine may
    // need more than a second to start userregsvr.exe at all.
    const bool slow = c.package == std::string("ombrixslow");
    kittest::FactsFile facts(std::string("[process]\nIntegrityLevel=0x2000\nAdministratorsMember=0\n") +
                             "ElevationType=default\n" + (slow ? "[process.waits]\nUserRegister=1000\n" : ""));
    Forget(HKEY_CURRENT_USER, kViewer, {control});
    const std::string name = slow ? "ombrixslow" : "ombrixctl";
    const Outcome run = Install(c.package, name, "", "",
                            kittest::WindowsPathOf(KITLOADER_TESTABLE_EXE), c.userRegister);
    EXPECT_EQ(c.installed, run.exitCode == 0) << run.log;
    EXPECT_NE(std::string::npos, run.log.find(c.logged)) << run.log;
    EXPECT_EQ(c.installed, kittest::RegValueExists(HKEY_CURRENT_USER, userClass, ""));
    EXPECT_FALSE(kittest::RegKeyExists(HKEY_LOCAL_MACHINE, "Software\\Classes\\CLSID\\" + kViewer));
    EXPECT_FALSE(kittest::RegKeyExists(HKEY_LOCAL_MACHINE, kUnits + kViewer));
    if (c.installed) ExpectRecord(HKEY_CURRENT_USER, kViewer, "1,0,0,1", dpf, "ombrixctl.inf", {control}, kViewer, 1);
    Forget(HKEY_CURRENT_USER, kViewer, {control, dpf + "\\ombrixctl.inf"});
  }
  // The slow registration goes on after the program gave up; then its file is free.
  const std::string slowFile = dpf + "\\ombrixslow.dll";
  for (int i = 0; i < 100 && !DeleteFileA(slowFile.c_str()) && kittest::FileExists(slowFile); ++i) Sleep(100);
  for (const std::string& id : {std::string("{7A1C2E9D-3B4D-4E5F-8A6B-1C2D3E4F5A60}"), kPanel, kToolbar})
    Forget(HKEY_CURRENT_USER, id, {slowFile, dpf + "\\ombrixslow.inf"});  // it registers the panel's classes
}

}  // namespace
