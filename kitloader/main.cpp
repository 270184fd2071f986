// kitloader.exe: installs the suite's signed cabinet packages, listed on the
// command line or in "setup.inf" beside the program.
#include <windows.h>

#include "cabinstaller/UKitLoader.h"
#include "engine/USmartUpdateEx.h"
#include "foundation/dll_search.h"
#include "foundation/errorlog.h"
#include "foundation/file_error_log.h"
#include "foundation/m_folders.h"
#include "foundation/m_io.h"
#include "foundation/m_sys.h"
#include "foundation/m_uac_helpers.h"
#include "kitloader/command_line.h"
#include "kitloader/completion.h"
#include "kitloader/elevation.h"
#include "kitloader/engine_instance.h"
#include "kitloader/package_request.h"
#include "kitloader/package_wait.h"
#include "kitloader/report.h"
#include "kitloader/run_event.h"

// The log of the process. Defined before the engine so that it is built
// first and torn down last: the engine logs until it is gone.
static UClientFileErrorLog g_cErrorLog;

// The one update engine of the process, built before WinMain runs.
static USmartUpdateEx& g_cSmartUpdate = ProcessEngine();

namespace {

const char kFunction[] = "WinMain()";

// What the run is given.
struct RunContext {
  RunOptions options;
  UString moduleFolder;
  UString setupInfFile;  // "setup.inf" beside the program
  HWND progress = nullptr;
  const char* commandLineTail = "";
};

// What the run did, and how its end is reported.
struct RunRecord {
  PackageRequest request;  // the last package asked for
  std::vector<RunEventEntry> handled;
  bool showSuccess = false;
  bool reportedByCopy = false;  // an elevated copy took the run over and reported it
};

void ConfigureEngine(HWND progress, bool silent) {
  g_cSmartUpdate.SetWindow(progress);
  g_cSmartUpdate.SetSilent(silent);
  g_cSmartUpdate.SetCheckCodebase(false);
  g_cSmartUpdate.KitLoader().SetPerUserAllowed(!IsWindowsVersionAtLeast(6, 0, 0) ||
                                                uGetProcessIntegrityLevel(GetCurrentProcess()) < kIntegrityHigh);
}

// The packages of the command line, or of the [CabFiles] section of
// "setup.inf"; a list that cannot be read fails the run.
UStringPairList ReadPackageList(const RunContext& context, RunRecord& record) {
  UStringPairList packages = context.options.packages;
  if (context.options.installListMode) return packages;
  // The profile functions read a locked or unreadable file as an empty one:
  // make sure it can be read, so such a list fails instead of installing
  // nothing with success.
  const UString& setupInfFile = context.setupInfFile;
  if (!IsReadableFile(setupInfFile.c_str()) ||
      UKitLoader::GetInfSection(&packages, "CabFiles", setupInfFile.c_str(), nullptr, nullptr) != 0) {
    g_dwResult = ERROR_FILE_NOT_FOUND;
    record.request.file = setupInfFile;
    LogRecord(kLogErrors, kFunction, UMessage::Format("Cannot find [CabFiles] section in file:\"%1\"", setupInfFile));
  }
  return packages;
}

// A list entry with what its own section of "setup.inf" says.
PackageRequest ReadPackageRequest(const UStringPair& entry, const RunContext& context) {
  PackageRequest request;
  request.file = PackageFileFromKey(entry.first);
  if (!context.options.installListMode) {
    UStringPairList section;
    if (UKitLoader::GetInfSection(&section, request.file.c_str(), context.setupInfFile.c_str(), nullptr, nullptr) == 0)
      ApplyPackageSection(section, request);
  }
  return request;
}

// Has the engine install one package and waits for it: false when the run
// ends with it.
bool InstallPackage(const UStringPair& entry, const RunContext& context, RunRecord& record) {
  PackageRequest& request = record.request;
  request.file = MakeCodebase(MakeAbsolutePackagePath(request.file, context.moduleFolder), request.fileVersion);
  LogRecord(kLogTrace, kFunction, UMessage::Format("File:\"%1\", CLSID:\"%2\"", request.file, request.classId));

  int rc = g_cSmartUpdate.InstallControl(request.classId.c_str(), request.file.c_str(), "", "",
                                         &InstallCompleteCallback, 0);
  record.handled.push_back(
      {PackageFileFromKey(entry.first).str(), request.classId.str(), request.fileVersion.str(), "NONE", rc});
  if (rc != 0) {
    g_dwResult = rc;
    return false;
  }
  WaitForPackage(g_cSmartUpdate.WorkerWaitHandle());
  record.handled.back().route = RouteText(g_cSmartUpdate.InstalledRoute());
  record.handled.back().result = g_dwResult.load();
  if (g_dwResult.load() != 0) return false;
  g_bDone = false;
  LogRecord(kLogTrace, kFunction,
            UMessage::Format("Complete File:\"%1\", CLSID:\"%2\"", request.file, request.classId));
  return true;
}

// Each package in turn until one fails or needs an elevated copy of the
// program, which then takes the rest of the run over.
void InstallPackages(const UStringPairList& packages, const RunContext& context, RunRecord& record) {
  for (const UStringPair& entry : packages) {
    record.request = ReadPackageRequest(entry, context);
    if (record.request.file.empty()) continue;  // "ignore"

    if (ElevationToAdminNeeded(record.request.classId.c_str())) {
      ElevationOutcome outcome = RunElevation(context.progress, context.commandLineTail, context.options.silent,
                                              context.options.verbose);
      g_dwResult = outcome.result;
      record.showSuccess = outcome.showSuccess;
      record.reportedByCopy = outcome.reportedByCopy;
      return;
    }
    if (!InstallPackage(entry, context, record)) return;
  }
}

// The final box and the run's event.
void ReportRun(std::int32_t result, const RunContext& context, const RunRecord& record) {
  const bool silent = context.options.silent;
  if (result != 0) {
    LogRecord(kLogErrors, kFunction,
              UMessage::Format("Installation failed. Code:%1 (\"%2\"), File:\"%3\"", result,
                               // one record, one line: without the system text's line break
                               GetInstallErrorText(static_cast<std::uint32_t>(result)).Trimmed(),
                               record.request.file));
    // An elevated copy that finished its run has shown its own report.
    if (!silent && !record.reportedByCopy) ShowFailureBox(context.progress, result, record.request.file.c_str());
  } else if (record.showSuccess && !silent) {
    ShowSuccessBox(context.progress);
  }

  // The elevated copy that took the run over writes its own event.
  if (!record.reportedByCopy)
    ReportRunEvent("kitloader", kRunEventInstall, record.handled, result,
                   result != 0 && result != ERROR_SUCCESS_REBOOT_REQUIRED);
}

std::int32_t RunInstaller(HINSTANCE instance, LPSTR commandLineTail) {
  RunContext context;
  context.options = ParseArguments(TokenizeCommandLine(GetCommandLineA()));
  if (context.options.usage) {
    ShowUsageBox();
    return 0;
  }
  SSplitPath(SGetModuleFileName(nullptr), &context.moduleFolder, nullptr);
  context.setupInfFile = context.moduleFolder + "setup.inf";
  context.commandLineTail = commandLineTail;

  context.progress = CreateProgressWindow(instance, !context.options.silent);
  ConfigureEngine(context.progress, context.options.silent);

  RunRecord record;
  record.showSuccess = context.options.verbose;
  const UStringPairList packages = ReadPackageList(context, record);
  InstallPackages(packages, context, record);

  g_cSmartUpdate.Stop(TRUE);
  if (context.progress) ShowWindow(context.progress, SW_HIDE);

  const std::int32_t result = g_dwResult.load();
  ReportRun(result, context, record);
  SignalRelaunchEvent();
  DestroyProgressWindow(context.progress);
  LogRecord(kLogTrace, kFunction, UMessage::Format("exit, %1", result));
  return result;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLineTail, int) {
  kit::RestrictDllSearch();
  if (g_pErrorLog) g_pErrorLog->Open("KITLOADER");
  int result = 0;
  // What a helper raises ends the run with its code, logged, instead of
  // leaving the program.
  CatchAndLog(KL_CATCH_SITE(kFunction, kFunction), result, [&] { result = RunInstaller(instance, commandLineTail); });
  g_cSmartUpdate.Stop(TRUE);
  return result;
}
