// The run's completion state, shared by the main thread and the engine's
// worker thread: the result is stored before the flag.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<std::int32_t> g_dwResult;
extern std::atomic<bool> g_bDone;

// The engine's callback: stores the result, then sets the done flag.
void InstallCompleteCallback(std::int32_t result, const char* classId, std::uintptr_t callerValue);
