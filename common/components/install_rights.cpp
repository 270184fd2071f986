// Whether this user may install a component for the whole machine.
#include <aclapi.h>

#include "components/installed_components.h"
#include "foundation/AccessCheck.h"
#include "foundation/UClasses.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"

namespace {

// A new file in `folder` that is deleted when its handle closes. It is never
// a plain file, not even for a moment: a process ended at any point leaves
// nothing behind in the folder of the installed controls. The name is made
// without creating the file, and the file is created only if that name is
// free, so another file is never opened; a taken name costs another try.
kit::UniqueFile CreateWriteProbe(const UString& folder) {
  const DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 8);
  for (DWORD attempt = 0; attempt < 64; ++attempt) {
    const UINT unique = ((seed + attempt * 40503u) & 0xFFFF) | 1;
    char name[520] = {};
    if (!GetTempFileNameA(folder.c_str(), "inst", unique, name)) break;
    kit::UniqueFile file(CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file || (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)) return file;
  }
  return kit::UniqueFile();
}

}  // namespace

bool CheckInstallActiveXRigths() {
  static const char kFunction[] = "SmartUpdateEx::CheckInstallActiveXRigths()";
  static const char* const kMachineKeys[] = {"MACHINE\\SOFTWARE\\Microsoft", "MACHINE\\SOFTWARE",
                                             "CLASSES_ROOT\\CLSID"};
  bool allowed = false;
  int result = 0;
  CatchAndLog(
      KL_CATCH_SITE("USmartUpdateEx::CheckInstallActiveXRigths", "USmartUpdateEx::CheckInstallActiveXRigths"), result,
      [&] {
        const UString folder = SGetDownloadedProgramFilesFolder();
        if (!UAccessCheck::CheckAccess(folder.c_str(), SE_FILE_OBJECT, GENERIC_READ | GENERIC_WRITE)) {
          LogRecord(kLogTrace, kFunction, UMessage::Format("%1, %2", "Access to denied", folder));
          return;
        }
        // The descriptor may allow what the volume refuses: prove it by
        // writing a file that goes away when its handle is closed.
        LogRecord(kLogTrace, kFunction, UString("Have write access to DPF folder, double check for inside PWS"));
        kit::UniqueFile file = CreateWriteProbe(folder);
        if (!file) {
          LogRecord(kLogWarnings, kFunction,
                    UMessage::Format("%1, %2", "Check access rights to DPF folder failed", GetLastError()));
          return;
        }
        LogRecord(kLogTrace, kFunction, UString("Have write access to DPF by trying to create temp file under DPF"));
        file.reset();
        for (const char* key : kMachineKeys) {
          if (!UAccessCheck::CheckAccess(key, SE_REGISTRY_KEY, KEY_READ | KEY_WRITE)) {
            LogRecord(kLogTrace, kFunction, UMessage::Format("%1, %2", "Access denied", key));
            return;
          }
        }
        allowed = true;
      });
  return allowed;
}
