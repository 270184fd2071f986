#include "foundation/dll_search.h"

#include <string>

namespace kit {

namespace {

// Missing from the system before Windows 8 unless its update is installed:
// looked up, so the program still starts there.
typedef BOOL(WINAPI* SetDefaultDllDirectoriesProc)(DWORD);
constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
constexpr DWORD kSearchDllLoadDir = 0x00000100;  // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR

}  // namespace

void RestrictDllSearch() {
  // kernel32 is mapped into every process: asking for its handle loads nothing.
  const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  const auto setDefault = kernel32 ? reinterpret_cast<SetDefaultDllDirectoriesProc>(
                                         reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")))
                                   : nullptr;
  if (setDefault) setDefault(kSearchSystem32);
  SetDllDirectoryA("");
}

HMODULE LoadControlLibrary(const char* path) {
  char full[MAX_PATH * 4];
  const DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
  const std::string file = length && length < sizeof full ? std::string(full, length) : std::string(path);
  HMODULE module = LoadLibraryExA(file.c_str(), nullptr, kSearchDllLoadDir | kSearchSystem32);
  // A system without the search flags refuses them as a bad parameter: its
  // best is the control's folder first, then the ordinary order without the
  // current folder.
  if (!module && GetLastError() == ERROR_INVALID_PARAMETER)
    module = LoadLibraryExA(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  return module;
}

}  // namespace kit
