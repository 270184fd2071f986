// One entry of the package list turned into a request for the engine.
// Win32-free.
#pragma once

#include "foundation/string_lists.h"

struct PackageRequest {
  UString file;         // package path; empty when the package is skipped
  UString classId;      // may be empty
  UString fileVersion;  // may be empty
};

// The list key as a file name: double quotes removed, white space trimmed.
UString PackageFileFromKey(const UString& key);

// Applies a package's own setup.inf section: CLSID, file / file-win32-x86
// ("ignore" skips, "thiscab" keeps the list key), FileVersion. Keys are
// compared without case; a later line overrides an earlier one.
void ApplyPackageSection(const UStringPairList& section, PackageRequest& request);

// Prefixes moduleFolder (which ends in a backslash) unless the path starts
// with two backslashes or has a drive colon as its second character.
UString MakeAbsolutePackagePath(const UString& file, const UString& moduleFolder);

// The engine's codebase: the path, then "#" and the version when one is given.
UString MakeCodebase(const UString& absoluteFile, const UString& fileVersion);
