#include "support/machine_snapshot.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "foundation/handles.h"
#include "foundation/m_folders.h"

namespace kittest {

namespace {

// One name and one value buffer serve the whole walk: the registry holds
// thousands of keys, and a walk is taken before and after every run.
struct KeyWalk {
  char valueName[16384];
  std::vector<BYTE> value = std::vector<BYTE>(1 << 16);
};

void ListKey(HKEY root, const std::string& name, const std::string& label, Snapshot* out, KeyWalk& walk) {
  HKEY raw = nullptr;
  if (RegOpenKeyExA(root, name.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS) return;
  kit::UniqueKey key(raw);
  char* valueName = walk.valueName;
  std::vector<BYTE>& value = walk.value;
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = sizeof walk.valueName, size = static_cast<DWORD>(value.size()), type = 0;
    if (RegEnumValueA(raw, i, valueName, &nameLength, nullptr, &type, value.data(), &size) != ERROR_SUCCESS) break;
    // The time of an install and the package's folder differ from run to run.
    (*out)[label + "\\" + name + "|" + valueName] =
        !strcmp(valueName, "LastModified") || !strcmp(valueName, "CODEBASE")
            ? ""
            : std::to_string(std::hash<std::string>()(std::string(reinterpret_cast<char*>(value.data()), size)));
  }
  std::vector<std::string> subkeys;
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof walk.valueName;
    if (RegEnumKeyExA(raw, i, valueName, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    subkeys.push_back(name + "\\" + valueName);
  }
  (*out)[label + "\\" + name] = "<key>";
  for (const std::string& sub : subkeys) ListKey(root, sub, label, out, walk);
}

}  // namespace

void ListFolder(const std::string& folder, bool deep, const std::set<std::string>& skip, Snapshot* out) {
  WIN32_FIND_DATAA data;
  kit::UniqueFind find(FindFirstFileA((folder + "\\*").c_str(), &data));
  if (!find) return;
  do {
    const std::string name = data.cFileName, path = folder + "\\" + name;
    if (name == "." || name == ".." || skip.count(path)) continue;
    const bool isFolder = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    (*out)[path] = isFolder ? "<folder>" : std::to_string(data.nFileSizeLow);
    if (isFolder && deep) ListFolder(path, deep, skip, out);
  } while (FindNextFileA(find.get(), &data));
}

Snapshot TakeSnapshot(const std::set<std::string>& skip) {
  // The system makes the machine's root store (with the host's roots) at its
  // first use, which may be a run's chain check: have it made before any look.
  if (HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root"))
    CertCloseStore(root, 0);
  Snapshot s;
  const std::string temp = SGetTempPath().str(), user = temp.substr(0, temp.find("\\AppData"));
  for (const std::string& folder : {std::string("C:"), std::string("C:\\users"), user, SRemoveTrailingSeparator(temp).str(),
                                    std::string("C:\\windows"), std::string("C:\\windows\\system32")})
    ListFolder(folder, false, skip, &s);
  ListFolder(SGetDownloadedProgramFilesFolder().str(), true, skip, &s);
  ListFolder(SGetUserDownloadedProgramFilesFolder(false).str(), true, skip, &s);
  auto walk = std::make_unique<KeyWalk>();
  ListKey(HKEY_LOCAL_MACHINE, "Software", "HKLM", &s, *walk);
  ListKey(HKEY_CURRENT_USER, "Software", "HKCU", &s, *walk);
  return s;
}

std::set<std::string> Changes(const Snapshot& before, const Snapshot& after) {
  std::set<std::string> changes;
  for (const auto& [k, v] : before) {
    auto it = after.find(k);
    if (it == after.end()) changes.insert("-" + k);
    else if (it->second != v) changes.insert("*" + k);
  }
  for (const auto& [k, v] : after)
    if (!before.count(k)) changes.insert("+" + k + "=" + v);
  return changes;
}

}  // namespace kittest
