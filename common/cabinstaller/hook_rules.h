// The rules of hook sections and their actions that need no system: the
// keys of a hook, version texts and tags, the command of a "Run=" action with
// its macros, the result a command leaves, and the answers of the quiet file
// queue. Win32-free.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/string_lists.h"

// What one hook section asks for.
struct HookKeys {
  UString source;   // "thiscab" (any case), "ignore" (lower case only), empty, or refused
  UString action;   // "Run=<value>", "InfSection=<value>" or empty
  UString infFile;  // counts only before the first action key
  UString tag;      // a file in the destination folder holding the installed version
};

// Reads the keys without regard to case, in section order: "File-win32-x86"
// wins over "File", the last "run" wins over everything, the first
// "InfSection" wins over later ones.
HookKeys ReadHookKeys(const UStringPairList& pairs);

// A version text "a,b,c,d" (a key and "=" before it are ignored) as two
// 32-bit words: most = a*65536 + b, least = c*65536 + d. False without the
// three commas.
bool parseVersionText(const UString& text, std::uint32_t* most, std::uint32_t* least);

// Whether the version on a tag file's first line is the same as or newer
// than fileVersion; false when either text cannot be read.
bool TagCoversVersion(const UString& tagLine, const UString& fileVersion);

enum class ActionKind { kInfSection, kRun, kOther };
ActionKind KindOfAction(const UString& action);

// The section an "InfSection" action installs: the text after its last "=",
// trimmed, or "DefaultInstall" without one.
UString InfSectionOfAction(const UString& action);

// The scheme and host of a codebase ("http://Host" of "http://Host/a.cab"),
// empty unless it starts with http://, https://, ftp:// or file:// in any case.
UString HostOfCodebase(const UString& codebase);

// The longest command line a "Run=" action may give (the platform's limit
// for a process's command line, less its terminator), and the longest name
// of the program it starts (the path limit less its terminator).
constexpr std::size_t kMaxRunCommandLine = 32766;
constexpr std::size_t kMaxRunProgram = 259;

// The values of a "Run=" action's macros.
struct RunMacros {
  UString extractDir;  // %EXTRACT_DIR%
  UString objectDir;   // %OBJECT_DIR%
  UString tempDir;     // %TEMP_DIR1%
  UString codebase;    // its scheme and host are %HOST_ADDR%
};

// The command line of a "Run=" action: macros replaced, doubled backslashes
// made single, every "Run=" removed, one blank appended. False when it would
// be longer than kMaxRunCommandLine or its program's name longer than
// kMaxRunProgram (then *commandLine is still the whole text).
bool ExpandRunCommand(const UString& action, const RunMacros& macros, UString* commandLine);

// The program a command line starts: the quoted text at its start, or its
// first word.
std::string RunProgramOf(const UString& commandLine);

// Whether the program a command line starts (its first word, or the quoted
// text at its start) climbs out of its folder through ".." (or a name of dots
// only): such a program lies outside the package and is not started.
bool ProgramClimbsOut(const UString& commandLine);

// Why the program of a command line may not be started; empty when it may.
// It may not climb out of its folder; a program named below the extraction
// folder, or relative to it (where the command starts), must also pass the
// check of names joined to a folder (no device name, '/' or stream). A
// program named by a full path elsewhere is the signed package's own affair.
std::string UnsafeProgramReason(const UString& commandLine, const UString& extractFolder);

// A command's exit code as an action result: the tunnel component's programs
// report 1 for a restart (3010) and 2 for a failure (1603), everything else
// from them is success; other programs' codes count as they are.
int RunResultOfExitCode(const UString& commandLine, std::uint32_t exitCode);

// The accumulated action result after one more command: the first failure
// stays, a recorded restart gives way to any later nonzero result.
int NextActionResult(int accumulated, int result);

// "succeed", "need reboot" or "failed" for an accumulated action result.
const char* ActionOutcomeText(int accumulated);

// The file-queue notifications whose default handling asks the user: a
// missing source, and a copy, delete or rename that failed.
bool NotificationWouldPrompt(unsigned notification);

// The answer of the queue callback used when no default context exists:
// abort (0) on every notification that would ask, proceed (1) otherwise.
unsigned FallbackQueueAnswer(unsigned notification);
