// The install driver is not built yet: a package cannot be installed in this
// process.
#include "cabinstaller/UKitLoader.h"

int UKitLoader::Install(const UString& cabPath, int flags, HWND owner) {
  (void)flags;
  m_hWndOwner = owner;
  LogRecord(kLogErrors, "UKitLoader::Install()",
            UMessage::Format("%1, %2", "installing a package in this process is not available", cabPath));
  return ERROR_NOT_SUPPORTED;
}
