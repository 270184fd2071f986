#include "foundation/m_registry.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "foundation/UClasses.h"
#include "foundation/handles.h"

namespace {

constexpr DWORD kFirstReadBuffer = 1000;
constexpr DWORD kRegrowSlack = 10;
constexpr std::size_t kKeyPathBuffer = 520;

unsigned RootForTrace(HKEY root) { return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(root)); }

// Reads a value into a zero-filled buffer that always keeps one NUL beyond
// the data; grows once when the first buffer is too small.
LONG ReadValue(HKEY key, const char* valueName, std::vector<BYTE>& buffer, DWORD& type, DWORD& size) {
  buffer.assign(kFirstReadBuffer, 0);
  size = kFirstReadBuffer - 1;
  LONG rc = RegQueryValueExA(key, valueName, nullptr, &type, buffer.data(), &size);
  if (rc == ERROR_MORE_DATA) {
    buffer.assign(static_cast<std::size_t>(size) + kRegrowSlack, 0);
    size = static_cast<DWORD>(buffer.size()) - 1;
    rc = RegQueryValueExA(key, valueName, nullptr, &type, buffer.data(), &size);
  }
  return rc;
}

UString ValueText(std::vector<BYTE>& data, DWORD type, DWORD size, DWORD options, const UString& defaultText) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ: {
      if (size == 0) return defaultText;
      if ((options & kRegStringJoinMulti) && type != REG_SZ) {
        for (DWORD i = 0; i + 1 < size; ++i)
          if (data[i] == 0) data[i] = ' ';
      }
      return UString(reinterpret_cast<const char*>(data.data()));
    }
    case REG_DWORD:
      if (size < 4) return defaultText;
      return SUIntToString(static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
                           static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24);
    case REG_DWORD_BIG_ENDIAN:
      if (size < 4) return defaultText;
      return SUIntToString(static_cast<std::uint32_t>(data[0]) << 24 | static_cast<std::uint32_t>(data[1]) << 16 |
                           static_cast<std::uint32_t>(data[2]) << 8 | static_cast<std::uint32_t>(data[3]));
    default:
      return defaultText;
  }
}

}  // namespace

DWORD GetRegistryAsDWORDA(HKEY root, const char* subKey, const char* valueName, DWORD defaultValue,
                          REGSAM extraAccess) {
  kit::UniqueKey key;
  LONG rc = RegOpenKeyExA(root, subKey, 0, KEY_READ | extraAccess, key.put());
  if (rc != ERROR_SUCCESS) {
    ERRORLOGLEVELx("GetRegistryAsDWORDA() error opening key %s error=%d\n", subKey ? subKey : "",
                   static_cast<int>(rc));
    return defaultValue;
  }
  // The type is not examined: up to 4 bytes land in the low bytes of the
  // default, more fail the read.
  DWORD value = defaultValue;
  DWORD size = sizeof value;
  rc = RegQueryValueExA(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
  if (rc != ERROR_SUCCESS) {
    ERRORLOGLEVELx("GetRegistryAsDWORDA() error reading value=%s from key=%s error=%d\n",
                   valueName ? valueName : "", subKey ? subKey : "", static_cast<int>(rc));
    return defaultValue;
  }
  return value;
}

UString SGetRegistryAsString(HKEY root, const char* subKey, const char* valueName, const char* defaultText,
                             REGSAM extraAccess, DWORD options) {
  const UString fallback(defaultText);
  UString result = fallback;
  int status = 0;
  CatchAndLog(KL_CATCH_SITE("SGetRegistryAsString", "SGetRegistryAsString"), status, [&] {
    if (!root) KL_THROW(-1, "SGetRegistryAsString()", "SGetRegistryAsString() - a_hKey parameter can not be NULL");
    kit::UniqueKey key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ | extraAccess, key.put()) != ERROR_SUCCESS) return;
    std::vector<BYTE> data;
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (ReadValue(key.get(), valueName, data, type, size) != ERROR_SUCCESS) return;
    result = ValueText(data, type, size, options, fallback);
  });
  return result;
}

HKEY openKeyForWriteA(HKEY root, const char* subKey, REGSAM extraAccess) {
  const char* name = subKey ? subKey : "";
  HKEY created = nullptr;
  DWORD disposition = 0;
  LONG rc = RegCreateKeyExA(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE | extraAccess, nullptr,
                            &created, &disposition);
  if (rc == ERROR_SUCCESS) {
    if (disposition == REG_OPENED_EXISTING_KEY) return created;
    RegCloseKey(created);
    ERRORLOGLEVELx("openKeyForWriteA(%x, %s) - key was created\n", RootForTrace(root), name);
  } else {
    ERRORLOGLEVELx("openKeyForWriteA(%x, %s) - RegCreateKeyExA() error = %d, let's open it instead\n",
                   RootForTrace(root), name, static_cast<int>(rc));
  }
  HKEY opened = nullptr;
  rc = RegOpenKeyExA(root, subKey, 0, KEY_READ | KEY_WRITE | extraAccess, &opened);
  if (rc == ERROR_SUCCESS) return opened;
  LogRecord(kLogWarnings, "openKeyForWriteA",
            UMessage::Format("Failed to open registry key (RegOpenKeyExA() key: %1, subkey: %2, result: %3)",
                             static_cast<const void*>(root), name, static_cast<int>(rc)));
  return nullptr;
}

int AddRegistryKeyA(HKEY root, const char* keyPath, REGSAM extraAccess) {
  // The path must fit the work buffer with its terminator; a longer one is
  // refused rather than cut.
  if (!keyPath || std::strlen(keyPath) >= kKeyPathBuffer)
    KL_THROW(ERROR_INVALID_PARAMETER, "AddRegistryKeyA", "AddRegistryKeyA(%x, %s) - failed to create/open key",
             RootForTrace(root), keyPath ? "(path too long)" : "(null)");
  const std::string path(keyPath);
  std::string accumulated;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) {
      if (!accumulated.empty()) accumulated += '\\';
      accumulated.append(path, start, end - start);
      ERRORLOGLEVELx("AddRegistryKeyA - CreateSubKey(%s)\n", accumulated.c_str());
      kit::UniqueKey level(openKeyForWriteA(root, accumulated.c_str(), extraAccess));
      if (!level)
        KL_THROW(-1, "AddRegistryKeyA", "AddRegistryKeyA(%x, %s) - failed to create/open key", RootForTrace(root),
                 keyPath);
    }
    start = end + 1;
  }
  return 0;
}

UString SGetRootKeyName(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (root == HKEY_USERS) return "HKEY_USERS";
  if (root == HKEY_CURRENT_CONFIG) return "HKEY_CURRENT_CONFIG";
  return UString("Unknown HKEY value: ") +
         SHex64ToString(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(root)));
}

UStringList RegistryValueNames(HKEY key) {
  UStringList names;
  std::vector<char> name(32768);
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    if (RegEnumValueA(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.push_back(UString(name.data(), static_cast<int>(length)));
  }
  return names;
}
