// Where this process takes its DLLs from. A program that people start from
// their Downloads folder, and then allow to run elevated, must not load a DLL
// that someone left beside it, in the current folder or along PATH.
#pragma once

#include <windows.h>

namespace kit {

// The first call of every program, before the log, any window or any other
// load: DLLs the program or the system loads by name come from the system
// folder only, and the current folder is never searched. Where the system
// lacks the call that restricts the default search (Windows before 8 without
// its update), at least the current folder leaves the search.
void RestrictDllSearch();

// Loads a control (a COM server the package placed) by its full path, so
// that the DLLs it imports are found beside it and in the system folder,
// never beside this program, in the current folder or along PATH. A relative
// path is taken from the current folder first. Null, with the last error
// set, on failure.
HMODULE LoadControlLibrary(const char* path);

}  // namespace kit
