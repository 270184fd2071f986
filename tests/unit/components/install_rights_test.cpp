// The install rights check against a real folder and a sandboxed registry.
// Denials that Wine cannot produce are in tests/seam/.
#include <gtest/gtest.h>

#include "components/installed_components.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"

namespace {

constexpr char kInternetSettings[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr char kActiveXCache[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ActiveX Cache";

bool FolderIsEmpty(const std::string& folder) {
  WIN32_FIND_DATAA item;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &item);
  if (search == INVALID_HANDLE_VALUE) return true;
  bool empty = true;
  do {
    if (strcmp(item.cFileName, ".") && strcmp(item.cFileName, "..")) empty = false;
  } while (FindNextFileA(search, &item));
  FindClose(search);
  return empty;
}

class InstallRights : public ::testing::Test {
 protected:
  void UseFolder(const std::string& folder) {
    kittest::SetRegString(HKEY_LOCAL_MACHINE, kInternetSettings, "ActiveXCache", folder);
    kittest::SetRegString(HKEY_LOCAL_MACHINE, kActiveXCache, "0", folder);
  }
  void MakeMachineKeys() {
    kittest::SetRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft", "probe", "x");
    kittest::SetRegString(HKEY_CLASSES_ROOT, "CLSID", "probe", "x");
  }
  kittest::TempFolder dpf;
  kittest::RegistrySandbox sandbox;
};

TEST_F(InstallRights, AdministratorWithAFullTokenMayInstallAndNoFileIsLeft) {
  UseFolder(dpf.path());
  MakeMachineKeys();
  kittest::MemoryLog log;
  EXPECT_TRUE(CheckInstallActiveXRigths());
  EXPECT_TRUE(FolderIsEmpty(dpf.path()));
  EXPECT_TRUE(
      log.Contains("SmartUpdateEx::CheckInstallActiveXRigths(), Have write access to DPF folder, double check"));
  EXPECT_TRUE(log.Contains("Have write access to DPF by trying to create temp file under DPF"));
  for (const char* key : {"MACHINE\\SOFTWARE\\Microsoft", "MACHINE\\SOFTWARE", "CLASSES_ROOT\\CLSID"})
    EXPECT_TRUE(log.Contains(std::string("Access to ") + key + " granted")) << key;
}

TEST_F(InstallRights, MissingFolderMeansNoRights) {
  UseFolder(dpf / "missing");
  MakeMachineKeys();
  kittest::MemoryLog log;
  EXPECT_FALSE(CheckInstallActiveXRigths());
  EXPECT_TRUE(log.Contains("Access to denied, " + (dpf / "missing")));
}

TEST_F(InstallRights, MissingMachineKeyMeansNoRights) {
  UseFolder(dpf.path());
  kittest::SetRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft", "probe", "x");
  kittest::MemoryLog log;
  EXPECT_FALSE(CheckInstallActiveXRigths());
  EXPECT_TRUE(log.Contains("Access denied, CLASSES_ROOT\\CLSID"));
  EXPECT_TRUE(FolderIsEmpty(dpf.path()));
}

}  // namespace
