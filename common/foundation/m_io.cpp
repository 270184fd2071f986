#include "foundation/m_io.h"

#include <windows.h>

#include "foundation/m_strings.h"

int EmptyFolderEx(const char* folder) {
  if (!folder || !*folder) return ERROR_INVALID_PARAMETER;
  UString base(folder);
  WIN32_FIND_DATAA fd;
  HANDLE find = FindFirstFileA((base + "\\*").c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  int result = 0;
  do {
    if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, "..")) continue;
    UString path = base + "\\" + fd.cFileName;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      EmptyFolderEx(path.c_str());
      if (!RemoveDirectoryA(path.c_str())) result = static_cast<int>(GetLastError());
    } else {
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!DeleteFileA(path.c_str())) result = static_cast<int>(GetLastError());
    }
  } while (FindNextFileA(find, &fd));
  FindClose(find);
  return result;
}
