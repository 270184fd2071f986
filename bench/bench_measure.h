// What the benchmarks measure: the process's memory and the time since a
// start.
#pragma once

#include <windows.h>
#include <psapi.h>

struct Memory {
  SIZE_T workingSet, peakWorkingSet, privateBytes;
};

inline Memory ReadMemory() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return {counters.WorkingSetSize, counters.PeakWorkingSetSize, counters.PagefileUsage};
}

inline double Seconds(const LARGE_INTEGER& from) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}
