// A DLL that leaves a marker when a process loads it: a file in the folder
// KITTEST_MARKERS names, called after the full path it was loaded from. The
// tests plant copies of it under the names of system DLLs, and ship it as the
// dependency of a sample control (OmbrixDependency).
#include <windows.h>

extern "C" __declspec(dllexport) int OmbrixDependency() { return 1; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char folder[MAX_PATH] = {}, path[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableA("KITTEST_MARKERS", folder, MAX_PATH);
  if (!n || n >= MAX_PATH || !GetModuleFileNameA(instance, path, MAX_PATH)) return TRUE;
  for (char* c = path; *c; ++c)
    if (*c == '\\' || *c == ':' || *c == '/') *c = '_';
  char marker[2 * MAX_PATH + 2];
  wsprintfA(marker, "%s\\%s", folder, path);
  HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return TRUE;
}
