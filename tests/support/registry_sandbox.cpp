#include "registry_sandbox.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace kittest {

namespace {
HKEY CreateKey(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
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
  EXPECT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, m_machine), ERROR_SUCCESS);
  EXPECT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, m_classes), ERROR_SUCCESS);
  EXPECT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, m_user), ERROR_SUCCESS);
}

RegistrySandbox::~RegistrySandbox() {
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  if (m_machine) RegCloseKey(m_machine);
  if (m_user) RegCloseKey(m_user);
  if (m_classes) RegCloseKey(m_classes);
  RegDeleteTreeA(HKEY_CURRENT_USER, m_root.c_str());
}

void SetRegDword(HKEY root, const std::string& key, const std::string& name, DWORD value) {
  HKEY k = CreateKey(root, key);
  ASSERT_TRUE(k);
  EXPECT_EQ(RegSetValueExA(k, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
            ERROR_SUCCESS);
  RegCloseKey(k);
}

void SetRegString(HKEY root, const std::string& key, const std::string& name, const std::string& value) {
  HKEY k = CreateKey(root, key);
  ASSERT_TRUE(k);
  EXPECT_EQ(RegSetValueExA(k, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(value.c_str()), static_cast<DWORD>(value.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(k);
}

bool RegValueExists(HKEY root, const std::string& key, const std::string& name) {
  return RegGetValueA(root, key.c_str(), name.empty() ? nullptr : name.c_str(), RRF_RT_ANY, nullptr, nullptr,
                      nullptr) == ERROR_SUCCESS;
}

bool RegKeyExists(HKEY root, const std::string& key) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

}  // namespace kittest
