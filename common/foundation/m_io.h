// File-system helpers: folder chains, emptying a folder tree, deleting with
// retries, file sizes.
#pragma once

#include <windows.h>

#include <cstdint>

// Called by EmptyFolderEx for every item (deepest first) with the item's
// find record, its full path and the caller's value; returns a result code.
typedef int (*DelItemProc)(const WIN32_FIND_DATAA* item, const char* path, std::uintptr_t userValue);

// Creates every missing folder of `relative` (components separated by
// backslashes) below `base`. Nonzero when the last folder was created by
// this call; 0 when it could not be created or already existed; -1 when an
// argument is missing.
int createSubFolder(const char* base, const char* relative);

// The procedure the program passes to EmptyFolderEx: clears the item's
// attributes and removes it, up to 10 attempts 10 ms apart, and after that
// leaves it to be deleted at the next reboot. 0 when removed, else the error
// of the last attempt.
int DefDelItemProc(const WIN32_FIND_DATAA* item, const char* path, std::uintptr_t userValue = 0);

// Calls `procedure` for everything inside `folder`, emptying each subfolder
// before its own call; the folder itself stays. A subfolder that cannot be
// searched is logged and the walk goes on. Returns the result of the last
// call (0 for an empty folder), or the code of a caught failure (-1 for most,
// for example a folder that cannot be searched).
int EmptyFolderEx(const char* folder, DelItemProc procedure = DefDelItemProc, std::uintptr_t userValue = 0);

// The size of a file. Raises UException when it cannot be read.
std::uint64_t UGetFileSize(const char* path);

// True when the path names a file (not a folder) that this process can open
// for reading now, with others reading or writing it too.
bool IsReadableFile(const char* path);
