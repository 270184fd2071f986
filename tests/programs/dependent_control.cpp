// A sample control that imports a DLL of its own (ombrixdep.dll, shipped
// beside it in its package): it registers its class only when that DLL
// answers.
#include <windows.h>

#include <string>

extern "C" __declspec(dllimport) int OmbrixDependency();

namespace {
const char kKey[] = "CLSID\\{7A1C2EA0-3B4D-4E5F-8A6B-1C2D3E4F5A60}";
HINSTANCE g_instance;
}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD, void*) {
  g_instance = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT DllRegisterServer() {
  char path[MAX_PATH] = {};
  if (OmbrixDependency() != 1 || !GetModuleFileNameA(g_instance, path, MAX_PATH)) return E_FAIL;
  const std::string server = std::string(kKey) + "\\InprocServer32";
  return RegSetValueA(HKEY_CLASSES_ROOT, server.c_str(), REG_SZ, path, lstrlenA(path)) == ERROR_SUCCESS ? S_OK : E_FAIL;
}

extern "C" __declspec(dllexport) HRESULT DllUnregisterServer() {
  RegDeleteTreeA(HKEY_CLASSES_ROOT, kKey);
  return S_OK;
}
