// Well-known folders and paths. Folders come back without a trailing
// backslash.
#pragma once

#include <windows.h>

#include "foundation/m_strings.h"

// The user's temporary folder. Raises UException on failure.
UString SGetTempPath();

// The full path of a module of this process (null: the running executable).
UString SGetModuleFileName(HMODULE module);

// Splits a path at its last backslash: the folder with the backslash, and
// the file name.
void SSplitPath(const UString& path, UString* folderWithBackslash, UString* fileName);
