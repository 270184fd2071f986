#include "foundation/m_io.h"

#include <cstring>
#include <string>

#include "foundation/UClasses.h"
#include "foundation/handles.h"
#include "foundation/m_textconv.h"

namespace {

constexpr char kLongPathPrefix[] = "\\\\?\\";

bool EndsWithSeparator(const std::string& s) { return !s.empty() && (s.back() == '\\' || s.back() == '/'); }

std::string WithoutOneTrailingSeparator(std::string s) {
  if (EndsWithSeparator(s)) s.pop_back();
  return s;
}

bool IsExistingFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// "\\?\" (unless already there), the folder and a separator: the start of
// every path below the folder.
std::string ItemPrefix(const std::string& folder) {
  std::string prefix = folder.find(kLongPathPrefix) == std::string::npos ? kLongPathPrefix : "";
  prefix += folder;
  if (!EndsWithSeparator(folder)) prefix += '\\';
  return prefix;
}

int EmptyFolderBody(const std::string& folder, DelItemProc procedure, std::uintptr_t userValue) {
  if (!procedure) throw UException("EmptyFolderEx() - a_DelItemProc parameter is empty!");
  const std::string prefix = ItemPrefix(folder);
  const std::string pattern = prefix + "*.*";
  WIN32_FIND_DATAA item = {};
  kit::UniqueFind search(FindFirstFileA(pattern.c_str(), &item));
  if (!search)
    throw UException("EmptyFolderEx() - FindFirstFile(\"%s\") error =%d", pattern.c_str(),
                     static_cast<int>(GetLastError()));
  int result = 0;
  do {
    if (!item.cFileName[0] || !std::strcmp(item.cFileName, ".") || !std::strcmp(item.cFileName, "..")) continue;
    const std::string path = prefix + item.cFileName;
    // A link to a folder elsewhere is removed as a link: what it points to
    // is not part of this tree.
    // A subfolder that cannot be emptied logs its own failure and the walk
    // goes on with the next item.
    if ((item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(item.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      EmptyFolderEx(path.c_str(), procedure, userValue);
    result = procedure(&item, path.c_str(), userValue);
  } while (FindNextFileA(search.get(), &item));
  return result;
}

}  // namespace

int createSubFolder(const char* base, const char* relative) {
  static const char kFunction[] = "::createSubFolder";
  if (!relative) {
    LogRecord(kLogWarnings, kFunction, UString("Invalid argument: a_name"));
    return -1;
  }
  if (!base) {
    LogRecord(kLogWarnings, kFunction, UString("Invalid argument: a_base"));
    return -1;
  }
  std::string path = WithoutOneTrailingSeparator(base);
  std::string rest = WithoutOneTrailingSeparator(relative);
  rest.erase(0, rest.find_first_not_of('\\') == std::string::npos ? rest.size() : rest.find_first_not_of('\\'));

  int result = 0;
  std::size_t start = 0;
  while (start < rest.size()) {
    std::size_t end = rest.find('\\', start);
    if (end == std::string::npos) end = rest.size();
    const std::string component = rest.substr(start, end - start);
    start = end + 1;
    if (component.empty()) continue;  // a doubled separator
    path += '\\';
    path += component;
    ERRORLOGLEVELx("createSubFolder() - CreateDirectory(%s)\n", path.c_str());
    result = CreateDirectoryA(path.c_str(), nullptr) ? 1 : 0;
    if (result) {
      ERRORLOGLEVELx("createSubFolder() - CreateDirectory(%s) succeed\n", path.c_str());
      continue;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
      ERRORLOGLEVELx("createSubFolder() - CreateDirectory(%s) already exists\n", path.c_str());
    } else if (IsExistingFolder(path)) {
      ERRORLOGLEVELx(
          "createSubFolder() - CreateDirectory(%s) failed with error %d, but ignoring error since it already exists\n",
          path.c_str(), static_cast<int>(error));
    } else {
      LogRecord(kLogWarnings, kFunction,
                UMessage::Format("Failed to create folder %1 (result: %2)", path, static_cast<unsigned>(error)));
      break;
    }
  }
  return result;
}

int EmptyFolderEx(const char* folder, DelItemProc procedure, std::uintptr_t userValue) {
  int result = 0;
  return CatchAndLog(KL_CATCH_SITE("EmptyFolderEx", "EmptyFolderEx"), result, [&] {
    if (!folder) throw UException("EmptyFolderEx() - a_szFolder parameter is empty!");
    result = EmptyFolderBody(folder, procedure, userValue);
  });
}

int DefDelItemProc(const WIN32_FIND_DATAA* item, const char* path, std::uintptr_t) {
  static const char kFunction[] = "::DefDelItemProc";
  if (!item || !path) return ERROR_INVALID_PARAMETER;
  const bool folder = (item->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  enum { kAttempts = 10, kPauseMs = 10 };
  DWORD error = 0;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    if (folder ? RemoveDirectoryA(path) : DeleteFileA(path)) return 0;
    error = GetLastError();
    LogRecord(
        kLogWarnings, kFunction,
        UMessage::Format(folder ? "Failed to remove directory %1 (error: %2)" : "Failed to delete file %1 (error: %2)",
                         path, static_cast<unsigned>(error)));
    Sleep(kPauseMs);
  }
  const BOOL scheduled = MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  LogRecord(kLogWarnings, kFunction,
            UMessage::Format("File %1 marked to delete on reboot(result: %2)", path, static_cast<int>(scheduled)));
  return static_cast<int>(error);
}

std::uint64_t UGetFileSize(const char* path) {
  if (!path) KL_THROW(-1, "UGetFileSize()", "EXCEPTION - %s", "wrong parameter");
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
    KL_THROW(-1, "UGetFileSize()", "EXCEPTION - %s, %s", "GetFileAttributesEx() failed",
             SGetErrorText(GetLastError()).c_str());
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool IsReadableFile(const char* path) {
  if (!path || !*path) return false;
  kit::UniqueFile file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(file.get(), &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}
