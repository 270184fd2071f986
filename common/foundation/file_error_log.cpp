#include "foundation/file_error_log.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cstring>

#include "foundation/m_folders.h"
#include "foundation/m_registry.h"
#include "foundation/m_sys.h"
#include "foundation/m_uac_helpers.h"

const char kLogSettingsKey[] = "Software\\Norvane Networks\\ZirivoDerazu\\Logging";
const char kLogFileName[] = "logterminal.txt";
const char kLogMutexBaseName[] = "Norvane_Networks_Log_File_Mutex";

namespace {

constexpr char kWatchedKey[] = "SOFTWARE\\Norvane Networks\\ZirivoDerazu\\Logging";
constexpr char kEqualsLine[] = " =====================================\n";
constexpr DWORD kLineMutexTimeoutMs = 1000;
constexpr DWORD kCloseMutexTimeoutMs = 3000;
constexpr DWORD kRotationCheckEvery = 50;
constexpr DWORD kUnsetValue = 0xFFFFFFFF;

// The error to report for a failed step: the system's, or a generic one
// when the system left none (a failure must never read as success).
DWORD LastErrorOr(DWORD fallback) {
  DWORD error = GetLastError();
  return error != 0 ? error : fallback;
}

// Copies the log to its ".bak" companion, replacing an older copy. The log
// stays open in other processes, so it is read with full sharing.
void CopyToBackup(const UString& path) {
  kit::UniqueFile source(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!source) return;
  const UString backupPath = path + ".bak";
  kit::UniqueFile backup(CreateFileA(backupPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!backup) return;
  char chunk[64 * 1024];
  DWORD read = 0;
  while (ReadFile(source.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) {
    DWORD written = 0;
    if (!WriteFile(backup.get(), chunk, read, &written, nullptr) || written != read) return;
  }
}

}  // namespace

int ReadConfiguredLogLevel() {
  static const struct {
    HKEY root;
    const char* key;
    const char* value;
  } kPlaces[] = {
      {HKEY_CURRENT_USER, kLogSettingsKey, "LogLevel"},
      {HKEY_LOCAL_MACHINE, kLogSettingsKey, "LogLevel"},
      {HKEY_CURRENT_USER, "Software\\Norvane Networks\\Gatehold", "DebugLevel"},
      {HKEY_CURRENT_USER, "Software\\Tessary\\Gatehold", "DebugLevel"},
  };
  for (const auto& place : kPlaces) {
    DWORD level = GetRegistryAsDWORDA(place.root, place.key, place.value, kUnsetValue, 0);
    if (level != kUnsetValue) return static_cast<int>(level);
  }
  return kDefaultLogLevel;
}

DWORD ReadConfiguredMaxLogFileSize() {
  return GetRegistryAsDWORDA(HKEY_CURRENT_USER, kLogSettingsKey, "MaxLogFileSize", kDefaultMaxLogFileSize, 0);
}

// ---------------------------------------------------------------------------

UFileErrorLogBase::UFileErrorLogBase() : m_dwProcessId(GetCurrentProcessId()) {}

void UFileErrorLogBase::SetParameter(const char* name, const char* value) {
  if (name && value && std::strcmp(name, "module_name") == 0 && m_strModuleName != value) m_strModuleName = value;
}

UString UFileErrorLogBase::LinePrefix() const {
  SYSTEMTIME now;
  GetSystemTime(&now);
  const LogLineTime time = {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
  return FormatLogLinePrefix(time, m_dwProcessId, GetCurrentThreadId(), m_strModuleName.c_str());
}

// ---------------------------------------------------------------------------

UFileErrorLogEx::UFileErrorLogEx() {
  const UString mutexName = UString::Format("%s_%lu", kLogMutexBaseName,
                                            static_cast<unsigned long>(uGetProcessIntegrityLevel(GetCurrentProcess())));
  m_hMutex.reset(CreateMutexA(nullptr, FALSE, mutexName.c_str()));

  m_hAdvapi.reset(LoadLibraryA("advapi32.dll"));
  if (m_hAdvapi)
    m_pfnNotify = reinterpret_cast<NotifyFunction>(
        reinterpret_cast<void*>(GetProcAddress(m_hAdvapi.get(), "RegNotifyChangeKeyValue")));
  if (m_pfnNotify)
    m_hChangeEvent.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  else
    m_hAdvapi.reset();

  try {
    UString folder = SGetTempPath();
    if (folder.empty() || folder[folder.length() - 1] != '\\') folder += '\\';
    m_strFilePath = folder + kLogFileName;
  } catch (...) {
    // No temporary folder: the log stays closed and every write returns -1.
  }

  if (!g_pErrorLog) g_pErrorLog = this;
}

UFileErrorLogEx::~UFileErrorLogEx() {
  if (g_pErrorLog == this) g_pErrorLog = nullptr;
  Close();
  // Close leaves the stream open when the mutex stays busy; the object owns
  // it all the same.
  if (std::FILE* f = m_pFile.exchange(nullptr)) std::fclose(f);
}

DWORD UFileErrorLogEx::TakeMutex(DWORD timeoutMs) const {
  switch (WaitForSingleObject(m_hMutex.get(), timeoutMs)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
      return 0;
    case WAIT_TIMEOUT:
      return WAIT_TIMEOUT;
    default:
      return LastErrorOr(ERROR_INVALID_HANDLE);
  }
}

int UFileErrorLogEx::Open(const char*) {
  if (m_pFile.load()) return 0;
  if (DWORD error = TakeMutex(kLineMutexTimeoutMs)) return static_cast<int>(error);
  m_dwOpeningThread = GetCurrentThreadId();
  const DWORD result = OpenLocked();
  m_dwOpeningThread = 0;
  ReleaseMutexLock();
  return static_cast<int>(result);
}

std::FILE* UFileErrorLogEx::OpenStream(bool truncate, bool* headerDue) {
  if (m_strFilePath.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  const int flags = _O_WRONLY | _O_APPEND | _O_CREAT | _O_TEXT | (truncate ? _O_TRUNC : 0);
  int fd = _sopen(m_strFilePath.c_str(), flags, _SH_DENYNO, _S_IREAD | _S_IWRITE);
  if (fd == -1) return nullptr;
  const long long size = _filelengthi64(fd);
  *headerDue = size == 0;
  if (size > static_cast<long long>(m_dwMaxFileSize)) {
    CopyToBackup(m_strFilePath);
    *headerDue = _chsize(fd, 0) == 0;
  }
  std::FILE* stream = _fdopen(fd, "at");
  if (!stream) {
    _close(fd);
    return nullptr;
  }
  // Unbuffered: a line is in the file when WriteLine returns.
  std::setvbuf(stream, nullptr, _IONBF, 0);
  if (*headerDue) {
    std::fputs(SGetSystemReport().c_str(), stream);
    std::fputs("\n", stream);
  }
  return stream;
}

DWORD UFileErrorLogEx::OpenLocked() {
  SetLevel(ReadConfiguredLogLevel());
  m_dwMaxFileSize = ReadConfiguredMaxLogFileSize();

  bool headerDue = false;
  SetLastError(0);
  std::FILE* stream = OpenStream(false, &headerDue);
  const DWORD openError = stream ? 0 : LastErrorOr(ERROR_OPEN_FAILED);
  m_pFile = stream;
  if (stream) WriteHeaderBlock();
  WatchSettings();
  return openError;
}

void UFileErrorLogEx::WriteHeaderBlock() {
  WriteNotice(" \n");
  WriteNotice(kEqualsLine);
  WriteAlways(UString::Format(" Location: %s\n", SGetModuleFileName(nullptr).c_str()).c_str());
  WriteAlways(UString::Format(" Locale: %s\n", SGetLocaleName().c_str()).c_str());
  WriteNotice(kEqualsLine);
  WriteNotice(" \n");
  WriteLog(kLogTrace, "current log level = %d\n", GetLevel());
}

void UFileErrorLogEx::WatchSettings() {
  if (!m_hChangeEvent) return;
  if (!m_hWatchedKey &&
      RegOpenKeyExA(HKEY_CURRENT_USER, kWatchedKey, 0, KEY_NOTIFY | KEY_QUERY_VALUE, m_hWatchedKey.put()) !=
          ERROR_SUCCESS)
    return;
  m_pfnNotify(m_hWatchedKey.get(), TRUE, REG_NOTIFY_CHANGE_LAST_SET, m_hChangeEvent.get(), TRUE);
}

int UFileErrorLogEx::Close() {
  if (TakeMutex(kCloseMutexTimeoutMs) != 0) return 0;
  if (std::FILE* f = m_pFile.exchange(nullptr)) std::fclose(f);
  ReleaseMutexLock();
  return 0;
}

void UFileErrorLogEx::ReopenNow() {
  Close();
  Open(m_strModuleName.c_str());
}

bool UFileErrorLogEx::FileExceedsLimit() const {
  std::FILE* f = m_pFile.load();
  return f && _filelengthi64(_fileno(f)) > static_cast<long long>(m_dwMaxFileSize);
}

int UFileErrorLogEx::WriteLine(const char* text) {
  if (!m_pFile.load() || !text) return -1;
  const bool insideOpen = m_dwOpeningThread.load() == GetCurrentThreadId();

  // A changed setting: reopen, which reads the settings again and writes a
  // fresh header block before this line.
  if (!insideOpen && m_hChangeEvent && m_hWatchedKey && WaitForSingleObject(m_hChangeEvent.get(), 0) == WAIT_OBJECT_0)
    ReopenNow();

  if (TakeMutex(kLineMutexTimeoutMs) != 0) return 0;
  std::FILE* f = m_pFile.load();
  if (!f) {
    ReleaseMutexLock();
    return -1;
  }
  int result = static_cast<int>(std::strlen(text));
  const UString line = LinePrefix() + text;
  if (std::fputs(line.c_str(), f) < 0) result = 0;  // the line is lost
  ++m_dwWriteCount;
  // The size on disk is looked up only every 50th line.
  if (!insideOpen && m_dwWriteCount % kRotationCheckEvery == 0 && FileExceedsLimit()) ReopenNow();
  ReleaseMutexLock();
  return result;
}

template <class Write>
int UFileErrorLogEx::WriteUnderMutex(Write&& write) {
  if (TakeMutex(kLineMutexTimeoutMs) != 0) return 0;
  std::FILE* f = m_pFile.load();
  int result = f ? write(f) : -1;
  ReleaseMutexLock();
  return result;
}

int UFileErrorLogEx::WriteData(const char* title, const void* data, unsigned length) {
  if (GetLevel() < kLogErrors) return 0;
  return WriteUnderMutex([&](std::FILE* f) {
    std::fputs((LinePrefix() + "4,,,, ").c_str(), f);
    if (title && data) {
      std::fprintf(f, "%s\n\t", title);
      std::fwrite(data, 1, length, f);
      std::fputs("\n", f);
    }
    return title ? static_cast<int>(std::strlen(title)) : 0;
  });
}

int UFileErrorLogEx::WriteRaw(const void* data, unsigned length) {
  if (GetLevel() <= 0) return 0;
  return WriteUnderMutex([&](std::FILE* f) {
    std::fputs((LinePrefix() + "\n\t").c_str(), f);
    if (data) std::fwrite(data, 1, length, f);
    std::fputs("\n", f);
    return static_cast<int>(length);
  });
}

int UFileErrorLogEx::Clear() {
  if (DWORD error = TakeMutex(kLineMutexTimeoutMs)) return static_cast<int>(error);
  DWORD result = 0;
  if (std::FILE* old = m_pFile.exchange(nullptr)) {
    std::fclose(old);
    bool headerDue = false;
    SetLastError(0);
    std::FILE* stream = OpenStream(true, &headerDue);
    if (!stream) result = LastErrorOr(ERROR_OPEN_FAILED);
    m_pFile = stream;
  }
  ReleaseMutexLock();
  return static_cast<int>(result);
}

// ---------------------------------------------------------------------------

int UClientFileErrorLog::Open(const char* moduleName) {
  if (m_strModuleName.empty() && moduleName) m_strModuleName = moduleName;
  return UFileErrorLogEx::Open(moduleName);
}
