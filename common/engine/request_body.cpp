// The body of one install request. Until the install routes exist, a request
// installs nothing and fails with 1603.
#include "engine/USmartUpdateEx.h"

std::int32_t USmartUpdateEx::RunObjectProc() {
  // Treat the component as missing so the real outcome reaches the caller.
  m_iDecision = 2;
  LogRecord(kLogErrors, "USmartUpdateEx::RunObjectProc()", UString("failed to install"));
  return ERROR_INSTALL_FAILURE;
}
