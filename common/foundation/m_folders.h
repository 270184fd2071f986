// Well-known folders and paths. Every folder comes back without a trailing
// backslash, so callers join names with an explicit separator.
#pragma once

#include <windows.h>

#include "foundation/m_strings.h"

// The folders of the system. Each raises UException when the system cannot
// tell.
UString SGetTempPath();
UString SGetSystemDirectory();
UString SGetWindowsDirectory();
UString SGetSystemWindowsDirectory();
UString SGetCurrentDirectory();

// The full path of a module of this process (null: the running executable),
// however long. Raises UException on failure.
UString SGetModuleFileName(HMODULE module);

// Splits a path at its last slash or backslash into the folder (with a
// backslash appended) and the file name. Without a separator the folder is
// empty; a file name "." or ".." makes the whole path the folder.
void SSplitPath(const UString& path, UString* folderWithBackslash, UString* fileName);

// The file-name part of a path.
UString SGetFileName(const UString& path);

// Creates a new, empty, uniquely named file in `folder` and returns its full
// path. Raises UException on failure.
UString SGetTempFileName(const char* folder, const char* prefix);

// `text` with its environment variables expanded; `text` itself when that
// fails.
UString SExpandEnvironmentStrings(const char* text);

// The machine-wide folder of downloaded controls. Raises UException when the
// Windows folder cannot be found.
UString SGetDownloadedProgramFilesFolder();

// The per-user folder of downloaded controls under the local application
// data folder, created first when `create` is set; empty when the local
// application data folder is unknown.
UString SGetUserDownloadedProgramFilesFolder(bool create);

// `text` with one backslash appended unless it already ends in a backslash
// or a slash.
UString SAddTrailingBackslash(const UString& text);

// `text` without one final backslash or slash.
UString SRemoveTrailingSeparator(const UString& text);
