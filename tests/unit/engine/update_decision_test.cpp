// The update decision and the registration checks against a sandboxed registry and real files with real version resources.
#include <gtest/gtest.h>

#include <functional>

#include "engine/USmartUpdateEx.h"
#include "components/component_catalogue.h"
#include "components/update_rules.h"
#include "foundation/m_registry.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"

namespace {

using kittest::SetRegString;
constexpr char kClass[] = "{6F1D2C3B-0A4E-4B7F-9C8D-112233445566}";  // not in the catalogue
const std::string kClsidKey = "SOFTWARE\\Classes\\CLSID\\";
const std::string kBridgeKey = kClsidKey + kBridgeControlClassId;
const std::string kTypeLibKey = std::string("SOFTWARE\\Classes\\TypeLib\\") + kBridgeTypeLibId + "\\1.0";
const std::string kUnitKey = "SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\";

class UpdateDecision : public ::testing::Test {
 protected:
  std::string Sample(const std::string& name) {
    kittest::CopyFileOrFail(kittest::WindowsPathOf(VERSIONED_SAMPLE_DLL), dir / name);
    return dir / name;
  }
  void ListFiles(HKEY hive, const char* classId, std::initializer_list<std::string> files) {
    AddRegistryKeyA(hive, (kUnitKey + classId + "\\Contains\\Files").c_str(), 0);
    for (const std::string& f : files) SetRegString(hive, kUnitKey + classId + "\\Contains\\Files", f, "");
  }
  kittest::RegistrySandbox sandbox;
  kittest::TempFolder dir;
  kittest::MemoryLog log;
};

struct Engine : USmartUpdateEx {
  bool Ask(const char* classId, const char* codebase, bool checkCodebase, int policy = 0) {
    RequestState().Begin(InstallRequest{classId, codebase, "", "", nullptr, 0});
    SetCheckCodebase(checkCodebase);
    SetPolicy(policy);
    return isProceedWithUpdate();
  }
  int Decision() { return ToNumber(RequestState().Decision()); }
};

TEST_F(UpdateDecision, ScopeMaskAndRegistrationChecks) {
  const std::string tlb = Sample("bridge.tlb");
  SetEnvironmentVariableA("KITTEST_TLB_DIR", dir.path().c_str());
  auto bridge = [&](bool server, bool typeLibValue, bool typeLibKey, const std::string& file) {
    SetRegString(HKEY_LOCAL_MACHINE, kBridgeKey + "\\InprocServer32", "", server ? tlb : "");
    if (typeLibValue) SetRegString(HKEY_LOCAL_MACHINE, kBridgeKey + "\\TypeLib", "", kBridgeTypeLibId);
    SetRegString(HKEY_LOCAL_MACHINE, kBridgeKey + "\\Version", "", "1.0");
    if (typeLibKey) SetRegString(HKEY_LOCAL_MACHINE, kTypeLibKey + "\\0\\win32", "", file);
  };
  auto scopeMask = [](const char* id) {
    return USmartUpdateEx::ReadInstalledScopeMask(id, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER);
  };
  auto check = [&](const std::function<void()>& arrange, int known, DWORD mask, const char* line) {
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) RegDeleteTreeA(hive, "SOFTWARE\\Classes");
    log.Clear();
    arrange();
    EXPECT_EQ(USmartUpdateEx::CheckKnownClassID(HKEY_LOCAL_MACHINE, kBridgeControlClassId), known) << line;
    EXPECT_EQ(scopeMask(kBridgeControlClassId), mask) << line;
    EXPECT_TRUE(!line || log.Contains(line)) << line;
  };
  check([] {}, 0, 0, nullptr);
  check([&] { bridge(true, true, true, "%KITTEST_TLB_DIR%\\bridge.tlb"); }, 1, 1, nullptr);
  check([&] { bridge(false, true, true, tlb); }, 2, 1, "InprocServer32 and LocalServer32 keys are missing");
  check([&] { bridge(true, true, true, dir / "gone.tlb"); }, 2, 1, "Type library file does not exist");
  check([&] { bridge(true, true, false, ""); }, 2, 1, "Type library registration is broken (HKEY: CLSID");
  check([&] { bridge(true, false, true, tlb); }, 2, 1, "'TypeLib' or 'Version' key is mising or empty");
  check([&] { SetRegString(HKEY_LOCAL_MACHINE, kTypeLibKey + "\\0\\win32", "", tlb); }, 2, 1, "but type library is");
  check([&] { SetRegString(HKEY_CURRENT_USER, kBridgeKey + "\\LocalServer32", "", "x.exe"); }, 0, 2, nullptr);
  SetRegString(HKEY_LOCAL_MACHINE, kClsidKey + kClass + "\\InprocServer32", "", "a.dll");
  SetRegString(HKEY_CURRENT_USER, kClsidKey + kClass + "\\LocalServer32", "", "b.exe");
  EXPECT_EQ(scopeMask(kClass), 3u);

  // Distribution units: the record's files must exist and, where the
  // catalogue asks for it, carry a trusted signature.
  ListFiles(HKEY_CURRENT_USER, "{A}", {});
  ListFiles(HKEY_CURRENT_USER, "{B}", {tlb});
  ListFiles(HKEY_CURRENT_USER, "{C}", {tlb, dir / "gone.dll"});
  ListFiles(HKEY_CURRENT_USER, "{D}", {Sample("ombrixctl.dll")});
  ListFiles(HKEY_CURRENT_USER, "{F}", {dir / (std::string(3000, 'l') + ".dll")});  // a name past any short buffer
  for (auto [id, state] : {std::pair{"{A}", 1}, {"{B}", 1}, {"{C}", 2}, {"{D}", 2}, {"{E}", 0}, {"{F}", 2}})
    EXPECT_EQ(USmartUpdateEx::CheckCodeStoreDatabase(HKEY_CURRENT_USER, id), state) << id;
  EXPECT_TRUE(log.Contains("registry scope, HKEY_CURRENT_USER"));
  EXPECT_TRUE(log.Contains("required component is missing (clsid, dep_file), {C}, " + (dir / "gone.dll")));
  EXPECT_TRUE(log.Contains("Failed to get signature of \"" + (dir / "ombrixctl.dll") + "\", error 0x80092009"));
}

TEST_F(UpdateDecision, ComponentDecisionsSwitchAndCodebaseCheck) {
  const std::string dll = Sample("sample.dll");
  for (const char* id : {kClass, kViewerControlClassId}) {
    SetRegString(HKEY_LOCAL_MACHINE, kClsidKey + id + "\\InprocServer32", "", dll);
    ListFiles(HKEY_LOCAL_MACHINE, id, {dll});
  }
  SetRegString(HKEY_LOCAL_MACHINE, kClsidKey + kInstallerControlClassId + "\\InprocServer32", "",
               Sample("ombrixinst.dll"));
  SetRegString(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\OmbrixTest", "ImagePath", dll);
  SetRegString(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Quoted", "ImagePath", "\"" + dll + "\"");
  const char* current = "http://h/p/x.cab#version=1,2,3,4";
  const char* newer = "http://h/p/x.cab#version=1,2,3,5";
  EXPECT_EQ(USmartUpdateEx::needUpdate(kClass, current), 0);
  EXPECT_EQ(USmartUpdateEx::needUpdate(kClass, newer), 1);
  EXPECT_EQ(USmartUpdateEx::needUpdate("{00000000-0000-0000-0000-000000000001}", current), 2);
  EXPECT_EQ(USmartUpdateEx::needUpdate(kViewerControlClassId, newer), 1);
  EXPECT_EQ(USmartUpdateEx::needUpdate(kInstallerControlClassId, current), 2);  // the signature check fails
  EXPECT_EQ(USmartUpdateEx::needUpdate("service:OmbrixTest", newer), 1);
  EXPECT_EQ(USmartUpdateEx::needUpdate("SERVICE:OmbrixTest", current), 0);
  EXPECT_EQ(USmartUpdateEx::needUpdate("service:Quoted", current), 1);
  // An update that is due is still refused on an ftp codebase.
  Engine engine;
  EXPECT_THROW(engine.Ask(kClass, "ftp://h/x.cab#version=1,2,3,5", true), UException);
  EXPECT_TRUE(engine.Decision() == 1 && log.Contains("protocol is not allowed, ftp:"));

  // Updates of client controls obey the switch; repairs do not.
  ListFiles(HKEY_LOCAL_MACHINE, kClass, {dir / "gone.dll"});
  kittest::SetRegDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Norvane Networks\\ZirivoDerazu", "EnableWebComponentsUpdate", 0);
  log.Clear();
  EXPECT_EQ(USmartUpdateEx::applyUpdateSwitch(kViewerControlClassId, newer), 0);
  EXPECT_TRUE(log.Contains("0,,,, Updates were disabled by registry settings. Skipping update of Ombrix Viewer"));
  EXPECT_EQ(USmartUpdateEx::applyUpdateSwitch(kClass, newer), 2);

  EXPECT_FALSE(engine.Ask(kViewerControlClassId, newer, true));
  EXPECT_TRUE(engine.Ask("service:OmbrixTest", newer, true));
  EXPECT_FALSE(engine.Ask("service:OmbrixTest", newer, true, 2));
  EXPECT_TRUE(engine.Ask(kClass, "C:\\packages\\x.cab", false));
  EXPECT_EQ(engine.Decision(), 2);
  EXPECT_THROW(engine.Ask(kClass, "C:\\packages\\x.cab", true), UException);
  EXPECT_TRUE(log.Contains("ParseURL() failed, C:"));
}

}  // namespace
