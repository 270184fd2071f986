// Registry helpers: a 32-bit number, a value as text, a key opened for
// writing, a whole key path created, and the display name of a root key.
//
// Every function takes a root (a predefined key or an open key) and an extra
// access mask added to what it asks for: 0, or KEY_WOW64_64KEY for the 64-bit
// view. An empty value name reads the key's default value.
#pragma once

#include <windows.h>

#include "foundation/m_strings.h"
#include "foundation/string_lists.h"

// The value as an unsigned 32-bit number; `defaultValue` when the key or the
// value cannot be read or the data is longer than 4 bytes. Shorter data
// replaces only the low bytes of the default.
DWORD GetRegistryAsDWORDA(HKEY root, const char* subKey, const char* valueName, DWORD defaultValue,
                          REGSAM extraAccess);

enum : DWORD {
  // Multi-strings and expandable strings come back with their NULs turned
  // into blanks (the strings joined by blanks).
  kRegStringJoinMulti = 0x1,
};

// The value as text: strings up to their first NUL, REG_DWORD and
// REG_DWORD_BIG_ENDIAN as "%u"; `defaultText` for any other type, a missing
// key or value, or a null root. Environment variables are not expanded.
UString SGetRegistryAsString(HKEY root, const char* subKey, const char* valueName, const char* defaultText,
                             REGSAM extraAccess, DWORD options);

// The key opened with write access, created when missing (a newly created key
// is opened again with read and write access); null on failure. The caller
// closes it.
HKEY openKeyForWriteA(HKEY root, const char* subKey, REGSAM extraAccess);

// Creates every missing level of keyPath. Returns 0; raises UException when a
// level cannot be created or opened, or the path is unusable.
int AddRegistryKeyA(HKEY root, const char* keyPath, REGSAM extraAccess);

// "HKEY_LOCAL_MACHINE" and the other predefined names, or
// "Unknown HKEY value: 0x..." for any other handle. For log messages.
UString SGetRootKeyName(HKEY root);

// The names of the values an open key holds now, in the key's order.
UStringList RegistryValueNames(HKEY key);
