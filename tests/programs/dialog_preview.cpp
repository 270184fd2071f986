// Shows one of kitloader's windows with kitloader's own resources, in the
// language Wine gives this process, so that tests and screenshots can see it:
//   dialog_preview progress            the progress window until Cancel
//                                      (exit code: the run's result)
//   dialog_preview permission          the permission dialog (exit code 1
//                                      continue, 2 cancel)
//   dialog_preview failure <code> <file>  the failure box
//   dialog_preview success             the success box
//   dialog_preview locale <file>       writes the ANSI code page and the UI
//                                      language the process runs with
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kitloader/completion.h"
#include "kitloader/report.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (__argc < 2) return 87;
  const char* what = __argv[1];
  if (std::strcmp(what, "progress") == 0) {
    HWND window = CreateProgressWindow(instance, true);
    if (!window) return 1;
    while (!g_bDone.load()) {
      MSG msg;
      if (GetMessageA(&msg, nullptr, 0, 0) <= 0) break;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    DestroyProgressWindow(window);
    return g_dwResult.load();
  }
  if (std::strcmp(what, "permission") == 0)
    return ShowPermissionDialog(instance) == PermissionAnswer::Continue ? 1 : 2;
  if (std::strcmp(what, "failure") == 0 && __argc >= 4) {
    ShowFailureBox(nullptr, static_cast<std::int32_t>(std::strtoul(__argv[2], nullptr, 10)), __argv[3]);
    return 0;
  }
  if (std::strcmp(what, "success") == 0) {
    ShowSuccessBox(nullptr);
    return 0;
  }
  if (std::strcmp(what, "locale") == 0 && __argc >= 3) {
    FILE* out = std::fopen(__argv[2], "w");
    if (!out) return 2;
    std::fprintf(out, "acp=%u ui=0x%04x user=0x%04lx\n", GetACP(), GetUserDefaultUILanguage(),
                 static_cast<unsigned long>(GetUserDefaultLCID()));
    std::fclose(out);
    return 0;
  }
  return 87;
}
