// Where an installed component's file is, its version, whether it is to be
// replaced and whether its signature is acceptable.
#include "components/installed_components.h"

#include <cstring>
#include <memory>
#include <new>

#include "components/component_catalogue.h"
#include "components/signer_trust.h"
#include "components/update_rules.h"
#include "foundation/UClasses.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "foundation/m_registry.h"

namespace {

constexpr char kClassesClsid[] = "SOFTWARE\\Classes\\CLSID\\";

// The fixed file version, left at 0.0.0.0 when the file has no readable
// version information.
void ReadFixedFileVersion(const char* path, DWORD* high, DWORD* low) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  if (size == 0) return;
  std::unique_ptr<BYTE[]> data(new (std::nothrow) BYTE[size]);
  if (!data || !GetFileVersionInfoA(path, 0, size, data.get())) return;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.get(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
      length < sizeof(VS_FIXEDFILEINFO))
    return;
  *high = fixed->dwFileVersionMS;
  *low = fixed->dwFileVersionLS;
}

}  // namespace

UString ReadKeyDefault(HKEY hive, const UString& key) { return SGetRegistryAsString(hive, key.c_str(), "", "", 0, 0); }

bool FileFound(const UString& path) {
  if (path.empty() || HasWildcard(path.c_str())) return false;
  WIN32_FIND_DATAA item;
  kit::UniqueFind search(FindFirstFileA(path.c_str(), &item));
  return static_cast<bool>(search);
}

bool PathExists(const UString& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

int needUpdate(const char* path, DWORD requestedHigh, DWORD requestedLow) {
  static const char kFunction[] = "USmartUpdateEx::needUpdate()";
  if (!path) {
    LogRecord(kLogErrors, kFunction, UString("filename is NULL"));
    return kDecisionUpdate;
  }
  if (!*path) {
    LogRecord(kLogErrors, kFunction, UString("filename is empty"));
    return kDecisionUpdate;
  }
  if (!PathExists(path)) {
    LogRecord(kLogTrace, kFunction, UMessage::Format("%1, %2", "file is missing", path));
    return kDecisionUpdate;
  }
  DWORD installedHigh = 0;
  DWORD installedLow = 0;
  if (getVersion(path, &installedHigh, &installedLow) != 0) {
    LogRecord(kLogTrace, kFunction, UMessage::Format("%1, %2", "getVersion() failed", path));
    return kDecisionUpdate;
  }
  LogRecord(kLogTrace, kFunction,
            FormatVersionComparison(path, installedHigh, installedLow, requestedHigh, requestedLow));
  return IsRequestedVersionNewer(installedHigh, installedLow, requestedHigh, requestedLow) ? kDecisionUpdate
                                                                                           : kDecisionCurrent;
}

DWORD getVersion(const char* path, DWORD* high, DWORD* low) {
  if (high) *high = 0;
  if (low) *low = 0;
  bool raised = true;
  int status = 0;
  CatchAndLog(KL_CATCH_SITE("USmartUpdateEx::getVersion", "USmartUpdateEx::getVersion"), status, [&] {
    if (!high || !low) KL_THROW(ERROR_INVALID_PARAMETER, "USmartUpdateEx::getVersion()", "output parameter is NULL");
    ReadFixedFileVersion(path, high, low);
    raised = false;
  });
  if (!raised) return 0;
  // A failure is never reported as success, even when no system call failed.
  DWORD error = GetLastError();
  if (error == 0) error = status != 0 ? static_cast<DWORD>(status) : static_cast<DWORD>(ERROR_INVALID_FUNCTION);
  LogRecord(kLogErrors, "USmartUpdateEx::getVersion()", UMessage::Format("%1, %2", "error", static_cast<int>(error)));
  return error;
}

UString ReadInstalledPath(UString& path, bool perMachine, const char* name, const char* hintFolder) {
  static const char kFunction[] = "USmartUpdateEx::ReadInstalledPathEx()";
  path = "";
  int status = 0;
  CatchAndLog(KL_CATCH_SITE("USmartUpdateEx::ReadInstalledPathEx", "USmartUpdateEx::ReadInstalledPathEx"), status, [&] {
    if (!name || !*name) KL_THROW(ERROR_INVALID_PARAMETER, kFunction, "invalid CLSID");
    if (HasServicePrefix(name)) {
      const UString image = SGetRegistryAsString(
          HKEY_LOCAL_MACHINE, (UString("SYSTEM\\CurrentControlSet\\Services\\") + (strchr(name, ':') + 1)).c_str(),
          "ImagePath", "", 0, 0);
      if (!image.empty())
        path = SExpandEnvironmentStrings(image.c_str());
      else
        LogRecord(kLogTrace, kFunction, UString("no entry in registry found for Installer Service"));
      return;
    }

    const HKEY hive = perMachine ? HKEY_LOCAL_MACHINE : HKEY_CLASSES_ROOT;
    const UString key = UString(perMachine ? kClassesClsid : "CLSID\\") + name;
    const UString inproc = ReadKeyDefault(hive, key + "\\InprocServer32");
    if (!inproc.empty()) {
      path = SExpandEnvironmentStrings(inproc.c_str());
      return;
    }
    const UString server = ReadKeyDefault(hive, key + "\\LocalServer32");
    if (server.empty()) {
      LookupCommonPath(path, name, hintFolder);
      return;
    }
    path = ResolveServerCommand(SExpandEnvironmentStrings(server.c_str()), PathExists);
    if (path.empty()) LogRecord(kLogTrace, kFunction, UMessage::Format("expanded path not found for %1", name));
  });
  return path;
}

UString LookupCommonPath(UString& path, const char* fileName, const char* hintFolder) {
  path = "";
  int status = 0;
  CatchAndLog(KL_CATCH_SITE("USmartUpdateEx::LookupCommonPath", "USmartUpdateEx::LookupCommonPath"), status, [&] {
    if (!fileName || !*fileName) return;
    auto tryFolder = [&](const UString& folder) {
      const UString candidate = SAddTrailingBackslash(folder) + fileName;
      if (FileFound(candidate)) path = candidate;
      return !path.empty();
    };
    if (hintFolder && *hintFolder && tryFolder(hintFolder)) return;
    if (tryFolder(SGetSystemDirectory())) return;
    tryFolder(SGetSystemWindowsDirectory());
  });
  return path;
}

bool CheckFileSignature(const char* path) {
  const CatalogueRow* row = FindCatalogueFile(SGetFileName(UString(path)).c_str());
  if (!row || row->signaturePolicy != kSignatureRequired) return true;
  return IsFileSignedByTrustedSigner(path);
}
