// The real kitremove.exe after installations by the real kitloader.exe, as
// an administrator checks a removal: the machine's folders and registry as
// they were before, shared files kept for their other owners, a file in use
// left to the next restart, a per-user control gone from the user's hive
// only, a control that refuses to unregister, and command lines that name
// nothing installed or nothing at all.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <set>
#include <string>
#include <tuple>

#include "cabinstaller/distribution_unit_rules.h"
#include "e2e/kitloader_run.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "foundation/m_registry.h"
#include "support/machine_snapshot.h"
#include "support/platform_facts_support.h"
#include "support/registry_sandbox.h"
#include "support/sample_control.h"

namespace {

const std::string kViewer = "{5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36}";
const std::string kPanel = "{7A1C2E90-3B4D-4E5F-8A6B-1C2D3E4F5A60}";
const std::string kToolbar = "{7A1C2E91-3B4D-4E5F-8A6B-1C2D3E4F5A60}";
const std::string kStuck = "{7A1C2E9C-3B4D-4E5F-8A6B-1C2D3E4F5A60}";
const std::string kUnits = "SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\";
const char kShared[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
const char kSession[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// kitloader.exe (or its test build) and kitremove.exe, each in a folder of
// its own with userregsvr.exe beside it.
struct Programs {
  kittest::KitloaderStage loader, testable{kittest::WindowsPathOf(KITLOADER_TESTABLE_EXE)},
      remover{kittest::WindowsPathOf(KITREMOVE_EXE), "kitremove.exe"},
      testableRemover{kittest::WindowsPathOf(KITREMOVE_TESTABLE_EXE), "kitremove.exe"};
  Programs() {
    for (const kittest::KitloaderStage* stage : {&loader, &testable, &remover, &testableRemover})
      kittest::CopyFileOrFail(kittest::WindowsPathOf(USERREGSVR_EXE), stage->folder() + "\\userregsvr.exe");
  }
  DWORD Install(const std::string& package, const std::string& classId, const kittest::KitloaderStage* stage = nullptr) {
    if (!stage) stage = &loader;
    // The cabinet is named as its INF is.
    const std::string cab = package.substr(0, package.find('-')) + ".cab";
    kittest::CopyFileOrFail(kittest::WindowsPathOf(KITLOADER_PACKAGE_DIR "/" + package + ".cab"),
                            stage->folder() + "\\" + cab);
    stage->WriteSetupInf("[CabFiles]\r\n" + cab + "=1\r\n[" + cab + "]\r\nCLSID=" + classId +
                         "\r\nFileVersion=1,0,0,1\r\nfile=thiscab\r\n");
    const DWORD code = stage->Run("/s").exitCode;
    EXPECT_EQ(0u, code) << package << "\n" << stage->Log();
    return code;
  }
  DWORD Remove(const std::string& arguments) { return remover.Run(arguments).exitCode; }
};

DWORD SharedCount(HKEY hive, const std::string& path) { return GetRegistryAsDWORDA(hive, kShared, path.c_str(), 0, 0); }

bool Registered(HKEY hive, const std::string& classId) {
  return kittest::RegKeyExists(hive, "Software\\Classes\\CLSID\\" + classId);
}

std::string PendingRenames() {  // empty when there is none
  std::string data(65536, '\0');
  DWORD size = static_cast<DWORD>(data.size());
  const LONG read = RegGetValueA(HKEY_LOCAL_MACHINE, kSession, "PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ,
                                 nullptr, &data[0], &size);
  return read == ERROR_SUCCESS ? data.substr(0, size) : std::string();
}

TEST(KitremoveE2E, InstallThenRemoveLeavesTheMachineAsItWas) {
  kittest::ForgetSampleControl();
  Programs programs;
  // A first round makes the lists every Windows has (shared counts, records).
  programs.Install("ombrixctl-1.0.0.1", kViewer);
  EXPECT_EQ(0u, programs.Remove("/s " + kViewer)) << programs.remover.Log();

  const kittest::Snapshot before = kittest::TakeSnapshot();
  programs.Install("ombrixctl-1.0.0.1", kViewer);
  ASSERT_TRUE(kittest::RegKeyExists(HKEY_LOCAL_MACHINE, kUnits + kViewer));
  // A class not installed first: gone already, the run goes on, and 1605
  // outranks the removal's 0.
  EXPECT_EQ(static_cast<DWORD>(ERROR_UNKNOWN_PRODUCT), programs.Remove("/s " + kPanel + " " + kViewer))
      << programs.remover.Log();
  EXPECT_EQ(std::set<std::string>{}, kittest::Changes(before, kittest::TakeSnapshot()));
  const std::string log = programs.remover.Log();
  EXPECT_NE(std::string::npos, log.find("KITREMOVE")) << log;
  EXPECT_NE(std::string::npos, log.find("control removed")) << log;

  // Nothing installed, nothing named, something that is no class: refused,
  // and nothing changes; each run ends with its exit record.
  const struct { std::string arguments; DWORD code; std::string logged; } refused[] = {
      {"/s " + kViewer, ERROR_UNKNOWN_PRODUCT, "control not installed"},
      {"/s " + kViewer + " " + kPanel, ERROR_UNKNOWN_PRODUCT, "control not installed, " + kPanel},
      {"/s", ERROR_INVALID_PARAMETER, "no class identifier"},
      {"/s {5C2B7E41-9A3D-4F6B-8E21}", ERROR_INVALID_PARAMETER, "not a class identifier"},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.arguments);
    EXPECT_EQ(r.code, programs.Remove(r.arguments));
    EXPECT_NE(std::string::npos, programs.remover.Log().find(r.logged)) << programs.remover.Log();
    EXPECT_NE(std::string::npos, programs.remover.Log().find("exit, " + std::to_string(r.code)))
        << programs.remover.Log();
  }
  EXPECT_EQ(std::set<std::string>{}, kittest::Changes(before, kittest::TakeSnapshot()));
}

// Two controls of one file: the first removal keeps it for the other (its
// data file, held open by the test, goes at the next restart), the second
// takes it.
TEST(KitremoveE2E, ASharedFileGoesWithItsLastOwner) {
  Programs programs;
  const std::string dpf = SGetDownloadedProgramFilesFolder().str(), dll = dpf + "\\ombrixpanel.dll",
                    skin = dpf + "\\ombrixpanel.dat";
  programs.Install("ombrixpanel-1.0.0.1", kPanel);
  programs.Install("ombrixtoolbar-1.0.0.1", kToolbar);
  ASSERT_EQ(2u, SharedCount(HKEY_LOCAL_MACHINE, dll));

  const std::string pendingBefore = PendingRenames();
  kit::UniqueFile held(CreateFileA(skin.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  // A class not installed after it does not take the 3010 away.
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS_REBOOT_REQUIRED), programs.Remove("/s " + kPanel + " " + kStuck))
      << programs.remover.Log();
  EXPECT_NE(std::string::npos, PendingRenames().find(skin)) << PendingRenames();
  held.reset();
  EXPECT_TRUE(kittest::FileExists(dll));
  EXPECT_EQ(1u, SharedCount(HKEY_LOCAL_MACHINE, dll));
  EXPECT_FALSE(Registered(HKEY_LOCAL_MACHINE, kPanel));
  EXPECT_TRUE(Registered(HKEY_LOCAL_MACHINE, kToolbar));
  EXPECT_FALSE(kittest::RegKeyExists(HKEY_LOCAL_MACHINE, kUnits + kPanel));
  EXPECT_TRUE(kittest::RegKeyExists(HKEY_LOCAL_MACHINE, kUnits + kToolbar));

  EXPECT_EQ(0u, programs.Remove("/s " + kToolbar)) << programs.remover.Log();
  EXPECT_FALSE(kittest::FileExists(dll));
  EXPECT_FALSE(kittest::RegValueExists(HKEY_LOCAL_MACHINE, kShared, dll));
  EXPECT_FALSE(Registered(HKEY_LOCAL_MACHINE, kToolbar));
  EXPECT_FALSE(kittest::RegKeyExists(HKEY_LOCAL_MACHINE, kUnits + kToolbar));

  // The pending delete is the test's to undo: nothing restarts here.
  DeleteFileA(skin.c_str());
  RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSession, "PendingFileRenameOperations", REG_MULTI_SZ, pendingBefore.data(),
                  static_cast<DWORD>(pendingBefore.size()));
  if (pendingBefore.empty()) RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSession, "PendingFileRenameOperations");
}

// A control for the current user goes from the user's hive; the machine's
// registry stays as it was. One that refuses to unregister stays, unless
// /f removes its files anyway.
TEST(KitremoveE2E, PerUserAndRefusingControls) {
  kittest::ForgetSampleControl();
  Programs programs;
  {
    kittest::FactsFile facts("[process]\nIntegrityLevel=0x2000\nAdministratorsMember=0\nElevationType=default\n");
    programs.Install("ombrixctl-user-app", kViewer, &programs.testable);
  }
  const std::string control = SGetUserDownloadedProgramFilesFolder(true).str() + "\\ombrixctl.dll";
  ASSERT_TRUE(kittest::RegKeyExists(HKEY_CURRENT_USER, kUnits + kViewer));
  ASSERT_TRUE(Registered(HKEY_CURRENT_USER, kViewer));
  const kittest::Snapshot before = kittest::TakeSnapshot();
  {  // the user's own, unelevated run
    kittest::FactsFile facts("[process]\nIntegrityLevel=0x2000\n");
    EXPECT_EQ(0u, programs.testableRemover.Run("/s " + kViewer).exitCode) << programs.testableRemover.Log();
  }
  for (const std::string& change : kittest::Changes(before, kittest::TakeSnapshot()))
    EXPECT_TRUE(change.rfind("-HKCU\\", 0) == 0 || change.rfind("-" + control, 0) == 0 ||
                change.rfind("-" + control.substr(0, control.rfind('\\')) + "\\ombrixctl.inf", 0) == 0)
        << change;
  EXPECT_FALSE(Registered(HKEY_CURRENT_USER, kViewer));
  EXPECT_FALSE(kittest::FileExists(control));
  EXPECT_NE(std::string::npos, programs.testableRemover.Log().find("USERREGSVR")) << programs.testableRemover.Log();

  const std::string stuck = SGetDownloadedProgramFilesFolder().str() + "\\ombrixstuck.dll";
  programs.Install("ombrixstuck", kStuck);
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE), programs.Remove("/s " + kStuck));
  EXPECT_NE(std::string::npos, programs.remover.Log().find("the control refused to unregister"))
      << programs.remover.Log();
  EXPECT_TRUE(kittest::FileExists(stuck));
  EXPECT_TRUE(kittest::RegKeyExists(HKEY_LOCAL_MACHINE, kUnits + kStuck));
  EXPECT_EQ(0u, programs.Remove("/s /f " + kStuck)) << programs.remover.Log();
  EXPECT_FALSE(kittest::FileExists(stuck));
  EXPECT_FALSE(Registered(HKEY_LOCAL_MACHINE, kStuck));
  EXPECT_FALSE(kittest::RegKeyExists(HKEY_LOCAL_MACHINE, kUnits + kStuck));
}

// Records forged to name files outside any Downloaded Program Files folder,
// with owners, counts and a class whose server is a DLL the user wrote (one
// that refuses to unregister, so a load would show): nothing is deleted,
// loaded or left for the restart, and an elevated run refuses the user's.
TEST(KitremoveE2E, ForgedRecordsTouchNothingOutsideTheirFolders) {
  Programs programs;
  kittest::TempFolder outside;
  const std::string server = outside / "ombrixstuck.dll", data = outside / "data.txt", inf = outside / "forged.inf";
  kittest::CopyFileOrFail(kittest::WindowsPathOf(OMBRIXSTUCK_EXE), server);
  for (const std::string& file : {data, inf}) kittest::WriteTextFile(file, "keep");
  const std::string pending = PendingRenames(), classKey = "Software\\Classes\\CLSID\\" + kStuck;
  for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    const bool user = hive == HKEY_CURRENT_USER;
    SCOPED_TRACE(user ? "user" : "machine");
    for (const std::string& file : {server, data}) {
      const std::string usage = ModuleUsageKey(UString(file.c_str())).str();
      kittest::SetRegString(hive, kUnits + kStuck + "\\Contains\\Files", file, "");
      kittest::SetRegString(hive, usage, kStuck, "");
      kittest::SetRegDword(hive, kShared, file, 1);
    }
    kittest::SetRegString(hive, kUnits + kStuck + "\\DownloadInformation", "INF", inf);
    kittest::SetRegString(hive, classKey + "\\InprocServer32", "", server);
    const DWORD code = programs.Remove("/s " + kStuck);
    std::string log = programs.remover.Log();
    EXPECT_EQ(static_cast<DWORD>(user ? ERROR_ACCESS_DENIED : ERROR_INSTALL_FAILURE), code) << log;
    EXPECT_NE(std::string::npos, log.find(user ? "run kitremove without elevation" : "server outside the control's "
                                                                                     "folder, not loaded")) << log;
    // The machine's record goes with /f; the files it names stay.
    if (!user) { EXPECT_EQ(0u, programs.Remove("/s /f " + kStuck)) << programs.remover.Log(); }
    log += programs.remover.Log();
    EXPECT_EQ(user, log.find("file outside the control's folder, left in place") == std::string::npos) << log;
    EXPECT_EQ(user, kittest::RegKeyExists(hive, kUnits + kStuck));
    EXPECT_EQ(std::string::npos, log.find("the control refused to unregister")) << log;
    for (const std::string& file : {server, data, inf}) EXPECT_TRUE(kittest::FileExists(file)) << file;
    EXPECT_EQ(pending, PendingRenames());
    RegDeleteTreeA(hive, (kUnits + kStuck).c_str());
    RegDeleteTreeA(hive, classKey.c_str());
    for (const std::string& file : {server, data}) {
      RegDeleteTreeA(hive, ModuleUsageKey(UString(file.c_str())).c_str());
      RegDeleteKeyValueA(hive, kShared, file.c_str());
    }
  }
}

// Every program we ship, run beside marker DLLs named as the system DLLs an
// installation loads (the CTest test that runs this names them; Wine prefers
// them as Windows' search order would), loads none: installing the sample
// control and one that imports a DLL of its own (which loads from beside it),
// removing both, the per-user registration and each server's start.
TEST(KitremoveE2E, NoProgramLoadsADllPlantedBesideIt) {
  const std::string kDependent = "{7A1C2EA0-3B4D-4E5F-8A6B-1C2D3E4F5A60}";
  kittest::ForgetSampleControl();
  Programs programs;
  const std::string folder = programs.loader.folder();
  char planted[1024] = {};
  if (!GetEnvironmentVariableA("KITTEST_PLANTED_DLLS", planted, sizeof planted))
    GTEST_SKIP() << "runs as KitremoveE2E.PlantedDllsStayUnloaded, with Wine told to prefer the planted DLLs";
  for (const char* name = strtok(planted, ","); name; name = strtok(nullptr, ","))
    kittest::CopyFileOrFail(kittest::WindowsPathOf(DLL_MARKER_EXE), folder + "\\" + name + ".dll");
  for (const auto& [from, name] : std::initializer_list<std::pair<const char*, const char*>>{
           {KITREMOVE_EXE, "kitremove.exe"}, {OMBRIXAPPINST_EXE, "ombrixappinst.exe"},
           {OMBRIXHELPER_EXE, "ombrixhelper.exe"}, {OMBRIXSVC_EXE, "ombrixsvc.exe"}})
    kittest::CopyFileOrFail(kittest::WindowsPathOf(from), folder + "\\" + name);
  std::string inf = "[CabFiles]\r\nombrixctl.cab=1\r\nombrixdep.cab=1\r\n";
  for (const auto& [cab, package, classId] : {std::tuple<std::string, std::string, std::string>{
                                                  "ombrixctl.cab", "ombrixctl-1.0.0.1", kViewer},
                                              {"ombrixdep.cab", "ombrixdep", kDependent}}) {
    kittest::CopyFileOrFail(kittest::WindowsPathOf(KITLOADER_PACKAGE_DIR "/" + package + ".cab"), folder + "\\" + cab);
    inf += "[" + cab + "]\r\nCLSID=" + classId + "\r\nFileVersion=1,0,0,1\r\nfile=thiscab\r\n";
  }
  programs.loader.WriteSetupInf(inf);

  kittest::TempFolder markers;
  const struct { std::string commandLine; int code; } runs[] = {
      {"kitloader.exe /s", 0}, {"userregsvr.exe /s /u ombrixnone.dll", -1}, {"ombrixappinst.exe /pipe 2 /idle 200", 0},
      {"ombrixhelper.exe /UnregServer", -1}, {"ombrixsvc.exe", -1}, {"kitremove.exe /s " + kViewer + " " + kDependent, 0}};
  for (const auto& run : runs) {
    SCOPED_TRACE(run.commandLine);
    const kittest::ProcessResult result =
        kittest::StartProcess(folder + "\\" + run.commandLine, folder,
                              {{"TMP", programs.loader.tempFolder()}, {"TEMP", programs.loader.tempFolder()},
                               {"KITTEST_MARKERS", markers.path()}})
            .Wait();
    EXPECT_TRUE(!result.timedOut && (run.code < 0 || result.exitCode == DWORD(run.code))) << programs.loader.Log();
  }
  std::string stage = folder, controls = SGetDownloadedProgramFilesFolder().str();
  for (std::string* path : {&stage, &controls})
    for (char& c : *path) c = c == '\\' || c == ':' ? '_' : static_cast<char>(tolower(c));
  bool dependencyBesideControl = false;
  WIN32_FIND_DATAA data;
  kit::UniqueFind find(FindFirstFileA((markers / "*.dll").c_str(), &data));
  for (bool more = find.valid(); more; more = FindNextFileA(find.get(), &data)) {
    std::string marker = data.cFileName;
    for (char& c : marker) c = static_cast<char>(tolower(c));
    EXPECT_NE(0u, marker.rfind(stage, 0)) << "loaded from beside the program: " << data.cFileName;
    dependencyBesideControl |= marker == controls + "_ombrixdep.dll";
  }
  EXPECT_TRUE(dependencyBesideControl) << programs.loader.Log();
  EXPECT_FALSE(Registered(HKEY_LOCAL_MACHINE, kDependent));
  EXPECT_FALSE(kittest::FileExists(SGetDownloadedProgramFilesFolder().str() + "\\ombrixdep.dll"));
}

}  // namespace
