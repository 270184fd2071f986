#include "kitloader/package_wait.h"

#include <cstdint>

#include "foundation/errorlog.h"
#include "kitloader/completion.h"

namespace {
constexpr DWORD kWaitSliceMs = 100;

void DispatchPendingMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}
}  // namespace

void WaitForPackage(HANDLE worker) {
  while (!g_bDone.load()) {
    DispatchPendingMessages();
    if (g_bDone.load()) break;
    if (!worker) {
      Sleep(kWaitSliceMs);
      continue;
    }
    if (MsgWaitForMultipleObjects(1, &worker, FALSE, kWaitSliceMs, QS_ALLINPUT) != WAIT_OBJECT_0) continue;
    // The worker reports before it ends: a flag still clear now means it
    // never will.
    if (g_bDone.load()) break;
    DWORD code = 0;
    if (!GetExitCodeThread(worker, &code) || code == 0 || code == STILL_ACTIVE) code = ERROR_INSTALL_FAILURE;
    LogRecord(kLogErrors, "WinMain()",
              UMessage::Format("%1, %2", "the installation ended without a result", static_cast<std::int32_t>(code)));
    InstallCompleteCallback(static_cast<std::int32_t>(code), "", 0);
  }
}
