// The run's completion state, shared by the main thread and the engine's
// worker thread: the result is stored before the flag.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<std::int32_t> g_dwResult;
extern std::atomic<bool> g_bDone;

// The run's result once the user pressed Cancel in the progress window.
constexpr std::int32_t kResultCancelled = -2;

// The engine's callback: stores the result, then sets the done flag. A run
// the user cancelled keeps its result: the stopped worker still reports
// afterwards (0 or 1223), and that must not turn the cancel into a success.
void InstallCompleteCallback(std::int32_t result, const char* classId, std::uintptr_t callerValue);

// Cancel in the progress window: the run ends with -2.
void CancelRun();
