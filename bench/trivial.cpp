// The reference for a run that has nothing to do: a GUI program of the same
// toolchain and link options as kitloader.exe that only starts and exits.
// Given a file, it first asks WinVerifyTrust about that file's signature
// once, the way the update decision does for an installed control: the
// platform's own cost of a signature check in a fresh process. Given
// /window, it creates and destroys one hidden window instead: the least a
// program with a progress window does.
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  if (!commandLine || !*commandLine) return 0;
  const std::string file(commandLine);
  if (file == "/window") {
    HWND window = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (!window) return 1;
    DestroyWindow(window);
    return 0;
  }
  std::wstring path(file.begin(), file.end());
  WINTRUST_FILE_INFO fileInfo = {sizeof(WINTRUST_FILE_INFO), path.c_str(), nullptr, nullptr};
  WINTRUST_DATA data = {sizeof(WINTRUST_DATA), nullptr, nullptr, WTD_UI_NONE, WTD_REVOKE_NONE, WTD_CHOICE_FILE,
                        {}, WTD_STATEACTION_VERIFY, nullptr, nullptr, 0, 0};
  data.pFile = &fileInfo;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  // Loaded here, so that the runs without a file load no more than a start does.
  using Verify = LONG(WINAPI*)(HWND, GUID*, LPVOID);
  HMODULE wintrust = LoadLibraryA("wintrust.dll");
  auto verify = wintrust ? reinterpret_cast<Verify>(reinterpret_cast<void*>(GetProcAddress(wintrust, "WinVerifyTrust"))) : nullptr;
  if (!verify) return 1;
  const LONG result = verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return result == 0 ? 0 : 1;
}
