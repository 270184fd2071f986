// The update engine: one install request at a time, run on a worker thread,
// reported through a callback.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "cabinstaller/UKitLoader.h"
#include "components/component_catalogue.h"
#include "components/installed_components.h"
#include "engine/package_record.h"
#include "engine/route_decision.h"
#include "foundation/UClasses.h"
#include "foundation/handles.h"
#include "foundation/temp_folders.h"
#include "http/codebase.h"

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

  // The caller's own handle of the current (or last) worker thread, signalled
  // when it has ended; null before the first request. Borrowed: valid until
  // the next InstallControl or Stop on the caller's thread.
  HANDLE WorkerWaitHandle() const { return m_hWaitHandle.get(); }

  // The route that installed the last request's package (kRouteService,
  // kRouteLocalMachine, ...); 0 when nothing was installed.
  RouteSet InstalledRoute() const { return m_uInstalledRoute.load(); }

  // Codebase and URL parsing (http/codebase.h).
  static int ParseUpdateInfo(const char* codebase, UpdateInfo* info) { return ::ParseUpdateInfo(codebase, info); }
  static bool ParseURL(const char* url, int* protocol, UString* host, UString* path, int* port,
                       bool allowOtherSchemes) {
    return ::ParseURL(url, protocol, host, path, port, allowOtherSchemes);
  }

  // What the engine and the cabinet installer both ask about installed
  // components (components/installed_components.h).
  static bool CheckInstallActiveXRigths() { return ::CheckInstallActiveXRigths(); }
  static int needUpdate(const char* path, DWORD requestedHigh, DWORD requestedLow) {
    return ::needUpdate(path, requestedHigh, requestedLow);
  }
  static DWORD getVersion(const char* path, DWORD* high, DWORD* low) { return ::getVersion(path, high, low); }
  static UString ReadInstalledPath(UString& path, bool perMachine, const char* name, const char* hintFolder) {
    return ::ReadInstalledPath(path, perMachine, name, hintFolder);
  }
  static UString LookupCommonPath(UString& path, const char* fileName, const char* hintFolder) {
    return ::LookupCommonPath(path, fileName, hintFolder);
  }
  static bool CheckFileSignature(const char* path) { return ::CheckFileSignature(path); }
  static int AddToPreApprovedList(int scope, const char* classId) { return ::AddToPreApprovedList(scope, classId); }
  static bool checkAndAddToPreapprovedList(int scope, const char* classId) {
    return ::checkAndAddToPreapprovedList(scope, classId);
  }
  // The catalogue's display name of a class; empty when it has none.
  static UString GetComponentName(const char* classId) { return CatalogueComponentName(classId); }
  // Private temporary folders (foundation/temp_folders.h).
  static int CreateUniqueTempFolder(const char* base, UString* result, const char* suffix,
                                    TempFolderHold* hold = nullptr) {
    return ::CreateUniqueTempFolder(base, result, suffix, hold);
  }
  static void RemoveTempFolder(UString* folder, TempFolderHold* hold = nullptr) { ::RemoveTempFolder(folder, hold); }

  // ---- The update decision (engine/update_decision.cpp and its helpers) ----
  // Whether the request's package is to be installed; stores the decision
  // value (0 nothing to do, 1 update, 2 install). With the codebase check on,
  // raises UException for a codebase that is not an http or https URL.
  bool isProceedWithUpdate();
  // The decision for a component, after the registry switch that can stop
  // updates of installed client components.
  static int applyUpdateSwitch(const char* classId, const char* codebase);
  // The decision for a component: a CLSID in braces or "service:<name>".
  static int needUpdate(const char* classId, const char* codebase);
  // Where the class is registered: bit 1 in the machine hive, bit 2 in the
  // user hive.
  static DWORD ReadInstalledScopeMask(const char* classId, HKEY machineHive, HKEY userHive);

  // Registration checks (engine/registration_checks.cpp): 0 nothing
  // registered under the hive, 1 registered and intact, 2 broken.
  static int CheckCodeStoreDatabase(HKEY hive, const char* classId);
  static int CheckKnownClassID(HKEY hive, const char* classId);
  static int CheckClassID(HKEY hive, const char* classId);
  static int CheckTypeLib(HKEY hive, const char* typeLibId, const char* version);
  static UString HKEYToString(HKEY hive);

  // Set only in an engine that runs inside the Installer Service; the
  // codebase check is skipped there.
  bool m_bInService = false;

  // ---- Package acquisition (engine/package_acquisition.cpp) ----
  // Copies or downloads the codebase's package into the engine's private
  // temporary folder, fills the package record and returns the file's full
  // path; raises on failure.
  UString DownloadPackage(const char* packagePath, const char* codebase, GetCABInfo* request);
  // Streams the request's url into its file path: 0, or the code of what
  // failed (the thread's last error holds the last system error).
  int LoadCAB(GetCABInfo* request);

  // ---- The local install call (engine/local_install.cpp) ----
  // Installs a verified local cabinet through m_cKitLoader on the calling
  // thread. scopeFlags: 1 per machine, 2 per user. 0 or an error code.
  int InstallControl(const char* packagePath, int scopeFlags);

  // ---- Install routes (engine/install_routes.cpp) ----
  // Hands the package to a pipe server (0 the Installer Service, 1 and 2 the
  // high- and medium-integrity user-mode installers): 0 or a failure code.
  int InstallUsingService(int serviceType, const char* packagePath, bool serviceUpdate);
  // Whether the Installer Service answers on its pipe.
  static bool CheckForExternalService();

  // ---- Package verification (engine/package_verification.cpp) ----
  // 0 when the package may be installed, else the reason it may not.
  static DWORD VerifyCABEx(const GetCABInfo* cab, const VerifyCABInfo* verify);
  // Verifies with the engine's settings; raises when the package is refused.
  void VerifyCAB(const GetCABInfo& cab);

  // ---- User-mode installer start (engine/user_mode_start.cpp) ----
  // Whether the installer of pipe 1 (high) or 2 (medium integrity) answers
  // once the call ends, starting it if need be.
  bool StartUserModeService(int serviceType);
  // Creates the installer helper through the elevation prompt and has it
  // start the high-integrity installer: S_OK, or the failing HRESULT
  // (0x800704C7 when the user declined the prompt).
  HRESULT StartLegacyService();
  // Asks the installer helper, running as the user, to start the installer
  // of pipe 1 or 2.
  bool StartPerUserService(int serviceType);

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
  std::atomic<RouteSet> m_uInstalledRoute{0};
  std::atomic<bool> m_bRequestToStop{false};

  // The request.
  InstallCallback m_pCallback = nullptr;
  std::uintptr_t m_uCallerValue = 0;
  UString m_strClassId;
  UString m_strCodebase;
  UString m_strText3;
  UString m_strText4;
  UString m_strTempFolder;
  // Keeps m_strTempFolder in place until it is removed.
  TempFolderHold m_tempFolderHold;
  // The package record of the current request, filled by the acquisition.
  GetCABInfo m_cCabInfo;

 private:
  static unsigned __stdcall RunClassProc(void* arg);
  std::int32_t RunRequest();
  RouteConditions GatherRouteConditions(bool serviceUpdate, bool perUserAllowed);
  void LogRoute(const char* prefix, const RouteConditions& conditions, RouteSet routes);
  UString AcquirePackage();
  void CleanTempFolder();
  void ReleaseWorkerHandle();

  // The worker's own handle: set by InstallControl, taken out and closed by
  // the worker as its last act (or by whoever terminates it).
  std::atomic<HANDLE> m_hThread{nullptr};
  // A duplicate owned by the caller's side (InstallControl, Stop, destructor)
  // so that a wait stays valid while the worker releases its own handle.
  kit::UniqueHandle m_hWaitHandle;
  std::atomic<DWORD> m_dwWorkerThreadId{0};
  // Set by the worker just before it reports: from then on it only releases
  // its handle and ends.
  std::atomic<bool> m_bReported{false};
};
