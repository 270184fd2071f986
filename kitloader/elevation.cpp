#include "kitloader/elevation.h"

#include "engine/USmartUpdateEx.h"
#include "foundation/errorlog.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "foundation/m_sys.h"
#include "foundation/m_uac_helpers.h"
#include "installer_service/installer_service.h"
#include "kitloader/report.h"
#include "platform/platform_facts.h"

namespace {

const char kElevateToAdmin[] = "ElevateToAdmin()";
// The elevated copy closes its window and log after it has signalled.
const DWORD kTeardownGraceMs = 3000;

ElevatedRun WaitForElevatedCopy(HANDLE event, HANDLE copy) {
  ElevatedRun run;
  const DWORD grace = kit::facts::WaitMilliseconds("RelaunchGrace", kTeardownGraceMs);
  if (!copy) {
    // The shell gave no process: only the copy's signal tells its end.
    run.reported = WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0;
    if (run.reported) Sleep(grace);
    return run;
  }
  // A copy that dies without signalling would otherwise keep this instance
  // waiting for ever.
  const HANDLE waits[] = {event, copy};
  const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  if (woken == WAIT_OBJECT_0) {
    run.reported = true;
    if (WaitForSingleObject(copy, grace) != WAIT_OBJECT_0) return run;
  } else if (woken != WAIT_OBJECT_0 + 1) {
    return run;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(copy, &code)) return run;
  // Ended without finishing its run: never a success.
  if (!run.reported && code == 0) code = ERROR_PROCESS_ABORTED;
  run.result = static_cast<std::int32_t>(code);
  LogRecord(kLogTrace, kElevateToAdmin, UMessage::Format("%1, %2", "elevated instance exit", code));
  return run;
}

}  // namespace

const char* RelaunchEventName() { return "cde2660f-df48-422b-9426-e6f55a1024c3-kitloader.exe"; }

int ReadInstalledScope(const char* classId) {
  const DWORD mask = USmartUpdateEx::ReadInstalledScopeMask(classId, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER);
  if (mask & 2) return 2;
  if (mask & 1) return 1;
  return 0;
}

bool ElevationToAdminNeeded(const char* classId) {
  if (!IsWindowsVersionAtLeast(6, 0, 0)) return false;
  const DWORD level = uGetProcessIntegrityLevel(GetCurrentProcess());
  if (level == kIntegrityHigh || level == kIntegritySystem) return false;
  // The Installer Service installs instead.
  if (srvGetServiceVersion(kit::facts::WaitMilliseconds("ServiceQuery", USmartUpdateEx::kServiceQueryWaitMs), kPipeInstallerService) != 0) return false;
  // The elevation prompt cannot make this user an administrator.
  if (IsNonAdminUser()) return false;
  kit::UniqueHandle event(OpenEventA(SYNCHRONIZE, FALSE, RelaunchEventName()));
  if (event) {
    LogRecord(kLogErrors, "ElevationToAdminNeeded", UString("The second instance of kitloader.exe started not at high IL"));
    return false;
  }
  // Registered for the user: updated without elevation.
  return ReadInstalledScope(classId ? classId : "") != 2;
}

bool ElevateToAdmin(const char* commandLineTail, ElevatedRun* run) {
  *run = ElevatedRun();
  const UString module = SGetModuleFileName(nullptr);
  if (module.empty()) {
    const DWORD error = GetLastError();
    LogRecord(kLogErrors, kElevateToAdmin, UString("Failed to get module path"));
    SetLastError(error);
    return false;
  }
  kit::UniqueHandle event(CreateEventA(nullptr, FALSE, FALSE, RelaunchEventName()));
  if (!event) return false;
  kit::UniqueHandle copy;
  if (!RunAsAdmin(nullptr, module.c_str(), commandLineTail, false, &copy)) {
    const DWORD error = GetLastError();
    LogRecord(kLogErrors, kElevateToAdmin, UMessage::Format("Failed launch instance as admin (error: %1)", error));
    event.reset();
    SetLastError(error);
    return false;
  }
  *run = WaitForElevatedCopy(event.get(), copy.get());
  return true;
}

ElevationOutcome RunElevation(HWND progressWindow, const char* commandLineTail, bool silent, bool verbose) {
  ElevationOutcome outcome;
  auto showProgressAgain = [&] {
    if (progressWindow && !silent) ShowWindow(progressWindow, SW_SHOW);
  };
  if (progressWindow) ShowWindow(progressWindow, SW_HIDE);
  if (ShowPermissionDialog(GetModuleHandleA(nullptr)) != PermissionAnswer::Continue) {
    showProgressAgain();
    return outcome;
  }
  ElevatedRun run;
  if (ElevateToAdmin(commandLineTail, &run)) {
    outcome.result = run.result;
    outcome.reportedByCopy = run.reported;
    return outcome;
  }
  outcome.result = static_cast<std::int32_t>(GetLastError());
  outcome.showSuccess = verbose;
  showProgressAgain();
  return outcome;
}

void SignalRelaunchEvent() {
  kit::UniqueHandle event(OpenEventA(EVENT_MODIFY_STATE, FALSE, RelaunchEventName()));
  if (event) SetEvent(event.get());
}
