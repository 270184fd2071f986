// What a control's distribution-unit record lists and the shared-file
// counts it keeps: which files of a package are recorded under which path,
// the key names of the records, and the reference count. Win32-free.
#pragma once

#include <functional>
#include <vector>

#include "foundation/string_lists.h"

// The record of a class: "SOFTWARE\Microsoft\Code Store Database\Distribution Units\<class>".
UString DistributionUnitKey(const UString& classId);

// The shared-file owners of a recorded file: the ModuleUsage key of its path,
// every backslash written as a slash.
UString ModuleUsageKey(const UString& path);

// Where the package INF is copied beside the control: the destination folder,
// a backslash unless it ends with one, and the INF's file name.
UString InfCopyPath(const UString& destFolder, const UString& infPath);

// A file's reference count from the number of values of its ModuleUsage key
// (the owners' values and ".Owner"); 1 when the key could not be read.
unsigned long SharedDllCount(bool keyRead, unsigned long valueCount);

// One [Add.Code] entry as the record sees it.
struct RecordedFile {
  UString entry;     // the entry's file name (its key)
  UString path;      // the installed path to record; empty when the entry is left out
  bool optional;     // the entry's section was empty: logged, not recorded
};

// The files of the [Add.Code] list in list order. A file is looked for beside
// the control, then in the system folder, then in its "drivers" sub-folder
// (`exists` answers for a path); one found nowhere is recorded beside the
// control when its name has a '.', and left out otherwise.
std::vector<RecordedFile> RecordedFiles(const UStringPairList& addCode, const UString& destFolder,
                                        const UString& systemFolder,
                                        const std::function<bool(const UString&)>& exists);

// The value names of an earlier record that the new one no longer lists,
// without regard to case (registry value names ignore it).
UStringList StaleFileValues(const UStringList& recorded, const std::vector<RecordedFile>& current);
