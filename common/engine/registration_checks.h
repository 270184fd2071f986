// Registry and file lookups shared by the update decision and the
// registration checks.
#pragma once

#include <windows.h>

#include "foundation/m_strings.h"

// The default value of a key as text; empty when the key or value is missing.
UString ReadKeyDefault(HKEY hive, const UString& key);

// Whether a file is at the path (FindFirstFileA). A name with wildcards is
// never a file: it would match whatever happens to be in the folder.
bool FileFound(const UString& path);

// Whether GetFileAttributesA knows the path.
bool PathExists(const UString& path);
