// The direct route's install call: a verified local cabinet installed in this
// process by the embedded cabinet installer, on the calling thread.
#include <cstring>

#include "engine/USmartUpdateEx.h"
#include "foundation/m_sync.h"
#include "platform/platform_facts.h"

namespace {
// Runs of this program in other processes install one at a time: two at once
// would meet each other's files in use and leave a second copy beside them.
const char kInstallMutex[] = "Global\\NorvaneKitloaderInstall";
constexpr unsigned long kInstallMutexWaitMs = 600000;
constexpr unsigned long kInstallMutexSliceMs = 250;
}  // namespace

int USmartUpdateEx::InstallControl(const char* packagePath, int scopeFlags) {
  static const char kFunction[] = "USmartUpdateEx::InstallControl()";
  LogRecord(kLogTrace, kFunction, UString("enter"));
  int result = 0;
  CatchAndLog(KL_CATCH_SITE(kFunction, kFunction), result, [&] {
    const UString path = packagePath;
    if (path.length() < 4) KL_THROW(-1, kFunction, "EXCEPTION - %s, %s", "incorect file extension", path.c_str());
    if (m_bRequestToStop.load())
      KL_THROW(ERROR_CANCELLED, kFunction, "EXCEPTION - %s", "install aborted RequestToStop");
    if (_stricmp(path.c_str() + path.length() - 4, ".cab") != 0)
      KL_THROW(-1, kFunction, "EXCEPTION - %s, %s", "unsupported file type", path.c_str());
    m_cKitLoader.SetUIAllowed(!m_bSilent);
    m_cKitLoader.SetCodebase(m_cState.Request().codebase);
    UMutex mutex(kInstallMutex);
    // Taken in slices, so that a Cancel ends the wait for another run.
    const DWORD bound = kit::facts::WaitMilliseconds("InstallMutex", kInstallMutexWaitMs);
    for (DWORD waited = 0;; waited += kInstallMutexSliceMs) {
      const DWORD woken = WaitForSingleObject(mutex.handle(), kInstallMutexSliceMs);
      if (woken == WAIT_OBJECT_0 || woken == WAIT_ABANDONED) break;
      if (woken != WAIT_TIMEOUT || waited >= bound)
        KL_THROW(WAIT_TIMEOUT, kFunction, "EXCEPTION - %s", "IsAcquired failed");
      if (waited == 0)
        LogRecord(kLogTrace, kFunction, UString("another installation is running, waiting for it to end"));
      if (m_bRequestToStop.load())
        KL_THROW(ERROR_CANCELLED, kFunction, "EXCEPTION - %s", "install aborted RequestToStop");
    }
    UMutexOwner owned(mutex.handle(), UMutexOwner::AlreadyOwned{});
    // Logged once this run's turn has come: a Cancel after it reaches the installer.
    LogRecord(kLogTrace, kFunction, UMessage::Format("%1, %2", "start installation of the .cab file",
                                                   m_cState.Request().codebase));
    const int installed = m_cKitLoader.Install(path, scopeFlags, m_hWnd);
    if (installed != 0)
      KL_THROW(installed, kFunction, "EXCEPTION - %s, %d", "m_cKitLoader.Install() failed", installed);
  });
  LogRecord(kLogTrace, kFunction, UMessage::Format("%1, %2", "exit", result == 0 ? "SUCCESS" : "FAILURE"));
  return result;
}
