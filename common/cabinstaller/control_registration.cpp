// Control registration is not built yet. A placed control is left
// unregistered with a warning rather than failing its package (every
// control's package would fail otherwise); a direct entry-point call fails
// with ERROR_NOT_SUPPORTED.
#include "cabinstaller/UKitLoader.h"

int UKitLoader::CallDllEntryPoint(const char* path, const char* entryPoint) {
  LogRecord(kLogErrors, "UKitLoader::RegisterActiveX()",
            UMessage::Format("%1, %2, %3", "entry point calls are not available", UString(path), UString(entryPoint)));
  return ERROR_NOT_SUPPORTED;
}

int UKitLoader::RegisterActiveX(const char* path) {
  LogRecord(kLogWarnings, "UKitLoader::RegisterActiveX()",
            UMessage::Format("%1, %2", "control registration not available", UString(path)));
  return 0;
}

int UKitLoader::RegisterActiveXUser(const char* path, bool redirectToHKCU, bool userEntryPoints) {
  (void)redirectToHKCU, (void)userEntryPoints;
  LogRecord(kLogWarnings, "UKitLoader::RegisterActiveXUser()",
            UMessage::Format("%1, %2", "per-user control registration not available", UString(path)));
  return 0;
}
