// The rules of hook sections and their actions (see hook_rules.h).
#include "cabinstaller/hook_rules.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "cabinstaller/cab_directory.h"

namespace {

bool StartsWithNoCase(const UString& text, const char* prefix) {
  const std::size_t n = std::strlen(prefix);
  return text.length() >= n && text.Left(static_cast<int>(n)).EqualsNoCase(prefix);
}

// Splits at the last occurrence of `separator`: false when there is none.
// `text` is taken by value: callers split a left part into itself.
bool SplitAtLast(std::string text, char separator, std::string* left, std::string* right) {
  const std::size_t at = text.rfind(separator);
  if (at == std::string::npos) return false;
  *right = UString(text.substr(at + 1)).Trimmed().str();
  *left = UString(text.substr(0, at)).Trimmed().str();
  return true;
}

std::uint32_t Number(const std::string& text) { return static_cast<std::uint32_t>(std::atoi(text.c_str())); }

// Setup API notification codes.
constexpr unsigned kDeleteError = 7, kRenameError = 10, kCopyError = 13, kNeedMedia = 14;
constexpr unsigned kLastNumbered = 14, kFileConflictBits = 0x70000;
constexpr unsigned kFileOpAbort = 0, kFileOpDoIt = 1;

constexpr int kRestartNeeded = 3010, kInstallFailure = 1603;

}  // namespace

HookKeys ReadHookKeys(const UStringPairList& pairs) {
  HookKeys keys;
  bool sourceSet = false;
  for (const UStringPair& pair : pairs) {
    const UString& key = pair.first;
    if (key.EqualsNoCase("File-win32-x86")) {
      keys.source = pair.second;
      sourceSet = true;
    } else if (key.EqualsNoCase("File")) {
      if (!sourceSet) keys.source = pair.second;
      sourceSet = true;
    } else if (key.EqualsNoCase("run")) {
      keys.action = "Run=" + pair.second;
    } else if (key.EqualsNoCase("InfSection")) {
      if (keys.action.empty()) keys.action = "InfSection=" + pair.second;
    } else if (key.EqualsNoCase("InfFile")) {
      if (keys.action.empty()) keys.infFile = pair.second;
    } else if (key.EqualsNoCase("Tag")) {
      keys.tag = pair.second;
    }
  }
  return keys;
}

bool parseVersionText(const UString& text, std::uint32_t* most, std::uint32_t* least) {
  std::string left, right;
  if (!SplitAtLast(text.str(), ',', &left, &right)) return false;
  std::uint32_t low = Number(right);
  if (!SplitAtLast(left, ',', &left, &right)) return false;
  low += Number(right) * 65536u;
  if (!SplitAtLast(left, ',', &left, &right)) return false;
  std::uint32_t high = Number(right);
  const std::size_t equals = left.rfind('=');
  high += Number(equals == std::string::npos ? left : left.substr(equals + 1)) * 65536u;
  *most = high;
  *least = low;
  return true;
}

bool TagCoversVersion(const UString& tagLine, const UString& fileVersion) {
  std::uint32_t tagMost = 0, tagLeast = 0, fileMost = 0, fileLeast = 0;
  if (!parseVersionText(tagLine.Trimmed(), &tagMost, &tagLeast) ||
      !parseVersionText(fileVersion, &fileMost, &fileLeast))
    return false;
  return tagMost != fileMost ? tagMost > fileMost : tagLeast >= fileLeast;
}

ActionKind KindOfAction(const UString& action) {
  if (StartsWithNoCase(action, "InfSection")) return ActionKind::kInfSection;
  if (StartsWithNoCase(action, "Run")) return ActionKind::kRun;
  return ActionKind::kOther;
}

UString InfSectionOfAction(const UString& action) {
  const std::size_t equals = action.str().rfind('=');
  if (equals == std::string::npos) return UString("DefaultInstall");
  return UString(action.str().substr(equals + 1)).Trimmed();
}

UString HostOfCodebase(const UString& codebase) {
  std::string lower = codebase.str();
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  std::size_t scheme = 0;
  for (const char* prefix : {"http://", "https://", "ftp://", "file://"}) {
    if (lower.compare(0, std::strlen(prefix), prefix) == 0) scheme = std::strlen(prefix);
  }
  if (scheme == 0) return UString();
  return UString(codebase.str().substr(0, codebase.str().find('/', scheme)));
}

namespace {

// The program a command line starts: its first word, or the quoted text at
// its start.
std::string ProgramOf(const std::string& text) {
  const bool quoted = !text.empty() && text[0] == '"';
  const std::size_t start = quoted ? 1 : 0;
  return text.substr(start, text.find(quoted ? '"' : ' ', start) - start);
}

}  // namespace

bool ExpandRunCommand(const UString& action, const RunMacros& macros, UString* commandLine) {
  UString command = action;
  command.Replace("%EXTRACT_DIR%", macros.extractDir.c_str());
  command.Replace("%OBJECT_DIR%", macros.objectDir.c_str());
  command.Replace("%TEMP_DIR1%", macros.tempDir.c_str());
  command.Replace("\\\\", "\\");
  command.Replace("%HOST_ADDR%", HostOfCodebase(macros.codebase).c_str());
  command.Replace("Run=", "");
  *commandLine = command + " ";
  return commandLine->length() <= kMaxRunCommandLine && ProgramOf(commandLine->str()).size() <= kMaxRunProgram;
}

std::string RunProgramOf(const UString& commandLine) { return ProgramOf(commandLine.str()); }

bool ProgramClimbsOut(const UString& commandLine) {
  const std::string program = ProgramOf(commandLine.str());
  for (std::size_t from = 0; from <= program.size();) {
    std::size_t end = program.find_first_of("\\/", from);
    if (end == std::string::npos) end = program.size();
    const std::string part = program.substr(from, end - from);
    if (!part.empty() && part.find_first_not_of(". ") == std::string::npos) return true;
    from = end + 1;
  }
  return false;
}

std::string UnsafeProgramReason(const UString& commandLine, const UString& extractFolder) {
  if (ProgramClimbsOut(commandLine)) return "a program that climbs out of its folder";
  const std::string program = ProgramOf(commandLine.str());
  std::string folder = extractFolder.str();
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  std::string relative = program;
  if (!folder.empty() && program.size() > folder.size() + 1 &&
      UString(program.substr(0, folder.size())).EqualsNoCase(folder.c_str()) &&
      (program[folder.size()] == '\\' || program[folder.size()] == '/')) {
    relative = program.substr(folder.size() + 1);
  } else if (program.empty() || program[0] == '\\' || program[0] == '/' || program.find(':') == 1) {
    return std::string();  // named by its full path elsewhere: the maker's own affair
  }
  std::string joined;
  return folder.empty() ? cab::UnsafeNameReason(relative) : cab::JoinBelow(folder, relative, &joined);
}

int RunResultOfExitCode(const UString& commandLine, std::uint32_t exitCode) {
  const std::string& text = commandLine.str();
  if (text.find("tunnelsvc.exe") == std::string::npos && text.find("tunnelsetup.exe") == std::string::npos)
    return static_cast<int>(exitCode);
  return exitCode == 1 ? kRestartNeeded : exitCode == 2 ? kInstallFailure : 0;
}

int NextActionResult(int accumulated, int result) {
  if (accumulated == 0 || (accumulated == kRestartNeeded && result != 0)) return result;
  return accumulated;
}

const char* ActionOutcomeText(int accumulated) {
  return accumulated == 0 ? "succeed" : accumulated == kRestartNeeded ? "need reboot" : "failed";
}

bool NotificationWouldPrompt(unsigned notification) {
  return notification == kDeleteError || notification == kRenameError || notification == kCopyError ||
         notification == kNeedMedia;
}

unsigned FallbackQueueAnswer(unsigned notification) {
  if (notification >= 1 && notification <= kLastNumbered)
    return NotificationWouldPrompt(notification) ? kFileOpAbort : kFileOpDoIt;
  return (notification & kFileConflictBits) ? kFileOpDoIt : kFileOpAbort;
}
