// Private temporary folders: a random name no other process can guess, and
// when this process runs elevated a descriptor that shuts out guests and
// anonymous logons.
#include "foundation/temp_folders.h"

#include <bcrypt.h>
#include <sddl.h>

#include "foundation/UClasses.h"
#include "foundation/handles.h"
#include "foundation/m_io.h"
#include "foundation/m_textconv.h"
#include "foundation/m_uac_helpers.h"
#include "delayload/system_library.h"

namespace {

const char kSystemDescriptor[] = "D:(D;OICI;GA;;;BG)(D;OICI;GA;;;AN)(A;OICI;SD;;;BA)(A;OICI;GA;;;SY)";
const char kHighDescriptor[] = "D:(D;OICI;GA;;;BG)(D;OICI;GA;;;AN)(A;OICI;GA;;;BA)";
const int kNameAttempts = 3;

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

int CreateUniqueTempFolder(const char* base, UString* result, const char* suffix) {
  static const char kFunction[] = "USmartUpdateEx::CreateUniqueTempFolder";
  const DWORD level = uGetProcessIntegrityLevel(GetCurrentProcess());
  const char* sddl = level == 0x4000 ? kSystemDescriptor : level == 0x3000 ? kHighDescriptor : nullptr;

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
      // Made here, and a folder rather than a link to one somewhere else.
      const DWORD made = GetFileAttributesA(result->c_str());
      if (made == INVALID_FILE_ATTRIBUTES || !(made & FILE_ATTRIBUTE_DIRECTORY) ||
          (made & FILE_ATTRIBUTE_REPARSE_POINT)) {
        const UString path = *result;
        RemoveTempFolder(result);
        KL_THROW(ERROR_CANT_ACCESS_FILE, kFunction, "EXCEPTION - %s, %s", "The temporary folder is no plain folder",
                 path.c_str());
      }
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

void RemoveTempFolder(UString* folder) {
  if (folder->empty()) return;
  const DWORD attributes = GetFileAttributesA(folder->c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
      !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    EmptyFolderEx(folder->c_str());
  const BOOL removed = RemoveDirectoryA(folder->c_str());
  LogRecord(kLogTrace, "USmartUpdateEx::RunClassProc()",
            UMessage::Format("RemoveDirectory() is done, %1, %2", *folder, static_cast<int>(removed)));
  *folder = UString();
}
