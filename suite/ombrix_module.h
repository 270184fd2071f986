// What every in-process server of the suite needs: its own module handle,
// kept by its DllMain, its path, and one registry text written under a key
// it creates. Included by one source of each DLL (it defines DllMain).
#pragma once

#include <windows.h>

#include <string>

inline HMODULE g_module = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

// The DLL's full path; empty when it cannot be read.
inline std::string ModulePath() {
  char path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(g_module, path, sizeof(path));
  return (n == 0 || n >= sizeof(path)) ? std::string() : std::string(path, n);
}

// Writes a REG_SZ value (the default value for a null name), creating the key.
inline LONG SetValue(HKEY root, const std::string& key, const char* name, const std::string& value) {
  HKEY k = nullptr;
  LONG rc = RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                      static_cast<DWORD>(value.size() + 1));
  RegCloseKey(k);
  return rc;
}
