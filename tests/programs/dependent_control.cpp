// A sample control that imports a DLL of its own (ombrixdep.dll, beside it in
// its package) and registers its class only when that DLL answers.
#include <windows.h>

extern "C" __declspec(dllimport) int OmbrixDependency();
static const char kKey[] = "CLSID\\{7A1C2EA0-3B4D-4E5F-8A6B-1C2D3E4F5A60}";
static HINSTANCE g_instance;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD, void*) { return g_instance = instance, TRUE; }

extern "C" __declspec(dllexport) HRESULT DllRegisterServer() {
  char path[MAX_PATH] = {}, key[100];
  if (OmbrixDependency() != 1 || !GetModuleFileNameA(g_instance, path, MAX_PATH)) return E_FAIL;
  wsprintfA(key, "%s\\InprocServer32", kKey);
  return RegSetValueA(HKEY_CLASSES_ROOT, key, REG_SZ, path, lstrlenA(path)) == ERROR_SUCCESS ? S_OK : E_FAIL;
}

extern "C" __declspec(dllexport) HRESULT DllUnregisterServer() { return RegDeleteTreeA(HKEY_CLASSES_ROOT, kKey), S_OK; }
