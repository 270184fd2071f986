#include "window_driver.h"

#include <vector>

namespace kittest {

namespace {
constexpr DWORD kPollMs = 50;

struct Search {
  DWORD processId;
  const std::function<bool(HWND)>* match;
  HWND found;
};

BOOL CALLBACK CheckWindow(HWND window, LPARAM param) {
  Search* search = reinterpret_cast<Search*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !IsWindowVisible(window) || !(*search->match)(window)) return TRUE;
  search->found = window;
  return FALSE;
}

bool IsDialogClass(HWND window) {
  char name[16] = {};
  GetClassNameA(window, name, sizeof name);
  return std::string(name) == "#32770";
}
}  // namespace

std::wstring Wide(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string text(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &text[0], n, nullptr, nullptr);
  return text;
}

std::wstring WindowText(HWND window) {
  if (!window) return L"<no window>";
  std::vector<wchar_t> buf(GetWindowTextLengthW(window) + 2);
  int n = GetWindowTextW(window, buf.data(), static_cast<int>(buf.size()));
  return std::wstring(buf.data(), n);
}

std::wstring ControlText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

HWND WaitForWindow(HANDLE process, DWORD processId, const std::function<bool(HWND)>& match, DWORD timeoutMs) {
  // Measured by the clock: a pass over the windows takes its own time on a
  // busy machine, and counting polls would stretch the bound several times.
  const DWORD start = GetTickCount();
  for (;;) {
    Search search{processId, &match, nullptr};
    EnumWindows(&CheckWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    if (GetTickCount() - start >= timeoutMs || WaitForSingleObject(process, kPollMs) != WAIT_TIMEOUT) return nullptr;
  }
}

bool IsMessageBox(HWND window) {
  return IsDialogClass(window) && GetDlgItem(window, IDOK) && !GetDlgItem(window, IDCANCEL);
}

bool IsProgressWindow(HWND window) {
  return IsDialogClass(window) && GetDlgItem(window, IDCANCEL) && !GetDlgItem(window, IDOK);
}

bool IsPermissionDialog(HWND window) {
  return IsDialogClass(window) && GetDlgItem(window, IDOK) && GetDlgItem(window, IDCANCEL) &&
         GetDlgItem(window, 1000);
}

void PressButton(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

namespace {
BOOL CALLBACK FindStaticText(HWND child, LPARAM param) {
  char name[16] = {};
  GetClassNameA(child, name, sizeof name);
  if (_stricmp(name, "Static") != 0 || GetWindowTextLengthW(child) == 0) return TRUE;
  *reinterpret_cast<HWND*>(param) = child;
  return FALSE;
}
}  // namespace

std::wstring StaticText(HWND dialog) {
  HWND text = nullptr;
  EnumChildWindows(dialog, &FindStaticText, reinterpret_cast<LPARAM>(&text));
  return text ? WindowText(text) : L"<no static text>";
}

}  // namespace kittest
