// What the update engine and the cabinet installer both ask about installed
// components: where a component's file is, its version, whether it is to be
// replaced, whether its signature is acceptable, whether this user may
// install for the whole machine, and the browser's pre-approved list.
#pragma once

#include <windows.h>

#include "foundation/m_strings.h"

// The file version of a file: 0 (a file without version information reads
// as 0.0.0.0) or a system error code.
DWORD getVersion(const char* path, DWORD* high, DWORD* low);

// 1 when the file is missing, unreadable or older than the requested
// version (high word major << 16 | minor, low word build << 16 | revision),
// else 0.
int needUpdate(const char* path, DWORD requestedHigh, DWORD requestedLow);

// False when the catalogue requires the maker's signature on this file and
// the file does not carry a valid one of a trusted signer.
bool CheckFileSignature(const char* path);

// The installed file of a class (per machine, or as the merged classes
// view shows it) or of a "service:" component; empty when not found.
UString ReadInstalledPath(UString& path, bool perMachine, const char* name, const char* hintFolder);

// The first of hint folder, system folder and Windows folder that holds the
// file; empty when none does.
UString LookupCommonPath(UString& path, const char* fileName, const char* hintFolder);

// The default value of a key as text; empty when the key or value is missing.
UString ReadKeyDefault(HKEY hive, const UString& key);

// Whether a file is at the path (FindFirstFileA). A name with wildcards is
// never a file: it would match whatever happens to be in the folder.
bool FileFound(const UString& path);

// Whether GetFileAttributesA knows the path.
bool PathExists(const UString& path);

// Whether this user may install for the whole machine: write into the
// machine-wide folder of downloaded controls and create keys under the
// machine's software and class registrations.
bool CheckInstallActiveXRigths();

// The browser's pre-approved controls; scope 2 writes for the user, any
// other for the machine.
int AddToPreApprovedList(int scope, const char* classId);
bool checkAndAddToPreapprovedList(int scope, const char* classId);
