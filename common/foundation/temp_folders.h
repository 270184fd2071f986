// Private temporary folders: made with a name no other process can guess,
// removed as a link when one has taken the folder's place.
#pragma once

#include <windows.h>

#include "foundation/m_strings.h"

// The descriptor text turned into security attributes; the descriptor is
// freed by the caller with LocalFree. 0, or the error as an HRESULT.
HRESULT GetSecurityAttributes(const char* sddl, SECURITY_ATTRIBUTES* attributes, PSECURITY_DESCRIPTOR* descriptor);

// Makes "<base>\Norvane_TMP_<8 random numbers><suffix>", with a restrictive
// descriptor when this process runs at high or system integrity. 0 (result
// holds the folder), or a negative status when no random number or no
// descriptor could be had; raises when the folder cannot be created.
int CreateUniqueTempFolder(const char* base, UString* result, const char* suffix);

// Removes a temporary folder made by CreateUniqueTempFolder and forgets its
// name. A folder that has become a link (a junction, a symbolic link) is
// removed as a link: what it points to is left alone.
void RemoveTempFolder(UString* folder);
