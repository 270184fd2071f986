// Package acquisition: brings the engine's own copy of a package into its
// private temporary folder. Not built yet: every acquisition fails.
#include "engine/USmartUpdateEx.h"

UString USmartUpdateEx::DownloadPackage(const char* packagePath, const char* codebase, GetCABInfo* request) {
  (void)packagePath;
  (void)request;
  KL_THROW(ERROR_NOT_SUPPORTED, "USmartUpdateEx::DownloadPackage()", "EXCEPTION - %s, %s",
           "package acquisition is not available", codebase ? codebase : "");
}
