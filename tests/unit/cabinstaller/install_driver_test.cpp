// Installing the built packages in this process, with the Downloaded Program
// Files folders, the user's application data and the temporary folder all
// pointed into a fresh test folder.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cabinstaller/UKitLoader.h"
#include "engine/USmartUpdateEx.h"
#include "foundation/m_folders.h"
#include "foundation/m_registry.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"
#include "support/window_driver.h"

namespace {

constexpr char kInternetSettings[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr char kUserDpf[] = "appdata\\Microsoft\\Internet Explorer\\Downloaded Program Files";

// Every file below base\relative, but for the extraction folders base\pkg<n>.
void ListFiles(const std::string& base, const std::string& relative, std::set<std::string>& out) {
  WIN32_FIND_DATAA data;
  kit::UniqueFind find(FindFirstFileA((base + relative + "\\*").c_str(), &data));
  for (bool more = static_cast<bool>(find); more; more = FindNextFileA(find.get(), &data)) {
    const std::string name = data.cFileName, path = relative + "\\" + name;
    if (name == "." || name == ".." || (relative.empty() && name.rfind("pkg", 0) == 0)) continue;
    (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? ListFiles(base, path, out) : void(out.insert(path.substr(1)));
  }
}

DWORD VersionHigh(const std::string& path) {
  DWORD high = 0, low = 0;
  return USmartUpdateEx::getVersion(path.c_str(), &high, &low) == 0 ? high : 0;
}

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"dpf", "appdata", "tmp"}) ASSERT_TRUE(CreateDirectoryA((root / name).c_str(), nullptr));
    kittest::SetRegString(HKEY_LOCAL_MACHINE, kInternetSettings, "ActiveXCache", root / "dpf");
    kittest::SetRegString(HKEY_LOCAL_MACHINE, std::string(kInternetSettings) + "\\ActiveX Cache", "0", root / "dpf");
    kittest::SetRegString(HKEY_CURRENT_USER, kShellFolders, "Local AppData", root / "appdata");
    for (int i = 0; i < 2; ++i) {
      GetEnvironmentVariableA(kTempVariables[i], saved[i], MAX_PATH);
      SetEnvironmentVariableA(kTempVariables[i], (root / "tmp").c_str());
    }
  }
  void TearDown() override {
    for (int i = 0; i < 2; ++i) SetEnvironmentVariableA(kTempVariables[i], saved[i]);
  }

  // Copies a built package as <name> into a fresh extraction folder (or one
  // the test prepared) and installs it from there.
  int Install(const char* package, const std::string& name, int flags = 1) {
    const std::string folder = root / ("pkg" + std::to_string(++packages));
    EXPECT_TRUE(CreateDirectoryA(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    const std::string path = folder + "\\" + name;
    kittest::CopyFileOrFail(kittest::WindowsPathOf(std::string(KITLOADER_PACKAGE_DIR "/") + package), path);
    return loader.Install(path.c_str(), flags, nullptr);
  }
  std::set<std::string> Placed() {
    std::set<std::string> files;
    ListFiles(root.path(), "", files);
    return files;
  }

  kittest::RegistrySandbox sandbox;
  kittest::TempFolder root;
  kittest::MemoryLog log;
  UKitLoader loader;
  int packages = 0;
  const char* const kTempVariables[2] = {"TMP", "TEMP"};
  char saved[2][MAX_PATH + 1] = {};
};

// Each package ends with its code and its log line, places exactly the files
// named (nothing else outside the extraction folders) and leaves no
// temporary folder.
TEST_F(InstallTest, EachPackageEndsWithItsCodeAndPlacesOnlyItsFiles) {
  const std::string userDpf = kUserDpf;
  const struct Case {
    const char* package;
    const char* name;  // installed under this name; null: its own
    bool perUserAllowed;
    int flags, code;
    const char* logText;
    std::set<std::string> placed;
  } cases[] = {
      {"ombrix_suite.cab", nullptr, false, 1, 0, "ombrixopt.dat", {"dpf\\docs\\en\\readme.txt"}},
      {"ombrix_user.cab", nullptr, true, 3, 0, "installation scope, USER", {userDpf + "\\ombrixusr.dat"}},
      {"ombrix_user.cab", nullptr, false, 3, 0, "installation scope, MACHINE", {"dpf\\ombrixusr.dat"}},
      {"ombrix_user.cab", nullptr, false, 2, -1, "INSTALL_SCOPE_INVALID", {}},
      {"bad_noinf.cab", nullptr, false, 1, -1, ".inf file not found", {}},
      // Its section copies into a folder beside the INF.
      {"ombrix_default.cab", nullptr, false, 1, 0, "", {}},
      // Without an INF, the action an earlier package recorded runs again,
      // here on an INF name that was never recorded.
      {"bad_noinf.cab", nullptr, false, 1, ERROR_ACCESS_DENIED, "perform action, InfSection=DefaultInstall", {}},
      {"bad_empty.cab", nullptr, false, 1, ERROR_FILE_INVALID, "PerformAction() failed", {}},
      // The Setup API's ERROR_EXPECTED_SECTION_NAME.
      {"bad_binary.cab", nullptr, false, 1, static_cast<int>(0xE0000000), "Could not open INF file", {}},
      // The profile functions read a UTF-16 INF that starts with its byte-order mark.
      {"bad_utf16.cab", nullptr, false, 1, 0, "CopyFile succeed", {"dpf\\ombrixw.dat"}},
      // A section the INF does not have is an optional file.
      {"bad_nosection.cab", nullptr, false, 1, 0, "section is empty, ombrixmissing", {}},
      {"bad_nofile.cab", nullptr, false, 1, ERROR_FILE_NOT_FOUND, "CopyFile() failed", {}},
      {"bad_remote.cab", nullptr, false, 1, UKitLoader::kSourceOutsidePackage,
       "installation limited to the current package only", {}},
      // Silent: a failed copy fails the package instead of going on without the file.
      {"bad_copy.cab", nullptr, false, 1, ERROR_PATH_NOT_FOUND, "CopyFile() failed", {}},
      {"extract_sample.cab", "ombrix_noext", false, 1, ERROR_INVALID_PARAMETER, "invalid inf path", {}},
      {"../package-src/bad_binary/ombrixbin.dat", "notacab.cab", false, 1, ERROR_INVALID_PARAMETER,
       "ExtractCAB() failed", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.package);
    log.Clear();
    loader.SetPerUserAllowed(c.perUserAllowed);
    loader.SetUIAllowed(false);
    EXPECT_EQ(Install(c.package, c.name ? c.name : c.package, c.flags), c.code);
    EXPECT_TRUE(log.Contains(c.logText));
    EXPECT_EQ(Placed(), c.placed);
    // The temporary folder held nothing else: it can be removed.
    EXPECT_TRUE(RemoveDirectoryA((root / "tmp").c_str()) && CreateDirectoryA((root / "tmp").c_str(), nullptr));
    for (const std::string& file : c.placed) DeleteFileA((root / file).c_str());
  }
  // "DestDir" 11: the system folder.
  EXPECT_TRUE(DeleteFileA((SGetSystemDirectory().str() + "\\ombrixsys.dat").c_str()));
  EXPECT_EQ(loader.Install("ombrix_suite.cab", 1, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(log.Contains("invalid path"));
}

// 1.0 goes in; a file of the same version is left alone; while the installed
// file is held open, 2.0 goes to Conflict.0 and again to Conflict.1; once it
// is free, 2.0 replaces 1.0.
TEST_F(InstallTest, UpdatesReplaceOlderFilesAndLockedFilesGoToConflictFolders) {
  const std::string installed = root / "dpf\\ombrixctl.dll";
  ASSERT_EQ(Install("ombrixctl-1.0.0.1.cab", "ombrixctl.cab"), 0);
  EXPECT_EQ(VersionHigh(installed), 0x00010000u);
  EXPECT_TRUE(kittest::RegValueExists(
      HKEY_LOCAL_MACHINE,
      "SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\{5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36}\\Contains\\Files",
      installed));

  // A file of the same version stays (a catalogue file such as the control
  // is replaced while it carries no maker's signature).
  ASSERT_EQ(Install("ombrix_user.cab", "ombrix_user.cab"), 0);
  log.Clear();
  ASSERT_EQ(Install("ombrix_user.cab", "ombrix_user.cab"), 0);
  EXPECT_TRUE(log.Contains("No need to update, " + root / "dpf\\ombrixusr.dat"));
  EXPECT_FALSE(log.Contains("CopyFile succeed"));
  {  // held open without delete sharing, as a running program holds its DLL
    kit::UniqueFile held(
        CreateFileA(installed.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    for (const char* conflict : {"Conflict.0", "Conflict.1"}) {
      SCOPED_TRACE(conflict);
      log.Clear();
      ASSERT_EQ(Install("ombrixctl-2.0.0.1.cab", "ombrixctl.cab"), 0);
      EXPECT_TRUE(log.Contains("CONFLICT, cannot delete file:"));
      EXPECT_EQ(loader.TargetFolder(), UString((root / "dpf\\").c_str()) + conflict);
      EXPECT_EQ(VersionHigh(root / ("dpf\\" + std::string(conflict) + "\\ombrixctl.dll")), 0x00020000u);
    }
  }
  EXPECT_EQ(VersionHigh(installed), 0x00010000u);
  // Read-only (as a cabinet may store it) is no lock: replaced in place.
  ASSERT_TRUE(SetFileAttributesA(installed.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_EQ(Install("ombrixctl-2.0.0.1.cab", "ombrixctl.cab"), 0);
  EXPECT_EQ(VersionHigh(installed), 0x00020000u);
  // Each registered control has its package's INF beside it.
  EXPECT_EQ(Placed(), (std::set<std::string>{"dpf\\ombrixusr.dat", "dpf\\ombrixctl.dll", "dpf\\ombrixctl.inf",
                                             "dpf\\Conflict.0\\ombrixctl.dll", "dpf\\Conflict.0\\ombrixctl.inf",
                                             "dpf\\Conflict.1\\ombrixctl.dll", "dpf\\Conflict.1\\ombrixctl.inf"}));
}

// Both passes: an older file in the system folder is replaced there; a name that climbs out is refused.
TEST_F(InstallTest, BothPassesPlaceAFileAlikeAndRefuseANameThatClimbsOut) {
  const std::string shared = SGetSystemDirectory().str() + "\\ombrixshared.dll", cab = root / "tmp";
  const std::string built = KITLOADER_BUILD_DIR "/suite/ombrixctl-";
  kittest::CopyFileOrFail(kittest::WindowsPathOf(built + "1.0.0.1/ombrixctl.dll"), shared);
  kittest::CopyFileOrFail(kittest::WindowsPathOf(built + "2.0.0.1/ombrixctl.dll"), cab + "\\ombrixshared.dll");
  UStringPairList addCode;
  loader.SetTargetFolder((root / "dpf").c_str());
  for (const char* name : {"ombrixshared.dll", "..\\ombrixshared.dll"}) {
    const UStringPairList section = {{"file", "thiscab"}, {"ombrixshared.dll", name}};
    for (bool checkOnly : {true, false})
      EXPECT_EQ(loader.ProcessSection(addCode, &section, cab.c_str(), "ombrixshared.dll", "x.inf", 1, checkOnly),
                name[0] == '.' ? ERROR_BAD_PATHNAME : 0);
  }
  EXPECT_TRUE(log.Contains("unsafe file name"));
  EXPECT_EQ(VersionHigh(shared), 0x00020000u);
  // Held open, the shared file stays, and the new one goes to the Conflict folder the installation switched to.
  kittest::CopyFileOrFail(kittest::WindowsPathOf(built + "1.0.0.1/ombrixctl.dll"), shared);
  const UStringPairList section = {{"file", "thiscab"}};
  {
    kit::UniqueFile held(CreateFileA(shared.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(loader.ProcessSection(addCode, &section, cab.c_str(), "ombrixshared.dll", "x.inf", 1, true),
              UKitLoader::kLockedFile);
    CreateDirectoryA((root / "dpf").c_str(), nullptr);
    loader.SetTargetFolder((root / "dpf\\Conflict.0").c_str());
    ASSERT_TRUE(CreateDirectoryA(loader.TargetFolder().c_str(), nullptr));
    EXPECT_EQ(loader.ProcessSection(addCode, &section, cab.c_str(), "ombrixshared.dll", "x.inf", 1, false), 0);
  }
  EXPECT_EQ(VersionHigh(root / "dpf\\Conflict.0\\ombrixshared.dll"), 0x00020000u);
  EXPECT_EQ(VersionHigh(shared), 0x00010000u);
  loader.CommitPlacements();  // the 1.0 that 2.0 replaced, moved aside in the system folder
  EXPECT_TRUE(DeleteFileA(shared.c_str()));
}

// A stop that lands while the large file is being unpacked (the INF comes
// after it in the cabinet, so its notification aborts the extraction) ends
// the installation with 1223 and places nothing.
TEST_F(InstallTest, AStopDuringExtractionEndsWithCancelled) {
  std::atomic<bool> done{false};
  std::thread stopper([&] {
    const std::string bulk = root / "pkg1\\ombrixbulk.dat";
    while (!done && GetFileAttributesA(bulk.c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(0);
    loader.SetRequestToStop(true);
  });
  const int result = Install("ombrix_bulk.cab", "ombrix_bulk.cab");
  done = true;
  stopper.join();
  EXPECT_EQ(result, ERROR_CANCELLED);
  EXPECT_TRUE(log.Contains("ExtractCAB() failed"));
  EXPECT_EQ(Placed(), std::set<std::string>{});
}

}  // namespace

// With a user interface a failed copy asks: Retry copies again, Ignore goes
// on without the file, Abort fails the package with the copy's error.
TEST_F(InstallTest, AFailedCopyAsksAbortRetryOrIgnore) {
  loader.SetUIAllowed(true);
  for (const auto& answers : {std::vector<int>{IDRETRY, IDIGNORE}, std::vector<int>{IDABORT}}) {
    log.Clear();
    int result = -2;
    std::thread installer([&] { result = Install("bad_copy.cab", "bad_copy.cab"); });
    for (int answer : answers) {
      HWND box = kittest::WaitForWindow(GetCurrentProcess(), GetCurrentProcessId(),
                                        [](HWND w) { return kittest::WindowText(w) == L"Setup"; });
      ASSERT_TRUE(box);
      EXPECT_EQ(kittest::StaticText(box), L"Cannot copy file (ombrixcopy.dat)");
      kittest::PressButton(box, answer);
      while (IsWindow(box)) Sleep(10);
    }
    installer.join();
    EXPECT_EQ(result, answers.back() == IDIGNORE ? 0 : ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(log.Count("CopyFile() failed"), answers.size());
    EXPECT_EQ(Placed(), std::set<std::string>{});
  }
}

namespace {

constexpr char kHookKey[] = "Software\\Norvane\\OmbrixHookTest";

void SetWriteTime(const std::string& path, WORD year) {
  const SYSTEMTIME when{year, 1, 0, 1, 0, 0, 0, 0};
  FILETIME time{};
  kit::UniqueFile file(CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(SystemTimeToFileTime(&when, &time) && file && SetFileTime(file.get(), nullptr, nullptr, &time));
}

}  // namespace

// The INF-section hook copies its files into a folder beside the INF (an
// installed pinfo.dat stays while it is newer than the package's) and
// writes its values under HKCU; the program hook starts in the extraction
// folder, and its note lands beside the placed file.
TEST_F(InstallTest, HookSectionsInstallFilesAndValuesAndRunTheirProgram) {
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    const std::string folder = root / ("pkg" + std::to_string(round)), hookDir = folder + "\\OmbrixHook";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr) && CreateDirectoryA(hookDir.c_str(), nullptr));
    kittest::WriteTextFile(hookDir + "\\pinfo.dat", "installed");
    // A newer installed copy stays; an older one is replaced, here with the
    // platform's own queue callback, as a run with a user interface has it.
    SetWriteTime(hookDir + "\\pinfo.dat", round == 1 ? 2090 : 2001);
    loader.SetUIAllowed(round == 2);
    ASSERT_EQ(Install("hook_inf.cab", "hook_inf.cab"), 0);
    EXPECT_EQ(kittest::ReadTextFile(hookDir + "\\pinfo.dat"),
              round == 1 ? "installed" : "package info of the hook sample\n");
    EXPECT_EQ(kittest::ReadTextFile(hookDir + "\\ombrixcopied.dat"), "copied by the INF section\n");
    EXPECT_EQ(SGetRegistryAsString(HKEY_CURRENT_USER, kHookKey, "Installed", "", 0, 0), "yes");
    EXPECT_EQ(GetRegistryAsDWORDA(HKEY_CURRENT_USER, kHookKey, "Level", 0, 0), 7u);
    EXPECT_FALSE(kittest::RegValueExists(HKEY_CURRENT_USER, kHookKey, "Wrong"));
    EXPECT_EQ(kittest::ReadTextFile(root / "dpf\\ombrixrun.txt"), folder);
  }
  EXPECT_EQ(loader.Action(), "Run=%EXTRACT_DIR%\\exit_with.exe 0 0 %OBJECT_DIR%\\\\ombrixrun.txt");
  EXPECT_EQ(Placed(), (std::set<std::string>{"dpf\\ombrixhook.dat", "dpf\\ombrixrun.txt"}));
}

// Each hook package ends with the result its actions leave and the log line
// that says why; a missing source fails at once in a silent run.
TEST_F(InstallTest, HookPackagesEndWithTheResultsOfTheirActions) {
  loader.SetUIAllowed(false);
  const struct Case {
    const char* package;
    const char* tag;  // written to the placed file's folder first
    int code;
    const char* logText;
    std::size_t reboots;  // "need reboot" lines: a restart stays through a later success
  } cases[] = {
      {"hook_tunnel.cab", nullptr, ERROR_SUCCESS_REBOOT_REQUIRED, "result of installation, need reboot", 1},
      {"hook_results.cab", nullptr, 5, "result of installation, failed", 2},
      {"hook_tag.cab", nullptr, 7, "result of installation, failed", 0},
      {"hook_tag.cab", "1,0,0,1\n", 7, "result of installation, failed", 0},
      {"hook_tag.cab", " 1,0,0,2 \n", 0, "newer version already installed", 0},
      {"hook_noprogram.cab", nullptr, ERROR_FILE_NOT_FOUND, "failed to launch", 0},
      {"hook_nosource.cab", nullptr, ERROR_FILE_NOT_FOUND, "SetupInstallFromInfSection failed", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.package) + (c.tag ? c.tag : ""));
    log.Clear();
    const std::string tag = root / "dpf\\ombrixtag.ver";
    if (c.tag) kittest::WriteTextFile(tag, c.tag);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(Install(c.package, c.package), c.code);
    EXPECT_LT(GetTickCount64() - start, 20000u);
    EXPECT_TRUE(log.Contains(c.logText));
    EXPECT_EQ(log.Count("need reboot"), c.reboots);
    DeleteFileA(tag.c_str());
  }
  EXPECT_TRUE(log.Contains("file queue stopped, it would wait for an answer, 14"));
  EXPECT_EQ(Placed(), std::set<std::string>{});
}
