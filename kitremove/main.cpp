// kitremove.exe: removes the suite's controls by their distribution-unit
// records, the way the browser's list of downloaded controls removes one.
#include <windows.h>

#include <string>

#include "cabinstaller/UKitLoader.h"
#include "cabinstaller/distribution_unit_rules.h"
#include "components/installed_components.h"
#include "foundation/dll_search.h"
#include "foundation/errorlog.h"
#include "foundation/file_error_log.h"
#include "foundation/m_registry.h"
#include "kitloader/command_line.h"
#include "kitloader/completion.h"
#include "kitloader/package_wait.h"
#include "kitloader/report.h"
#include "kitloader/run_event.h"
#include "kitremove/removal_result.h"
#include "kitremove/remove_command_line.h"

// The log of the process, shared with the suite's other programs.
static UClientFileErrorLog g_cErrorLog;

namespace {

const char kFunction[] = "WinMain()";
// How long a cancelled run waits for the class being removed.
const DWORD kWorkerEndWaitMs = 60000;
const char kUsageText[] =
    "Usage: kitremove.exe [/s][/v][/f] {CLSID}[ {CLSID_n}]\n"
    "/s - \tSilent; display no message boxes\n"
    "/v - \tDisplay a message when the removal succeeded\n"
    "/f - \tRemove the files of a control that refuses to unregister\n"
    "/? - \tPrint this message\n";

struct RemovalRun {
  RemoveOptions options;
  std::string current;      // the class being removed
  std::string resultClass;  // the class whose result the run ends with, for the report
  std::vector<RunEventEntry> removed;
};

// Removes the classes in order and keeps the strongest result; a failure
// ends the run. A class that is not installed is gone already, and one
// whose file goes at the next restart is removed: the run goes on past both.
DWORD WINAPI RemoveClasses(void* parameter) {
  RemovalRun& run = *static_cast<RemovalRun*>(parameter);
  UKitLoader loader;
  std::int32_t result = 0;
  for (const std::string& classId : run.options.classIds) {
    if (g_dwResult.load() == kResultCancelled) break;
    run.current = classId;
    const int scope = UKitLoader::RecordedScope(classId.c_str());
    RunEventEntry entry{"", classId, "", scope == 2 ? "LOCAL_USER" : scope == 1 ? "LOCAL_MACHINE" : "NONE", 0};
    if (scope != 0)
      entry.version = SGetRegistryAsString(scope == 2 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
                                           (DistributionUnitKey(classId) + "\\InstalledVersion").c_str(), "", "", 0, 0)
                          .str();
    std::int32_t code = 0;
    if (scope == 0) {
      LogRecord(kLogWarnings, kFunction, UMessage::Format("%1, %2", "control not installed", classId));
      code = ERROR_UNKNOWN_PRODUCT;
    } else if (scope == 1 && !CheckInstallActiveXRigths()) {
      LogRecord(kLogErrors, kFunction,
                UMessage::Format("%1, %2", "not enough rights to remove a control of the machine", classId));
      code = ERROR_ACCESS_DENIED;
    } else {
      code = loader.RemoveDistributionUnit(scope, classId.c_str(), run.options.force);
    }
    entry.result = code;
    run.removed.push_back(entry);
    if (run.resultClass.empty() || StrongerRemovalResult(result, code) != result) run.resultClass = classId;
    result = StrongerRemovalResult(result, code);
    if (!RemovalGoesOn(code)) break;
    LogRecord(kLogTrace, kFunction, UMessage::Format("Complete CLSID:\"%1\", %2", classId, code));
  }
  InstallCompleteCallback(result, run.current.c_str(), 0);
  return 0;
}

std::int32_t RunRemover(HINSTANCE instance) {
  RemovalRun run;
  run.options = ParseRemoveArguments(TokenizeCommandLine(GetCommandLineA()));
  if (run.options.usage) {
    MessageBoxA(nullptr, kUsageText, "kitremove", MB_OK);
    return 0;
  }
  if (!run.options.error.empty()) {
    LogRecord(kLogErrors, kFunction, UMessage::Format("%1, %2", "bad command line", run.options.error));
    if (!run.options.silent) ShowFailureBox(nullptr, ERROR_INVALID_PARAMETER, run.options.error.c_str());
    return ERROR_INVALID_PARAMETER;
  }

  bool ended = false;

  HWND progress = CreateProgressWindow(instance, !run.options.silent);
  HANDLE worker = CreateThread(nullptr, 0, &RemoveClasses, &run, 0, nullptr);
  if (!worker) {
    g_dwResult = ERROR_NOT_ENOUGH_MEMORY;
  } else {
    WaitForPackage(worker);
    // Cancel ends the wait at once; the class being removed is finished
    // first, the next one is not started. A control that keeps its
    // unregistration from ending is not waited for beyond the bound: the
    // process ends with the removal cut short, and the next removal
    // finishes it.
    ended = WaitForSingleObject(worker, kWorkerEndWaitMs) == WAIT_OBJECT_0;
    if (!ended)
      LogRecord(kLogWarnings, kFunction, UString("the removal did not end after Cancel; leaving it unfinished"));
    CloseHandle(worker);
  }
  if (progress) ShowWindow(progress, SW_HIDE);

  const std::int32_t result = g_dwResult.load();
  const std::string named = run.resultClass.empty() ? run.current : run.resultClass;
  if (result != 0) {
    LogRecord(kLogErrors, kFunction,
              UMessage::Format("Removal failed. Code:%1 (\"%2\"), CLSID:\"%3\"", result,
                               GetInstallErrorText(static_cast<std::uint32_t>(result)).Trimmed(), named));
    if (!run.options.silent) ShowFailureBox(progress, result, named.c_str());
  } else if (run.options.verbose && !run.options.silent) {
    ShowSuccessBox(progress);
  }
  DestroyProgressWindow(progress);
  // A worker still running after Cancel may still change its list.
  ReportRunEvent("kitremove", kRunEventRemove, ended ? run.removed : std::vector<RunEventEntry>{}, result,
                 !RemovalGoesOn(result));
  return result;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  kit::RestrictDllSearch();
  if (g_pErrorLog) g_pErrorLog->Open("KITREMOVE");
  int result = 0;
  CatchAndLog(KL_CATCH_SITE(kFunction, kFunction), result, [&] { result = RunRemover(instance); });
  // Every exit, a refused command line included, ends with its record.
  LogRecord(kLogTrace, kFunction, UMessage::Format("exit, %1", result));
  return result;
}
