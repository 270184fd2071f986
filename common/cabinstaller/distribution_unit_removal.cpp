// Removing a control by its distribution-unit record, the installation in
// reverse: the control's class, each file's ownership (and the file once no
// owner is left), the INF copy, the pre-approved entry, and the record last,
// so that a removal cut short leaves a record that no longer reads as intact
// and the next removal finishes the job.
#include <windows.h>

#include <functional>

#include "cabinstaller/UKitLoader.h"
#include "cabinstaller/distribution_unit_rules.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "foundation/m_registry.h"
#include "foundation/m_uac_helpers.h"
#include "foundation/nofollow_delete.h"

namespace {

const char kRemove[] = "UKitLoader::RemoveDistributionUnit()";
const char kOwnerValue[] = ".Owner";

HKEY HiveOf(InstallScope scope) { return scope == InstallScope::kUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

bool ReadText(HKEY parent, const char* key, const char* name, UString* text) {
  char data[4096] = {};
  DWORD size = sizeof data - 1, type = 0;
  if (RegGetValueA(parent, key, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type, data,
                   &size) != ERROR_SUCCESS)
    return false;
  *text = UString(data);
  return true;
}

UString FolderOf(const UString& path) {
  UString folder;
  SSplitPath(path, &folder, nullptr);
  return folder;
}

bool Listed(const UStringList& list, const UString& item) {
  for (const UString& entry : list)
    if (entry.EqualsNoCase(item.c_str())) return true;
  return false;
}

// The folders a removal of one scope may act in, as their final paths.
struct RemovalFolders {
  InstallScope scope;
  UString own;     // the scope's Downloaded Program Files folder
  UString system;  // the system folder
};

// The path of what `path` names, opened without following links: the final
// path where the system tells it, else the full path of the text. `link` is
// set for a link (acted on as a link never); `present` for a path that opened.
UString FinalPath(const UString& path, bool* link, bool* present, kit::FileIdentity* identity) {
  kit::UniqueFile item = kit::OpenNoFollow(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  kit::NoFollowInfo info;
  *present = item && kit::ReadNoFollowInfo(item.get(), &info);
  *link = *present && (info.IsLink() || kit::FollowedALink(GetFileAttributesA(path.c_str()), info));
  if (*present && identity) *identity = info.identity;
  std::string final = *present ? kit::FinalPathOf(item.get()) : std::string();
  if (final.empty()) {
    char full[MAX_PATH * 4];
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    if (length && length < sizeof full) final.assign(full, length);
  }
  return UString(final.c_str());
}

RemovalFolders FoldersOf(InstallScope scope) {
  bool ownLink = false, systemLink = false, present = false;
  const UString own = scope == InstallScope::kUser ? SGetUserDownloadedProgramFilesFolder(false) : SGetDownloadedProgramFilesFolder();
  const UString ownFinal = own.empty() ? UString() : FinalPath(own, &ownLink, &present, nullptr);
  const UString system = FinalPath(SGetSystemDirectory(), &systemLink, &present, nullptr);
  // A folder that is itself a link leads elsewhere: nothing is inside it.
  return {scope, ownLink ? UString() : ownFinal, systemLink ? UString() : system};
}

// Whether the removal may delete, unregister or load the file at `path`:
// not a link, and its final path in the scope's folder (or, for the machine,
// a shared file of the system folder whose count the machine keeps).
bool MayTouch(const RemovalFolders& folders, const UString& path, bool machineCount, bool* present,
              kit::FileIdentity* identity) {
  bool link = false;
  const UString final = FinalPath(path, &link, present, identity);
  return !link && RemovalMayTouch(final, folders.own, folders.system, folders.scope == InstallScope::kMachine && machineCount);
}

bool MachineCountKept(InstallScope scope, const UString& path) {
  DWORD count = 0, size = sizeof count;
  return scope == InstallScope::kMachine && RegGetValueA(HKEY_LOCAL_MACHINE, kSharedDllsKey, path.c_str(), RRF_RT_REG_DWORD, nullptr,
                                    &count, &size) == ERROR_SUCCESS;
}

// Deletes a file of the removal's own folders through a handle that follows
// no link, or has it deleted at the next restart when it is in use (only in
// the machine's folders, which the user's programs cannot write). A file
// elsewhere is left in place. 0 (gone, never there or left),
// ERROR_SUCCESS_REBOOT_REQUIRED, or the error.
DWORD DeleteOrSchedule(const RemovalFolders& folders, const UString& path, bool machineCount) {
  bool present = false;
  kit::FileIdentity identity;
  if (!MayTouch(folders, path, machineCount, &present, &identity)) {
    if (present)
      LogRecord(kLogWarnings, kRemove, UMessage::Format("%1, %2", "file outside the control's folder, left in place", path));
    return 0;
  }
  if (!present) return 0;
  const DWORD error = kit::DeleteNoFollow(path.c_str(), &identity);
  if (error == 0 || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 0;
  const bool machine = folders.scope == InstallScope::kMachine;
  if (machine && MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    LogRecord(kLogWarnings, kRemove, UMessage::Format("%1, %2, %3", "file in use, deleted at the next restart", path, error));
    return ERROR_SUCCESS_REBOOT_REQUIRED;
  }
  const DWORD scheduleError = machine ? GetLastError() : error;
  LogRecord(kLogErrors, kRemove, UMessage::Format("%1, %2, %3", "cannot delete file", path, scheduleError));
  return scheduleError ? scheduleError : error;
}

// The classes besides `classId` that own a file (its ModuleUsage values,
// ".Owner" aside).
unsigned long OtherOwners(const UStringList& values, const UString& classId) {
  unsigned long others = 0;
  for (const UString& name : values)
    if (!name.EqualsNoCase(kOwnerValue) && !name.EqualsNoCase(classId.c_str())) ++others;
  return others;
}

// Takes `classId` off the owners of one recorded file; the file goes when it
// was the last. 0, ERROR_SUCCESS_REBOOT_REQUIRED or the error of the file.
DWORD ReleaseFile(const RemovalFolders& folders, HKEY hive, const UString& path, const UString& classId) {
  const UString usage = ModuleUsageKey(path);
  kit::UniqueKey key;
  RegOpenKeyExA(hive, usage.c_str(), 0, KEY_READ | KEY_WRITE, key.put());
  const UStringList values = key ? RegistryValueNames(key.get()) : UStringList();
  SharedFileFacts facts{};
  UString mark;
  facts.ownerListed = key && ReadText(key.get(), nullptr, classId.c_str(), &mark);
  facts.ownerMarked = facts.ownerListed && ReadOwnerMark(mark, &facts.markedCount);
  facts.otherOwners = OtherOwners(values, classId);
  DWORD count = 0, size = sizeof count;
  facts.countPresent = RegGetValueA(hive, kSharedDllsKey, path.c_str(), RRF_RT_REG_DWORD, nullptr, &count, &size) ==
                       ERROR_SUCCESS;
  facts.count = count;
  const SharedFileRelease release = ReleaseSharedFile(facts);

  DWORD result = 0;
  if (release.release) {
    if (!facts.ownerMarked) {
      const UString text = OwnerMark(release.newCount);
      RegSetValueExA(key.get(), classId.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.length() + 1));
    }
    kit::UniqueKey shared;
    if (RegOpenKeyExA(hive, kSharedDllsKey, 0, KEY_SET_VALUE, shared.put()) == ERROR_SUCCESS) {
      const DWORD newCount = release.newCount;
      if (newCount)
        RegSetValueExA(shared.get(), path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&newCount),
                       sizeof newCount);
      else
        RegDeleteValueA(shared.get(), path.c_str());
    }
    LogRecord(kLogTrace, kRemove,
              UMessage::Format("%1, %2, %3", release.deleteFile ? "file removed" : "file kept for its other owners",
                               path, release.newCount));
    if (release.deleteFile) result = DeleteOrSchedule(folders, path, facts.countPresent);
    // A file that could not go keeps its owner: the next removal tries again.
    if (result != 0 && result != ERROR_SUCCESS_REBOOT_REQUIRED) return result;
    RegDeleteValueA(key.get(), classId.c_str());
  }
  // A key left with no owner but its first one's name goes.
  UString first;
  if (key && ReadText(key.get(), nullptr, kOwnerValue, &first) && first.EqualsNoCase(classId.c_str()) &&
      RegistryValueNames(key.get()).size() == 1) {
    key.reset();
    RegDeleteKeyA(hive, usage.c_str());
  }
  return result;
}

// Whether another record of the hive names the same INF copy (a package
// with several controls records each with the one copy).
bool InfCopySharedByAnotherRecord(HKEY hive, const UString& classId, const UString& infCopy) {
  const UString units = DistributionUnitKey("");
  kit::UniqueKey parent;
  if (RegOpenKeyExA(hive, units.c_str(), 0, KEY_READ, parent.put()) != ERROR_SUCCESS) return false;
  char name[256];
  for (DWORD i = 0, n = sizeof name; RegEnumKeyExA(parent.get(), i, name, &n, nullptr, nullptr, nullptr, nullptr) == 0;
       ++i, n = sizeof name) {
    UString other;
    if (!classId.EqualsNoCase(name) &&
        ReadText(hive, (DistributionUnitKey(name) + "\\DownloadInformation").c_str(), "INF", &other) &&
        other.EqualsNoCase(infCopy.c_str()))
      return true;
  }
  return false;
}

// The files a class's record lists; false when the hive has no record of
// the class. A record without its file list was never finished, or its
// removal went as far as deleting the list: either way there is nothing of
// its files to undo; only the record itself is left.
bool ReadRecordedFiles(HKEY hive, const UString& classId, const UString& record, UStringList* recorded) {
  if (classId.empty()) return false;
  kit::UniqueKey files;
  if (RegOpenKeyExA(hive, (record + "\\Contains\\Files").c_str(), 0, KEY_READ, files.put()) == ERROR_SUCCESS) {
    *recorded = RegistryValueNames(files.get());
    return true;
  }
  kit::UniqueKey present;
  return RegOpenKeyExA(hive, record.c_str(), 0, KEY_READ, present.put()) == ERROR_SUCCESS;
}

UString ClassKeyOf(const UString& classId) { return "Software\\Classes\\CLSID\\" + classId; }

// What became of the registration of the class's server.
enum class ServerRemoval {
  kNone,          // no registered server among the record's files
  kOutside,       // the server lies outside the control's folder: never loaded
  kShared,        // other classes share the server: only this class's key went
  kUnregistered,  // the server unregistered itself
  kRefused,       // the server refused to unregister
};

// The class's server, when the record lists it: a server that other classes
// still share only loses this class's key, as its own unregistration would
// take theirs too; otherwise `unregister` runs it.
ServerRemoval RemoveServer(const RemovalFolders& folders, HKEY hive, const UString& classId,
                           const UStringList& recorded, const std::function<int(const UString&)>& unregister) {
  UString server;
  const UString classKey = ClassKeyOf(classId);
  if (!ReadText(hive, (classKey + "\\InprocServer32").c_str(), nullptr, &server) || !Listed(recorded, server)) {
    LogRecord(kLogTrace, kRemove, UMessage::Format("%1, %2", "no registered server of the record's files", classKey));
    return ServerRemoval::kNone;
  }
  kit::UniqueKey usage;
  RegOpenKeyExA(hive, ModuleUsageKey(server).c_str(), 0, KEY_READ, usage.put());
  bool present = false;
  if (!MayTouch(folders, server, MachineCountKept(folders.scope, server), &present, nullptr)) {
    // Never loaded: its unregistration would run whatever it is.
    LogRecord(kLogErrors, kRemove, UMessage::Format("%1, %2", "server outside the control's folder, not loaded", server));
    return ServerRemoval::kOutside;
  }
  if (usage && OtherOwners(RegistryValueNames(usage.get()), classId) > 0) {
    LogRecord(kLogTrace, kRemove, UMessage::Format("%1, %2", "server shared by other classes, class key removed", server));
    RegDeleteTreeA(hive, classKey.c_str());
    return ServerRemoval::kShared;
  }
  const int refused = unregister(server);
  if (refused == 0) return ServerRemoval::kUnregistered;
  LogRecord(kLogErrors, kRemove,
            UMessage::Format("%1, %2, %3", "the control refused to unregister", server,
                             UString::Format("0x%08lX", static_cast<unsigned long>(refused))));
  return ServerRemoval::kRefused;
}

// Notes a step's result: a restart needed is remembered, any other nonzero
// result ends the removal.
bool StepDone(DWORD result, bool* restart) {
  if (result == ERROR_SUCCESS_REBOOT_REQUIRED) *restart = true;
  return result == 0 || result == ERROR_SUCCESS_REBOOT_REQUIRED;
}

// The INF copy, when it lies beside the record's files and no other record
// names it. 0, ERROR_SUCCESS_REBOOT_REQUIRED or the error of the file.
DWORD RemoveInfCopy(const RemovalFolders& folders, HKEY hive, const UString& classId, const UString& record,
                    const UStringList& recorded) {
  UString infCopy;
  if (!ReadText(hive, (record + "\\DownloadInformation").c_str(), "INF", &infCopy) || infCopy.empty()) return 0;
  bool besideFiles = false;
  for (const UString& file : recorded) besideFiles = besideFiles || FolderOf(file).EqualsNoCase(FolderOf(infCopy).c_str());
  if (!besideFiles || InfCopySharedByAnotherRecord(hive, classId, infCopy)) return 0;
  return DeleteOrSchedule(folders, infCopy, false);
}

// The files, last listed first, then the INF copy, the pre-approved entry
// and the record. 0, ERROR_SUCCESS_REBOOT_REQUIRED or the error of a file.
DWORD RemoveFilesAndRecord(const RemovalFolders& folders, HKEY hive, const UString& classId, const UString& record,
                           const UStringList& recorded) {
  bool restart = false;
  for (auto it = recorded.rbegin(); it != recorded.rend(); ++it) {
    const DWORD r = ReleaseFile(folders, hive, *it, classId);
    if (!StepDone(r, &restart)) return r;
  }
  const DWORD r = RemoveInfCopy(folders, hive, classId, record, recorded);
  if (!StepDone(r, &restart)) return r;
  RegDeleteKeyA(hive, ("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Ext\\PreApproved\\" + classId).c_str());
  RegDeleteTreeA(hive, record.c_str());
  LogRecord(kLogTrace, kRemove, UMessage::Format("%1, %2, %3", "control removed", classId, restart ? 3010 : 0));
  return restart ? ERROR_SUCCESS_REBOOT_REQUIRED : 0;
}

}  // namespace

int UKitLoader::RemoveDistributionUnit(int scopeNumber, const char* classIdText, bool force) {
  int result = 0;
  CatchAndLog(KL_CATCH_SITE("UKitLoader::RemoveDistributionUnit", "UKitLoader::RemoveDistributionUnit()"), result, [&] {
    const InstallScope scope = ScopeOfNumber(scopeNumber);
    const HKEY hive = HiveOf(scope);
    const UString classId(classIdText), record = DistributionUnitKey(classId);
    // The user's records are the user's to write: an elevated run obeying
    // them would delete and load whatever the user's programs name.
    if (scope == InstallScope::kUser && uGetProcessIntegrityLevel(GetCurrentProcess()) >= kIntegrityHigh) {
      LogRecord(kLogErrors, kRemove,
                UMessage::Format("%1, %2", "a control installed for the user is not removed by an elevated run: "
                                           "run kitremove without elevation", classId));
      result = ERROR_ACCESS_DENIED;
      return;
    }
    const RemovalFolders folders = FoldersOf(scope);
    UStringList recorded;
    if (!ReadRecordedFiles(hive, classId, record, &recorded)) {
      LogRecord(kLogErrors, kRemove, UMessage::Format("%1, %2", "no distribution unit", classId));
      result = ERROR_UNKNOWN_PRODUCT;
      return;
    }
    LogRecord(kLogTrace, kRemove, UMessage::Format("%1, %2, %3", "removing", record, ScopeName(scope)));

    const ServerRemoval server = RemoveServer(folders, hive, classId, recorded, [this, scope](const UString& path) {
      return scope == InstallScope::kUser ? UnregisterActiveXUser(path.c_str()) : UnregisterActiveX(path.c_str());
    });
    if (server == ServerRemoval::kOutside || server == ServerRemoval::kRefused) {
      if (!force) {
        result = ERROR_INSTALL_FAILURE;
        return;
      }
      LogRecord(kLogWarnings, kRemove, UString("removing its files anyway (/f)"));
      RegDeleteTreeA(hive, ClassKeyOf(classId).c_str());
    }
    result = static_cast<int>(RemoveFilesAndRecord(folders, hive, classId, record, recorded));
  });
  return result;
}

int UKitLoader::RecordedScope(const char* classId) {
  if (!classId || !*classId) return 0;
  const UString record = DistributionUnitKey(classId);
  for (InstallScope scope : {InstallScope::kUser, InstallScope::kMachine}) {
    kit::UniqueKey key;
    if (RegOpenKeyExA(HiveOf(scope), record.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS) return ScopeNumber(scope);
  }
  return 0;
}
