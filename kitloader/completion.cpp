#include "kitloader/completion.h"

std::atomic<std::int32_t> g_dwResult{0};
std::atomic<bool> g_bDone{false};

void InstallCompleteCallback(std::int32_t result, const char*, std::uintptr_t) {
  g_dwResult.store(result);
  g_bDone.store(true);
}
