// Private temporary folders: made with a name no other process can guess,
// held open from creation to removal so that nobody can move them away, and
// removed without following links.
#pragma once

#include <windows.h>

#include "foundation/m_strings.h"
#include "foundation/nofollow_delete.h"

// The descriptors of a new temporary folder by the integrity level of the
// process (0x4000 system, 0x3000 high); null for any other level. Both are
// protected: nothing of the parent folder's entries is inherited.
const char* TempFolderDescriptor(DWORD integrityLevel);

// What keeps a temporary folder in place: the folder open for listing with
// read and write sharing only (renaming or deleting it needs delete sharing;
// a started program may still take it as its current folder), and the
// identity it had when it was made.
struct TempFolderHold {
  kit::UniqueFile handle;
  kit::FileIdentity identity;
  bool known = false;
};

// The descriptor text turned into security attributes; the descriptor is
// freed by the caller with LocalFree. 0, or the error as an HRESULT.
HRESULT GetSecurityAttributes(const char* sddl, SECURITY_ATTRIBUTES* attributes, PSECURITY_DESCRIPTOR* descriptor);

// Makes "<base>\Norvane_TMP_<8 random numbers><suffix>", with a restrictive
// descriptor when this process runs at high or system integrity. 0 (result
// holds the folder, `hold` keeps it), or a negative status when no random
// number or no descriptor could be had; raises when the folder cannot be
// created or is not the plain folder just made.
int CreateUniqueTempFolder(const char* base, UString* result, const char* suffix, TempFolderHold* hold = nullptr);

// Removes a temporary folder made by CreateUniqueTempFolder and forgets its
// name and hold. Everything goes through handles that never follow a link,
// and only while the path still names the folder that was made: a link or
// another folder put in its place is never entered. A folder still in use a
// moment after the program that used it ended (a file of it still open
// elsewhere, a program's current folder) is tried again for a bounded time.
void RemoveTempFolder(UString* folder, TempFolderHold* hold = nullptr);
