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

std::int32_t RunInstaller(HINSTANCE instance, LPSTR commandLineTail) {
  RunOptions options = ParseArguments(TokenizeCommandLine(GetCommandLineA()));
  if (options.usage) {
    ShowUsageBox();
    return 0;
  }

  UString moduleFolder;
  SSplitPath(SGetModuleFileName(nullptr), &moduleFolder, nullptr);
  const UString setupInfFile = moduleFolder + "setup.inf";

  HWND progress = CreateProgressWindow(instance, !options.silent);
  g_cSmartUpdate.m_hWnd = progress;
  g_cSmartUpdate.m_bSilent = options.silent;
  g_cSmartUpdate.m_bCheckCodebase = false;
  g_cSmartUpdate.m_cKitLoader.SetPerUserAllowed(!IsWindowsVersionAtLeast(6, 0, 0) ||
                                                uGetProcessIntegrityLevel(GetCurrentProcess()) < kIntegrityHigh);

  PackageRequest request;
  UStringPairList packages = options.packages;
  if (!options.installListMode) {
    // The profile functions read a locked or unreadable file as an empty one:
    // make sure it can be read, so such a list fails instead of installing
    // nothing with success.
    if (!IsReadableFile(setupInfFile.c_str()) ||
        UKitLoader::GetInfSection(&packages, "CabFiles", setupInfFile.c_str(), nullptr, nullptr) != 0) {
      g_dwResult = ERROR_FILE_NOT_FOUND;
      request.file = setupInfFile;
      LogRecord(kLogErrors, kFunction, UMessage::Format("Cannot find [CabFiles] section in file:\"%1\"", setupInfFile));
    }
  }

  bool showSuccess = options.verbose;
  bool reportedByCopy = false;
  std::vector<RunEventEntry> handled;
  for (const UStringPair& entry : packages) {
    request = PackageRequest();
    request.file = PackageFileFromKey(entry.first);
    if (!options.installListMode) {
      UStringPairList section;
      if (UKitLoader::GetInfSection(&section, request.file.c_str(), setupInfFile.c_str(), nullptr, nullptr) == 0)
        ApplyPackageSection(section, request);
    }
    if (request.file.empty()) continue;  // "ignore"

    if (ElevationToAdminNeeded(request.classId.c_str())) {
      ElevationOutcome outcome = RunElevation(progress, commandLineTail, options.silent, options.verbose);
      g_dwResult = outcome.result;
      showSuccess = outcome.showSuccess;
      reportedByCopy = outcome.reportedByCopy;
      break;
    }

    request.file = MakeCodebase(MakeAbsolutePackagePath(request.file, moduleFolder), request.fileVersion);
    LogRecord(kLogTrace, kFunction, UMessage::Format("File:\"%1\", CLSID:\"%2\"", request.file, request.classId));

    int rc = g_cSmartUpdate.InstallControl(request.classId.c_str(), request.file.c_str(), "", "",
                                           &InstallCompleteCallback, 0);
    handled.push_back(
        {PackageFileFromKey(entry.first).str(), request.classId.str(), request.fileVersion.str(), "NONE", rc});
    if (rc != 0) {
      g_dwResult = rc;
      break;
    }
    WaitForPackage(g_cSmartUpdate.WorkerWaitHandle());
    handled.back().route = RouteText(g_cSmartUpdate.InstalledRoute());
    handled.back().result = g_dwResult.load();
    if (g_dwResult.load() != 0) break;
    g_bDone = false;
    LogRecord(kLogTrace, kFunction,
              UMessage::Format("Complete File:\"%1\", CLSID:\"%2\"", request.file, request.classId));
  }

  g_cSmartUpdate.Stop(TRUE);
  if (progress) ShowWindow(progress, SW_HIDE);

  const std::int32_t result = g_dwResult.load();
  if (result != 0) {
    LogRecord(kLogErrors, kFunction,
              UMessage::Format("Installation failed. Code:%1 (\"%2\"), File:\"%3\"", result,
                               // one record, one line: without the system text's line break
                               GetInstallErrorText(static_cast<std::uint32_t>(result)).Trimmed(), request.file));
    // An elevated copy that finished its run has shown its own report.
    if (!options.silent && !reportedByCopy) ShowFailureBox(progress, result, request.file.c_str());
  } else if (showSuccess && !options.silent) {
    ShowSuccessBox(progress);
  }

  // The elevated copy that took the run over writes its own event.
  if (!reportedByCopy)
    ReportRunEvent("kitloader", kRunEventInstall, handled, result,
                   result != 0 && result != ERROR_SUCCESS_REBOOT_REQUIRED);
  SignalRelaunchEvent();
  DestroyProgressWindow(progress);
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
