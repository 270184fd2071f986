#include "foundation/m_folders.h"

#include <shlobj.h>

#include <functional>
#include <vector>

#include "foundation/UClasses.h"
#include "foundation/handles.h"
#include "foundation/m_registry.h"
#include "foundation/m_textconv.h"
#include "delayload/system_library.h"

namespace {

// Asks `query` for a folder into a zero-filled buffer of `firstSize` bytes;
// when the answer does not fit, once more into a buffer of the asked length
// plus 2. Raises "<failedCall> - error=<last error>" when there is no
// answer that fits.
UString QueryFolder(DWORD firstSize, const char* failedCall, const std::function<DWORD(DWORD, char*)>& query) {
  std::vector<char> buffer(firstSize, '\0');
  DWORD n = query(static_cast<DWORD>(buffer.size()), buffer.data());
  if (n >= buffer.size()) {
    buffer.assign(static_cast<std::size_t>(n) + 2, '\0');
    n = query(static_cast<DWORD>(buffer.size()), buffer.data());
  }
  if (n == 0 || n >= buffer.size()) throw UException("%s - error=%d", failedCall, static_cast<int>(GetLastError()));
  UString folder(std::string(buffer.data(), n));
  if (folder.length() && folder[folder.length() - 1] == '\\')
    folder = folder.Left(static_cast<int>(folder.length()) - 1);
  return folder;
}

}  // namespace

UString SAddTrailingBackslash(const UString& text) {
  if (!text.empty() && (text[text.length() - 1] == '\\' || text[text.length() - 1] == '/')) return text;
  return text + "\\";
}

UString SRemoveTrailingSeparator(const UString& text) {
  if (!text.empty() && (text[text.length() - 1] == '\\' || text[text.length() - 1] == '/'))
    return text.Left(static_cast<int>(text.length()) - 1);
  return text;
}

UString SGetTempPath() {
  return QueryFolder(1000, "SGetTempPath()",
                     [](DWORD size, char* buffer) { return GetTempPathA(size, buffer); });
}

UString SGetSystemDirectory() {
  return QueryFolder(1000, "GetSystemDirectory()",
                     [](DWORD size, char* buffer) { return GetSystemDirectoryA(buffer, size); });
}

UString SGetWindowsDirectory() {
  return QueryFolder(200, "SGetWindowsDirectory()",
                     [](DWORD size, char* buffer) { return GetWindowsDirectoryA(buffer, size); });
}

UString SGetSystemWindowsDirectory() {
  typedef UINT(WINAPI * GetSystemWindowsDirectoryAProc)(LPSTR, UINT);
  UString folder;
  int result = 0;
  DWORD error = 0;
  {
    kit::UniqueModule kernel32(kit::LoadSystemLibrary("kernel32.dll"));
    CatchAndLog(KL_CATCH_SITE("SGetSystemWindowsDirectory", "SGetSystemWindowsDirectory() exception"), result, [&] {
      auto query = kernel32 ? reinterpret_cast<GetSystemWindowsDirectoryAProc>(
                                  reinterpret_cast<void*>(GetProcAddress(kernel32.get(), "GetSystemWindowsDirectoryA")))
                            : nullptr;
      if (!query) {
        folder = SGetWindowsDirectory();
        return;
      }
      folder = QueryFolder(200, "SGetSystemWindowsDirectory()",
                           [query](DWORD size, char* buffer) { return query(buffer, size); });
    });
    error = GetLastError();
  }
  if (result != 0) throw UException("SGetSystemWindowsDirectory() - error=%d", static_cast<int>(error));
  return folder;
}

UString SGetCurrentDirectory() {
  return QueryFolder(200, "SGetCurrentDirectory()",
                     [](DWORD size, char* buffer) { return GetCurrentDirectoryA(size, buffer); });
}

UString SGetModuleFileName(HMODULE module) {
  enum : DWORD { kFirstSize = 2000, kGrowth = 10000, kAttempts = 10 };
  std::vector<char> buffer(kFirstSize, '\0');
  for (DWORD attempt = 0; attempt < kAttempts; ++attempt) {
    const DWORD n = GetModuleFileNameA(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0)
      KL_THROW(-1, "SGetModuleFileName", "EXCEPTION - %s, %lu", "GetModuleFileName() error ",
               static_cast<unsigned long>(GetLastError()));
    if (n + 1 < buffer.size()) return UString(std::string(buffer.data(), n));
    buffer.assign(buffer.size() + kGrowth, '\0');
  }
  KL_THROW(-1, "SGetModuleFileName()", "EXCEPTION - %s, %lu", "path is too big (allocated memory)",
           static_cast<unsigned long>(buffer.size()));
}

void SSplitPath(const UString& path, UString* folderWithBackslash, UString* fileName) {
  const std::string& s = path.str();
  const std::size_t separator = s.find_last_of("\\/");
  UString folder;
  UString name = path;
  if (separator != std::string::npos) {
    folder = UString(s.substr(0, separator)) + "\\";
    name = UString(s.substr(separator + 1));
  }
  if (name == "." || name == "..") {
    folder = path;
    name = UString();
  }
  if (folderWithBackslash) *folderWithBackslash = folder;
  if (fileName) *fileName = name;
}

UString SGetFileName(const UString& path) {
  UString name;
  SSplitPath(path, nullptr, &name);
  return name;
}

UString SGetTempFileName(const char* folder, const char* prefix) {
  char buffer[520] = {};
  if (!folder || !GetTempFileNameA(folder, prefix ? prefix : "", 0, buffer))
    throw UException("SGetTempFileName() - GetTempFileName()");
  return UString(buffer);
}

UString SExpandEnvironmentStrings(const char* text) {
  const UString input(text);
  std::vector<char> buffer(input.length() + 100, '\0');
  DWORD n = ExpandEnvironmentStringsA(input.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n > buffer.size()) {
    buffer.assign(static_cast<std::size_t>(n) + 10, '\0');
    n = ExpandEnvironmentStringsA(input.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  }
  if (n == 0 || n > buffer.size()) {
    LogRecord(kLogWarnings, "::SExpandEnvironmentStrings",
              UMessage::Format("Failed expand environment strings (error: %1)", GetLastError()));
    return input;
  }
  return UString(buffer.data());
}

UString SGetUserDownloadedProgramFilesFolder(bool create) {
  typedef BOOL(WINAPI * SHGetSpecialFolderPathAProc)(HWND, LPSTR, int, BOOL);
  char buffer[MAX_PATH + 1] = {};
  bool found = false;
  {
    kit::UniqueModule shell32(kit::LoadSystemLibrary("shell32.dll"));
    auto query = shell32 ? reinterpret_cast<SHGetSpecialFolderPathAProc>(
                               reinterpret_cast<void*>(GetProcAddress(shell32.get(), "SHGetSpecialFolderPathA")))
                         : nullptr;
    found = query && query(nullptr, buffer, CSIDL_LOCAL_APPDATA, create ? TRUE : FALSE) && buffer[0];
  }
  if (!found) {
    LogRecord(kLogWarnings, "SGetUserDownloadedProgramFilesFolder",
              UMessage::Format("%1, %2", "Failed to get Local Application Data folder path (SSHGetSpecialFolderPath)",
                               static_cast<unsigned>(GetLastError())));
    return UString();
  }
  const UString base = SAddTrailingBackslash(UString(buffer));
  if (create) {
    CreateDirectoryA((base + "Microsoft").c_str(), nullptr);
    CreateDirectoryA((base + "Microsoft\\Internet Explorer").c_str(), nullptr);
    CreateDirectoryA((base + "Microsoft\\Internet Explorer\\Downloaded Program Files").c_str(), nullptr);
  }
  return base + "Microsoft\\Internet Explorer\\Downloaded Program Files";
}

UString SGetDownloadedProgramFilesFolder() {
  static const char kFunction[] = "SGetDownloadedProgramFilesFolder()";
  const UString configured = SGetRegistryAsString(
      HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", "ActiveXCache", "", 0, 0);
  const UString cache = SGetRegistryAsString(
      HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ActiveX Cache", "0", "", 0,
      0);
  if (!cache.empty() && cache.EqualsNoCase(configured.c_str())) return cache;
  LogRecord(kLogTrace, kFunction,
            UMessage::Format("%1, %2, %3", "Customized \"Downloaded Program Files\": mismatch", configured, cache));

  const UString windows = SGetSystemWindowsDirectory();
  if (windows.empty())
    KL_THROW(-1, kFunction, "EXCEPTION - %s, %s", "SGetSystemWindowsDirectory() failed",
             SGetErrorText(GetLastError()).c_str());
  const UString folder = SAddTrailingBackslash(windows) + "Downloaded Program Files";
  LogRecord(kLogTrace, kFunction, UMessage::Format("%1, %2", "using default path", folder));
  return folder;
}
