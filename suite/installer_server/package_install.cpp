// Verification and installation of a package a pipe server received.
#include "installer_server/package_install.h"

#include <wintrust.h>

#include "cabinstaller/UKitLoader.h"
#include "cabinstaller/cab_directory.h"
#include "engine/USmartUpdateEx.h"
#include "engine/package_record.h"
#include "foundation/errorlog.h"
#include "foundation/handles.h"
#include "trust/certinfo.h"

namespace ombrix {

namespace {
const char kVerify[] = "ombrix::VerifyReceivedPackage()";
const char kInstall[] = "ombrix::InstallReceivedPackage()";
}  // namespace

DWORD VerifyReceivedPackage(const UString& path, HWND owner, bool serviceOnly) {
  GetCABInfo cab;
  cab.filePath = path;
  VerifyCABInfo verify;
  verify.hwnd = owner;
  verify.silent = owner ? 0 : 1;
  // No URL: the zone has no say; a signer outside the trusted set would need
  // a person, so without a window it is refused.
  DWORD result = USmartUpdateEx::VerifyCABEx(&cab, &verify);
  if (result == 0 && serviceOnly) {
    CCertInfo certificate;
    if (!certificate.ProcessFile(path.c_str()) || !certificate.IsSignerTrusted(1))
      result = static_cast<DWORD>(TRUST_E_SUBJECT_NOT_TRUSTED);
  }
  LogRecord(result ? kLogErrors : kLogTrace, kVerify,
            UMessage::Format("%1, %2, %3", result ? "package refused" : "package verified", path, result));
  return result;
}

std::vector<std::string> StoredNamesOf(const UString& path) {
  std::vector<std::string> names;
  kit::UniqueFile file(
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  unsigned char fixed[cab::kHeaderSize];
  DWORD got = 0;
  if (!file || !ReadFile(file.get(), fixed, sizeof fixed, &got, nullptr) || got != sizeof fixed) return names;
  const std::size_t end = cab::FileTableEnd(fixed, sizeof fixed);
  if (end < sizeof fixed || end > (16u << 20)) return names;
  std::string table(end, '\0');
  SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
  if (!ReadFile(file.get(), &table[0], static_cast<DWORD>(end), &got, nullptr) || got != end) return names;
  std::vector<cab::Entry> entries;
  std::string error;
  if (!cab::ReadFileTable(reinterpret_cast<const unsigned char*>(table.data()), end, &entries, &error)) return names;
  for (const cab::Entry& entry : entries) names.push_back(entry.name);
  return names;
}

int InstallReceivedPackage(const UString& path, int scope, HWND owner) {
  if (owner && !IsWindow(owner)) owner = nullptr;
  const DWORD verified = VerifyReceivedPackage(path, owner, false);
  if (verified) return static_cast<int>(verified);
  UKitLoader installer;
  installer.SetPerUserAllowed(scope == 2);
  installer.SetUIAllowed(owner != nullptr);
  const int result = installer.Install(path, scope, owner);
  LogRecord(result ? kLogErrors : kLogTrace, kInstall,
            UMessage::Format("%1, %2, %3", "UKitLoader::Install() returned", path, result));
  return result;
}

}  // namespace ombrix
