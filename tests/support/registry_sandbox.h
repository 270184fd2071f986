// Redirects HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER and HKEY_CLASSES_ROOT of
// this process into fresh scratch keys for the lifetime of the object, and
// removes the scratch keys afterwards.
#pragma once

#include <windows.h>

#include <string>

#include "foundation/handles.h"

namespace kittest {

class RegistrySandbox {
 public:
  RegistrySandbox();
  ~RegistrySandbox();
  RegistrySandbox(const RegistrySandbox&) = delete;
  RegistrySandbox& operator=(const RegistrySandbox&) = delete;

  // The real path (under the real HKEY_CURRENT_USER) of the scratch root.
  const std::string& root() const { return m_root; }

 private:
  std::string m_root;
  kit::UniqueKey m_machine;
  kit::UniqueKey m_user;
  kit::UniqueKey m_classes;
};

// Small registry helpers for arranging and checking test state (they go
// through the predefined keys, so inside a sandbox they touch the sandbox).
void SetRegDword(HKEY root, const std::string& key, const std::string& name, DWORD value);
void SetRegString(HKEY root, const std::string& key, const std::string& name, const std::string& value);
bool RegValueExists(HKEY root, const std::string& key, const std::string& name);
bool RegKeyExists(HKEY root, const std::string& key);

}  // namespace kittest
