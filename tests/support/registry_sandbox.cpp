#include "registry_sandbox.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace kittest {

namespace {
kit::UniqueKey CreateKey(HKEY root, const std::string& path) {
  kit::UniqueKey key;
  LONG rc = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
  EXPECT_EQ(rc, ERROR_SUCCESS) << "RegCreateKeyEx(" << path << ")";
  return key;
}
}  // namespace

RegistrySandbox::RegistrySandbox() {
  static LONG counter = 0;
  char name[96];
  std::snprintf(name, sizeof name, "Software\\KitloaderTests\\sandbox_%lu_%ld", GetCurrentProcessId(),
                InterlockedIncrement(&counter));
  m_root = name;
  m_machine = CreateKey(HKEY_CURRENT_USER, m_root + "\\HKLM");
  m_user = CreateKey(HKEY_CURRENT_USER, m_root + "\\HKCU");
  m_classes = CreateKey(HKEY_CURRENT_USER, m_root + "\\HKCR");
  EXPECT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, m_machine.get()), ERROR_SUCCESS);
  EXPECT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, m_classes.get()), ERROR_SUCCESS);
  EXPECT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, m_user.get()), ERROR_SUCCESS);
}

RegistrySandbox::~RegistrySandbox() {
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  m_machine.reset();
  m_user.reset();
  m_classes.reset();
  RegDeleteTreeA(HKEY_CURRENT_USER, m_root.c_str());
}

void SetRegDword(HKEY root, const std::string& key, const std::string& name, DWORD value) {
  kit::UniqueKey k = CreateKey(root, key);
  ASSERT_TRUE(k);
  EXPECT_EQ(
      RegSetValueExA(k.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
      ERROR_SUCCESS);
}

void SetRegString(HKEY root, const std::string& key, const std::string& name, const std::string& value) {
  kit::UniqueKey k = CreateKey(root, key);
  ASSERT_TRUE(k);
  EXPECT_EQ(RegSetValueExA(k.get(), name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(value.c_str()), static_cast<DWORD>(value.size() + 1)),
            ERROR_SUCCESS);
}

bool RegValueExists(HKEY root, const std::string& key, const std::string& name) {
  return RegGetValueA(root, key.c_str(), name.empty() ? nullptr : name.c_str(), RRF_RT_ANY, nullptr, nullptr,
                      nullptr) == ERROR_SUCCESS;
}

bool RegKeyExists(HKEY root, const std::string& key) {
  kit::UniqueKey k;
  return RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

}  // namespace kittest
