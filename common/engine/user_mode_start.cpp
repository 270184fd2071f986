// Starting a user-mode installer is not built yet: none can be started, and
// the route that needs one fails like any other.
#include "engine/USmartUpdateEx.h"

bool USmartUpdateEx::StartUserModeService(int serviceType) {
  LogRecord(kLogWarnings, "USmartUpdateEx::StartUserModeService()",
            UMessage::Format("%1, %2", "starting a user-mode installer is not available", serviceType));
  return false;
}
