// Private temporary folders: a random name no other process can guess, held
// open from creation to removal, and when this process runs elevated a
// protected descriptor that shuts out everyone but administrators (and the
// system account), whatever the parent folder lets its owner do.
#include "foundation/temp_folders.h"

#include <bcrypt.h>
#include <sddl.h>

#include "foundation/UClasses.h"
#include "foundation/handles.h"
#include "foundation/m_textconv.h"
#include "foundation/m_uac_helpers.h"
#include "delayload/system_library.h"

namespace {

// Protected ("P"): the user's inheritable full control of %TEMP% (or the
// Users entries of the system's temporary folder) is not merged in. The high
// one carries a high mandatory label, so no medium-integrity process writes,
// reads or runs anything in it even where an entry would let it.
const char kSystemDescriptor[] = "D:P(D;OICI;GA;;;BG)(D;OICI;GA;;;AN)(A;OICI;SD;;;BA)(A;OICI;GA;;;SY)";
const char kHighDescriptor[] = "D:P(D;OICI;GA;;;BG)(D;OICI;GA;;;AN)(A;OICI;GA;;;BA)S:(ML;OICI;NWNRNX;;;HI)";
const int kNameAttempts = 3;
// A folder still in use right after its last program ended is tried again,
// this often and this long apart.
const int kBusyAttempts = 20;
const DWORD kBusyPauseMs = 250;

// Whether a removal failed only because someone still uses the folder or a
// file in it: a file deleted while another process had it open stays until
// that handle closes, a program's current folder cannot go while it runs.
bool StillInUse(DWORD error) {
  return error == ERROR_DIR_NOT_EMPTY || error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// A folder inherits the encryption of its parent; the packages unpacked
// into it must stay readable by the installers we start.
void RemoveInheritedEncryption(const UString& folder) {
  DWORD attributes = GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_ENCRYPTED)) return;
  kit::UniqueModule advapi(kit::LoadSystemLibrary("advapi32.dll"));
  if (!advapi) return;
  typedef BOOL(WINAPI * DecryptFileFn)(LPCSTR, DWORD);
  auto decrypt = reinterpret_cast<DecryptFileFn>(reinterpret_cast<void*>(GetProcAddress(advapi.get(), "DecryptFileA")));
  if (decrypt) decrypt(folder.c_str(), 0);
}

}  // namespace

HRESULT GetSecurityAttributes(const char* sddl, SECURITY_ATTRIBUTES* attributes, PSECURITY_DESCRIPTOR* descriptor) {
  attributes->nLength = sizeof *attributes;
  attributes->bInheritHandle = FALSE;
  attributes->lpSecurityDescriptor = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &attributes->lpSecurityDescriptor,
                                                           nullptr)) {
    *descriptor = attributes->lpSecurityDescriptor;
    return S_OK;
  }
  const DWORD error = GetLastError();
  LogRecord(kLogErrors, "GetSecurityAttributes",
            UMessage::Format("Unable to Get security descriptor for the temporary folder (error: %1)",
                             SGetErrorText(error)));
  return HRESULT_FROM_WIN32(error);
}

const char* TempFolderDescriptor(DWORD integrityLevel) {
  return integrityLevel == 0x4000 ? kSystemDescriptor : integrityLevel == 0x3000 ? kHighDescriptor : nullptr;
}

int CreateUniqueTempFolder(const char* base, UString* result, const char* suffix, TempFolderHold* hold) {
  static const char kFunction[] = "USmartUpdateEx::CreateUniqueTempFolder";
  const char* sddl = TempFolderDescriptor(uGetProcessIntegrityLevel(GetCurrentProcess()));
  TempFolderHold own;
  if (!hold) hold = &own;

  SECURITY_ATTRIBUTES attributes{};
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (sddl) {
    HRESULT hr = GetSecurityAttributes(sddl, &attributes, &descriptor);
    if (FAILED(hr))
      KL_THROW(hr, kFunction, "EXCEPTION - %s, %s",
               "Failed to convert security attribute string type to security attribute type. errorCode:",
               SGetErrorText(static_cast<std::uint32_t>(hr)).c_str());
  }
  kit::UniqueLocal descriptorOwner(descriptor);

  UString folder = base ? base : "";
  if (folder.empty() || folder[folder.length() - 1] != '\\') folder += '\\';
  for (int attempt = 1;; ++attempt) {
    unsigned char bytes[8] = {};
    NTSTATUS status = BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0) {
      LogRecord(kLogErrors, kFunction,
                UMessage::Format("Unable to Get Random number for generating the unique folder name (error: %1)",
                                 SGetErrorText(GetLastError())));
      return static_cast<int>(status);
    }
    *result = folder + UString::Format("Norvane_TMP_%u%u%u%u%u%u%u%u", bytes[0], bytes[1], bytes[2], bytes[3],
                                       bytes[4], bytes[5], bytes[6], bytes[7]) +
              (suffix ? suffix : "");
    if (CreateDirectoryA(result->c_str(), sddl ? &attributes : nullptr)) {
      // Held from here on, and a folder rather than a link to one elsewhere.
      *hold = TempFolderHold();
      hold->handle = kit::OpenNoFollow(result->c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE);
      kit::NoFollowInfo made;
      if (!hold->handle || !kit::ReadNoFollowInfo(hold->handle.get(), &made) || !made.IsFolder() || made.IsLink()) {
        const UString path = *result;
        hold->handle.reset();
        *result = UString();
        KL_THROW(ERROR_CANT_ACCESS_FILE, kFunction, "EXCEPTION - %s, %s", "The temporary folder is no plain folder",
                 path.c_str());
      }
      hold->identity = made.identity;
      hold->known = true;
      RemoveInheritedEncryption(*result);
      return 0;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS || attempt == kNameAttempts) {
      const UString path = *result;
      *result = UString();
      KL_THROW(static_cast<int>(error), kFunction, "EXCEPTION - %s, %s", "Failed to create temporary folder",
               path.c_str());
    }
    *result = UString();
  }
}

void RemoveTempFolder(UString* folder, TempFolderHold* hold) {
  if (folder->empty()) return;
  const bool known = hold && hold->known;
  const kit::FileIdentity identity = known ? hold->identity : kit::FileIdentity();
  DWORD error = hold && hold->handle ? kit::DeleteHeldFolder(&hold->handle, folder->c_str())
                                     : kit::DeleteTreeNoFollow(folder->c_str(), known ? &identity : nullptr, true);
  for (int attempt = 1; StillInUse(error) && attempt < kBusyAttempts; ++attempt) {
    Sleep(kBusyPauseMs);
    error = kit::DeleteTreeNoFollow(folder->c_str(), known ? &identity : nullptr, true);
  }
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) error = 0;
  LogRecord(kLogTrace, "USmartUpdateEx::RunClassProc()",
            UMessage::Format("RemoveDirectory() is done, %1, %2", *folder, static_cast<int>(error == 0)));
  if (error != 0)
    LogRecord(kLogWarnings, "USmartUpdateEx::RunClassProc()",
              UMessage::Format("%1, %2, %3", "temporary folder not removed", *folder, static_cast<unsigned>(error)));
  *folder = UString();
  if (hold) *hold = TempFolderHold();
}
