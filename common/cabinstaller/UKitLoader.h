// The in-process cabinet installer.
#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cabinstaller/install_rollback.h"
#include "foundation/UClasses.h"
#include "foundation/file_digest.h"
#include "foundation/string_lists.h"
#include "foundation/temp_folders.h"

class UKitLoader : public UObject {
 public:
  UKitLoader();
  ~UKitLoader() override = default;

  // Appends the names of all sections of an INF file. 0 or an error code.
  static int GetSectionNames(UStringList* names, const char* infPath);

  // Appends the key/value pairs of one section, preferring a platform- and
  // language-decorated variant when platformTag is not null. An absent
  // section is no failure. 0 or an error code.
  static int GetInfSection(UStringPairList* pairs, const char* section, const char* infPath,
                           const char* platformTag, const char* languageTag);
  // The same with the file's section names already read (null: read them).
  static int GetInfSection(UStringPairList* pairs, const char* section, const char* infPath,
                           const char* platformTag, const char* languageTag, const UStringList* sectionNames);

  // Installs one verified cabinet in this process. flags: 1 a per-machine,
  // 2 a per-user installation is allowed. 0 or an error code.
  int Install(const UString& cabPath, int flags, HWND owner);

  // The scope the package's INF asks for: 2 per user (only where per-user
  // installation is allowed at all), otherwise 1 per machine.
  int GetInstallScope(const char* infPath);

  // Places the file of one [Add.Code] entry. With checkOnly nothing is
  // copied: an installed file that must be replaced is deleted, and one that
  // cannot be deleted gives kLockedFile. 0 or an error code.
  int ProcessSection(UStringPairList& addCode, const UStringPairList* section, const char* cabFolder,
                     const char* sectionName, const char* infPath, int scope, bool checkOnly);

  // Hooks and actions: read one hook section and record its action; carry
  // the recorded action out.
  int ProcessHook(const UStringPairList& hook, const char* cabFolder, const char* objectFolder, const char* infPath,
                  const char* fileVersion);
  int PerformAction(const char* extractFolder, const char* objectFolder, const char* infPath);

  // Control registration through the file's own entry points.
  int CallDllEntryPoint(const char* path, const char* entryPoint);
  int RegisterActiveX(const char* path);
  int RegisterActiveXUser(const char* path, bool redirectToHKCU, bool userEntryPoints);
  // The per-user registration application beside this program or beside the
  // suite's installer control; empty when neither can be read.
  static UString SGetUserRegister();
  // Removal through the same entry points: DllUnregisterServer in this
  // process for the machine; for the current user, userregsvr.exe /u (the
  // file's DllUnregisterServerUser, or its DllUnregisterServer with the
  // classes redirected to the user's). 0, or why the control refused.
  int UnregisterActiveX(const char* path);
  int UnregisterActiveXUser(const char* path);

  // The distribution-unit record of a placed control.
  int RegisterDistributionUnit(int scope, const UStringPairList& addCode, const char* infPath,
                               const char* destFolder, const char* classId, const char* codebase,
                               const char* fileVersion);
  // Undoes the record of a class in the hive of `scope` in reverse order of
  // its installation: the control is unregistered (a refusal ends the removal
  // with 1603 unless `force`), each file loses this class as its owner and
  // goes once no owner is left (a file in use at the next restart: 3010),
  // then the INF copy, the pre-approved entry and last the record. Each step
  // finds what an earlier removal cut short left and finishes it.
  // 0, 3010, 1603, 1605 (no record) or the error of a file.
  int RemoveDistributionUnit(int scope, const char* classId, bool force);
  // The scope whose hive holds a record of the class: 2 when the user has
  // one, else 1 when the machine has one, else 0.
  static int RecordedScope(const char* classId);

  // ProcessSection's own results.
  enum : int {
    kSourceOutsidePackage = 0x10000000,  // the file would come from outside the package
    kLockedFile = 0x10000002,            // check pass: an installed file cannot be replaced
  };

  // Unpacks a cabinet into the folder it lies in, keeping its sub-folders,
  // file times and basic attributes; a cabinet whose stored names would
  // leave that folder is refused before anything is written. 0; 2 (no path,
  // cannot open, extraction failed or stopped); 8 (no cabinet library);
  // 87 (not a cabinet); 161 (a stored name is unsafe). Sets m_strCabFolder.
  int ExtractCAB(const char* cabPath);

  // The cabinet library's file notifications: open the output file of a
  // stored name (a descriptor, or -1 to abort), and close it and restore its
  // time and attributes (TRUE, or -1 when a stop was requested).
  int OpenExtractedFile(const char* storedName);
  int CloseExtractedFile(int fd, const char* storedName, unsigned short date, unsigned short time,
                         unsigned short attributes);

  // The folder of the cabinet being extracted, ending with a backslash.
  UString m_strCabFolder;

  // The default target folder of the current (or last) installation.
  UString m_strTargetFolder;
  // The installation's own temporary folder, removed when it ends, and what
  // keeps it in place until then.
  UString m_strTempFolder;
  TempFolderHold m_tempFolderHold;
  // The last action recorded by a hook and its INF file; kept from one
  // package to the next.
  UString m_strAction;
  UString m_strActionInfFile;
  // What this installation changed: undone by Install when it fails or is
  // cancelled, made final when it succeeds.
  InstallRollback m_rollback;
  // The accumulated result of the actions of this installation.
  int m_nActionResult = 0;
  void* m_pQueueContext = nullptr;
  // The failure for which this installer stopped the file queue of the INF
  // section being installed (a question nobody could answer); 0 otherwise.
  DWORD m_dwQueueAbortError = 0;

  // Decoration tags for INF sections, fixed at construction.
  UString m_strOSName;
  UString m_strLanguageId;

  // Settings written by the update engine before an installation.
  std::atomic<bool> m_bRequestToStop{false};
  HWND m_hWndOwner = nullptr;
  bool m_bPerUserAllowed = false;
  bool m_bUIAllowed = true;
  UString m_strCodebase;

 private:
  int InstallPackage(const UString& cabPath, int flags);
  int ChooseTarget(int scope, int flags);
  void ProcessCodeList(UStringPairList& addCode, std::vector<UStringPairList>& sections,
                       const UStringList* sectionNames, const char* infPath, int scope, bool checkOnly, bool* locked);
  void SwitchToConflictFolder(int scope);
  int CopyPackageFile(const UString& source, const UString& destination, const char* sectionName);
  int InstallInfSection(const char* extractFolder, const char* infPath);
  int RunCommand(const char* extractFolder, const char* objectFolder);
  UString CommonPath(const UString& fileName);
  // Saves what registering a control may change: its class, type library
  // and program names, and its record, in both hives.
  void SaveRegistration(const UString& classId);

  // What is placed is what was verified: every file's SHA-256 as it streamed
  // out of the cabinet (and of each copy this installation placed), by its
  // folded full path. A file is checked against it, and held open with read
  // sharing only, before it is copied, registered or started.
  std::map<std::string, kit::Sha256Digest> m_digests;
  // The package INF, checked once extraction is over and held until the end.
  kit::UniqueFile m_heldInf;
  static std::string DigestKey(const UString& path);
  // Opens a file of the extraction, or one placed from it, (never through a
  // link) for reading with read sharing only and checks its content against
  // its recorded digest: 0 with the file in *held (and its digest in
  // *digest), or TRUST_E_BAD_DIGEST, logged. A file outside both folders,
  // or one that neither stands nor was extracted: 0 with nothing held.
  DWORD HoldVerifiedFile(const UString& path, kit::UniqueFile* held, kit::Sha256Digest* digest = nullptr);
  // Every extracted file, checked and held: 0 or TRUST_E_BAD_DIGEST.
  DWORD HoldAllExtracted(std::vector<kit::UniqueFile>* held);

  // What one installation reads once (reset when it starts): the names in
  // the system and Windows folders, where each file name was found there
  // (empty: nowhere), so both passes place a file alike, and the version of
  // each extracted file.
  struct InstallReads {
    bool foldersListed = false;
    UString systemFolder, windowsFolder;
    std::set<std::string> systemNames, windowsNames;
    std::map<std::string, UString> commonPaths;
    std::map<std::string, std::pair<DWORD, DWORD>> versions;
    std::vector<UString> entrySections;  // each [Add.Code] entry's section, as listed
    std::set<std::string> lockedPaths;   // files the check pass could not delete, folded
  };
  InstallReads m_reads;
};
