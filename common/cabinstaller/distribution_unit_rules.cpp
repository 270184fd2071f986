#include "cabinstaller/distribution_unit_rules.h"

#include <algorithm>

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
