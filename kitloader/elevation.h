// Elevation and relaunch.
#pragma once

#include <windows.h>

#include <cstdint>

// Whether this process must be elevated before installing the package.
bool ElevationToAdminNeeded(const char* classId);

struct ElevationOutcome {
  std::int32_t result = 0;
  bool showSuccess = false;
};

// Asks the user and hands the run to an elevated copy of the program.
ElevationOutcome RunElevation(HWND progressWindow, const char* commandLineTail, bool verbose);

// Wakes a first instance waiting for this (elevated) instance to end.
void SignalRelaunchEvent();
