// Installing one cabinet in this process: extraction, scope and target
// folder, the rights for that scope, the check pass that finds locked files
// (and then a fresh Conflict.N folder), the files of every [Add.Code] entry,
// the [Setup Hooks], the DefaultInstall fallback and the clean-up.
#include <windows.h>

#include <vector>

#include "cabinstaller/UKitLoader.h"
#include "cabinstaller/cab_directory.h"
#include "cabinstaller/file_section.h"
#include "components/installed_components.h"
#include "foundation/m_folders.h"
#include "foundation/m_io.h"
#include "foundation/m_sys.h"
#include "foundation/m_uac_helpers.h"
#include "foundation/temp_folders.h"
#include "platform/platform_facts.h"

namespace {

const char kInstall[] = "UKitLoader::Install()";
constexpr int kMaxConflictFolder = 10000;

bool FolderExists(const UString& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int UKitLoader::GetInstallScope(const char* infPath) {
  if (!m_bPerUserAllowed) return 1;
  UStringPairList deployment;
  if (GetInfSection(&deployment, "Deployment", infPath, m_strOSName.c_str(), m_strLanguageId.c_str()) != 0) return 1;
  return InstallScopeOfDeployment(deployment);
}

int UKitLoader::Install(const UString& cabPath, int flags, HWND owner) {
  m_hWndOwner = owner;
  // A stop is cleared by the engine when a request begins, never here: a
  // Cancel pressed while this installation waited for its turn must hold.
  m_state.Begin();
  int result = 0;
  CatchAndLog(KL_CATCH_SITE("UKitLoader::Install", kInstall), result, [&] { result = InstallPackage(cabPath, flags); });
  // All or nothing: a failed or cancelled installation puts back every file,
  // class registration and record it changed.
  m_state.Finish(result == 0);
  // The installation's temporary folder goes on every path.
  CatchAndLog(KL_CATCH_SITE("UKitLoader::Install", kInstall), result, [&] { m_state.RemoveTempFolder(); });
  return CombineActionResult(result, m_state.ActionResult());
}

int UKitLoader::InstallPackage(const UString& cabPath, int flags) {
  UString cabFolder, cabName;
  SSplitPath(cabPath, &cabFolder, &cabName);
  cabFolder = SRemoveTrailingSeparator(cabFolder);
  if (cabFolder.empty()) KL_THROW(ERROR_INVALID_PARAMETER, kInstall, "EXCEPTION - %s", "invalid path");
  ExtractPackage(cabPath);

  const UString tempBase = SGetTempPath();
  if (tempBase.empty())
    KL_THROW(-1, kInstall, "EXCEPTION - %s", "Unable to get temporary foldername for this userprofile");
  const int status = m_state.CreateTempFolder(tempBase);
  if (status < 0)
    KL_THROW(-1, kInstall, "EXCEPTION - %s, %s", "Unable to create unique temporary foldername errorCode:",
             SIntToString(status).c_str());

  const UString infPath = PackageInfPath(cabFolder, cabName);
  const int asked = GetInstallScope(infPath.c_str());
  LogRecord(kLogTrace, kInstall, UMessage::Format("%1, %2", ".inf scope", asked == 2 ? "USER|MACHINE" : "MACHINE"));
  const InstallScope scope = ChooseTarget(asked, flags);

  UStringPairList addCode;
  const int read = GetInfSection(&addCode, "Add.Code", infPath.c_str(), m_strOSName.c_str(), m_strLanguageId.c_str());
  if (read != 0) return read != -1 || m_strAction.empty() ? read : ReplayRecordedAction(cabFolder);
  const bool hadCode = !addCode.empty();
  PlaceCodeFiles(addCode, infPath, scope);
  const bool hadHooks = RunSetupHooks(cabFolder, infPath);

  if (!hadCode && !hadHooks) {
    m_strAction = "InfSection=DefaultInstall";
    const int r = PerformAction(cabFolder.c_str(), "", infPath.c_str());
    if (r != 0) KL_THROW(r, kInstall, "EXCEPTION - %s, %s", "PerformAction() failed", infPath.c_str());
  }
  return 0;
}

void UKitLoader::ExtractPackage(const UString& cabPath) {
  const int extracted = ExtractCAB(cabPath.c_str());
  if (extracted != 0) {
    // The extraction's own code tells what went wrong; the thread's last
    // error after the cabinet library's calls need not belong to it.
    const int code = m_bRequestToStop.load() ? ERROR_CANCELLED : extracted;
    LogRecord(kLogErrors, kInstall, UMessage::Format("%1, %2", "ExtractCAB() failed", code));
    KL_THROW(code, kInstall, "EXCEPTION - %s, %s", "ExtractCAB() failed", SUIntToString(code).c_str());
  }
  kit::facts::PausePoint("AfterExtraction", m_strCabFolder.c_str());
}

// The package's INF: the cabinet's name with ".inf" for its extension, in
// the cabinet's folder; held, when the cabinet has one, as the cabinet held it.
UString UKitLoader::PackageInfPath(const UString& cabFolder, const UString& cabName) {
  const std::size_t dot = cabName.str().rfind('.');
  if (dot == std::string::npos)
    KL_THROW(ERROR_INVALID_PARAMETER, kInstall, "EXCEPTION - %s, %s", "invalid inf path", cabName.c_str());
  const UString infPath = cabFolder + "\\" + UString(cabName.str().substr(0, dot)).Trimmed() + ".inf";
  // The INF read from here on is the one the cabinet held, and stays so.
  if (GetFileAttributesA(infPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
    const DWORD bad = HoldVerifiedFile(infPath, m_state.HeldInf());
    if (bad != 0) KL_THROW(static_cast<int>(bad), kInstall, "EXCEPTION - %s, %s", "the INF was changed", infPath.c_str());
  }
  return infPath;
}

InstallScope UKitLoader::ChooseTarget(int scope, int flags) {
  const bool vista = IsWindowsVistaOrLater();
  const DWORD integrity = vista ? uGetProcessIntegrityLevel(GetCurrentProcess()) : kIntegrityHigh;
  InstallScope chosen = InstallScope::kMachine;
  if (scope == ScopeNumber(InstallScope::kUser) && (flags & kUserInstallAllowed)) {
    chosen = InstallScope::kUser;
    if (vista && integrity == kIntegrityLow)
      KL_THROW(-1, kInstall, "EXCEPTION - %s", "Not enough rights to start per-user installation");
    m_state.SetTargetFolder(SGetUserDownloadedProgramFilesFolder(true));
  } else {
    if (!(flags & kMachineInstallAllowed)) KL_THROW(-1, kInstall, "EXCEPTION - %s", "INSTALL_SCOPE_INVALID");
    if (vista ? (integrity == kIntegrityMedium || integrity == kIntegrityLow)
              : !CheckInstallActiveXRigths())
      KL_THROW(-1, kInstall, "EXCEPTION - %s", "Not enough rights to start per-machine installation");
    m_state.SetTargetFolder(SGetDownloadedProgramFilesFolder());
  }
  LogRecord(kLogTrace, kInstall, UMessage::Format("%1, %2", "installation scope", ScopeName(chosen)));
  if (m_state.TargetFolder().empty())
    KL_THROW(-1, kInstall, "EXCEPTION - %s", "GetDownloadedProgramFilesFolder() returned empty value");
  return chosen;
}

// No INF in this package: the action recorded by an earlier package's hook
// runs again, rooted in this package's folder.
int UKitLoader::ReplayRecordedAction(const UString& cabFolder) {
  LogRecord(kLogTrace, kInstall, UMessage::Format("%1, %2, %3", "perform action", m_strAction, m_strActionInfFile));
  // The recorded name stays as it was, so a later replay roots it afresh.
  std::string actionInf;
  const std::string unsafe =
      m_strActionInfFile.empty() ? std::string() : cab::JoinBelow(cabFolder.str(), m_strActionInfFile.str(), &actionInf);
  if (!unsafe.empty())
    KL_THROW(ERROR_BAD_PATHNAME, kInstall, "EXCEPTION - %s, %s, %s", "unsafe INF file name", unsafe.c_str(),
             m_strActionInfFile.c_str());
  return PerformAction(cabFolder.c_str(), m_state.TargetFolder().c_str(), actionInf.c_str());
}

// The files of the [Add.Code] entries: the check pass, a Conflict folder
// when it found a locked file, the target folder, the install pass.
void UKitLoader::PlaceCodeFiles(UStringPairList& addCode, const UString& infPath, InstallScope scope) {
  LogRecord(kLogTrace, kInstall, UString("find if there are any locked files from the package"));
  // The INF's section names are listed once for the whole installation.
  UStringList sectionNames;
  const bool namesRead = GetSectionNames(&sectionNames, infPath.c_str()) == 0;
  std::vector<UStringPairList> sections;
  bool locked = false;
  CheckCodeList(addCode, sections, namesRead ? &sectionNames : nullptr, infPath.c_str(), &locked);
  if (locked) SwitchToConflictFolder(scope);

  LogRecord(kLogTrace, kInstall,
            UMessage::Format("%1, %2", "perform actual installation to the following default target folder",
                             m_state.TargetFolder()));
  CreateTargetFolder();
  InstallCodeList(addCode, sections, infPath.c_str(), scope);
}

// The check pass over the [Add.Code] entries, last to first: it reads each
// entry's section and, once it is through, leaves out of the list the
// entries that place no file (an empty section, a file to ignore), so the
// record of a control lists exactly what this installation placed.
void UKitLoader::CheckCodeList(UStringPairList& addCode, std::vector<UStringPairList>& sections,
                               const UStringList* sectionNames, const char* infPath, bool* locked) {
  std::vector<UString>& entrySections = m_state.Reads().entrySections;
  entrySections.clear();
  for (const UStringPair& entry : addCode) entrySections.push_back(entry.second);
  sections.assign(addCode.size(), UStringPairList());
  for (std::size_t index = addCode.size(); index-- > 0;) {
    const UString sectionName = entrySections[index];
    UStringPairList& section = sections[index];
    const int read = GetInfSection(&section, sectionName.c_str(), infPath, m_strOSName.c_str(),
                                   m_strLanguageId.c_str(), sectionNames);
    if (read != 0) KL_THROW(read, kInstall, "EXCEPTION - %s, %s", "GetSection() failed", sectionName.c_str());
    const int r = CheckSection(&section, m_strCabFolder.c_str(), sectionName.c_str(), infPath);
    if (r == kLockedFile) {
      *locked = true;
    } else if (r != 0) {
      KL_THROW(r, kInstall, "EXCEPTION - %s, %s", "ProcessSection() failed", sectionName.c_str());
    }
    ThrowIfStopped();
  }
  for (std::size_t index = 0; index < addCode.size(); ++index) {
    if (sections[index].empty() || PlacesNoFile(ReadFileSectionKeys(sections[index], entrySections[index])))
      addCode[index].second = "";
  }
}

// The install pass, last to first again, over the sections the check pass read.
void UKitLoader::InstallCodeList(UStringPairList& addCode, const std::vector<UStringPairList>& sections,
                                 const char* infPath, InstallScope scope) {
  for (std::size_t index = addCode.size(); index-- > 0;) {
    const UString sectionName = m_state.Reads().entrySections[index];
    const int r =
        InstallSection(addCode, &sections[index], m_strCabFolder.c_str(), sectionName.c_str(), infPath, scope);
    if (r != 0) KL_THROW(r, kInstall, "EXCEPTION - %s, %s", "ProcessSection() failed", sectionName.c_str());
    if (sections[index].empty())
      LogRecord(kLogTrace, kInstall, UMessage::Format("%1, %2", "marked as optional", sectionName));
    ThrowIfStopped();
  }
}

void UKitLoader::ThrowIfStopped() {
  if (m_bRequestToStop.load()) KL_THROW(ERROR_CANCELLED, kInstall, "EXCEPTION - %s", "installation aborted");
}

void UKitLoader::SwitchToConflictFolder(InstallScope scope) {
  LogRecord(kLogTrace, kInstall, UString("some files are locked, let's find a new default target for installation"));
  const UString base = SAddTrailingBackslash(scope == InstallScope::kUser ? SGetUserDownloadedProgramFilesFolder(true)
                                                                          : SGetDownloadedProgramFilesFolder());
  UString name;
  for (int i = 0;; ++i) {
    if (i > kMaxConflictFolder) KL_THROW(-1, kInstall, "EXCEPTION - %s", "too many conflict folders");
    name = UString::Format("%sConflict.%d", base.c_str(), i);
    if (!FolderExists(name)) break;
  }
  if (!CreateDirectoryA(name.c_str(), nullptr)) {
    const DWORD error = GetLastError();
    KL_THROW(static_cast<int>(error), kInstall, "EXCEPTION - %s, %s, %s", "CreateDirectory() failed", name.c_str(),
             SUIntToString(error).c_str());
  }
  m_state.Rollback().MadeFolder(name);
  m_state.SetTargetFolder(name);
  LogRecord(kLogTrace, kInstall, UMessage::Format("%1, %2", "new default target for installation", name));
}

void UKitLoader::CreateTargetFolder() {
  const UString& target = m_state.TargetFolder();
  if (FolderExists(target)) return;
  if (CreateDirectoryA(target.c_str(), nullptr)) {
    m_state.Rollback().MadeFolder(target);
  } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
    KL_THROW(-1, kInstall, "EXCEPTION - %s, %s, %s", "CreateDirectory() failed", target.c_str(),
             SUIntToString(GetLastError()).c_str());
  }
}

// Runs the [Setup Hooks] entries in file order; whether the INF has any.
bool UKitLoader::RunSetupHooks(const UString& cabFolder, const UString& infPath) {
  UStringPairList hooks;
  int r = GetInfSection(&hooks, "Setup Hooks", infPath.c_str(), m_strOSName.c_str(), m_strLanguageId.c_str());
  if (r != 0) KL_THROW(r, kInstall, "EXCEPTION - %s", "ProcessHook() failed");
  for (const UStringPair& entry : hooks) {
    UStringPairList hook;
    r = GetInfSection(&hook, entry.second.c_str(), infPath.c_str(), m_strOSName.c_str(), m_strLanguageId.c_str());
    if (r != 0) KL_THROW(r, kInstall, "EXCEPTION - %s, %s", "GetSection() failed", entry.second.c_str());
    r = ProcessHook(hook, cabFolder.c_str(), m_state.TargetFolder().c_str(), infPath.c_str(), nullptr);
    if (r != 0) KL_THROW(r, kInstall, "EXCEPTION - %s", "ProcessHook() failed");
    // Cancel pressed while a hook's program ran ends its wait: the
    // installation is then undone, not made final.
    ThrowIfStopped();
  }
  return !hooks.empty();
}
