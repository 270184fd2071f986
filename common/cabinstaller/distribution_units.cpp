// The distribution-unit record of a placed control, kept the way the
// system's component download keeps downloaded controls: the record named
// after the class (its files, codebase, INF copy and version), and for every
// file its shared-file owners (ModuleUsage) and reference count (SharedDlls).
#include <windows.h>

#include <vector>

#include "cabinstaller/UKitLoader.h"
#include "cabinstaller/distribution_unit_rules.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "foundation/m_registry.h"

namespace {

const char kRecord[] = "UKitLoader::RegisterDistributionUnit()";
const char* const kSharedDlls = kSharedDllsKey;

void SetText(HKEY key, const char* name, const UString& text) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.length() + 1));
}

// Opens a key, or creates it when it cannot be opened. *created tells which.
kit::UniqueKey OpenOrCreate(HKEY parent, const UString& name, bool* created = nullptr) {
  kit::UniqueKey key;
  if (created) *created = false;
  if (RegOpenKeyA(parent, name.c_str(), key.put()) == ERROR_SUCCESS) return key;
  if (RegCreateKeyA(parent, name.c_str(), key.put()) == ERROR_SUCCESS && created) *created = true;
  return key;
}

// Adds the class to the owners of a file and returns the file's reference
// count: the owners recorded for it.
DWORD RecordOwner(HKEY hive, const UString& path, const UString& classId) {
  const UString usage = ModuleUsageKey(path);
  bool created = false;
  kit::UniqueKey key = OpenOrCreate(hive, usage, &created);
  if (!key) {
    const DWORD error = GetLastError();
    LogRecord(kLogErrors, kRecord, UMessage::Format("%1, %2, %3", "Failed to create ModuleUsage Key", usage, error));
    return SharedDllCount(false, 0);
  }
  if (created) SetText(key.get(), ".Owner", classId);
  SetText(key.get(), classId.c_str(), "");
  DWORD values = 0;
  const bool read = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                                     nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  return SharedDllCount(read, values);
}

void WriteSharedCount(HKEY hive, const UString& path, DWORD count) {
  kit::UniqueKey shared = OpenOrCreate(hive, kSharedDlls);
  if (!shared) {
    const DWORD error = GetLastError();
    LogRecord(kLogErrors, kRecord, UMessage::Format("%1, %2, %3", "Falied to create SharedDlls key", kSharedDlls, error));
    return;
  }
  RegSetValueExA(shared.get(), path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof count);
}

// The file list of the record: one value per current file, written once the
// shared records of every file are, and no value of a file the package no
// longer has.
void RecordFiles(HKEY hive, HKEY record, const std::vector<RecordedFile>& current, const UString& classId) {
  for (const RecordedFile& file : current) {
    if (file.optional) {
      LogRecord(kLogTrace, kRecord, UMessage::Format("%1, %2", "file was NOT added to dependencies", file.entry));
      continue;
    }
    if (file.path.empty()) continue;
    LogRecord(kLogTrace, kRecord, UMessage::Format("%1, %2", "file was added to dependencies", file.entry));
    WriteSharedCount(hive, file.path, RecordOwner(hive, file.path, classId));
  }
  kit::UniqueKey contains, files;
  if (RegCreateKeyA(record, "Contains", contains.put()) != ERROR_SUCCESS ||
      RegCreateKeyA(contains.get(), "Files", files.put()) != ERROR_SUCCESS)
    return;
  for (const RecordedFile& file : current)
    if (!file.optional && !file.path.empty()) SetText(files.get(), file.path.c_str(), "");
  // The list was deleted before; what survived that (a key that could not
  // be deleted) is pruned here.
  for (const UString& stale : StaleFileValues(RegistryValueNames(files.get()), current))
    RegDeleteValueA(files.get(), stale.c_str());
}

// The record's own values: the installer, its download information (the
// codebase and the INF copy) and the installed version.
void WriteRecordValues(HKEY record, const UString& codebase, const UString& infCopy, const UString& version) {
  SetText(record, "INSTALLER", "MSICD");
  const DWORD systemComponent = 0;
  RegSetValueExA(record, "SystemComponent", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&systemComponent),
                 sizeof systemComponent);
  kit::UniqueKey download;
  if (RegCreateKeyA(record, "DownloadInformation", download.put()) == ERROR_SUCCESS) {
    SetText(download.get(), "CODEBASE", codebase);
    SetText(download.get(), "INF", infCopy);
  }
  kit::UniqueKey installed;
  if (RegCreateKeyA(record, "InstalledVersion", installed.put()) == ERROR_SUCCESS) {
    SetText(installed.get(), nullptr, version);
    SetText(installed.get(), "LastModified", "");
  }
}

}  // namespace

int UKitLoader::RegisterDistributionUnit(int scope, const UStringPairList& addCode, const char* infPath,
                                         const char* destFolder, const char* classId, const char* codebase,
                                         const char* fileVersion) {
  int result = 0;
  CatchAndLog(KL_CATCH_SITE("UKitLoader::RegisterDistributionUnit", "UKitLoader::RegisterDistributionUnit()"), result,
              [&] {
                const UString clsid(classId), version(fileVersion), folder(destFolder), inf(infPath);
                if (clsid.empty()) LogRecord(kLogErrors, kRecord, UString("incorect argument (clsid)"));
                if (version.empty()) LogRecord(kLogErrors, kRecord, UString("incorect argument (fileversion)"));
                if (folder.empty()) LogRecord(kLogErrors, kRecord, UString("incorect argument (destdir)"));
                if (inf.empty()) LogRecord(kLogErrors, kRecord, UString("incorect argument (InfFile)"));
                // Without a class the record's name would be the parent key
                // of every record: nothing is written.
                if (clsid.empty()) return;
                const HKEY hive = ScopeOfNumber(scope) == InstallScope::kUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;

                const UString infCopy = InfCopyPath(folder, inf);
                m_state.Rollback().PrepareFile(infCopy);
                CopyFileA(inf.c_str(), infCopy.c_str(), FALSE);

                const UString key = DistributionUnitKey(clsid);
                RegDeleteKeyA(hive, (key + "\\Contains\\Files").c_str());
                RegDeleteKeyA(hive, (key + "\\Contains\\FilesFlags").c_str());
                LogRecord(kLogTrace, kRecord, UMessage::Format("%1, %2", "to Downloaded Program Files", key));
                kit::UniqueKey record;
                if (RegCreateKeyA(hive, key.c_str(), record.put()) != ERROR_SUCCESS) {
                  LogRecord(kLogErrors, kRecord, UMessage::Format("%1, %2", "Cannot create registry", key));
                  return;
                }
                WriteRecordValues(record.get(), UString(codebase), infCopy, version);

                // The file list comes last, each file after its shared
                // records: until it is there the next run finds no record and
                // installs the control again, so an installation cut short
                // anywhere before is finished then.
                const std::vector<RecordedFile> current = RecordedFiles(
                    addCode, folder, SGetSystemDirectory(),
                    [](const UString& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; });
                for (const RecordedFile& file : current) {
                  if (file.optional || file.path.empty()) continue;
                  m_state.Rollback().SaveKey(hive, ModuleUsageKey(file.path));
                  m_state.Rollback().SaveValue(hive, kSharedDlls, file.path);
                }
                RecordFiles(hive, record.get(), current, clsid);
              });
  return result;
}
