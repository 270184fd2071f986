// The update engine: one install request at a time, run on a worker thread,
// reported through a callback.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "cabinstaller/UKitLoader.h"
#include "engine/codebase.h"
#include "engine/package_acquisition.h"
#include "foundation/UClasses.h"
#include "foundation/handles.h"

// The descriptor text turned into security attributes; the descriptor is
// freed by the caller with LocalFree. 0, or the error as an HRESULT.
HRESULT GetSecurityAttributes(const char* sddl, SECURITY_ATTRIBUTES* attributes, PSECURITY_DESCRIPTOR* descriptor);

typedef void (*InstallCallback)(std::int32_t result, const char* classId, std::uintptr_t callerValue);

class USmartUpdateEx : public UObject {
 public:
  USmartUpdateEx();
  ~USmartUpdateEx() override;
  USmartUpdateEx(const USmartUpdateEx&) = delete;
  USmartUpdateEx& operator=(const USmartUpdateEx&) = delete;

  // Returns 1223 once a stop has been requested, else 0.
  virtual int CheckStopRequest(int unused);

  // Starts a request and returns at once: 0, 32 (a request is running) or 8
  // (no worker thread).
  int InstallControl(const char* classId, const char* codebase, const char* text3, const char* text4,
                     InstallCallback callback, std::uintptr_t callerValue);

  // Requests a stop; with `wait`, waits for the worker (then terminates it).
  void Stop(BOOL wait);

  // Codebase and URL parsing (engine/codebase.h).
  static int ParseUpdateInfo(const char* codebase, UpdateInfo* info) { return ::ParseUpdateInfo(codebase, info); }
  static bool ParseURL(const char* url, int* protocol, UString* host, UString* path, int* port,
                       bool allowOtherSchemes) {
    return ::ParseURL(url, protocol, host, path, port, allowOtherSchemes);
  }

  // Whether this user may install for the whole machine: write into the
  // machine-wide folder of downloaded controls and create keys under the
  // machine's software and class registrations.
  static bool CheckInstallActiveXRigths();

  // ---- The update decision (engine/update_decision.cpp and its helpers) ----
  // Whether the request's package is to be installed; stores the decision
  // value (0 nothing to do, 1 update, 2 install).
  bool isProceedWithUpdate();
  // Where the class is registered: bit 1 in the machine hive, bit 2 in the
  // user hive.
  static DWORD ReadInstalledScopeMask(const char* classId, HKEY machineHive, HKEY userHive);

  // ---- Package acquisition (engine/package_acquisition.cpp) ----
  // Copies or downloads the codebase's package into the engine's private
  // temporary folder, fills the package record and returns the file's full
  // path; raises on failure.
  UString DownloadPackage(const char* packagePath, const char* codebase, GetCABInfo* request);
  // Streams the request's url into its file path: 0, or the code of what
  // failed (the thread's last error holds the last system error).
  int LoadCAB(GetCABInfo* request);

  // ---- Unique temporary folders (engine/unique_temp_folder.cpp) ----
  // Makes "<base>\Norvane_TMP_<8 random numbers><suffix>", with a restrictive
  // descriptor when this process runs at high or system integrity. 0 (result
  // holds the folder), or a negative status when no random number or no
  // descriptor could be had; raises when the folder cannot be created.
  static int CreateUniqueTempFolder(const char* base, UString* result, const char* suffix);

  // Settings written by the caller before the first request.
  bool m_bSilent = false;
  HWND m_hWnd = nullptr;
  UString m_strUserAgent;
  UString m_strServerName;
  int m_iPolicy = 0;
  bool m_bCheckCodebase = true;

  UKitLoader m_cKitLoader;

 protected:
  // The body of one request, run on the worker thread; its return value is
  // the request's result.
  virtual std::int32_t RunObjectProc();

  // How long Stop(TRUE) and the destructor wait before terminating a worker.
  DWORD m_dwStopWaitMs = 120000;
  DWORD m_dwDestroyWaitMs = 5000;
  // How long a package transfer waits for the next piece of data.
  DWORD m_dwTransferReceiveTimeoutMs = 300000;

  std::atomic<bool> m_bRebootRequired{false};
  std::atomic<std::int32_t> m_iRecordedResult{0};
  std::atomic<std::int32_t> m_iDecision{0};
  std::atomic<bool> m_bRequestToStop{false};

  // The request.
  InstallCallback m_pCallback = nullptr;
  std::uintptr_t m_uCallerValue = 0;
  UString m_strClassId;
  UString m_strCodebase;
  UString m_strText3;
  UString m_strText4;
  UString m_strTempFolder;
  // The package record of the current request, filled by the acquisition.
  GetCABInfo m_cCabInfo;

 private:
  static unsigned __stdcall RunClassProc(void* arg);
  std::int32_t RunRequest();
  void CleanTempFolder();
  void ReleaseWorkerHandle();

  // The worker's own handle: set by InstallControl, taken out and closed by
  // the worker as its last act (or by whoever terminates it).
  std::atomic<HANDLE> m_hThread{nullptr};
  // A duplicate owned by the caller's side (InstallControl, Stop, destructor)
  // so that a wait stays valid while the worker releases its own handle.
  kit::UniqueHandle m_hWaitHandle;
};
