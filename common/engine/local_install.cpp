// The direct route's install call: a verified local cabinet installed in this
// process by the embedded cabinet installer, on the calling thread.
#include <cstring>

#include "engine/USmartUpdateEx.h"

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
    LogRecord(kLogTrace, kFunction, UMessage::Format("%1, %2", "start installation of the .cab file", m_strCodebase));
    m_cKitLoader.m_bUIAllowed = !m_bSilent;
    m_cKitLoader.m_strCodebase = m_strCodebase;
    const int installed = m_cKitLoader.Install(path, scopeFlags, m_hWnd);
    if (installed != 0)
      KL_THROW(installed, kFunction, "EXCEPTION - %s, %d", "m_cKitLoader.Install() failed", installed);
  });
  LogRecord(kLogTrace, kFunction, UMessage::Format("%1, %2", "exit", result == 0 ? "SUCCESS" : "FAILURE"));
  return result;
}
