// The real kitloader.exe installs the suite's sample control from setup.inf
// into the machine's Downloaded Program Files folder of the prefix: a first
// install, the same version again (left alone), an update while the
// installed file is held open (to a Conflict.N folder), whose registered copy
// then counts as the installed 2.0.
// The run is another process, so the test works in the prefix's real folder
// and removes what it installed.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "e2e/kitloader_run.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "foundation/m_io.h"
#include "foundation/m_registry.h"
#include "support/platform_facts_support.h"
#include "support/test_support.h"
#include "support/window_driver.h"

namespace {

ULONGLONG WriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
  return (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

std::set<std::string> ConflictFolders(const std::string& dpf, const char* pattern = "\\Conflict.*") {
  std::set<std::string> names;
  WIN32_FIND_DATAA data;
  kit::UniqueFind find(FindFirstFileA((dpf + pattern).c_str(), &data));
  if (find) {
    do names.insert(data.cFileName);
    while (FindNextFileA(find.get(), &data));
  }
  return names;
}

void RemoveFolder(const std::string& folder) {
  EmptyFolderEx(folder.c_str());
  RemoveDirectoryA(folder.c_str());
}

// Runs kitloader.exe /s on ombrixctl.cab of `version` as setup.inf lists it.
kittest::ProcessResult Install(const char* version, const char* commas, std::string* log) {
  kittest::KitloaderStage stage;
  kittest::CopyFileOrFail(kittest::WindowsPathOf(std::string(KITLOADER_PACKAGE_DIR "/ombrixctl-") + version + ".cab"),
                          stage.folder() + "\\ombrixctl.cab");
  stage.WriteSetupInf(std::string("[CabFiles]\r\nombrixctl.cab=1\r\n[ombrixctl.cab]\r\n"
                                  "CLSID={5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36}\r\nFileVersion=") +
                      commas + "\r\nfile=thiscab\r\n");
  const kittest::ProcessResult run = stage.Run("/s");
  *log = stage.Log();
  return run;
}

TEST(InstallE2E, FirstInstallSameVersionUpdateAndALockedFile) {
  const std::string dpf = SGetDownloadedProgramFilesFolder().str();
  const std::string control = dpf + "\\ombrixctl.dll";
  const std::set<std::string> conflictsBefore = ConflictFolders(dpf);
  DeleteFileA(control.c_str());
  std::string log;

  // A first install, per machine.
  kittest::ProcessResult run = Install("1.0.0.1", "1,0,0,1", &log);
  EXPECT_EQ(0u, run.exitCode) << log;
  EXPECT_EQ("1.0.0.1", kittest::FileVersionOf(control));
  EXPECT_NE(std::string::npos, log.find("control installed successfully")) << log;

  // The same version again: the installed file is left as it is.
  const ULONGLONG first = WriteTime(control);
  Sleep(1100);
  run = Install("1.0.0.1", "1,0,0,1", &log);
  EXPECT_EQ(0u, run.exitCode) << log;
  EXPECT_EQ(first, WriteTime(control));

  // 2.0 while 1.0 is held open without delete sharing: the package goes to
  // a Conflict.N folder beside it, and the held file stays as it was.
  {
    kit::UniqueFile held(CreateFileA(control.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    run = Install("2.0.0.1", "2,0,0,1", &log);
  }
  EXPECT_EQ("1.0.0.1", kittest::FileVersionOf(control));
  std::set<std::string> conflicts = ConflictFolders(dpf);
  for (const std::string& name : conflictsBefore) conflicts.erase(name);
  ASSERT_EQ(1u, conflicts.size()) << log;
  const std::string conflict = dpf + "\\" + *conflicts.begin();
  EXPECT_EQ("2.0.0.1", kittest::FileVersionOf(conflict + "\\ombrixctl.dll")) << log;

  // The copy in the Conflict folder registered itself: it is the installed
  // 2.0, so a request for 2.0 has nothing left to do.
  const std::string server = "Software\\Classes\\CLSID\\{5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36}\\InprocServer32";
  EXPECT_EQ(conflict + "\\ombrixctl.dll", SGetRegistryAsString(HKEY_LOCAL_MACHINE, server.c_str(), "", "", 0, 0).str());
  run = Install("2.0.0.1", "2,0,0,1", &log);
  EXPECT_EQ(0u, run.exitCode) << log;
  EXPECT_NE(std::string::npos, log.find("needn't install/update control")) << log;

  RemoveFolder(conflict);
  DeleteFileA(control.c_str());
  DeleteFileA((dpf + "\\ombrixctl.inf").c_str());
  const std::string classes = "Software\\Classes\\", viewer = "{5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36}";
  for (const std::string& key : {classes + "CLSID\\" + viewer, classes + "Norvane.OmbrixControl.1",
                                 classes + "TypeLib\\{2D6B9C31-7E85-4A0F-B3C2-9F1E4D7A6B58}",
                                 "SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\" + viewer})
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
  for (std::string file : {control, conflict + "\\ombrixctl.dll"}) {
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls", file.c_str());
    for (char& c : file) c = c == '\\' ? '/' : c;
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("Software\\Microsoft\\Windows\\CurrentVersion\\ModuleUsage\\" + file).c_str());
  }
}

// At medium integrity (the test build) a per-user package goes to the user.
TEST(InstallE2E, APerUserPackageLandsInTheUsersFolder) {
  const std::string user = SGetUserDownloadedProgramFilesFolder(false).str() + "\\ombrixusr.dat",
                    machine = SGetDownloadedProgramFilesFolder().str() + "\\ombrixusr.dat";
  kittest::FactsFile facts("[process]\nIntegrityLevel=0x2000\nAdministratorsMember=0\nElevationType=default\n");
  kittest::KitloaderStage stage(kittest::WindowsPathOf(KITLOADER_TESTABLE_EXE));
  kittest::CopyFileOrFail(kittest::WindowsPathOf(KITLOADER_PACKAGE_DIR "/ombrix_user.cab"),
                          stage.folder() + "\\ombrix_user.cab");
  EXPECT_EQ(0u, stage.Run("/s /i ombrix_user.cab").exitCode) << stage.Log();
  EXPECT_TRUE(DeleteFileA(user.c_str()));
  EXPECT_FALSE(DeleteFileA(machine.c_str()));
}

// Cancel while the package is unpacked: the box, -2, and only the log is left in TEMP.
TEST(InstallE2E, CancelDuringExtractionLeavesNoFolders) {
  kittest::KitloaderStage stage;
  kittest::CopyFileOrFail(kittest::WindowsPathOf(KITLOADER_PACKAGE_DIR "/ombrix_bulk.cab"),
                          stage.folder() + "\\ombrix_bulk.cab");
  kittest::ChildProcess run = stage.Start("/i ombrix_bulk.cab");
  HWND progress = kittest::WaitForWindow(run.handle(), run.id(), kittest::IsProgressWindow);
  while (progress && stage.Log().find("start installation of the .cab file") == std::string::npos) Sleep(1);
  kittest::PressButton(progress, IDCANCEL);
  HWND box = kittest::WaitForWindow(run.handle(), run.id(), kittest::IsMessageBox);
  kittest::PressButton(box, IDOK);
  EXPECT_EQ(static_cast<DWORD>(-2), run.Wait().exitCode);
  EXPECT_NE(std::string::npos, stage.Log().find("ExtractCAB() failed, 1223")) << stage.Log();
  EXPECT_EQ(ConflictFolders(stage.tempFolder(), "\\*"), (std::set<std::string>{".", "..", "logterminal.txt"}));
}

}  // namespace
