// Per-request receive folders of the installer pipe servers.
#include "installer_server/receive_folder.h"

#include <bcrypt.h>
#include <sddl.h>

#include <cstdio>

#include "foundation/errorlog.h"
#include "foundation/m_folders.h"
#include "foundation/m_io.h"
#include "foundation/nofollow_delete.h"
#include "installer_server/server_rules.h"

namespace ombrix {

namespace {

const char kCreate[] = "ReceiveFolder::Create()";
constexpr int kNameAttempts = 4;

bool IsReparsePoint(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

bool ExactAnsi(const std::u16string& wide, std::string* ansi) {
  ansi->clear();
  if (wide.empty()) return true;
  const auto* units = reinterpret_cast<const wchar_t*>(wide.data());
  const int count = static_cast<int>(wide.size());
  // A UTF-8 code page converts exactly and takes no best-fit flag.
  const bool utf8 = GetACP() == CP_UTF8;
  BOOL usedDefault = FALSE;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL* defaultUsed = utf8 ? nullptr : &usedDefault;
  const int size = WideCharToMultiByte(CP_ACP, flags, units, count, nullptr, 0, nullptr, defaultUsed);
  if (size <= 0 || usedDefault) return false;
  std::string converted(static_cast<std::size_t>(size), '\0');
  if (WideCharToMultiByte(CP_ACP, flags, units, count, &converted[0], size, nullptr, defaultUsed) != size ||
      usedDefault)
    return false;
  // Converted back, it must be the very same text.
  const int back = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, converted.data(), size, nullptr, 0);
  if (back != count) return false;
  std::u16string roundTrip(static_cast<std::size_t>(back), u'\0');
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, converted.data(), size,
                          reinterpret_cast<wchar_t*>(&roundTrip[0]), back) != back ||
      roundTrip != wide)
    return false;
  *ansi = std::move(converted);
  return true;
}

ReceiveFolder::~ReceiveFolder() {
  if (m_path.empty() || m_keep) return;
  // Emptied and removed through handles that never follow a link, only
  // while the path still names the folder this object holds.
  const DWORD error = kit::DeleteHeldFolder(&m_handle, m_path.c_str());
  if (error != 0)
    LogRecord(kLogErrors, "ReceiveFolder::~ReceiveFolder()",
              UMessage::Format("%1, %2, %3", "RemoveDirectory() failed", m_path, error));
}

DWORD ReceiveFolder::Create(const UString& given, const UString& sddl) {
  // The folder's path in the form the system gives back, so that a joined
  // path can be compared with it.
  char full[MAX_PATH * 2];
  char* file = nullptr;
  const DWORD length = GetFullPathNameA(given.c_str(), sizeof full, full, &file);
  if (length == 0 || length >= sizeof full) return ERROR_BAD_PATHNAME;
  const UString prefix(full);
  UString parent, name;
  SSplitPath(prefix, &parent, &name);
  const DWORD parentAttributes = GetFileAttributesA(parent.c_str());
  if (parentAttributes == INVALID_FILE_ATTRIBUTES || !(parentAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      IsReparsePoint(parentAttributes)) {
    LogRecord(kLogErrors, kCreate, UMessage::Format("%1, %2", "refused: not a plain folder", parent));
    return ERROR_BAD_PATHNAME;
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return GetLastError();
  kit::UniqueLocal descriptorOwner(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    unsigned char bytes[8] = {};
    if (BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0) return ERROR_GEN_FAILURE;
    char suffix[20];
    std::snprintf(suffix, sizeof suffix, "-%02x%02x%02x%02x%02x%02x%02x%02x", bytes[0], bytes[1], bytes[2], bytes[3],
                  bytes[4], bytes[5], bytes[6], bytes[7]);
    const UString path = prefix + suffix;
    // Creation fails on anything already there, a junction included.
    if (!CreateDirectoryA(path.c_str(), &attributes)) {
      const DWORD error = GetLastError();
      LogRecord(kLogErrors, kCreate, UMessage::Format("%1, %2, %3", "CreateDirectory() failed", path, error));
      if (error == ERROR_ALREADY_EXISTS) continue;
      return error;
    }
    // Read access takes part in sharing: the folder cannot be opened for
    // deletion (or renaming) while this handle lasts.
    kit::UniqueFile handle(CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!handle || !GetFileInformationByHandle(handle.get(), &information) ||
        !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsReparsePoint(information.dwFileAttributes)) {
      const DWORD error = handle ? ERROR_BAD_PATHNAME : GetLastError();
      LogRecord(kLogErrors, kCreate, UMessage::Format("%1, %2, %3", "refused: not the folder created", path, error));
      return error;
    }
    m_path = path;
    m_handle = std::move(handle);
    return 0;
  }
  return ERROR_ALREADY_EXISTS;
}

DWORD ReceiveFolder::Join(const std::u16string& name, UString* path) const {
  std::string ansi;
  if (m_path.empty() || !ExactAnsi(name, &ansi)) return ERROR_INVALID_NAME;
  const UString joined = m_path + "\\" + ansi;
  if (!IsDirectlyInside(m_path.str(), ansi, joined.str())) return ERROR_INVALID_NAME;
  // What the system makes of the path must be the same path.
  char full[MAX_PATH * 2];
  char* file = nullptr;
  const DWORD length = GetFullPathNameA(joined.c_str(), sizeof full, full, &file);
  if (length == 0 || length >= sizeof full || joined.str() != full) return ERROR_INVALID_NAME;
  *path = joined;
  return 0;
}

}  // namespace ombrix
