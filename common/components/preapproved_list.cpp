// The browser's pre-approved list: the suite's controls that it runs without
// asking once they are installed.
#include "components/component_catalogue.h"
#include "components/installed_components.h"
#include "foundation/UClasses.h"
#include "foundation/m_registry.h"

int AddToPreApprovedList(int scope, const char* classId) {
  static const char kSite[] = "USmartUpdateEx::AddToPreApprovedList";
  if (!classId || !*classId) {
    LogRecord(kLogWarnings, kSite, UString("Invalid argument: clsid"));
    return ERROR_BAD_ARGUMENTS;
  }
  bool created = false;
  int status = 0;
  CatchAndLog(KL_CATCH_SITE(kSite, kSite), status, [&] {
    const UString key = UString("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\PreApproved\\") + classId;
    AddRegistryKeyA(scope == 2 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, key.c_str(), 0);
    created = true;
  });
  return created ? 0 : ERROR_WRITE_FAULT;
}

bool checkAndAddToPreapprovedList(int scope, const char* classId) {
  if (!classId || !*classId) return false;
  const char* entry = FindPreApprovedControl(classId);
  if (!entry) return false;
  const int result = AddToPreApprovedList(scope, entry);
  LogRecord(kLogTrace, "USmartUpdateEx::checkAndAddToPreapprovedList()",
            UMessage::Format("%1, %2, %3", "control added to PreApproved list", entry, result));
  return result == 0;
}
