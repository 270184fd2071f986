// The loader behind the delay-load stubs the build generates
// (cmake/delayload-stubs.sh): the Setup API, WinINet, COM, version reading
// and the crypto primitives are needed only by some runs, so a function of
// theirs first reaches this, which loads its DLL from the system folder (never
// from the program's folder or the current one), looks the function up and
// stores its address in the function's import slot; later calls go straight
// to it. A loaded DLL stays for the life of the process, as a DLL the loader
// had loaded at start would.
#include "delayload/system_library.h"

#include <string>

namespace {

// The codes the platform's own delay-load helper raises.
constexpr DWORD kModuleNotFound = 0xC06D007E;
constexpr DWORD kProcedureNotFound = 0xC06D007F;

}  // namespace

// Always a reference of its own: a DLL that another part of the process
// loaded and frees later must stay while a slot points into it.
HMODULE kit::LoadSystemLibrary(const char* dll, DWORD flags) {
  char folder[MAX_PATH];
  const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    SetLastError(length ? ERROR_BUFFER_OVERFLOW : GetLastError());
    return nullptr;
  }
  const std::string path = std::string(folder, length) + "\\" + dll;
  return LoadLibraryExA(path.c_str(), nullptr, flags);
}

extern "C" void* kit_delay_resolve(const char* dll, const char* name, void** slot) {
  HMODULE module = kit::LoadSystemLibrary(dll);
  if (!module) RaiseException(kModuleNotFound, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  FARPROC function = GetProcAddress(module, name);
  if (!function) RaiseException(kProcedureNotFound, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  void* address = reinterpret_cast<void*>(function);
  InterlockedExchangePointer(slot, address);
  return address;
}
