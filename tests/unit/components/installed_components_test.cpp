// What the engine and the cabinet installer ask about installed components:
// file versions, installed paths and the pre-approved list, against a
// sandboxed registry and real files with real version resources.
#include "components/installed_components.h"

#include <gtest/gtest.h>

#include "components/component_catalogue.h"
#include "components/update_rules.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"

namespace {

constexpr char kClass[] = "{6F1D2C3B-0A4E-4B7F-9C8D-112233445566}";  // not in the catalogue

class InstalledComponents : public ::testing::Test {
 protected:
  std::string Sample(const std::string& name) {
    kittest::CopyFileOrFail(kittest::WindowsPathOf(VERSIONED_SAMPLE_DLL), dir / name);
    return dir / name;
  }
  kittest::RegistrySandbox sandbox;
  kittest::TempFolder dir;
  kittest::MemoryLog log;
};

TEST_F(InstalledComponents, FileVersionsDecideUpdates) {
  const std::string dll = Sample("sample.dll"), text = dir / "plain.txt";
  kittest::WriteTextFile(text, "no version");
  DWORD high = 7, low = 7;
  EXPECT_EQ(getVersion(dll.c_str(), &high, &low), 0u);
  EXPECT_EQ(VersionNumber(high, low), 0x0001000200030004ull);
  auto need = [](const std::string& path, DWORD h, DWORD l) { return needUpdate(path.c_str(), h, l); };
  EXPECT_EQ(need(dll, 0x10002, 0x30004), 0);
  EXPECT_EQ(need(dll, 0x10002, 0x30005), 1);
  EXPECT_EQ(need(text, 0, 0), 0);
  EXPECT_EQ(need(text, 0, 1), 1);
  EXPECT_EQ(need("C:\\missing\\x.dll", 0, 0), 1);
  EXPECT_EQ(need("", 0, 0), 1);
  EXPECT_EQ(needUpdate(nullptr, 0, 0), 1);
  for (const char* line : {"filename is NULL", "filename is empty", "file is missing, C:\\missing\\x.dll",
                           "(1.2.3.4) reqested 0x00010002 0x00030005 (1.2.3.5)"})
    EXPECT_TRUE(log.Contains(line)) << line;
}

TEST_F(InstalledComponents, InstalledPathsAndPreApprovedControls) {
  const std::string exe = Sample("helper app.exe");
  kittest::SetRegString(HKEY_CLASSES_ROOT, "CLSID\\{Q}\\LocalServer32", "", "\"" + exe + "\" /Automation");
  UString path;
  EXPECT_EQ(ReadInstalledPath(path, false, "{Q}", ""), exe.c_str());
  EXPECT_EQ(ReadInstalledPath(path, true, "{Q}", ""), "");
  EXPECT_EQ(LookupCommonPath(path, "helper app.exe", dir.path().c_str()), exe.c_str());
  EXPECT_EQ(LookupCommonPath(path, "*.exe", dir.path().c_str()), "");

  const std::string preApproved = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\PreApproved\\";
  for (int scope : {1, 2, 2}) EXPECT_EQ(AddToPreApprovedList(scope, kClass), 0);
  EXPECT_TRUE(kittest::RegKeyExists(HKEY_LOCAL_MACHINE, preApproved + kClass) &&
              kittest::RegKeyExists(HKEY_CURRENT_USER, preApproved + kClass));
  EXPECT_EQ(AddToPreApprovedList(1, nullptr), 160);
  EXPECT_TRUE(checkAndAddToPreapprovedList(2, "{2751884b-831b-4b92-a489-cb7397d2c63a}"));
  EXPECT_TRUE(kittest::RegKeyExists(HKEY_CURRENT_USER, preApproved + kBridgeControlClassId));
  EXPECT_FALSE(checkAndAddToPreapprovedList(1, kInstallerHelperClassId));
  EXPECT_FALSE(kittest::RegKeyExists(HKEY_LOCAL_MACHINE, preApproved + kInstallerHelperClassId));
}

}  // namespace
