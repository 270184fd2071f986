// The log file shared by the suite's programs: "logterminal.txt" in the
// user's temporary folder, one named mutex per integrity level guarding it,
// level and size limit from the registry (picked up again when they change),
// rotation to ".bak" when the file outgrows its limit.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "foundation/UClasses.h"
#include "foundation/errorlog.h"
#include "foundation/handles.h"

// Where the log reads its settings (under HKEY_CURRENT_USER, then
// HKEY_LOCAL_MACHINE for the level).
extern const char kLogSettingsKey[];           // "Software\\Norvane Networks\\ZirivoDerazu\\Logging"
extern const char kLogFileName[];              // "logterminal.txt"
extern const char kLogMutexBaseName[];         // "Norvane_Networks_Log_File_Mutex"
constexpr DWORD kDefaultMaxLogFileSize = 0x500000;
constexpr int kDefaultLogLevel = 63;

// The level configured in the registry: "LogLevel" under HKCU, then HKLM,
// then the two older "DebugLevel" places under HKCU; 63 when none is set.
// A missing value or 0xFFFFFFFF passes on to the next place. An `elevated`
// process (high or system integrity) reads HKLM alone: what the user's
// unelevated programs can write does not steer it.
int ReadConfiguredLogLevel(bool elevated);
// "MaxLogFileSize" under HKCU (HKLM when `elevated`), 0x500000 when not set.
DWORD ReadConfiguredMaxLogFileSize(bool elevated);

// The module name, the process id and the size limit, and the line prefix
// built from them.
class UFileErrorLogBase : public UObject, public IUErrorLog {
 public:
  UFileErrorLogBase();
  void SetParameter(const char* name, const char* value) override;
  const UString& ModuleName() const { return m_strModuleName; }
  DWORD MaxFileSize() const { return m_dwMaxFileSize; }

 protected:
  // The prefix of a line written now by the calling thread.
  UString LinePrefix() const;

  UString m_strModuleName;
  DWORD m_dwProcessId;
  DWORD m_dwMaxFileSize = kDefaultMaxLogFileSize;
};

// The file, the cross-process mutex and the registry watch. Every line is
// appended with one write of its own, so writers of any integrity level (each
// level has its own mutex) never cut or overwrite each other's lines; a lock
// on the file that every writer takes keeps a rotation by one of them from
// losing the lines of another. Becomes
// g_pErrorLog when built (unless another log already is), and stops being it
// first thing when destroyed.
class UFileErrorLogEx : public UFileErrorLogBase {
 public:
  UFileErrorLogEx();
  ~UFileErrorLogEx() override;
  UFileErrorLogEx(const UFileErrorLogEx&) = delete;
  UFileErrorLogEx& operator=(const UFileErrorLogEx&) = delete;

  int Open(const char* moduleName) override;
  int Close() override;
  int WriteData(const char* title, const void* data, unsigned length) override;
  int WriteRaw(const void* data, unsigned length) override;
  int WriteLine(const char* text) override;
  UString GetFileName() const override { return m_strFilePath; }

  // Empties the file and writes the system report at its top.
  virtual int Clear();

  // Lines written through WriteLine since the object was built.
  DWORD WriteCount() const { return m_dwWriteCount; }
  bool IsOpen() const { return m_bOpen.load(); }

 private:
  friend class LogFileLock;
  // Runs write(bytes) under the mutex and appends the bytes: 0 when the
  // mutex stays busy, -1 when the file is closed.
  template <class Write>
  int WriteUnderMutex(Write&& write);
  // Opens the file and writes the headers; the mutex is held.
  DWORD OpenLocked();
  // Opens the file for appending, never through a link: a link, a file with
  // a second name or one of another account is replaced by a fresh file (and
  // the first lines written say why). Rotates it first when it is over its limit
  // (or empties it for `truncate`) and starts a new file with the system
  // report. The mutex is held.
  DWORD OpenFile(bool truncate);
  // One write of the bytes at the end of the file, line breaks as CR LF,
  // under the file lock; the mutex is held.
  bool Append(const std::string& bytes);
  bool FileExceedsLimit() const;
  void WatchSettings();
  void WriteHeaderBlock();
  void ReopenNow();

  using NotifyFunction = LONG(WINAPI*)(HKEY, BOOL, DWORD, HANDLE, BOOL);
  NotifyFunction m_pfnNotify = nullptr;
  kit::UniqueModule m_hAdvapi;
  kit::UniqueHandle m_hMutex;
  UString m_strFilePath;
  UString m_strFolder;
  // High or system integrity: settings from HKLM only.
  bool m_bElevated = false;
  // Why the file found under the log's name was replaced, until logged.
  UString m_strReplacedBecause;
  kit::UniqueKey m_hWatchedKey;
  kit::UniqueHandle m_hChangeEvent;
  // The open file (changed under the mutex) and whether it is open, for the
  // quick test without the mutex.
  kit::UniqueFile m_hFile;
  std::atomic<bool> m_bOpen{false};
  // The handle through which this object takes the file lock, and how often
  // its owner thread has taken it (both under the mutex).
  kit::UniqueFile m_hLockFile;
  int m_iLockDepth = 0;
  DWORD m_dwWriteCount = 0;
  // A 50th line was written while the size could not be looked up (inside
  // Open): look it up at the next line.
  bool m_bSizeCheckDue = false;
  // False once the system refused a notification that outlives its thread.
  bool m_bThreadAgnosticNotify = true;
  // The thread inside Open: its own header lines must not reopen the log.
  std::atomic<DWORD> m_dwOpeningThread{0};
};

// The log object of a program: Open also records the module name.
class UClientFileErrorLog : public UFileErrorLogEx {
 public:
  int Open(const char* moduleName) override;
};
