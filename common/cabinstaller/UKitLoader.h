// The in-process cabinet installer.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <vector>

#include "cabinstaller/file_section.h"
#include "cabinstaller/install_scope.h"
#include "cabinstaller/install_state.h"
#include "cabinstaller/staged_files.h"
#include "foundation/UClasses.h"
#include "foundation/string_lists.h"

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

  // Places the file of one [Add.Code] entry: the check pass (checkOnly)
  // copies nothing and reports an installed file that must be replaced but
  // cannot be freed as kLockedFile; the install pass places the file and
  // registers a control. 0 or an error code.
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
  // 87 (not a cabinet); 161 (a stored name is unsafe). Sets CabFolder().
  int ExtractCAB(const char* cabPath);

  // The cabinet library's file notifications: open the output file of a
  // stored name (a descriptor, or -1 to abort), and close it and restore its
  // time and attributes (TRUE, or -1 when a stop was requested).
  int OpenExtractedFile(const char* storedName);
  int CloseExtractedFile(int fd, const char* storedName, unsigned short date, unsigned short time,
                         unsigned short attributes);

  // Settings the update engine (or another caller) gives before an
  // installation: whether message boxes may be shown, whether the INF may
  // ask for a per-user installation at all, and the package's codebase.
  void SetUIAllowed(bool allowed) { m_bUIAllowed = allowed; }
  void SetPerUserAllowed(bool allowed) { m_bPerUserAllowed = allowed; }
  bool PerUserAllowed() const { return m_bPerUserAllowed; }
  void SetCodebase(const UString& codebase) { m_strCodebase = codebase; }

  // The stop request: set from another thread; tested between [Add.Code]
  // entries, by the extraction and while a hook's program runs.
  void SetRequestToStop(bool stop) { m_bRequestToStop = stop; }
  bool RequestToStop() const { return m_bRequestToStop.load(); }

  // What the last extraction and installation left: the folder of the
  // cabinet (ending with a backslash), the default target folder, and the
  // last action a hook recorded (kept from one package to the next).
  const UString& CabFolder() const { return m_strCabFolder; }
  const UString& TargetFolder() const { return m_state.TargetFolder(); }
  const UString& Action() const { return m_strAction; }

  // Placing sections outside Install (ProcessSection on its own): the
  // target folder to place into, and making what was placed final.
  void SetTargetFolder(const UString& folder) { m_state.SetTargetFolder(folder); }
  void CommitPlacements() { m_state.Rollback().Commit(); }

 private:
  // What placing one [Add.Code] entry's file comes to.
  enum class PlacementAction {
    kNothing,     // the entry places no file, or the installed one stays
    kReregister,  // the installed control stays and is registered again
    kReplace,     // the file is placed (and a control registered)
  };
  // Where one entry's file comes from and goes, worked out alike by both
  // passes.
  struct PlacementPlan {
    FileSectionKeys keys;
    UString name;  // the section's name
    UString sourcePath, destFolder, destPath;
    bool named = false;    // destPath is the file's own name below destFolder
    bool control = false;  // a class to register
    PlacementAction action = PlacementAction::kNothing;
  };

  // The install driver's steps.
  int InstallPackage(const UString& cabPath, int flags);
  void ExtractPackage(const UString& cabPath);
  UString PackageInfPath(const UString& cabFolder, const UString& cabName);
  InstallScope ChooseTarget(int scope, int flags);
  int ReplayRecordedAction(const UString& cabFolder);
  void PlaceCodeFiles(UStringPairList& addCode, const UString& infPath, InstallScope scope);
  void CheckCodeList(UStringPairList& addCode, std::vector<UStringPairList>& sections,
                     const UStringList* sectionNames, const char* infPath, bool* locked);
  void InstallCodeList(UStringPairList& addCode, const std::vector<UStringPairList>& sections, const char* infPath,
                       InstallScope scope);
  void SwitchToConflictFolder(InstallScope scope);
  void CreateTargetFolder();
  bool RunSetupHooks(const UString& cabFolder, const UString& infPath);
  void ThrowIfStopped();

  // File placement: both passes over one plan.
  int PlanSection(const UStringPairList* section, const char* cabFolder, const char* sectionName,
                  const char* infPath, const std::function<int(PlacementPlan&)>& pass);
  int CheckSection(const UStringPairList* section, const char* cabFolder, const char* sectionName,
                   const char* infPath);
  int InstallSection(UStringPairList& addCode, const UStringPairList* section, const char* cabFolder,
                     const char* sectionName, const char* infPath, InstallScope scope);
  bool SectionToPlace(const UStringPairList* section, const char* cabFolder, const UString& name,
                      const char* infPath, int* result);
  int LocateFile(const UStringPairList& section, const char* cabFolder, const UString& name, PlacementPlan* plan);
  int ResolveDestination(PlacementPlan* plan);
  DWORD ExtractedVersion(const UString& sourcePath, DWORD* high, DWORD* low);
  int DecidePlacement(PlacementPlan* plan);
  int CheckReplaceable(const PlacementPlan& plan);
  int PlaceFile(const PlacementPlan& plan, const char* cabFolder, const char* infPath);
  int CopyVerifiedFile(const PlacementPlan& plan);
  int RegisterControl(const PlacementPlan& plan, UStringPairList& addCode, const char* infPath, InstallScope scope);
  int CopyPackageFile(const UString& source, const UString& destination, const char* sectionName);
  UString CommonPath(const UString& fileName);

  // Hooks and actions.
  int InstallInfSection(const char* extractFolder, const char* infPath);
  int RunCommand(const char* extractFolder, const char* objectFolder);
  void WaitForCommand(HANDLE process);
  void RecordExitCode(HANDLE process, const UString& commandLine);
  static UINT CALLBACK InstallQueueCallback(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR param2);
  static UINT CALLBACK FallbackQueueCallback(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR param2);
  UINT AnswerQuietly(UINT notification, UINT_PTR param1);

  // Saves what registering a control may change: its class, type library
  // and program names, and its record, in both hives.
  void SaveRegistration(const UString& classId);

  // The staged files' check, with this installation's folders.
  DWORD HoldVerifiedFile(const UString& path, kit::UniqueFile* held, kit::Sha256Digest* digest = nullptr);
  DWORD HoldAllExtracted(std::vector<kit::UniqueFile>* held);

  // The folder of the cabinet being extracted, ending with a backslash.
  UString m_strCabFolder;
  // The last action recorded by a hook and its INF file; kept from one
  // package to the next.
  UString m_strAction;
  UString m_strActionInfFile;
  void* m_pQueueContext = nullptr;
  // The failure for which this installer stopped the file queue of the INF
  // section being installed (a question nobody could answer); 0 otherwise.
  DWORD m_dwQueueAbortError = 0;

  // Decoration tags for INF sections, fixed at construction.
  UString m_strOSName;
  UString m_strLanguageId;

  // Settings written before an installation.
  std::atomic<bool> m_bRequestToStop{false};
  HWND m_hWndOwner = nullptr;
  bool m_bPerUserAllowed = false;
  bool m_bUIAllowed = true;
  UString m_strCodebase;

  // The current (or last) installation, and the digests of what its
  // extraction wrote.
  InstallState m_state;
  StagedFiles m_staged;
};
