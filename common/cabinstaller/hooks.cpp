// Hooks and actions are not built yet: a package that asks for one fails
// with ERROR_NOT_SUPPORTED and says why.
#include "cabinstaller/UKitLoader.h"

int UKitLoader::ProcessHook(const UStringPairList& hook, const char* cabFolder, const char* objectFolder,
                            const char* infPath, const char* fileVersion) {
  (void)hook, (void)cabFolder, (void)objectFolder, (void)fileVersion;
  LogRecord(kLogErrors, "UKitLoader::ProcessHook()",
            UMessage::Format("%1, %2", "hooks are not available", UString(infPath)));
  return ERROR_NOT_SUPPORTED;
}

int UKitLoader::PerformAction(const char* extractFolder, const char* objectFolder, const char* infPath) {
  (void)extractFolder, (void)objectFolder;
  LogRecord(kLogErrors, "UKitLoader::PerformAction()",
            UMessage::Format("%1, %2, %3", "actions are not available", m_strAction, UString(infPath)));
  return ERROR_NOT_SUPPORTED;
}
