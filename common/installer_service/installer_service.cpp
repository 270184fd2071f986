// The pipe client is not built yet: no server is ever found, and nothing can
// be handed to one.
#include "installer_service/installer_service.h"

#include "foundation/errorlog.h"

namespace {
void LogNotAvailable(const char* function) {
  LogRecord(kLogWarnings, function, UString("the installer pipe client is not available"));
}
}  // namespace

std::uint64_t srvGetServiceVersion(DWORD, int) {
  LogNotAvailable("srvGetServiceVersion()");
  return 0;
}

int srvSetUIWindow(HWND, DWORD, int) {
  LogNotAvailable("srvSetUIWindow()");
  return -1;
}

int srvInstallControl(const char*, DWORD, int) {
  LogNotAvailable("srvInstallControl()");
  return -1;
}
