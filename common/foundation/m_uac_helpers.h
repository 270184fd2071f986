// Integrity level and elevation helpers.
#pragma once

#include <windows.h>

#include "foundation/handles.h"

enum : DWORD {
  kIntegrityLow = 0x1000,
  kIntegrityMedium = 0x2000,
  kIntegrityHigh = 0x3000,
  kIntegritySystem = 0x4000,
};

// The integrity level of a process: 0x1000, 0x2000, 0x3000 or 0x4000. Low
// on any failure. The caller keeps ownership of the handle.
DWORD uGetProcessIntegrityLevel(HANDLE process);

// The integrity level a token's integrity value stands for (below medium is
// low, everything from system on is system).
DWORD uIntegrityLevelOfValue(DWORD value);

// True only for a user whom the elevation prompt cannot turn into an
// administrator: not a member of Administrators and no split token.
bool IsNonAdminUser();

// Starts `file` with `parameters` through the elevation prompt ("runas").
// False when it was not started; the thread's last error then tells why
// (1223 when the user declined). With `process`, it receives the started
// program's process handle when the shell gives one (null otherwise).
bool RunAsAdmin(HWND owner, const char* file, const char* parameters, bool asyncAllowed,
                kit::UniqueHandle* process = nullptr);

// Creates a COM object in an elevated local server through the elevation
// moniker. COM must be initialised by the caller.
HRESULT uCoCreateInstanceAsAdmin(HWND owner, REFCLSID classId, REFIID interfaceId, void** object);
