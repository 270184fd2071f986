// Placing the file of one [Add.Code] entry, in two passes over one plan of
// where the file comes from and goes and whether the installed copy must be
// replaced: the check pass only checks that such a copy can be moved aside
// (and reports one that cannot as locked); the install pass moves it aside,
// copies with the Abort/Retry/Ignore question (or runs the file's hook), then
// registers a control and writes its records.
#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cabinstaller/UKitLoader.h"
#include "cabinstaller/cab_directory.h"
#include "components/installed_components.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "foundation/m_io.h"

namespace {

const char kPlace[] = "UKitLoader::ProcessSection()";
constexpr int kMaxCopyAttempt = 50;
constexpr UINT kDialogNotice = WM_USER + 0x30;  // wParam 0: a box opens, 1: it closed

// Makes every missing folder level of a file name below its destination
// folder (the destination itself must exist: nothing above it is made).
void CreateNameFolders(const UString& destFolder, const UString& fileName) {
  std::string relative = fileName.str();
  const std::size_t cut = relative.find_last_of("\\/");
  if (cut == std::string::npos) return;
  relative.resize(cut);
  for (char& c : relative) {
    if (c == '/') c = '\\';
  }
  createSubFolder(destFolder.c_str(), relative.c_str());
}

// A file name as the file system compares it: without regard to case.
std::string FoldedName(const std::string& name) {
  std::string folded = name;
  if (!folded.empty()) CharUpperBuffA(&folded[0], static_cast<DWORD>(folded.size()));
  return folded;
}

// Every name in a folder, long and short, folded.
std::set<std::string> FolderNames(const UString& folder) {
  std::set<std::string> names;
  if (folder.empty()) return names;
  WIN32_FIND_DATAA data;
  kit::UniqueFind find(FindFirstFileA((SAddTrailingBackslash(folder) + "*").c_str(), &data));
  for (bool more = static_cast<bool>(find); more; more = FindNextFileA(find.get(), &data)) {
    names.insert(FoldedName(data.cFileName));
    if (data.cAlternateFileName[0]) names.insert(FoldedName(data.cAlternateFileName));
  }
  return names;
}

// The file's own name below a folder, in *destPath; false (logged) for a
// name that would lead out of the folder.
bool JoinFileName(const UString& folder, const UString& fileName, UString* destPath) {
  std::string joined;
  const std::string unsafe = cab::JoinBelow(folder.str(), fileName.str(), &joined);
  if (!unsafe.empty())
    LogRecord(kLogErrors, kPlace, UMessage::Format("%1, %2, %3", "unsafe file name", unsafe.c_str(), folder));
  *destPath = UString(joined.c_str());
  return unsafe.empty();
}

void LogConflict(const UString& path) {
  LogRecord(kLogWarnings, "UKitLoader::ProcessSection", UMessage::Format("%1, %2", "CONFLICT, cannot delete file:", path));
}

}  // namespace

// Copies one file, asking the person what to do when the copy fails. 0 when
// the file is in place or the person chose to go on without it.
int UKitLoader::CopyPackageFile(const UString& source, const UString& destination, const char* sectionName) {
  for (int attempt = 0;; ++attempt) {
    if (attempt > kMaxCopyAttempt) {
      LogRecord(kLogTrace, kPlace, UString("too many file copy attempts, exit"));
      return -1;
    }
    if (CopyFileA(source.c_str(), destination.c_str(), FALSE)) {
      LogRecord(kLogTrace, kPlace, UMessage::Format("%1, %2, %3", "CopyFile succeed", source, destination));
      return 0;
    }
    const DWORD error = GetLastError();
    LogRecord(kLogErrors, kPlace, UMessage::Format("%1, %2, %3, %4", "CopyFile() failed", source, destination, error));
    // Nobody can choose to go on without the file in a silent run: the
    // package fails as if the copy had been abandoned.
    if (!m_bUIAllowed) return static_cast<int>(error);
    PostMessageA(m_hWndOwner, kDialogNotice, 0, 0);
    const int answer = MessageBoxA(m_hWndOwner, UString::Format("Cannot copy file (%s)", sectionName).c_str(),
                                   "Setup", MB_ABORTRETRYIGNORE | MB_ICONWARNING | MB_TOPMOST);
    const DWORD boxError = GetLastError();
    PostMessageA(m_hWndOwner, kDialogNotice, 1, 0);
    LogRecord(kLogTrace, kPlace, UMessage::Format("%1, %2", "MessageBox() result", answer));
    if (answer == 0) {
      LogRecord(kLogErrors, kPlace, UMessage::Format("%1, %2", "MessageBox() failed", boxError));
      return static_cast<int>(boxError);
    }
    if (answer == IDABORT) return static_cast<int>(error);
    if (answer == IDIGNORE) return 0;
  }
}

// Where a file of this name lies in the system or the Windows folder, asked
// once per installation: the check pass may delete the file it found there,
// and the install pass must then put the new file back in its place. Both
// folders are listed once instead of searched per file; a name that a
// search would read differently (separators, wildcards, a stream, trailing
// dots or blanks) is searched for as before.
UString UKitLoader::CommonPath(const UString& fileName) {
  InstallReads& reads = m_state.Reads();
  const std::string& name = fileName.str();
  const auto known = reads.commonPaths.find(name);
  if (known != reads.commonPaths.end()) return known->second;
  UString path;
  if (name.empty() || name.find_first_of("\\/*?:") != std::string::npos || name.back() == '.' || name.back() == ' ') {
    LookupCommonPath(path, fileName.c_str(), nullptr);
    // Only a file below one of the two folders is a shared file.
    if (!path.empty() && !cab::LiesWithin(SGetSystemDirectory().str(), path.str()) &&
        !cab::LiesWithin(SGetSystemWindowsDirectory().str(), path.str())) {
      LogRecord(kLogErrors, kPlace, UMessage::Format("%1, %2, %3", "unsafe section name", fileName, path));
      path = "";
    }
  } else {
    if (!reads.foldersListed) {
      reads.systemFolder = SGetSystemDirectory();
      reads.windowsFolder = SGetSystemWindowsDirectory();
      reads.systemNames = FolderNames(reads.systemFolder);
      reads.windowsNames = FolderNames(reads.windowsFolder);
      reads.foldersListed = true;
    }
    const std::string folded = FoldedName(name);
    if (reads.systemNames.count(folded)) {
      path = SAddTrailingBackslash(reads.systemFolder) + fileName;
    } else if (reads.windowsNames.count(folded)) {
      path = SAddTrailingBackslash(reads.windowsFolder) + fileName;
    }
  }
  reads.commonPaths.emplace(name, path);
  return path;
}

int UKitLoader::ProcessSection(UStringPairList& addCode, const UStringPairList* section, const char* cabFolder,
                               const char* sectionName, const char* infPath, int scope, bool checkOnly) {
  if (checkOnly) return CheckSection(section, cabFolder, sectionName, infPath);
  return InstallSection(addCode, section, cabFolder, sectionName, infPath, ScopeOfNumber(scope));
}

// Both passes: a section that places a file is located, and the pass goes on
// with its plan; anything raised on the way is logged as the section's result.
int UKitLoader::PlanSection(const UStringPairList* section, const char* cabFolder, const char* sectionName,
                            const char* infPath, const std::function<int(PlacementPlan&)>& pass) {
  const UString name(sectionName);
  int result = 0;
  if (!SectionToPlace(section, cabFolder, name, infPath, &result)) return result;
  CatchAndLog(KL_CATCH_SITE("UKitLoader::ProcessSection", kPlace), result, [&] {
    PlacementPlan plan;
    result = LocateFile(*section, cabFolder, name, &plan);
    if (result == 0 && !PlacesNoFile(plan.keys)) result = pass(plan);
  });
  return result;
}

// The check pass: nothing is copied; an installed file that must be
// replaced but that another handle keeps from being moved is locked.
int UKitLoader::CheckSection(const UStringPairList* section, const char* cabFolder, const char* sectionName,
                             const char* infPath) {
  return PlanSection(section, cabFolder, sectionName, infPath, [&](PlacementPlan& plan) {
    int result = DecidePlacement(&plan);
    if (result == 0 && plan.action == PlacementAction::kReplace) result = CheckReplaceable(plan);
    return result;
  });
}

// The install pass: the file is placed (by a copy or its hook) and a control
// registered and recorded.
int UKitLoader::InstallSection(UStringPairList& addCode, const UStringPairList* section, const char* cabFolder,
                               const char* sectionName, const char* infPath, InstallScope scope) {
  return PlanSection(section, cabFolder, sectionName, infPath, [&](PlacementPlan& plan) {
    // A file the check pass found locked (also a shared one in the system
    // folder) goes to the Conflict folder the installation switched to.
    if (m_state.IsLocked(FoldedName(plan.destPath.str()))) {
      plan.destFolder = m_state.TargetFolder();
      plan.named = true;
      if (!JoinFileName(plan.destFolder, plan.keys.fileName, &plan.destPath))
        return static_cast<int>(ERROR_BAD_PATHNAME);
    }
    int result = DecidePlacement(&plan);
    if (result == 0 && plan.action == PlacementAction::kReplace) result = PlaceFile(plan, cabFolder, infPath);
    if (result == 0 && plan.action != PlacementAction::kNothing && plan.control)
      result = RegisterControl(plan, addCode, infPath, scope);
    return result;
  });
}

// The checks both passes make before they look at the section's keys;
// false, with the result in *result, when the section places nothing.
bool UKitLoader::SectionToPlace(const UStringPairList* section, const char* cabFolder, const UString& name,
                                const char* infPath, int* result) {
  *result = 0;
  if (!section || !infPath) {
    LogRecord(kLogErrors, kPlace, UString("invalid args"));
    *result = ERROR_INVALID_PARAMETER;
    return false;
  }
  if (section->empty()) {
    LogRecord(kLogTrace, kPlace, UMessage::Format("%1, %2", "section is empty", name));
    return false;
  }
  if (!cabFolder || !*cabFolder) LogRecord(kLogErrors, kPlace, UString("invalid args (szPath is empty)"));
  LogRecord(kLogTrace, kPlace, UMessage::Format("%1, %2", "processing", name));
  return true;
}

// The section's keys, where the file comes from and where it goes. 0 (also
// for an entry that places no file, logged) or ERROR_BAD_PATHNAME for a
// name or folder that would lead elsewhere.
int UKitLoader::LocateFile(const UStringPairList& section, const char* cabFolder, const UString& name,
                           PlacementPlan* plan) {
  plan->name = name;
  plan->keys = ReadFileSectionKeys(section, name);
  if (PlacesNoFile(plan->keys)) {
    LogRecord(kLogTrace, kPlace, UMessage::Format("%1, %2", "nothing to do", name));
    return 0;
  }
  // Every name joins a folder: the file name the extraction folder and the
  // destination, the section's name the system and Windows folders (the
  // lookup of a shared file).
  const std::pair<const UString*, const char*> names[] = {{&plan->keys.fileName, "unsafe file name"},
                                                          {&plan->name, "unsafe section name"}};
  for (const auto& [text, what] : names) {
    std::string joined;
    const std::string unsafe = cab::JoinBelow(cabFolder ? cabFolder : "", text->str(), &joined);
    if (!unsafe.empty()) {
      LogRecord(kLogErrors, kPlace, UMessage::Format("%1, %2, %3", what, unsafe.c_str(), *text));
      return ERROR_BAD_PATHNAME;
    }
    if (text == &plan->keys.fileName) plan->sourcePath = UString(joined.c_str());
  }
  const int resolved = ResolveDestination(plan);
  if (resolved != 0) return resolved;
  if (plan->destFolder.empty()) plan->destFolder = m_state.TargetFolder();
  plan->named = plan->destPath.empty();
  if (plan->named && !JoinFileName(plan->destFolder, plan->keys.fileName, &plan->destPath)) return ERROR_BAD_PATHNAME;
  return 0;
}

// Where the file belongs: a control (and detoured.dll) in the target
// folder; otherwise where "DestDir" says, else where a shared file of that
// name already lies (destPath then set too), else nowhere yet.
int UKitLoader::ResolveDestination(PlacementPlan* plan) {
  if (!plan->keys.classId.empty() || plan->name.EqualsNoCase("detoured.dll")) {
    plan->destFolder = m_state.TargetFolder();
    return 0;
  }
  UString tempDest;
  switch (ResolveDestDir(plan->keys.destDir, m_state.TempFolder(), &tempDest)) {
    case DestDirKind::kWindows: plan->destFolder = SGetWindowsDirectory(); return 0;
    case DestDirKind::kSystem: plan->destFolder = SGetSystemDirectory(); return 0;
    case DestDirKind::kTempFolder:
      if (cab::LiesWithin(m_state.TempFolder().str(), tempDest.str())) {
        plan->destFolder = tempDest;
        return 0;
      }
      [[fallthrough]];
    case DestDirKind::kOutside:
      LogRecord(kLogErrors, kPlace,
                UMessage::Format("%1, %2, %3", "unsafe destination folder", plan->keys.destDir, plan->name));
      return ERROR_BAD_PATHNAME;
    case DestDirKind::kNone:
      break;
  }
  const UString common = CommonPath(plan->name);
  if (!common.empty()) {
    plan->destPath = common;
    UString file;
    SSplitPath(common, &plan->destFolder, &file);
    plan->destFolder = SRemoveTrailingSeparator(plan->destFolder);
  }
  return 0;
}

// The version of an extracted file, read once: it does not change between
// the two passes. 0 or the error of the read (logged).
DWORD UKitLoader::ExtractedVersion(const UString& sourcePath, DWORD* high, DWORD* low) {
  std::map<std::string, std::pair<DWORD, DWORD>>& versions = m_state.Reads().versions;
  auto version = versions.find(sourcePath.str());
  if (version == versions.end()) {
    const DWORD versionError = getVersion(sourcePath.c_str(), high, low);
    if (versionError != 0) {
      LogRecord(kLogTrace, "USmartUpdateEx::ProcessSection()",
                UMessage::Format("%1, %2", "getVersion() failed", sourcePath));
      return versionError;
    }
    version = versions.emplace(sourcePath.str(), std::make_pair(*high, *low)).first;
  }
  *high = version->second.first;
  *low = version->second.second;
  return 0;
}

// Whether the installed file stays, its control is registered again, or the
// file is replaced (plan->action). 0, the error of reading the extracted
// file's version, or kSourceOutsidePackage.
int UKitLoader::DecidePlacement(PlacementPlan* plan) {
  DWORD high = 0, low = 0;
  const DWORD versionError = ExtractedVersion(plan->sourcePath, &high, &low);
  if (versionError != 0) return static_cast<int>(versionError);
  bool update = needUpdate(plan->destPath.c_str(), high, low) != 0;
  if (!update && FileFound(plan->destPath) && !CheckFileSignature(plan->destPath.c_str())) update = true;

  plan->control = !plan->keys.classId.empty() && plan->keys.registerServer;
  if (!update) {
    LogRecord(kLogTrace, kPlace, UMessage::Format("%1, %2", "No need to update", plan->destPath));
    if (!plan->control || !CommonPath(plan->name).empty()) return 0;
    LogRecord(kLogTrace, kPlace, UString("reregister the control"));
    plan->action = PlacementAction::kReregister;
    return 0;
  }
  if (!plan->keys.source.empty() && plan->keys.source != "thiscab") {
    LogRecord(kLogTrace, kPlace,
              UMessage::Format("%1, %2", "installation limited to the current package only", plan->keys.source));
    return kSourceOutsidePackage;
  }
  plan->action = PlacementAction::kReplace;
  return 0;
}

// The check pass only checks that the installed file could be moved aside.
int UKitLoader::CheckReplaceable(const PlacementPlan& plan) {
  if (CheckFileReplaceable(plan.destPath) == 0) return 0;
  LogConflict(plan.destPath);
  m_state.MarkLocked(FoldedName(plan.destPath.str()));
  return kLockedFile;
}

// Puts the file in place: the installed one moved aside (to come back if the
// installation fails), then a copy, or the file's hook.
int UKitLoader::PlaceFile(const PlacementPlan& plan, const char* cabFolder, const char* infPath) {
  const DWORD busy = m_state.Rollback().PrepareFile(plan.destPath);
  if (busy != 0) {
    LogConflict(plan.destPath);
    return static_cast<int>(busy);
  }
  if (CreateDirectoryA(plan.destFolder.c_str(), nullptr)) m_state.Rollback().MadeFolder(plan.destFolder);
  if (plan.named) CreateNameFolders(plan.destFolder, plan.keys.fileName);
  if (plan.keys.hook.empty()) return CopyVerifiedFile(plan);

  UStringPairList hook;
  int r = GetInfSection(&hook, plan.keys.hook.c_str(), infPath, m_strOSName.c_str(), m_strLanguageId.c_str());
  if (r != 0) {
    LogRecord(kLogErrors, kPlace, UMessage::Format("%1, %2", "GetSection() failed", static_cast<unsigned>(r)));
    return r;
  }
  r = ProcessHook(hook, cabFolder, plan.destFolder.c_str(), infPath, plan.keys.fileVersion.c_str());
  if (r != 0) {
    LogRecord(kLogErrors, kPlace, UMessage::Format("%1, %2", "ProcessHook() failed", static_cast<unsigned>(r)));
    return r;
  }
  return 0;
}

// Copied only while it is the file the cabinet held, and held so; the copy
// is then known by the same digest.
int UKitLoader::CopyVerifiedFile(const PlacementPlan& plan) {
  kit::UniqueFile heldSource;
  kit::Sha256Digest digest{};
  const DWORD bad = HoldVerifiedFile(plan.sourcePath, &heldSource, &digest);
  if (bad != 0) return static_cast<int>(bad);
  const int copied = CopyPackageFile(plan.sourcePath, plan.destPath, plan.name.c_str());
  if (copied == 0 && heldSource) m_staged.Record(plan.destPath, digest);
  return copied;
}

// Registers a placed (or kept) control, then its pre-approved entry and its
// record: the record last, so the next run repairs a control whose record
// is missing.
int UKitLoader::RegisterControl(const PlacementPlan& plan, UStringPairList& addCode, const char* infPath,
                                InstallScope scope) {
  // A control placed by this installation is registered only while it is
  // what was copied, and held so until its registration is over.
  kit::UniqueFile heldControl;
  if (m_staged.Recorded(plan.destPath)) {
    const DWORD bad = HoldVerifiedFile(plan.destPath, &heldControl);
    if (bad != 0) return static_cast<int>(bad);
  }
  const FileSectionKeys& keys = plan.keys;
  LogRecord(kLogTrace, kPlace, UMessage::Format("%1, %2", "installation scope", ScopeName(scope)));
  SaveRegistration(keys.classId);
  const int r = scope == InstallScope::kUser
                    ? RegisterActiveXUser(plan.destPath.c_str(), keys.redirectToHKCU, keys.userEntryPoints)
                    : RegisterActiveX(plan.destPath.c_str());
  if (r != 0) {
    LogRecord(kLogErrors, kPlace,
              UMessage::Format("%1, %2",
                               UMessage::Format("RegisterActiveX(\"%1\", \"%2\" ,\"%3\", \"%4\", \"%5\") failed",
                                                infPath, plan.destFolder, plan.destPath, keys.fileVersion,
                                                keys.classId),
                               r));
    return r;
  }
  checkAndAddToPreapprovedList(ScopeNumber(scope), keys.classId.c_str());
  RegisterDistributionUnit(ScopeNumber(scope), addCode, infPath, plan.destFolder.c_str(), keys.classId.c_str(),
                           m_strCodebase.c_str(), keys.fileVersion.c_str());
  return 0;
}

DWORD UKitLoader::HoldVerifiedFile(const UString& path, kit::UniqueFile* held, kit::Sha256Digest* digest) {
  return m_staged.Hold(path, m_strCabFolder, m_state.TempFolder(), held, digest);
}

DWORD UKitLoader::HoldAllExtracted(std::vector<kit::UniqueFile>* held) {
  return m_staged.HoldAllBelow(m_strCabFolder, m_state.TempFolder(), held);
}
