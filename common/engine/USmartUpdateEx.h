// The update engine: one install request at a time, run on a worker thread,
// reported through a callback. The work of a request is done by the units
// beside it: the request's state (request_state), the update decision
// (update_decision), the routes (route_decision, route_attempts), the
// acquisition (package_acquisition) and the verification
// (package_verification) of its package.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "cabinstaller/UKitLoader.h"
#include "components/component_catalogue.h"
#include "components/installed_components.h"
#include "engine/engine_enums.h"
#include "engine/package_record.h"
#include "engine/registration_checks.h"
#include "engine/request_state.h"
#include "engine/route_decision.h"
#include "engine/update_decision.h"
#include "foundation/UClasses.h"
#include "foundation/handles.h"
#include "foundation/temp_folders.h"
#include "http/codebase.h"

class PackageAcquisition;
struct RouteInstallers;

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
  RouteSet InstalledRoute() const { return m_cState.InstalledRoute(); }

  // ---- Settings, written by the caller before the first request ----
  // The window of the engine's UI and of the user-mode installers; it
  // receives the transfer's progress messages.
  void SetWindow(HWND window) { m_hWnd = window; }
  // No UI from the engine and no user-mode installer routes.
  void SetSilent(bool silent) { m_bSilent = silent; }
  // The user agent of a package download when not empty.
  void SetUserAgent(const UString& userAgent) { m_strUserAgent = userAgent; }
  // The host a package must come from; empty: no origin check.
  void SetServerName(const UString& serverName) { m_strServerName = serverName; }
  // 2: installed components are not updated; the verification's UI level.
  void SetPolicy(int policy) { m_iPolicy = policy; }
  // Whether a codebase must be an http or https URL.
  void SetCheckCodebase(bool check) { m_bCheckCodebase = check; }
  // Set only in an engine that runs inside the Installer Service; the
  // codebase check is skipped there.
  void SetInService(bool inService) { m_bInService = inService; }
  // How long Stop(TRUE) and the destructor wait before terminating a worker.
  void SetWaitLimits(DWORD stopMs, DWORD destroyMs) {
    m_dwStopWaitMs = stopMs;
    m_dwDestroyWaitMs = destroyMs;
  }
  // How long a package transfer waits for the next piece of data.
  void SetTransferReceiveTimeout(DWORD ms) { m_dwTransferReceiveTimeoutMs = ms; }
  // The embedded cabinet installer.
  UKitLoader& KitLoader() { return m_cKitLoader; }

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

  // ---- The update decision (engine/update_decision.h) ----
  // Whether the request's package is to be installed; stores the decision
  // value (0 nothing to do, 1 update, 2 install). With the codebase check on,
  // raises UException for a codebase that is not an http or https URL.
  bool isProceedWithUpdate();
  // The decision for a component, after the registry switch that can stop
  // updates of installed client components.
  static int applyUpdateSwitch(const char* classId, const char* codebase) {
    return ToNumber(UpdateDecider(classId, codebase).DecideWithSwitch());
  }
  // The decision for a component: a CLSID in braces or "service:<name>".
  static int needUpdate(const char* classId, const char* codebase) {
    return ToNumber(UpdateDecider(classId, codebase).Decide());
  }
  // Where the class is registered: bit 1 in the machine hive, bit 2 in the
  // user hive.
  static DWORD ReadInstalledScopeMask(const char* classId, HKEY machineHive, HKEY userHive) {
    return InstalledScopeMask(classId, machineHive, userHive);
  }

  // Registration checks (engine/registration_checks.h): 0 nothing
  // registered under the hive, 1 registered and intact, 2 broken.
  static int CheckCodeStoreDatabase(HKEY hive, const char* classId) {
    return ToNumber(CodeStoreDatabaseState(hive, classId));
  }
  static int CheckKnownClassID(HKEY hive, const char* classId) { return ToNumber(KnownClassState(hive, classId)); }
  static int CheckClassID(HKEY hive, const char* classId) { return ToNumber(ClassIdState(hive, classId)); }
  static int CheckTypeLib(HKEY hive, const char* typeLibId, const char* version) {
    return ToNumber(TypeLibState(hive, typeLibId, version));
  }
  static UString HKEYToString(HKEY hive) { return HiveName(hive); }

  // ---- Package acquisition (engine/package_acquisition.h) ----
  // Copies or downloads the codebase's package into the request's private
  // temporary folder, fills the package record and returns the file's full
  // path; raises on failure.
  UString DownloadPackage(const char* packagePath, const char* codebase, GetCABInfo* request);
  // Streams the request's url into its file path: 0, or the code of what
  // failed (the thread's last error holds the last system error).
  int LoadCAB(GetCABInfo* request);

  // ---- The local install call (engine/local_install.cpp) ----
  // Installs a verified local cabinet through the embedded installer on the
  // calling thread. scopeFlags: 1 per machine, 2 per user. 0 or an error code.
  int InstallControl(const char* packagePath, int scopeFlags);

  // ---- Install routes (engine/install_routes.cpp, engine/route_attempts.h) ----
  // Hands the package to a pipe server (0 the Installer Service, 1 and 2 the
  // high- and medium-integrity user-mode installers): 0 or a failure code.
  int InstallUsingService(int serviceType, const char* packagePath, bool serviceUpdate);
  // Whether the Installer Service answers on its pipe.
  static bool CheckForExternalService();

  // ---- Package verification (engine/package_verification.h) ----
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

 protected:
  // The body of one request, run on the worker thread; its return value is
  // the request's result.
  virtual std::int32_t RunObjectProc();
  // The state of the current (or last) request.
  InstallRequestState& RequestState() { return m_cState; }
  // Whether a stop has been requested, and a request for one.
  bool StopRequested() const { return m_bRequestToStop.load(); }
  void RequestStop() { m_bRequestToStop = true; }

 private:
  static unsigned __stdcall RunClassProc(void* arg);
  std::int32_t RunRequest();
  std::int32_t ReportResult(std::int32_t result);
  int RunRouteSteps();
  RouteInstallers MakeRouteInstallers(bool serviceUpdate);
  UString AcquirePackage();
  PackageAcquisition MakeAcquisition();
  void ThrowIfStopRequested() const;
  int ServerAnswerResult(int answer, std::uint64_t oldVersion, bool serviceUpdate);
  void CleanTempFolder();
  void ReleaseWorkerHandle();
  int StartWorker();

  // Settings.
  bool m_bSilent = false;
  HWND m_hWnd = nullptr;
  UString m_strUserAgent;
  UString m_strServerName;
  int m_iPolicy = 0;
  bool m_bCheckCodebase = true;
  bool m_bInService = false;
  DWORD m_dwStopWaitMs = 120000;
  DWORD m_dwDestroyWaitMs = 5000;
  DWORD m_dwTransferReceiveTimeoutMs = 300000;

  UKitLoader m_cKitLoader;
  InstallRequestState m_cState;
  std::atomic<bool> m_bRequestToStop{false};

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
