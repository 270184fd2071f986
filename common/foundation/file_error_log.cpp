#include "foundation/file_error_log.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <optional>

#include "foundation/m_folders.h"
#include "foundation/m_registry.h"
#include "foundation/m_sync.h"
#include "foundation/m_sys.h"
#include "foundation/m_uac_helpers.h"
#include "foundation/log_file_rules.h"
#include "foundation/nofollow_delete.h"
#include "platform/platform_facts.h"
#include "kit_build_identity.h"
#include "delayload/system_library.h"

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
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A notification that the system keeps when the thread that asked for it
// ends (Windows 8 and later).
constexpr DWORD kNotifyThreadAgnostic = 0x10000000;
// The byte that writers lock: far beyond any end the log reaches, so the
// lock never stands in the way of reading or appending.
constexpr DWORD kLockOffsetHigh = 0x40000000;

// The error to report for a failed step: the system's, or a generic one
// when the system left none (a failure must never read as success).
DWORD LastErrorOr(DWORD fallback) {
  DWORD error = GetLastError();
  return error != 0 ? error : fallback;
}

// The log is never opened through a link: its own handle and every other
// one on it come from this open, or from the handle itself.
constexpr DWORD kLogAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;

kit::UniqueFile OpenLogName(const UString& path, DWORD disposition) {
  return kit::UniqueFile(CreateFileA(path.c_str(), kLogAccess, kShareAll, nullptr, disposition,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// Another handle on the very file `file` names, not on whatever its path
// names now.
kit::UniqueFile ReopenLog(HANDLE file, DWORD access) {
  return kit::UniqueFile(ReOpenFile(file, access, kShareAll, FILE_FLAG_OPEN_REPARSE_POINT));
}

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!sid || !ConvertSidToStringSidA(sid, &text)) return std::string();
  std::string result(text);
  LocalFree(text);
  return result;
}

std::string ProcessUserSid() {
  std::string user;
  return uReadProcessUser(GetCurrentProcess(), &user) ? user : std::string();
}

std::string OwnerSid(HANDLE file) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS)
    return std::string();
  std::string text = SidText(owner);
  LocalFree(descriptor);
  return text;
}

// Whether the file the log's name led to may be written, and whether it is
// safe to take its name away through the handle (never when the open went
// through a link: that would take the target).
LogFileRefusal CheckLogFile(HANDLE file, const UString& path, bool* disposable) {
  kit::NoFollowInfo info;
  LogFileFacts facts;
  const bool read = kit::ReadNoFollowInfo(file, &info);
  const bool followed = read && kit::FollowedALink(GetFileAttributesA(path.c_str()), info);
  facts.link = !read || info.IsLink() || followed || info.IsFolder();
  facts.links = info.links;
  facts.owner = OwnerSid(file);
  facts.user = ProcessUserSid();
  *disposable = read && !followed && !(info.IsFolder() && !info.IsLink());
  return RefuseLogFile(facts);
}

// Takes the name away from the file the handle names.
bool DisposeName(HANDLE file) {
  kit::UniqueFile deleter = ReopenLog(file, DELETE);
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  return deleter && SetFileInformationByHandle(deleter.get(), FileDispositionInfo, &disposition, sizeof disposition);
}

// Copies the log, read through its own handle, to a new ".bak" companion;
// true only when every byte reached the copy. An older copy goes first, as a
// link if it is one: the copy is always a new file of this process's own.
bool CopyToBackup(HANDLE log, const UString& path) {
  kit::UniqueFile source = ReopenLog(log, GENERIC_READ);
  if (!source) return false;
  const UString backupPath = path + ".bak";
  const DWORD removed = kit::DeleteNoFollow(backupPath.c_str());
  if (removed != 0 && removed != ERROR_FILE_NOT_FOUND && removed != ERROR_PATH_NOT_FOUND) return false;
  kit::UniqueFile backup(CreateFileA(backupPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!backup) return false;
  char chunk[64 * 1024];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(source.get(), chunk, sizeof chunk, &read, nullptr)) return false;
    if (read == 0) return true;
    DWORD written = 0;
    if (!WriteFile(backup.get(), chunk, read, &written, nullptr) || written != read) return false;
  }
}

// Empties the log through a handle of its own on the same file: ours may
// only append.
bool TruncateLog(HANDLE log) {
  kit::UniqueFile file = ReopenLog(log, GENERIC_WRITE);
  return file && SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(file.get());
}

ULONGLONG FileSize(HANDLE file) {
  LARGE_INTEGER size = {};
  return GetFileSizeEx(file, &size) ? static_cast<ULONGLONG>(size.QuadPart) : 0;
}

}  // namespace

int ReadConfiguredLogLevel(bool elevated) {
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
    if (elevated && place.root != HKEY_LOCAL_MACHINE) continue;
    DWORD level = GetRegistryAsDWORDA(place.root, place.key, place.value, kUnsetValue, 0);
    if (level != kUnsetValue) return static_cast<int>(level);
  }
  return kDefaultLogLevel;
}

DWORD ReadConfiguredMaxLogFileSize(bool elevated) {
  return GetRegistryAsDWORDA(elevated ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, kLogSettingsKey, "MaxLogFileSize",
                             kDefaultMaxLogFileSize, 0);
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

// The file lock of one log object, held for its lifetime. Every writer of
// the file takes it, whatever its integrity level, for each line and for a
// rotation; the owner of the mutex may take it again. A writer that dies
// holding it releases it with its handles.
class LogFileLock {
 public:
  explicit LogFileLock(UFileErrorLogEx& log) : m_log(log) { m_bLocked = Take(); }
  ~LogFileLock() {
    if (!m_bLocked || --m_log.m_iLockDepth > 0) return;
    OVERLAPPED at = {};
    at.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(m_log.m_hLockFile.get(), 0, 1, 0, &at);
  }
  LogFileLock(const LogFileLock&) = delete;
  LogFileLock& operator=(const LogFileLock&) = delete;
  // False only when another writer kept the lock beyond the wait; where the
  // file cannot be locked at all the writer goes on without it.
  bool held() const { return !m_bBusy; }

 private:
  bool Take() {
    if (m_log.m_iLockDepth > 0) {
      ++m_log.m_iLockDepth;
      return true;
    }
    if (!m_log.m_hLockFile && m_log.m_hFile) m_log.m_hLockFile = ReopenLog(m_log.m_hFile.get(), GENERIC_READ);
    if (!m_log.m_hLockFile) return false;
    // Polled: a wait on the lock itself could not give up after a time.
    const DWORD start = GetTickCount();
    for (DWORD attempt = 0;; ++attempt) {
      OVERLAPPED at = {};
      at.OffsetHigh = kLockOffsetHigh;
      if (LockFileEx(m_log.m_hLockFile.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        m_log.m_iLockDepth = 1;
        return true;
      }
      if (GetLastError() != ERROR_LOCK_VIOLATION) return false;
      if (GetTickCount() - start >= kLineMutexTimeoutMs) {
        m_bBusy = true;
        return false;
      }
      Sleep(attempt < 20 ? 0 : 1);
    }
  }

  UFileErrorLogEx& m_log;
  bool m_bLocked = false;
  bool m_bBusy = false;
};

UFileErrorLogEx::UFileErrorLogEx() {
  const DWORD integrity = uGetProcessIntegrityLevel(GetCurrentProcess());
  m_bElevated = integrity >= kIntegrityHigh;
  const UString mutexName = UString::Format("%s_%lu", kLogMutexBaseName, static_cast<unsigned long>(integrity));
  m_hMutex.reset(CreateMutexA(nullptr, FALSE, mutexName.c_str()));

  m_hAdvapi.reset(kit::LoadSystemLibrary("advapi32.dll"));
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
    m_strFolder = folder;
  } catch (...) {
    // No temporary folder: the log stays closed and every write returns -1.
  }

  if (!g_pErrorLog) g_pErrorLog = this;
}

UFileErrorLogEx::~UFileErrorLogEx() {
  if (g_pErrorLog == this) g_pErrorLog = nullptr;
  // Close leaves the file open when the mutex stays busy; the handles close
  // with the object all the same.
  Close();
}

int UFileErrorLogEx::Open(const char*) {
  if (m_bOpen.load()) return 0;
  UMutexOwner owner(m_hMutex.get(), kLineMutexTimeoutMs);
  if (!owner.owned()) return static_cast<int>(owner.error());
  if (m_hFile) return 0;  // another thread opened it meanwhile
  m_dwOpeningThread = GetCurrentThreadId();
  auto notOpening = kit::MakeScopeGuard([this] { m_dwOpeningThread = 0; });
  return static_cast<int>(OpenLocked());
}

bool UFileErrorLogEx::Append(const std::string& bytes) {
  std::string stored;
  AppendLogFileBytes(stored, bytes.data(), bytes.size());
  LogFileLock lock(*this);
  if (!lock.held()) return false;
  DWORD written = 0;
  return WriteFile(m_hFile.get(), stored.data(), static_cast<DWORD>(stored.size()), &written, nullptr) &&
         written == stored.size();
}

DWORD UFileErrorLogEx::OpenFile(bool truncate) {
  if (m_strFilePath.empty()) return ERROR_PATH_NOT_FOUND;
  // Appending at the handle level: every write lands at the end of the file
  // as it is then, whoever else wrote or emptied it meanwhile.
  kit::UniqueFile file = OpenLogName(m_strFilePath, OPEN_ALWAYS);
  if (!file) return LastErrorOr(ERROR_OPEN_FAILED);
  bool disposable = false;
  const LogFileRefusal refusal = CheckLogFile(file.get(), m_strFilePath, &disposable);
  if (refusal != LogFileRefusal::kNone) {
    // A fresh file under the shared name, so the suite's other programs go
    // on writing into the same log; one of this process's own beside it when
    // the name cannot be taken back.
    if (file && disposable && DisposeName(file.get())) {
      file.reset();
      file = OpenLogName(m_strFilePath, CREATE_NEW);
    } else {
      file.reset();
    }
    if (!file) {
      m_strFilePath = m_strFolder + UString::Format("logterminal_%lu.txt", static_cast<unsigned long>(m_dwProcessId));
      file = OpenLogName(m_strFilePath, CREATE_NEW);
    }
    if (!file) return LastErrorOr(ERROR_OPEN_FAILED);
    if (m_iLockDepth == 0) m_hLockFile.reset();
    m_strReplacedBecause = LogFileRefusalText(refusal);
  }
  m_hFile = std::move(file);
  // The size, the copy and the truncation form one step for every writer.
  LogFileLock lock(*this);
  const ULONGLONG size = FileSize(m_hFile.get());
  bool headerDue = size == 0;
  // Rotate only after a complete copy; otherwise keep the log and try again
  // at a later size check.
  if (lock.held() && (truncate || (size > m_dwMaxFileSize && CopyToBackup(m_hFile.get(), m_strFilePath))))
    headerDue = TruncateLog(m_hFile.get());
  if (headerDue) {
    try {
      Append(SGetSystemReport().str() + "\n");
    } catch (...) {
      // The log goes on without its report.
    }
  }
  return 0;
}

DWORD UFileErrorLogEx::OpenLocked() {
  SetLevel(ReadConfiguredLogLevel(m_bElevated));
  m_dwMaxFileSize = ReadConfiguredMaxLogFileSize(m_bElevated);

  const DWORD openError = OpenFile(false);
  m_bOpen = m_hFile.valid();
  if (m_hFile) {
    LogFileLock lock(*this);  // the header block stays together
    try {
      WriteHeaderBlock();
      if (!m_strReplacedBecause.empty()) {
        LogWriteRecord(*this, kLogErrors, __FILE__, __LINE__, "UFileErrorLogEx::Open()",
                       UMessage::Format("%1, %2", "a fresh log file was started", m_strReplacedBecause));
        m_strReplacedBecause = UString();
      }
    } catch (...) {
      // A header that cannot be built leaves the log usable.
    }
  }
  WatchSettings();
  return openError;
}

void UFileErrorLogEx::WriteHeaderBlock() {
  WriteNotice(" \n");
  WriteNotice(kEqualsLine);
  WriteAlways(UString::Format(" Location: %s\n", SGetModuleFileName(nullptr).c_str()).c_str());
  WriteAlways(UString::Format(" Locale: %s\n", SGetLocaleName().c_str()).c_str());
#if KITLOADER_DEVELOPMENT_SIGNERS
  // Whoever reads the log sees that this build trusts the development signers.
  WriteAlways(" " KITLOADER_BUILD_NOTICE "\n");
#endif
  WriteNotice(kEqualsLine);
  WriteNotice(" \n");
  WriteLog(kLogTrace, "current log level = %d\n", GetLevel());
}

void UFileErrorLogEx::WatchSettings() {
  if (!m_hChangeEvent) return;
  if (!m_hWatchedKey &&
      RegOpenKeyExA(m_bElevated ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, kWatchedKey, 0, KEY_NOTIFY | KEY_QUERY_VALUE,
                    m_hWatchedKey.put()) != ERROR_SUCCESS)
    return;
  // Any thread may reopen the log, an engine worker among them: a
  // notification bound to that thread would end with it and signal a change
  // that never happened.
  // Systems before Windows 8 refuse the flag as an invalid parameter.
  if (m_bThreadAgnosticNotify &&
      m_pfnNotify(m_hWatchedKey.get(), TRUE, REG_NOTIFY_CHANGE_LAST_SET | kNotifyThreadAgnostic, m_hChangeEvent.get(),
                  TRUE) != ERROR_INVALID_PARAMETER)
    return;
  m_bThreadAgnosticNotify = false;
  m_pfnNotify(m_hWatchedKey.get(), TRUE, REG_NOTIFY_CHANGE_LAST_SET, m_hChangeEvent.get(), TRUE);
}

int UFileErrorLogEx::Close() {
  UMutexOwner owner(m_hMutex.get(), kCloseMutexTimeoutMs);
  if (!owner.owned()) return 0;
  m_bOpen = false;
  m_hFile.reset();
  if (m_iLockDepth == 0) m_hLockFile.reset();
  return 0;
}

void UFileErrorLogEx::ReopenNow() {
  Close();
  Open(m_strModuleName.c_str());
}

bool UFileErrorLogEx::FileExceedsLimit() const {
  return m_hFile && FileSize(m_hFile.get()) > m_dwMaxFileSize;
}

int UFileErrorLogEx::WriteLine(const char* text) {
  if (!m_bOpen.load() || !text) return -1;
  const bool insideOpen = m_dwOpeningThread.load() == GetCurrentThreadId();

  // A changed setting: reopen, which reads the settings again and writes a
  // fresh header block before this line. One wait serves both the change
  // test and the mutex: the change event comes first, so a change made
  // before this line is always seen, and the mutex is taken in the same
  // call otherwise (each wait is a trip through the system).
  bool taken = false;
  if (!insideOpen && m_hChangeEvent && m_hWatchedKey) {
    HANDLE both[2] = {m_hChangeEvent.get(), m_hMutex.get()};
    const DWORD wait = WaitForMultipleObjects(2, both, FALSE, kLineMutexTimeoutMs);
    if (wait == WAIT_TIMEOUT) return 0;
    if (wait == WAIT_OBJECT_0) ReopenNow();
    taken = wait == WAIT_OBJECT_0 + 1 || wait == WAIT_ABANDONED_0 + 1;
  }
  std::optional<UMutexOwner> owner;
  if (taken)
    owner.emplace(m_hMutex.get(), UMutexOwner::AlreadyOwned{});
  else
    owner.emplace(m_hMutex.get(), kLineMutexTimeoutMs);
  if (!owner->owned()) return 0;
  if (!m_hFile) return -1;
  const int result = Append((LinePrefix() + text).str()) ? static_cast<int>(std::strlen(text)) : 0;
  // The size on disk is looked up only every 50th line; a 50th line of a
  // header block has it looked up at the next line outside Open.
  if (++m_dwWriteCount % kRotationCheckEvery == 0) m_bSizeCheckDue = true;
  if (!insideOpen && m_bSizeCheckDue) {
    m_bSizeCheckDue = false;
    if (FileExceedsLimit()) ReopenNow();
  }
  return result;
}

template <class Write>
int UFileErrorLogEx::WriteUnderMutex(Write&& write) {
  UMutexOwner owner(m_hMutex.get(), kLineMutexTimeoutMs);
  if (!owner.owned()) return 0;
  if (!m_hFile) return -1;
  std::string bytes;
  const int result = write(bytes);
  Append(bytes);
  return result;
}

int UFileErrorLogEx::WriteData(const char* title, const void* data, unsigned length) {
  if (GetLevel() < kLogErrors) return 0;
  return WriteUnderMutex([&](std::string& bytes) {
    bytes = (LinePrefix() + "4,,,, ").str();
    if (title && data) {
      bytes += title;
      bytes += "\n\t";
      bytes.append(static_cast<const char*>(data), length);
      bytes += "\n";
    }
    return title ? static_cast<int>(std::strlen(title)) : 0;
  });
}

int UFileErrorLogEx::WriteRaw(const void* data, unsigned length) {
  if (GetLevel() <= 0) return 0;
  return WriteUnderMutex([&](std::string& bytes) {
    bytes = (LinePrefix() + "\n\t").str();
    if (data) bytes.append(static_cast<const char*>(data), length);
    bytes += "\n";
    return static_cast<int>(length);
  });
}

int UFileErrorLogEx::Clear() {
  UMutexOwner owner(m_hMutex.get(), kLineMutexTimeoutMs);
  if (!owner.owned()) return static_cast<int>(owner.error());
  if (!m_hFile) return 0;
  m_hFile.reset();
  const DWORD result = OpenFile(true);
  m_bOpen = m_hFile.valid();
  return static_cast<int>(result);
}

// ---------------------------------------------------------------------------

int UClientFileErrorLog::Open(const char* moduleName) {
  if (m_strModuleName.empty() && moduleName) m_strModuleName = moduleName;
  return UFileErrorLogEx::Open(moduleName);
}
