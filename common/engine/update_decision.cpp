// The update decision. Not built yet: every component counts as missing and
// as registered nowhere.
#include "engine/USmartUpdateEx.h"

bool USmartUpdateEx::isProceedWithUpdate() {
  m_iDecision = 2;
  return true;
}

DWORD USmartUpdateEx::ReadInstalledScopeMask(const char* classId, HKEY machineHive, HKEY userHive) {
  (void)classId;
  (void)machineHive;
  (void)userHive;
  return 0;
}
