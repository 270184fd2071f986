// The distribution-unit records are not written yet: the call says so and
// fails with ERROR_NOT_SUPPORTED (its caller goes on without the record).
#include "cabinstaller/UKitLoader.h"

int UKitLoader::RegisterDistributionUnit(int scope, const UStringPairList& addCode, const char* infPath,
                                         const char* destFolder, const char* classId, const char* codebase,
                                         const char* fileVersion) {
  (void)scope, (void)addCode, (void)infPath, (void)destFolder, (void)codebase, (void)fileVersion;
  LogRecord(kLogWarnings, "UKitLoader::RegisterDistributionUnit()",
            UMessage::Format("%1, %2", "distribution unit records not available", UString(classId)));
  return ERROR_NOT_SUPPORTED;
}
