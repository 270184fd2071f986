// Integrity level and elevation helpers.
#pragma once

#include <windows.h>

enum : DWORD {
  kIntegrityLow = 0x1000,
  kIntegrityMedium = 0x2000,
  kIntegrityHigh = 0x3000,
  kIntegritySystem = 0x4000,
};

// The integrity level of a process (null: this process); low on any failure.
DWORD uGetProcessIntegrityLevel(HANDLE process);
