// File-system helpers.
#pragma once

// Removes everything inside a folder, depth first; the folder itself stays.
// Returns 0 or an error code.
int EmptyFolderEx(const char* folder);
