// Placing the file of one [Add.Code] entry: where it goes, whether the
// installed copy must be replaced, delete-before-copy (the check pass only
// deletes, and reports a file it cannot delete as locked), the copy with the
// Abort/Retry/Ignore question, then registration and the records of a
// control.
#include <windows.h>

#include "cabinstaller/UKitLoader.h"
#include "cabinstaller/file_section.h"
#include "engine/USmartUpdateEx.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"

namespace {

const char kPlace[] = "UKitLoader::ProcessSection()";
constexpr int kMaxCopyAttempt = 50;
constexpr UINT kDialogNotice = WM_USER + 0x30;  // wParam 0: a box opens, 1: it closed

bool FileFound(const UString& path) {
  WIN32_FIND_DATAA data;
  return static_cast<bool>(kit::UniqueFind(FindFirstFileA(path.c_str(), &data)));
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
    if (keys.source.EqualsNoCase("ignore") || (keys.source.empty() && keys.hook.empty())) {
      LogRecord(kLogTrace, kPlace, UMessage::Format("%1, %2", "nothing to do", name));
      return;
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
        case DestDirKind::kTempFolder: destFolder = tempDest; break;
        case DestDirKind::kNone: {
          UString common;
          USmartUpdateEx::LookupCommonPath(common, name.c_str(), nullptr);
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
    if (destPath.empty()) destPath = SAddTrailingBackslash(destFolder) + keys.fileName;
    const UString sourcePath = SAddTrailingBackslash(UString(cabFolder)) + keys.fileName;

    DWORD high = 0, low = 0;
    const DWORD versionError = USmartUpdateEx::getVersion(sourcePath.c_str(), &high, &low);
    if (versionError != 0) {
      LogRecord(kLogTrace, "USmartUpdateEx::ProcessSection()",
                UMessage::Format("%1, %2", "getVersion() failed", sourcePath));
      result = static_cast<int>(versionError);
      return;
    }
    bool update = USmartUpdateEx::needUpdate(destPath.c_str(), high, low) != 0;
    if (!update && FileFound(destPath) && !USmartUpdateEx::CheckFileSignature(destPath.c_str())) update = true;

    const bool control = !keys.classId.empty() && keys.registerServer;
    if (!update) {
      LogRecord(kLogTrace, kPlace, UMessage::Format("%1, %2", "No need to update", destPath));
      UString common;
      if (!control || !USmartUpdateEx::LookupCommonPath(common, name.c_str(), nullptr).empty()) return;
      LogRecord(kLogTrace, kPlace, UString("reregister the control"));
      if (checkOnly) return;
    } else {
      if (!keys.source.empty() && keys.source != "thiscab") {
        LogRecord(kLogTrace, kPlace,
                  UMessage::Format("%1, %2", "installation limited to the current package only", keys.source));
        result = kSourceOutsidePackage;
        return;
      }
      if (GetFileAttributesA(destPath.c_str()) != INVALID_FILE_ATTRIBUTES && !DeleteFileA(destPath.c_str())) {
        LogRecord(kLogWarnings, "UKitLoader::ProcessSection",
                  UMessage::Format("%1, %2", "CONFLICT, cannot delete file:", destPath));
        if (checkOnly) result = kLockedFile;
      }
      if (checkOnly) return;

      CreateDirectoryA(destFolder.c_str(), nullptr);
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
        result = CopyPackageFile(sourcePath, destPath, name.c_str());
        if (result != 0) return;
      }
    }

    if (!control) return;
    LogRecord(kLogTrace, kPlace, UMessage::Format("%1, %2", "installation scope", scope == 2 ? "USER" : "MACHINE"));
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
    RegisterDistributionUnit(scope, addCode, infPath, destFolder.c_str(), keys.classId.c_str(), m_strCodebase.c_str(),
                             keys.fileVersion.c_str());
    USmartUpdateEx::checkAndAddToPreapprovedList(scope, keys.classId.c_str());
  });
  return result;
}
