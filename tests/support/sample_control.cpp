#include "support/sample_control.h"

#include <windows.h>

#include "cabinstaller/distribution_unit_rules.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"

namespace kittest {
namespace {

const char kClass[] = "{5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36}";
const char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

}  // namespace

std::vector<std::string> SampleControlKeys() {
  std::vector<std::string> keys = {
      "Software\\Classes\\CLSID\\" + std::string(kClass), "Software\\Classes\\Norvane.OmbrixControl.1",
      "Software\\Classes\\TypeLib\\{2D6B9C31-7E85-4A0F-B3C2-9F1E4D7A6B58}", DistributionUnitKey(kClass).str(),
      "Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\PreApproved\\" + std::string(kClass)};
  for (const std::string& folder : SampleControlFolders())
    keys.push_back(ModuleUsageKey((folder + "\\ombrixctl.dll").c_str()).str());
  return keys;
}

std::vector<std::string> SampleControlFolders() {
  return {SGetDownloadedProgramFilesFolder().str(), SGetUserDownloadedProgramFilesFolder(false).str()};
}

void ForgetSampleControl() {
  for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    for (const std::string& key : SampleControlKeys()) RegDeleteTreeA(hive, key.c_str());
    for (const std::string& folder : SampleControlFolders())
      for (const char* file : {"\\ombrixctl.dll", "\\ombrixctl.inf"}) {
        kit::UniqueKey shared;
        if (RegOpenKeyExA(hive, kSharedDlls, 0, KEY_SET_VALUE, shared.put()) == ERROR_SUCCESS)
          RegDeleteValueA(shared.get(), (folder + file).c_str());
        DeleteFileA((folder + file).c_str());
      }
  }
}

}  // namespace kittest
