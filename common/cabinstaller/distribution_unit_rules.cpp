#include "cabinstaller/distribution_unit_rules.h"

#include <algorithm>

#include "components/update_rules.h"

namespace {

UString Joined(const UString& folder, const UString& name) {
  if (!folder.empty() && folder[folder.length() - 1] == '\\') return folder + name;
  return folder + "\\" + name;
}

}  // namespace

UString DistributionUnitKey(const UString& classId) {
  return "SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\" + classId;
}

UString ModuleUsageKey(const UString& path) {
  UString slashed = path;
  slashed.Replace("\\", "/");
  return "Software\\Microsoft\\Windows\\CurrentVersion\\ModuleUsage\\" + slashed;
}

UString InfCopyPath(const UString& destFolder, const UString& infPath) {
  const std::size_t cut = infPath.str().rfind('\\');
  const UString name = cut == std::string::npos ? infPath : infPath.Mid(static_cast<int>(cut) + 1);
  return Joined(destFolder, name);
}

unsigned long SharedDllCount(bool keyRead, unsigned long valueCount) {
  if (!keyRead || valueCount < 2) return 1;
  return valueCount - 1;
}

std::vector<RecordedFile> RecordedFiles(const UStringPairList& addCode, const UString& destFolder,
                                        const UString& systemFolder,
                                        const std::function<bool(const UString&)>& exists) {
  std::vector<RecordedFile> files;
  for (const UStringPair& entry : addCode) {
    RecordedFile file{entry.first, UString(), entry.second.empty()};
    if (!file.optional) {
      const UString& name = entry.second;
      for (const UString& candidate :
           {Joined(destFolder, name), Joined(systemFolder, name), Joined(systemFolder, "drivers\\" + name)}) {
        if (exists(candidate)) {
          file.path = candidate;
          break;
        }
      }
      if (file.path.empty() && name.str().find('.') != std::string::npos) file.path = Joined(destFolder, name);
    }
    files.push_back(file);
  }
  return files;
}

UStringList StaleFileValues(const UStringList& recorded, const std::vector<RecordedFile>& current) {
  UStringList stale;
  for (const UString& value : recorded) {
    const bool kept = std::any_of(current.begin(), current.end(),
                                  [&](const RecordedFile& file) { return file.path.EqualsNoCase(value.c_str()); });
    if (!kept) stale.push_back(value);
  }
  return stale;
}

SharedFileRelease ReleaseSharedFile(const SharedFileFacts& facts) {
  // A file this class does not own is not its to count down or delete.
  if (!facts.ownerListed) return {false, facts.countPresent ? facts.count : 0, false};
  unsigned long count = facts.ownerMarked ? facts.markedCount
                                          : facts.countPresent && facts.count > 0 ? facts.count - 1 : 0;
  // Owners recorded beside this one keep the file whatever the count says.
  count = std::max(count, facts.otherOwners);
  return {true, count, count == 0 && facts.otherOwners == 0};
}

namespace {
const char kMarkPrefix[] = "removing:";
}

UString OwnerMark(unsigned long count) { return UString(kMarkPrefix) + UString::Format("%lu", count); }

bool ReadOwnerMark(const UString& text, unsigned long* count) {
  const std::string& s = text.str();
  const std::size_t prefix = sizeof kMarkPrefix - 1;
  if (s.compare(0, prefix, kMarkPrefix) != 0 || s.size() == prefix || s.size() > prefix + 10) return false;
  unsigned long value = 0;
  for (std::size_t i = prefix; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    value = value * 10 + static_cast<unsigned long>(s[i] - '0');
  }
  *count = value;
  return true;
}

bool RemovalMayTouch(const UString& finalPath, const UString& scopeFolder, const UString& systemFolder,
                     bool machineCount) {
  return IsInFolder(finalPath, scopeFolder) || (machineCount && IsInFolder(finalPath, systemFolder));
}
