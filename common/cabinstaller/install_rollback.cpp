// The undo list of one installation (see install_rollback.h).
#include "cabinstaller/install_rollback.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include "foundation/errorlog.h"
#include "components/update_rules.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "foundation/nofollow_delete.h"

namespace {

const char kRollback[] = "UKitLoader::Rollback()";

// A key as it was: its values and, below it, its subkeys.
struct SavedKey {
  struct Value {
    std::string name;
    DWORD type = 0;
    std::vector<BYTE> data;
  };
  std::vector<Value> values;
  std::vector<std::pair<std::string, SavedKey>> children;
};

bool ReadTree(HKEY parent, const std::string& path, SavedKey* out) {
  kit::UniqueKey key;
  if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
  DWORD longestName = 0, longestData = 0, longestKey = 0;
  if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, &longestKey, nullptr, nullptr, &longestName,
                       &longestData, nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  std::vector<char> name(longestName + 2);
  std::vector<BYTE> data(longestData + 2);
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = static_cast<DWORD>(name.size()), size = static_cast<DWORD>(data.size()), type = 0;
    if (RegEnumValueA(key.get(), i, name.data(), &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
      break;
    out->values.push_back({std::string(name.data(), nameLength), type, std::vector<BYTE>(data.begin(), data.begin() + size)});
  }
  std::vector<char> child(longestKey + 2);
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    DWORD length = static_cast<DWORD>(child.size());
    if (RegEnumKeyExA(key.get(), i, child.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(child.data(), length);
  }
  for (const std::string& n : names) {
    SavedKey saved;
    if (ReadTree(key.get(), n, &saved)) out->children.emplace_back(n, std::move(saved));
  }
  return true;
}

void WriteTree(HKEY parent, const std::string& path, const SavedKey& saved) {
  kit::UniqueKey key;
  if (RegCreateKeyExA(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr) !=
      ERROR_SUCCESS) {
    LogRecord(kLogErrors, kRollback, UMessage::Format("%1, %2", "cannot restore key", path.c_str()));
    return;
  }
  for (const SavedKey::Value& v : saved.values)
    RegSetValueExA(key.get(), v.name.c_str(), 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
  for (const auto& [name, child] : saved.children) WriteTree(key.get(), name, child);
}

// Deletes a file, also a read-only one, through a handle that follows no
// link: a link planted in its place goes as a link.
bool RemoveFile(const UString& path) {
  const DWORD error = kit::DeleteNoFollow(path.c_str());
  return error == 0 || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Has a file that is in use deleted at the next restart, only in the
// machine's folders: the restart takes the name as it is then, and below a
// folder the user's programs can write it could lead anywhere.
void RemoveAtRestart(const UString& path) {
  try {
    if (IsInFolder(path, SGetDownloadedProgramFilesFolder()) || IsInFolder(path, SGetSystemDirectory()))
      MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  } catch (...) {
    // No Windows folder: nothing is scheduled.
  }
}

std::string Folded(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// When a process started, in hexadecimal: with its id, it names the process
// that moved a file aside even once its id has been given to another.
std::string StartStamp(HANDLE process) {
  FILETIME created{}, unused{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &unused, &kernel, &user)) return "0";
  char text[20];
  std::snprintf(text, sizeof text, "%08lX%08lX", created.dwHighDateTime, created.dwLowDateTime);
  return text;
}

// Whether a file named "<name>.<process>-<start>-<n>.old" was moved aside by
// a process that has ended (another process with its id aside).
bool MovedAsideByAnEndedRun(const std::string& name) {
  if (name.size() < 10 || Folded(name.substr(name.size() - 4)) != ".old") return false;
  const std::size_t end = name.size() - 4, dot = name.rfind('.', end - 1);
  if (dot == std::string::npos) return false;
  const std::string token = name.substr(dot + 1, end - dot - 1);
  const std::size_t first = token.find('-'), second = token.find('-', first + 1);
  if (first == 0 || first == std::string::npos || second == std::string::npos || second == first + 1 ||
      second + 1 == token.size() || token.find_first_not_of("0123456789-ABCDEF") != std::string::npos)
    return false;
  const DWORD processId = static_cast<DWORD>(std::strtoul(token.c_str(), nullptr, 10));
  if (processId == GetCurrentProcessId()) return false;
  kit::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, processId));
  if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process; one we may not open may be it
  return WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT ||
         StartStamp(process.get()) != token.substr(first + 1, second - first - 1);
}

std::string HiveName(HKEY hive) { return hive == HKEY_CURRENT_USER ? "HKCU\\" : hive == HKEY_LOCAL_MACHINE ? "HKLM\\" : "?\\"; }

}  // namespace

void RemoveFilesMovedAsideByEndedRuns(const UString& folder) {
  // A folder that leads elsewhere (a junction in the user's profile) is left alone.
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  if (folder.empty() || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return;
  WIN32_FIND_DATAA item;
  kit::UniqueFind search(FindFirstFileA((folder + "\\*.old").c_str(), &item));
  if (!search) return;
  do {
    if ((item.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        !MovedAsideByAnEndedRun(item.cFileName))
      continue;
    const UString path = folder + "\\" + item.cFileName;
    LogRecord(kLogWarnings, kRollback, UMessage::Format("%1, %2", "removing a file an ended run moved aside", path));
    if (!RemoveFile(path)) RemoveAtRestart(path);
  } while (FindNextFileA(search.get(), &item));
}

DWORD CheckFileReplaceable(const UString& path) {
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return 0;
  kit::UniqueFile file(CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file ? 0 : (GetLastError() ? GetLastError() : ERROR_SHARING_VIOLATION);
}

DWORD InstallRollback::PrepareFile(const UString& path) {
  // Prepared once: what comes back on undo is the file as it was first.
  if (!m_saved.insert("file:" + Folded(path.str())).second) return 0;
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    m_steps.push_back({[path] { RemoveFile(path); }, nullptr});
    return 0;
  }
  const UString aside = path + UString::Format(".%lu-%s-%u.old", static_cast<unsigned long>(GetCurrentProcessId()),
                                               StartStamp(GetCurrentProcess()).c_str(), ++m_asideCount);
  if (!MoveFileExA(path.c_str(), aside.c_str(), 0)) {
    const DWORD error = GetLastError();
    m_saved.erase("file:" + Folded(path.str()));
    return error ? error : ERROR_SHARING_VIOLATION;
  }
  m_steps.push_back({[path, aside] {
                       RemoveFile(path);
                       if (!MoveFileExA(aside.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
                         LogRecord(kLogErrors, kRollback,
                                   UMessage::Format("%1, %2, %3", "cannot put back", path, GetLastError()));
                     },
                     [aside] {
                       if (!RemoveFile(aside)) RemoveAtRestart(aside);
                     }});
  return 0;
}

void InstallRollback::MadeFolder(const UString& path) {
  m_steps.push_back({[path] { RemoveDirectoryA(path.c_str()); }, nullptr});
}

void InstallRollback::SaveKey(HKEY hive, const UString& path) {
  if (!m_saved.insert("key:" + HiveName(hive) + Folded(path.str())).second) return;
  auto saved = std::make_shared<SavedKey>();
  const bool existed = ReadTree(hive, path.str(), saved.get());
  m_steps.push_back({[hive, path, saved, existed] {
                       RegDeleteTreeA(hive, path.c_str());
                       RegDeleteKeyA(hive, path.c_str());
                       if (existed) WriteTree(hive, path.str(), *saved);
                     },
                     nullptr});
}

void InstallRollback::SaveValue(HKEY hive, const UString& key, const UString& name) {
  if (!m_saved.insert("value:" + HiveName(hive) + Folded(key.str()) + "|" + Folded(name.str())).second) return;
  DWORD type = 0, size = 0;
  std::vector<BYTE> data;
  kit::UniqueKey opened;
  bool existed = RegOpenKeyExA(hive, key.c_str(), 0, KEY_QUERY_VALUE, opened.put()) == ERROR_SUCCESS &&
                 RegQueryValueExA(opened.get(), name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
  if (existed) {
    data.resize(size);
    existed = RegQueryValueExA(opened.get(), name.c_str(), nullptr, &type, data.data(), &size) == ERROR_SUCCESS;
    data.resize(size);
  }
  m_steps.push_back({[hive, key, name, existed, type, data] {
                       kit::UniqueKey target;
                       if (RegCreateKeyExA(hive, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, target.put(),
                                           nullptr) != ERROR_SUCCESS)
                         return;
                       if (existed)
                         RegSetValueExA(target.get(), name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
                       else
                         RegDeleteValueA(target.get(), name.c_str());
                     },
                     nullptr});
}

void InstallRollback::Rollback() {
  if (!m_steps.empty()) LogRecord(kLogWarnings, kRollback, UMessage::Format("%1, %2", "undoing the installation", static_cast<unsigned>(m_steps.size())));
  for (auto it = m_steps.rbegin(); it != m_steps.rend(); ++it)
    if (it->undo) it->undo();
  m_steps.clear();
  m_saved.clear();
}

void InstallRollback::Commit() {
  for (Step& step : m_steps)
    if (step.commit) step.commit();
  m_steps.clear();
  m_saved.clear();
}
