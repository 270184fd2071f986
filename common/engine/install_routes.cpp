// The body of one install request: whether anything needs doing, which
// installers may install the package, acquiring it and trying the routes
// (engine/route_attempts.h); and handing a package to a pipe server.
#include <cstdio>

#include "cabinstaller/install_rollback.h"
#include "engine/USmartUpdateEx.h"
#include "engine/package_acquisition.h"
#include "engine/route_attempts.h"
#include "foundation/m_folders.h"
#include "foundation/m_io.h"
#include "foundation/m_textconv.h"
#include "foundation/m_uac_helpers.h"
#include "installer_service/installer_service.h"

namespace {

const char kRunObjectProc[] = "USmartUpdateEx::RunObjectProc()";
const char kInstallUsingService[] = "USmartUpdateEx::InstallUsingService()";

// The service versions that only take their own update under a fixed name.
const char kFixedUpdateName[] = "NorvaneISUpdate.cab";

// How long a pipe server is given to answer a version request, and to take
// the window of its UI.
constexpr DWORD kServerVersionWaitMs = 20000;
constexpr DWORD kServerWindowWaitMs = 5000;
// A service that replaces itself is given a first pause, then asked for its
// version up to kSelfUpdatePolls times, kSelfUpdatePollPauseMs apart.
constexpr DWORD kSelfUpdateFirstPauseMs = 100;
constexpr int kSelfUpdatePolls = 24;
constexpr DWORD kSelfUpdatePollPauseMs = 5000;

// Install results of the pipe servers.
enum : int {
  kServerRebootNeeded = 3,
  kServerUpdatesItself = 2,
  kServerDependency = 0x10000000,
};

constexpr std::uint64_t Version(unsigned a, unsigned b, unsigned c, unsigned d) {
  return (std::uint64_t(a) << 48) | (std::uint64_t(b) << 32) | (std::uint64_t(c) << 16) | d;
}

bool NeedsFixedUpdateName(std::uint64_t running) {
  return (running >= Version(6010, 0, 0, 0) && running < Version(6010, 2007, 1001, 0)) ||
         (running >= Version(6020, 0, 0, 0) && running < Version(6020, 2007, 727, 0));
}

// The package an update of the running service takes: a copy under the
// fixed name for the versions that need it.
UString PackageForServiceUpdate(const UString& package, std::uint64_t runningVersion) {
  ERRORLOGLEVELx(
      "USmartUpdateEx::InstallUsingService() - Update Service(), check version for (%d.%d.%d.%d, %d.%d.%d.%d) "
      "and (%d.%d.%d.%d, %d.%d.%d.%d)\n",
      6010, 0, 0, 0, 6010, 2007, 1001, 0, 6020, 0, 0, 0, 6020, 2007, 727, 0);
  UString folder, name;
  SSplitPath(package, &folder, &name);
  // A package that already has the fixed name would be copied onto itself.
  if (!NeedsFixedUpdateName(runningVersion) || name.EqualsNoCase(kFixedUpdateName)) return package;
  LogRecord(kLogTrace, kInstallUsingService, UString("need rename cab file"));
  const UString copy = folder + kFixedUpdateName;
  if (!CopyFileA(package.c_str(), copy.c_str(), FALSE)) {
    const UString error = SGetErrorText(GetLastError());
    KL_THROW(-1, kInstallUsingService, "EXCEPTION - %s, %s, %s, %s", "CopyFile() failed", package.c_str(),
             copy.c_str(), error.c_str());
  }
  LogRecord(kLogTrace, kInstallUsingService, UMessage::Format("%1, %2, %3", "CopyFile() succeed", package, copy));
  return copy;
}

void SendWindow(HWND window, int serviceType) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", static_cast<void*>(window));
  LogRecord(kLogTrace, kInstallUsingService, UMessage::Format("%1, %2", "sending UI window", text));
  srvSetUIWindow(window, kServerWindowWaitMs, serviceType);
}

// Waits for a service that replaces itself: 0 once a newer one answers,
// else 1603.
int WaitForSelfUpdate(std::uint64_t oldVersion) {
  LogRecord(kLogWarnings, kInstallUsingService, UString("Service need update itself, waiting..."));
  Sleep(kSelfUpdateFirstPauseMs);
  std::uint64_t version = 0;
  for (int i = 0; i < kSelfUpdatePolls; ++i) {
    version = srvGetServiceVersion(kServerVersionWaitMs, ToNumber(PipeKind::kInstallerService));
    if (version) break;
    Sleep(kSelfUpdatePollPauseMs);
  }
  if (version > oldVersion) {
    LogRecord(kLogTrace, kInstallUsingService, UString("Service updated itself successfully"));
    return 0;
  }
  if (version)
    LogRecord(kLogErrors, kInstallUsingService, UString("Service failed to update itself"));
  else
    LogRecord(kLogErrors, kInstallUsingService, UString("Service failed to start"));
  return ERROR_INSTALL_FAILURE;
}

}  // namespace

bool USmartUpdateEx::CheckForExternalService() { return InstallerServiceAnswers(); }

std::int32_t USmartUpdateEx::RunObjectProc() {
  LogRecord(kLogTrace, kRunObjectProc, UString("enter"));
  int result = 0;
  m_cState.SetInstalledRoute(0);
  CatchAndLog(KL_CATCH_SITE(kRunObjectProc, kRunObjectProc), result, [&] { result = RunRouteSteps(); });
  LogRecord(kLogTrace, kRunObjectProc, UMessage::Format("exit, %1", result));
  m_cState.RecordResult(result);
  return result;
}

// The steps of a request; raises what ends it early.
int USmartUpdateEx::RunRouteSteps() {
  const UString classId = m_cState.Request().classId;
  const bool serviceUpdate = IsServiceUpdateClass(classId.c_str());
  if (serviceUpdate)
    LogRecord(kLogTrace, kRunObjectProc, UMessage::Format("%1, %2", "update Service itself", classId));
  const bool perUserAllowed = m_cKitLoader.PerUserAllowed() && !IsServiceClass(classId.c_str());

  // A run killed in the middle of an installation leaves the files it
  // moved aside; the next run removes them, also when nothing is installed.
  // An elevated run leaves the user's folder to the user's own runs: what
  // lies there is the user's programs' to plant.
  RemoveFilesMovedAsideByEndedRuns(SGetDownloadedProgramFilesFolder());
  if (uGetProcessIntegrityLevel(GetCurrentProcess()) < kIntegrityHigh)
    RemoveFilesMovedAsideByEndedRuns(SGetUserDownloadedProgramFilesFolder(false));

  if (!isProceedWithUpdate()) {
    LogRecord(kLogTrace, kRunObjectProc,
              UMessage::Format("%1, %2, %3", "needn't install/update control", classId, m_cState.Request().codebase));
    return 0;
  }

  const RouteConditions conditions =
      GatherRouteConditions(classId.c_str(), m_cState.Decision(), serviceUpdate, perUserAllowed);
  const RouteSet routes = DecideInstallRoute(conditions);
  LogRouteDecision("", conditions, routes);
  if (routes == 0)
    KL_THROW(ERROR_ACCESS_DENIED, kRunObjectProc, "EXCEPTION - %s, %s",
             "do not have enough rights to install this package", classId.c_str());
  ThrowIfStopRequested();

  const UString package = AcquirePackage();
  if (UGetFileSize(package.c_str()) == 0)
    KL_THROW(-1, kRunObjectProc, "EXCEPTION - %s", "package iz zero bytes length");
  ThrowIfStopRequested();

  const RouteInstallers installers = MakeRouteInstallers(serviceUpdate);
  const RouteOutcome outcome = RouteAttempts(installers, package, conditions).Run(routes);
  m_cState.SetInstalledRoute(outcome.installedRoute);
  return outcome.result;
}

void USmartUpdateEx::ThrowIfStopRequested() const {
  if (m_bRequestToStop.load())
    KL_THROW(ERROR_CANCELLED, kRunObjectProc, "EXCEPTION - %s", "install aborted by RequestToStop");
}

RouteInstallers USmartUpdateEx::MakeRouteInstallers(bool serviceUpdate) {
  RouteInstallers installers;
  installers.throughPipe = [this, serviceUpdate](PipeKind pipe, const UString& package) {
    return InstallUsingService(ToNumber(pipe), package.c_str(), serviceUpdate);
  };
  installers.verify = [this] { VerifyCAB(m_cState.PackageRecord()); };
  installers.directly = [this](const UString& package, InstallScope scope) {
    return InstallControl(package.c_str(), ToNumber(scope));
  };
  installers.startUserMode = [this](PipeKind pipe) { return StartUserModeService(ToNumber(pipe)); };
  return installers;
}

int USmartUpdateEx::InstallUsingService(int serviceType, const char* packagePath, bool serviceUpdate) {
  if (serviceUpdate && serviceType != ToNumber(PipeKind::kInstallerService)) {
    LogRecord(kLogTrace, kInstallUsingService, UString("service can be updated through InstallerService only"));
    return 0;
  }
  const std::uint64_t oldVersion = srvGetServiceVersion(kServerVersionWaitMs, serviceType);
  const UString package = serviceUpdate ? PackageForServiceUpdate(packagePath, oldVersion) : UString(packagePath);
  if (serviceType != ToNumber(PipeKind::kInstallerService)) SendWindow(m_hWnd, serviceType);
  LogRecord(kLogTrace, kInstallUsingService, UString("sending request to the service to install the control"));
  const int answer = srvInstallControl(package.c_str(), static_cast<DWORD>(-1), serviceType);
  LogRecord(kLogTrace, kInstallUsingService, UMessage::Format("%1, %2", "srvInstallControl() return code", answer));
  if (serviceUpdate) DeleteFileA(package.c_str());
  return ServerAnswerResult(answer, oldVersion, serviceUpdate);
}

// What the pipe server's answer means for the installation: 0 or a failure code.
int USmartUpdateEx::ServerAnswerResult(int answer, std::uint64_t oldVersion, bool serviceUpdate) {
  if (answer == 0) {
    LogRecord(kLogTrace, kInstallUsingService, UString("Installation through service succeeded"));
    return 0;
  }
  if (answer == kServerRebootNeeded) {
    LogRecord(kLogWarnings, kInstallUsingService,
              UString("The computer need be rebooted to complete the installation"));
    m_cState.SetRebootRequired(true);
    return 0;
  }
  if (answer == kServerUpdatesItself || serviceUpdate) return WaitForSelfUpdate(oldVersion);
  LogRecord(kLogErrors, kInstallUsingService,
            UString("failed to install through service") + (answer == kServerDependency ? " because of dependency" : ""));
  return answer;
}
