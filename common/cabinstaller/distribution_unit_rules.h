// What a control's distribution-unit record lists and the shared-file
// counts it keeps: which files of a package are recorded under which path,
// the key names of the records, and the reference count. Win32-free.
#pragma once

#include <functional>
#include <vector>

#include "foundation/string_lists.h"

// The reference counts of the shared files, one REG_DWORD value per path.
inline constexpr char kSharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

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

// What removing one owner from a recorded file does, from what its shared
// records hold now. The owner's ModuleUsage value is marked with the count it
// leaves before the count is written and the value removed: a removal cut
// short anywhere writes the same count again instead of taking one more off.
struct SharedFileFacts {
  bool ownerListed;          // this class's value is in the file's ModuleUsage key
  bool ownerMarked;          // ... and carries the count an earlier removal left
  unsigned long markedCount;
  unsigned long otherOwners;  // other classes' values in that key (".Owner" aside)
  bool countPresent;         // the file has a SharedDlls value
  unsigned long count;
};
struct SharedFileRelease {
  bool release;              // this class still owns the file: mark, write the count, drop the value
  unsigned long newCount;    // the count the file keeps (0: its SharedDlls value goes)
  bool deleteFile;           // no owner is left: the file goes
};
SharedFileRelease ReleaseSharedFile(const SharedFileFacts& facts);

// The text of a marked owner value for a count, and the count a value's text
// marks (false for the empty text an installation writes).
UString OwnerMark(unsigned long count);
bool ReadOwnerMark(const UString& text, unsigned long* count);

// Whether a removal may delete, unregister or load the file whose final path
// (links resolved) is `finalPath`: only inside the Downloaded Program Files
// folder of the record's scope, or, for a machine record, a shared file of
// the system folder whose count the machine's SharedDlls keeps.
bool RemovalMayTouch(const UString& finalPath, const UString& scopeFolder, const UString& systemFolder,
                     bool machineCount);
