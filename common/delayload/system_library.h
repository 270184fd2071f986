// System DLLs by their full path in the system folder, never by a bare name
// that the loader would also look for beside the program, in the current
// folder or along PATH.
#pragma once

#include <windows.h>

namespace kit {

// `dll` ("cabinet.dll") from the system folder, with LoadLibraryExA's
// `flags` (LOAD_LIBRARY_AS_DATAFILE for message tables). Each call takes a
// reference of its own. Null, with the last error set, on failure.
HMODULE LoadSystemLibrary(const char* dll, DWORD flags = 0);

}  // namespace kit
