// Placing the file of one [Add.Code] entry: where it goes, whether the
// installed copy must be replaced, delete-before-copy (the check pass only
// deletes, and reports a file it cannot delete as locked), the copy with the
// Abort/Retry/Ignore question, then registration and the records of a
// control.
#include <windows.h>

#include <set>
#include <string>
#include <utility>

#include "cabinstaller/UKitLoader.h"
#include "cabinstaller/cab_directory.h"
#include "cabinstaller/file_section.h"
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
  const std::string& name = fileName.str();
  const auto known = m_reads.commonPaths.find(name);
  if (known != m_reads.commonPaths.end()) return known->second;
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
    if (!m_reads.foldersListed) {
      m_reads.systemFolder = SGetSystemDirectory();
      m_reads.windowsFolder = SGetSystemWindowsDirectory();
      m_reads.systemNames = FolderNames(m_reads.systemFolder);
      m_reads.windowsNames = FolderNames(m_reads.windowsFolder);
      m_reads.foldersListed = true;
    }
    const std::string folded = FoldedName(name);
    if (m_reads.systemNames.count(folded)) {
      path = SAddTrailingBackslash(m_reads.systemFolder) + fileName;
    } else if (m_reads.windowsNames.count(folded)) {
      path = SAddTrailingBackslash(m_reads.windowsFolder) + fileName;
    }
  }
  m_reads.commonPaths.emplace(name, path);
  return path;
}

int UKitLoader::ProcessSection(UStringPairList& addCode, const UStringPairList* section, const char* cabFolder,
                               const char* sectionName, const char* infPath, int scope, bool checkOnly) {
  if (!section || !infPath) {
    LogRecord(kLogErrors, kPlace, UString("invalid args"));
    return ERROR_INVALID_PARAMETER;
  }
  const UString name(sectionName);
  if (section->empty()) {
    LogRecord(kLogTrace, kPlace, UMessage::Format("%1, %2", "section is empty", name));
    return 0;
  }
  if (!cabFolder || !*cabFolder) LogRecord(kLogErrors, kPlace, UString("invalid args (szPath is empty)"));
  LogRecord(kLogTrace, kPlace, UMessage::Format("%1, %2", "processing", name));

  int result = 0;
  CatchAndLog(KL_CATCH_SITE("UKitLoader::ProcessSection", kPlace), result, [&] {
    const FileSectionKeys keys = ReadFileSectionKeys(*section, name);
    if (PlacesNoFile(keys)) {
      LogRecord(kLogTrace, kPlace, UMessage::Format("%1, %2", "nothing to do", name));
      return;
    }
    // Every name joins a folder: the file name the extraction folder and the
    // destination, the section's name the system and Windows folders (the
    // lookup of a shared file).
    UString sourcePath;
    const std::pair<const UString*, const char*> names[] = {{&keys.fileName, "unsafe file name"},
                                                            {&name, "unsafe section name"}};
    for (const auto& [text, what] : names) {
      std::string joined;
      const std::string unsafe = cab::JoinBelow(cabFolder ? cabFolder : "", text->str(), &joined);
      if (!unsafe.empty()) {
        LogRecord(kLogErrors, kPlace, UMessage::Format("%1, %2, %3", what, unsafe.c_str(), *text));
        result = ERROR_BAD_PATHNAME;
        return;
      }
      if (text == &keys.fileName) sourcePath = UString(joined.c_str());
    }

    // Where the file belongs.
    UString destFolder, destPath;
    if (!keys.classId.empty() || name.EqualsNoCase("detoured.dll")) {
      destFolder = m_strTargetFolder;
    } else {
      UString tempDest;
      switch (ResolveDestDir(keys.destDir, m_strTempFolder, &tempDest)) {
        case DestDirKind::kWindows: destFolder = SGetWindowsDirectory(); break;
        case DestDirKind::kSystem: destFolder = SGetSystemDirectory(); break;
        case DestDirKind::kTempFolder:
          if (cab::LiesWithin(m_strTempFolder.str(), tempDest.str())) {
            destFolder = tempDest;
            break;
          }
          [[fallthrough]];
        case DestDirKind::kOutside:
          LogRecord(kLogErrors, kPlace, UMessage::Format("%1, %2, %3", "unsafe destination folder", keys.destDir, name));
          result = ERROR_BAD_PATHNAME;
          return;
        case DestDirKind::kNone: {
          const UString common = CommonPath(name);
          if (!common.empty()) {
            destPath = common;
            UString file;
            SSplitPath(common, &destFolder, &file);
            destFolder = SRemoveTrailingSeparator(destFolder);
          }
          break;
        }
      }
    }
    if (destFolder.empty()) destFolder = m_strTargetFolder;
    // The file's own name below a folder.
    const auto joinName = [&](const UString& folder) {
      std::string joined;
      const std::string unsafe = cab::JoinBelow(folder.str(), keys.fileName.str(), &joined);
      if (!unsafe.empty())
        LogRecord(kLogErrors, kPlace, UMessage::Format("%1, %2, %3", "unsafe file name", unsafe.c_str(), folder));
      destPath = UString(joined.c_str());
      return unsafe.empty();
    };
    bool named = destPath.empty();  // the file's own name below the folder
    if (named && !joinName(destFolder)) {
      result = ERROR_BAD_PATHNAME;
      return;
    }
    // A file the check pass found locked (also a shared one in the system
    // folder) goes to the Conflict folder the installation switched to.
    if (!checkOnly && m_reads.lockedPaths.count(FoldedName(destPath.str()))) {
      destFolder = m_strTargetFolder;
      named = true;
      if (!joinName(destFolder)) {
        result = ERROR_BAD_PATHNAME;
        return;
      }
    }

    // The extracted file does not change between the two passes.
    auto version = m_reads.versions.find(sourcePath.str());
    if (version == m_reads.versions.end()) {
      DWORD high = 0, low = 0;
      const DWORD versionError = getVersion(sourcePath.c_str(), &high, &low);
      if (versionError != 0) {
        LogRecord(kLogTrace, "USmartUpdateEx::ProcessSection()",
                  UMessage::Format("%1, %2", "getVersion() failed", sourcePath));
        result = static_cast<int>(versionError);
        return;
      }
      version = m_reads.versions.emplace(sourcePath.str(), std::make_pair(high, low)).first;
    }
    const DWORD high = version->second.first, low = version->second.second;
    bool update = needUpdate(destPath.c_str(), high, low) != 0;
    if (!update && FileFound(destPath) && !CheckFileSignature(destPath.c_str())) update = true;

    const bool control = !keys.classId.empty() && keys.registerServer;
    if (!update) {
      LogRecord(kLogTrace, kPlace, UMessage::Format("%1, %2", "No need to update", destPath));
      if (!control || !CommonPath(name).empty()) return;
      LogRecord(kLogTrace, kPlace, UString("reregister the control"));
      if (checkOnly) return;
    } else {
      if (!keys.source.empty() && keys.source != "thiscab") {
        LogRecord(kLogTrace, kPlace,
                  UMessage::Format("%1, %2", "installation limited to the current package only", keys.source));
        result = kSourceOutsidePackage;
        return;
      }
      // The check pass only checks; the install pass moves the installed
      // file aside, to come back if the installation fails.
      const DWORD busy = checkOnly ? CheckFileReplaceable(destPath) : m_rollback.PrepareFile(destPath);
      if (busy != 0) {
        LogRecord(kLogWarnings, "UKitLoader::ProcessSection",
                  UMessage::Format("%1, %2", "CONFLICT, cannot delete file:", destPath));
        if (!checkOnly) {
          result = static_cast<int>(busy);
          return;
        }
        result = kLockedFile;
        m_reads.lockedPaths.insert(FoldedName(destPath.str()));
      }
      if (checkOnly) return;

      if (CreateDirectoryA(destFolder.c_str(), nullptr)) m_rollback.MadeFolder(destFolder);
      if (named) CreateNameFolders(destFolder, keys.fileName);
      if (!keys.hook.empty()) {
        UStringPairList hook;
        int r = GetInfSection(&hook, keys.hook.c_str(), infPath, m_strOSName.c_str(), m_strLanguageId.c_str());
        if (r != 0) {
          LogRecord(kLogErrors, kPlace, UMessage::Format("%1, %2", "GetSection() failed", static_cast<unsigned>(r)));
          result = r;
          return;
        }
        r = ProcessHook(hook, cabFolder, destFolder.c_str(), infPath, keys.fileVersion.c_str());
        if (r != 0) {
          LogRecord(kLogErrors, kPlace, UMessage::Format("%1, %2", "ProcessHook() failed", static_cast<unsigned>(r)));
          result = r;
          return;
        }
      } else {
        // Copied only while it is the file the cabinet held, and held so.
        kit::UniqueFile heldSource;
        kit::Sha256Digest digest{};
        const DWORD bad = HoldVerifiedFile(sourcePath, &heldSource, &digest);
        if (bad != 0) {
          result = static_cast<int>(bad);
          return;
        }
        result = CopyPackageFile(sourcePath, destPath, name.c_str());
        if (result != 0) return;
        if (heldSource) m_digests[DigestKey(destPath)] = digest;
      }
    }

    if (!control) return;
    // A control placed by this installation is registered only while it is
    // what was copied, and held so until its registration is over.
    kit::UniqueFile heldControl;
    if (m_digests.count(DigestKey(destPath))) {
      const DWORD bad = HoldVerifiedFile(destPath, &heldControl);
      if (bad != 0) {
        result = static_cast<int>(bad);
        return;
      }
    }
    LogRecord(kLogTrace, kPlace, UMessage::Format("%1, %2", "installation scope", scope == 2 ? "USER" : "MACHINE"));
    SaveRegistration(keys.classId);
    const int r = scope == 2 ? RegisterActiveXUser(destPath.c_str(), keys.redirectToHKCU, keys.userEntryPoints)
                             : RegisterActiveX(destPath.c_str());
    if (r != 0) {
      LogRecord(kLogErrors, kPlace,
                UMessage::Format("%1, %2",
                                 UMessage::Format("RegisterActiveX(\"%1\", \"%2\" ,\"%3\", \"%4\", \"%5\") failed",
                                                  infPath, destFolder, destPath, keys.fileVersion, keys.classId),
                                 r));
      result = r;
      return;
    }
    // The record last: the next run repairs a control whose record is missing.
    checkAndAddToPreapprovedList(scope, keys.classId.c_str());
    RegisterDistributionUnit(scope, addCode, infPath, destFolder.c_str(), keys.classId.c_str(), m_strCodebase.c_str(),
                             keys.fileVersion.c_str());
  });
  return result;
}
