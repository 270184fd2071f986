#include "kitloader/report.h"

// The windows and boxes come with the program's resources; until then the
// run reports through its exit code only.
HWND CreateProgressWindow(HINSTANCE, bool) { return nullptr; }
void DestroyProgressWindow(HWND window) {
  if (!window) return;
  ShowWindow(window, SW_HIDE);
  CloseWindow(window);
  DestroyWindow(window);
}
void ShowUsageBox() {}
void ShowFailureBox(HWND, std::int32_t, const char*) {}
void ShowSuccessBox(HWND) {}

namespace {
constexpr UINT kStringUnknown = 5;

UString LoadResourceString(UINT id) {
  char buf[1024] = {};
  LoadStringA(GetModuleHandleA(nullptr), id, buf, sizeof buf);
  return UString(buf);
}
}  // namespace

UString GetInstallErrorText(std::uint32_t code) {
  DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  HMODULE source = nullptr;
  if (code >= 2100 && code <= 2999)
    source = LoadLibraryExA("netmsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  else if (code >= 12000 && code <= 12188)
    source = LoadLibraryExA("wininet.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (source) flags |= FORMAT_MESSAGE_FROM_HMODULE;

  UString text;
  char* message = nullptr;
  DWORD n = FormatMessageA(flags, source, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           reinterpret_cast<char*>(&message), 0, nullptr);
  if (n && message) text = UString(message);
  if (message) LocalFree(message);
  if (text.empty()) text = UString::Format("%s (%u)\n", LoadResourceString(kStringUnknown).c_str(), code);
  if (source) FreeLibrary(source);
  return text;
}
