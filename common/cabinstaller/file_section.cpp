// The keys of file and deployment sections (no windows.h here).
#include "cabinstaller/file_section.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace {
const char kTempMacro[] = "%TEMP_DIR1%";
constexpr int kRestartNeeded = 3010;

std::string Lower(const UString& text) {
  std::string s = text.str();
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}
}  // namespace

FileSectionKeys ReadFileSectionKeys(const UStringPairList& pairs, const UString& sectionName) {
  FileSectionKeys keys;
  keys.fileName = sectionName;
  bool sourceFromWin32 = false;
  for (const UStringPair& pair : pairs) {
    const UString& key = pair.first;
    const UString& value = pair.second;
    if (key.EqualsNoCase("File-win32-x86")) {
      keys.source = value;
      sourceFromWin32 = true;
    } else if (key.EqualsNoCase("File")) {
      if (!sourceFromWin32 && keys.source.empty()) keys.source = value;
    } else if (key.EqualsNoCase("FileVersion")) {
      keys.fileVersion = value;
    } else if (key.EqualsNoCase("Clsid")) {
      keys.classId = value;
    } else if (key.EqualsNoCase("DestDir")) {
      keys.destDir = value;
    } else if (key.EqualsNoCase("RegisterServer")) {
      keys.registerServer = !value.EqualsNoCase("NO");
    } else if (key.EqualsNoCase("RedirectToHKCU")) {
      keys.redirectToHKCU = value.EqualsNoCase("yes");
    } else if (key.EqualsNoCase("UserEntryPoints")) {
      keys.userEntryPoints = value.EqualsNoCase("yes");
    } else if (key.EqualsNoCase("hook")) {
      keys.hook = value;
    } else if (key.EqualsNoCase(sectionName.c_str())) {
      keys.fileName = value;
    }
  }
  return keys;
}

bool PlacesNoFile(const FileSectionKeys& keys) {
  return keys.source.EqualsNoCase("ignore") || (keys.source.empty() && keys.hook.empty());
}

DestDirKind ResolveDestDir(const UString& destDir, const UString& tempFolder, UString* folder) {
  if (destDir == "10") return DestDirKind::kWindows;
  if (destDir == "11") return DestDirKind::kSystem;
  if (destDir.str().find(kTempMacro) == std::string::npos) return DestDirKind::kNone;
  // Only the temporary folder and folders below it: no ".." beside the macro.
  std::string rest = destDir.str();
  for (std::size_t at; (at = rest.find(kTempMacro)) != std::string::npos;) rest.replace(at, sizeof kTempMacro - 1, "\\");
  for (std::size_t start = 0; start <= rest.size();) {
    std::size_t end = rest.find_first_of("\\/", start);
    if (end == std::string::npos) end = rest.size();
    const std::string part = rest.substr(start, end - start);
    if (!part.empty() && part.find_first_not_of(". ") == std::string::npos) return DestDirKind::kOutside;
    start = end + 1;
  }
  UString resolved = destDir;
  resolved.Replace(kTempMacro, tempFolder.c_str());
  if (folder) *folder = resolved;
  return DestDirKind::kTempFolder;
}

int InstallScopeOfDeployment(const UStringPairList& deployment) {
  for (const UStringPair& pair : deployment) {
    if (pair.first.EqualsNoCase("InstallScope")) return Lower(pair.second).find("user") != std::string::npos ? 2 : 1;
  }
  return 1;
}

int CombineActionResult(int result, int actionResult) {
  if (result == 0) return actionResult;
  if (result == kRestartNeeded) return actionResult != 0 ? actionResult : kRestartNeeded;
  return result;
}
