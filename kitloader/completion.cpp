#include "kitloader/completion.h"

std::atomic<std::int32_t> g_dwResult{0};
std::atomic<bool> g_bDone{false};

void InstallCompleteCallback(std::int32_t result, const char*, std::uintptr_t) {
  std::int32_t current = g_dwResult.load();
  while (current != kResultCancelled && !g_dwResult.compare_exchange_weak(current, result)) {
  }
  g_bDone.store(true);
}

void CancelRun() {
  g_dwResult.store(kResultCancelled);
  g_bDone.store(true);
}
