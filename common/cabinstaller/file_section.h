// The keys of a package INF's file and deployment sections, and the result
// an installation returns once its actions have run. Win32-free.
#pragma once

#include "foundation/string_lists.h"

// What one [Add.Code] file section says about its file.
struct FileSectionKeys {
  UString source;       // "thiscab", "ignore", empty, or somewhere outside the package
  UString fileVersion;  // as written, passed on to hooks and records
  UString classId;      // a file with a class is a control
  UString destDir;      // as written
  UString hook;         // a hook section that installs the file instead of a copy
  UString fileName;     // the file to install: the section's own key, else the section name
  bool registerServer = true;
  bool redirectToHKCU = false;
  bool userEntryPoints = false;
};

// Reads the keys without regard to case, in file order; "File-win32-x86"
// wins over "File" whatever the order.
FileSectionKeys ReadFileSectionKeys(const UStringPairList& pairs, const UString& sectionName);

// Whether an entry with these keys places no file: its source is "ignore"
// (any case), or it has neither a source nor a hook.
bool PlacesNoFile(const FileSectionKeys& keys);

// Where "DestDir" sends a file.
enum class DestDirKind { kNone, kWindows, kSystem, kTempFolder, kOutside };
// The kind of a "DestDir" value; for kTempFolder, *folder is the value with
// every "%TEMP_DIR1%" replaced by tempFolder. kOutside: the value names ".."
// (or a name of dots only) and would climb out of the temporary folder.
DestDirKind ResolveDestDir(const UString& destDir, const UString& tempFolder, UString* folder);

// The scope a [Deployment] section asks for: 2 when its first "InstallScope"
// names a user, otherwise 1.
int InstallScopeOfDeployment(const UStringPairList& deployment);

// An installation's result once its main part gave `result`: success and a
// restart both report what the actions accumulated, when they did.
int CombineActionResult(int result, int actionResult);
