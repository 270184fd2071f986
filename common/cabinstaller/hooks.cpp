// Hooks and actions: a hook section's guards (where its file comes from, a
// version tag), the recorded action, and carrying it out: a section of the
// package INF through the Setup API, or a command started in the extraction
// folder whose exit code joins the installation's action result.
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "cabinstaller/UKitLoader.h"
#include "cabinstaller/cab_directory.h"
#include "cabinstaller/hook_rules.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "platform/platform_facts.h"

namespace {

const char kHook[] = "UKitLoader::ProcessHook()";
const char kAction[] = "UKitLoader::PerformAction";
const char kRun[] = "UKitLoader::PerformAction()";

constexpr DWORD kInstallFlags = SPINST_REGISTRY | SPINST_INI2REG | SPINST_FILES | SPINST_UNREGSVR;
constexpr DWORD kCopyFlags = SP_COPY_FORCE_NEWER | SP_COPY_IN_USE_NEEDS_REBOOT;
constexpr int kRunWaits = 20;
constexpr DWORD kRunWaitMs = 30000;

// The version on the first line of a tag file, or empty text when the file
// cannot be opened or read.
UString TagLine(const UString& folder, const UString& tag) {
  UString path = folder;
  if (!path.empty() && path[path.length() - 1] != '\\' && path[path.length() - 1] != '/') path += '\\';
  path += tag;
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (!file) return UString();
  char line[64] = {};
  const bool read = std::fgets(line, sizeof line, file) != nullptr;
  std::fclose(file);
  return read ? UString(line).Trimmed() : UString();
}

// The last-write time of a file, false when it cannot be read.
bool LastWriteTime(const char* path, FILETIME* time) {
  kit::UniqueFile file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && GetFileTime(file.get(), nullptr, nullptr, time);
}

// An installed "pinfo.dat" is replaced only by a newer copy.
bool IsProtectedFile(const char* target) {
  const char* slash = std::strrchr(target, '\\');
  return std::strcmp(slash ? slash + 1 : target, "pinfo.dat") == 0;
}

UINT PinfoCopyAnswer(const FILEPATHS_A* paths) {
  FILETIME target{}, source{};
  if (!LastWriteTime(paths->Target, &target) || !LastWriteTime(paths->Source, &source)) return FILEOP_DOIT;
  return CompareFileTime(&source, &target) > 0 ? FILEOP_DOIT : FILEOP_SKIP;
}

// Whether the file a source medium is known by lies where the queue looks.
bool MediumPresent(const SOURCE_MEDIA_A* media) {
  if (!media || !media->SourcePath) return false;
  const char* file = media->Tagfile && *media->Tagfile ? media->Tagfile : media->SourceFile;
  UString path = media->SourcePath;
  if (!path.empty() && path[path.length() - 1] != '\\') path += '\\';
  path += file ? file : "";
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The file a command starts when it is one of the package's (named below the
// extraction folder or relative to it, where the command starts) or one
// placed in the installation's temporary folder; empty for any other
// program. A name without an extension is the ".exe" the system would start.
UString PackageProgram(const UString& commandLine, const char* extractFolder, const UString& tempFolder) {
  const std::string program = RunProgramOf(commandLine);
  const std::string folder = extractFolder ? extractFolder : "";
  if (program.empty()) return UString();
  const bool full = program[0] == '\\' || program[0] == '/' || program.find(':') == 1;
  std::string path = full ? program : SAddTrailingBackslash(UString(folder.c_str())).str() + program;
  if (!cab::LiesWithin(folder, path) && !(full && cab::LiesWithin(tempFolder.str(), path))) return UString();
  const std::size_t name = path.find_last_of("\\/");
  if (path.find('.', name == std::string::npos ? 0 : name) == std::string::npos &&
      GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
    path += ".exe";
  return UString(path.c_str());
}

}  // namespace

// A notification that would wait for a person while nobody can answer: a
// medium that is there is used as it is; otherwise the queue is aborted
// with the failure it reports.
UINT UKitLoader::AnswerQuietly(UINT notification, UINT_PTR param1) {
  DWORD error = ERROR_FILE_NOT_FOUND;  // a missing source
  if (notification == SPFILENOTIFY_NEEDMEDIA) {
    if (MediumPresent(reinterpret_cast<const SOURCE_MEDIA_A*>(param1))) return FILEOP_DOIT;
  } else if (param1) {
    const DWORD reported = reinterpret_cast<const FILEPATHS_A*>(param1)->Win32Error;
    if (reported != 0) error = reported;
  }
  if (m_dwQueueAbortError == 0) m_dwQueueAbortError = error;
  LogRecord(kLogErrors, kAction,
            UMessage::Format("%1, %2, %3", "file queue stopped, it would wait for an answer", notification, error));
  SetLastError(error);
  return FILEOP_ABORT;
}

UINT CALLBACK UKitLoader::InstallQueueCallback(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR param2) {
  auto* loader = static_cast<UKitLoader*>(context);
  if (notification == SPFILENOTIFY_STARTCOPY && param1 &&
      IsProtectedFile(reinterpret_cast<const FILEPATHS_A*>(param1)->Target))
    return PinfoCopyAnswer(reinterpret_cast<const FILEPATHS_A*>(param1));
  // Without a user interface the platform's callback would ask anyway (or,
  // for a missing source, try again for ever).
  if (!loader->m_bUIAllowed && NotificationWouldPrompt(notification))
    return loader->AnswerQuietly(notification, param1);
  return SetupDefaultQueueCallbackA(loader->m_pQueueContext, notification, param1, param2);
}

UINT CALLBACK UKitLoader::FallbackQueueCallback(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR) {
  if (NotificationWouldPrompt(notification))
    return static_cast<UKitLoader*>(context)->AnswerQuietly(notification, param1);
  return FallbackQueueAnswer(notification);
}

int UKitLoader::ProcessHook(const UStringPairList& hook, const char* cabFolder, const char* objectFolder,
                            const char* infPath, const char* fileVersion) {
  if (!infPath) {
    LogRecord(kLogErrors, kHook, UString("invalid args"));
    return ERROR_INVALID_PARAMETER;
  }
  if (hook.empty()) {
    LogRecord(kLogErrors, kHook, UString("list is empty"));
    return 0;
  }
  if (!cabFolder || !*cabFolder) LogRecord(kLogErrors, kHook, UString("invalid args (szPath is empty)"));

  const HookKeys keys = ReadHookKeys(hook);
  if (keys.source == "ignore" || (keys.source.empty() && keys.action.empty() && keys.infFile.empty())) {
    LogRecord(kLogTrace, kHook, UString("ignore"));
    return 0;
  }
  if (!keys.tag.empty() && fileVersion && *fileVersion &&
      TagCoversVersion(TagLine(objectFolder ? objectFolder : "", keys.tag), fileVersion)) {
    LogRecord(kLogTrace, kHook, UString("newer version already installed"));
    return 0;
  }
  if (!keys.source.empty() && !keys.source.EqualsNoCase("thiscab")) {
    LogRecord(kLogErrors, kHook, UString("do not support files outside the current package"));
    return -1;
  }
  // A later package without an INF replays the action with this name joined
  // to its own folder.
  const std::string unsafe = keys.infFile.empty() ? std::string() : cab::UnsafeNameReason(keys.infFile.str());
  if (!unsafe.empty()) {
    LogRecord(kLogErrors, kHook, UMessage::Format("%1, %2, %3", "unsafe INF file name", unsafe.c_str(), keys.infFile));
    return ERROR_BAD_PATHNAME;
  }
  m_strAction = keys.action;
  m_strActionInfFile = keys.infFile;
  return PerformAction(cabFolder, objectFolder, infPath);
}

int UKitLoader::PerformAction(const char* extractFolder, const char* objectFolder, const char* infPath) {
  if (m_strAction.empty()) {
    LogRecord(kLogErrors, kAction, UString("Action not found"));
    return ERROR_INVALID_PARAMETER;
  }
  switch (KindOfAction(m_strAction)) {
    case ActionKind::kInfSection:
      return InstallInfSection(extractFolder, infPath);
    case ActionKind::kRun:
      return RunCommand(extractFolder, objectFolder);
    case ActionKind::kOther:
      break;
  }
  return 0;
}

int UKitLoader::InstallInfSection(const char* extractFolder, const char* infPath) {
  const UString section = InfSectionOfAction(m_strAction);
  const HINF inf = SetupOpenInfFileA(infPath ? infPath : "", nullptr, INF_STYLE_WIN4, nullptr);
  if (inf == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    LogRecord(kLogErrors, kAction, UMessage::Format("Could not open INF file (error: %1)", error));
    return static_cast<int>(error);
  }
  auto closeInf = kit::MakeScopeGuard([inf] { SetupCloseInfFile(inf); });

  // Without a user interface the context shows no progress either.
  const HWND noProgress = static_cast<HWND>(INVALID_HANDLE_VALUE);
  m_pQueueContext = m_bUIAllowed ? SetupInitDefaultQueueCallback(m_hWndOwner)
                                 : SetupInitDefaultQueueCallbackEx(m_hWndOwner, noProgress, 0, 0, nullptr);
  auto endContext = kit::MakeScopeGuard([this] {
    if (m_pQueueContext) SetupTermDefaultQueueCallback(m_pQueueContext);
    m_pQueueContext = nullptr;
  });
  m_dwQueueAbortError = 0;
  // The Setup API copies and registers from the extraction folder: each file
  // of it is what the cabinet held, and held so while the section installs.
  std::vector<kit::UniqueFile> heldFiles;
  const DWORD bad = HoldAllExtracted(&heldFiles);
  if (bad != 0) return static_cast<int>(bad);
  const BOOL installed = SetupInstallFromInfSectionA(
      m_hWndOwner, inf, section.c_str(), kInstallFlags, nullptr, extractFolder, kCopyFlags,
      m_pQueueContext ? InstallQueueCallback : FallbackQueueCallback, this, nullptr, nullptr);
  DWORD error = GetLastError();
  if (installed) return 0;
  // A queue this installer stopped fails with the failure that stopped it.
  if (m_dwQueueAbortError != 0) error = m_dwQueueAbortError;
  LogRecord(kLogErrors, kAction,
            UMessage::Format("SetupInstallFromInfSection failed (section: \"%1\", path: \"%2\", error: %3)", section,
                             UString(extractFolder), error));
  return static_cast<int>(error);
}

int UKitLoader::RunCommand(const char* extractFolder, const char* objectFolder) {
  UString commandLine;
  if (!ExpandRunCommand(m_strAction, {extractFolder, objectFolder, m_state.TempFolder(), m_strCodebase}, &commandLine)) {
    LogRecord(kLogErrors, kRun, UMessage::Format("%1, %2", "command line too long", commandLine));
    return ERROR_FILENAME_EXCED_RANGE;
  }
  const std::string unsafe = UnsafeProgramReason(commandLine, UString(extractFolder ? extractFolder : ""));
  if (!unsafe.empty()) {
    LogRecord(kLogErrors, kRun, UMessage::Format("%1, %2, %3", "program outside the package", unsafe.c_str(), commandLine));
    return ERROR_BAD_PATHNAME;
  }
  // A program of the package (or one this installation placed in its
  // temporary folder) starts only while it is the file the cabinet held, held
  // open with read sharing only until the wait for it ends, and by that path.
  kit::UniqueFile heldProgram;
  const UString program = PackageProgram(commandLine, extractFolder, m_state.TempFolder());
  if (!program.empty()) {
    const DWORD bad = HoldVerifiedFile(program, &heldProgram);
    if (bad != 0) return static_cast<int>(bad);
  }
  std::vector<char> buffer(commandLine.c_str(), commandLine.c_str() + commandLine.length() + 1);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION raw{};
  const BOOL started = CreateProcessA(heldProgram ? program.c_str() : nullptr, buffer.data(), nullptr, nullptr,
                                      FALSE, 0, nullptr,
                                      extractFolder && *extractFolder ? extractFolder : nullptr, &startup, &raw);
  const DWORD error = GetLastError();
  if (!started) {
    LogRecord(kLogErrors, kRun, UMessage::Format("%1, %2, %3", "failed to launch", commandLine, error));
    return static_cast<int>(error);
  }
  kit::ProcessInformation process;
  process.Adopt(raw);
  process.thread.reset();

  WaitForCommand(process.process.get());
  RecordExitCode(process.process.get(), commandLine);
  LogRecord(kLogTrace, kRun, UString("done"));
  return 0;
}

// Waits for a hook's program: 30 s at a time, at most 20 times, and no
// longer once a stop is requested. The program is never ended here, also
// when the wait gives up on it.
void UKitLoader::WaitForCommand(HANDLE process) {
  const DWORD waitMs = kit::facts::WaitMilliseconds("HookRun", kRunWaitMs);
  for (int waits = 1;
       WaitForSingleObject(process, waitMs) == WAIT_TIMEOUT && waits < kRunWaits && !m_bRequestToStop.load();
       ++waits) {
  }
}

// The program's exit code joins the installation's action result.
void UKitLoader::RecordExitCode(HANDLE process, const UString& commandLine) {
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(process, &exitCode)) {
    LogRecord(kLogErrors, kRun,
              UMessage::Format("%1, %2, %3, %4", "GetExitCodeProcess() result (exit code, lasterror, cmd)", 0u,
                               GetLastError(), commandLine));
    return;
  }
  LogRecord(kLogTrace, kRun,
            UMessage::Format("%1, %2, %3", "GetExitCodeProcess() result (exit code, cmd)", exitCode, commandLine));
  if (exitCode == 0xFFFFFFFF) return;
  m_state.AddActionResult(RunResultOfExitCode(commandLine, exitCode));
  LogRecord(kLogTrace, kRun,
            UMessage::Format("%1, %2, %3", "result of installation", ActionOutcomeText(m_state.ActionResult()),
                             commandLine));
}
