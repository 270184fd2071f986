// Elevation and relaunch: before a package that needs an administrator, the
// program asks the user's permission and hands the whole run to a copy of
// itself started through the elevation prompt, then waits for that copy.
#pragma once

#include <windows.h>

#include <cstdint>

// Whether this process must be elevated before installing the package of
// this class.
bool ElevationToAdminNeeded(const char* classId);

// Where the class is registered: 2 for the current user, 1 for the machine,
// 0 nowhere.
int ReadInstalledScope(const char* classId);

// What became of the elevated copy.
struct ElevatedRun {
  std::int32_t result = 0;  // its exit code once known, else 0
  bool reported = false;    // it finished its run and woke this instance
};

// Starts this program again with the same command-line tail through the
// elevation prompt and waits until the copy has finished (it signals the
// relaunch event) or has ended. False, with the thread's last error telling
// why, when the copy could not be started.
bool ElevateToAdmin(const char* commandLineTail, ElevatedRun* run);

// What the entry point makes of the elevation.
struct ElevationOutcome {
  std::int32_t result = 0;
  bool showSuccess = false;
  bool reportedByCopy = false;  // the elevated copy has shown the final report
};

// Hides the progress window, asks the user's permission and, if given,
// relaunches elevated.
ElevationOutcome RunElevation(HWND progressWindow, const char* commandLineTail, bool silent, bool verbose);

// Wakes a first instance waiting for this (elevated) instance to end.
void SignalRelaunchEvent();

// The relaunch event's name.
const char* RelaunchEventName();
