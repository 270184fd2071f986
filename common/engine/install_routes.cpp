// The body of one install request: whether anything needs doing, which
// installers may install the package, and trying them in a fixed order
// (Installer Service, this process, the medium- and the high-integrity
// user-mode installer) until one succeeds.
#include <cstdio>

#include "cabinstaller/install_rollback.h"
#include "engine/USmartUpdateEx.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "foundation/m_io.h"
#include "foundation/m_sys.h"
#include "foundation/m_textconv.h"
#include "foundation/m_uac_helpers.h"
#include "installer_service/installer_service.h"
#include "platform/platform_facts.h"

namespace {

const char kRunObjectProc[] = "USmartUpdateEx::RunObjectProc()";
const char kInstallUsingService[] = "USmartUpdateEx::InstallUsingService()";
const char kRebootSuffix[] = ", reboot required to complete installation";

// The VPN client leaves its tunnel package here for the engine to pick up.
const char kTunnelPackage[] = "tunnelpkg.cab";
const char kTunnelFolder[] = "C:\\Program Files (x86)\\Norvane VPN\\Norvane_TMP\\";

// The service versions that only take their own update under a fixed name.
const char kFixedUpdateName[] = "NorvaneISUpdate.cab";

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

// A route succeeded: log its text and leave the route steps with its result.
[[noreturn]] void Succeed(int& result, int code, const UString& text) {
  LogRecord(kLogTrace, kRunObjectProc, text);
  result = code;
  throw UBreakException();
}

bool IsFile(const UString& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The package file open for reading with read sharing only, and its folder
// open without delete sharing, for as long as this object lives.
struct HeldPackage {
  explicit HeldPackage(const UString& path) {
    UString folderPath, name;
    SSplitPath(path, &folderPath, &name);
    folder.reset(CreateFileA(SRemoveTrailingSeparator(folderPath).c_str(), FILE_LIST_DIRECTORY,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                             nullptr));
    if (folder) file.reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!folder || !file) error = GetLastError();
  }
  kit::UniqueFile folder, file;
  DWORD error = 0;
};

}  // namespace

bool USmartUpdateEx::CheckForExternalService() {
  // Bounded: a service that stays busy counts as absent.
  const std::uint64_t version = srvGetServiceVersion(kServicePresenceWaitMs, kPipeInstallerService);
  LogRecord(kLogTrace, "USmartUpdateEx::CheckForExternalService()",
            UMessage::Format("%1, %2, %3", "service version", static_cast<unsigned>(version >> 32),
                             static_cast<unsigned>(version & 0xFFFFFFFFu)));
  return version != 0;
}

RouteConditions USmartUpdateEx::GatherRouteConditions(bool serviceUpdate, bool perUserAllowed) {
  RouteConditions c;
  c.serviceUpdate = serviceUpdate;
  c.perUserAllowed = perUserAllowed;
  const DWORD scope = ReadInstalledScopeMask(m_strClassId.c_str(), HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER);
  c.registeredPerUser = (scope & 2) != 0;
  // An installed component found nowhere in the registry counts as a
  // machine-wide one.
  c.registeredPerMachine = (scope & 1) != 0 || (scope == 0 && m_iDecision.load() == 1);
  if (!c.registeredPerUser) {
    c.service = CheckForExternalService();
    if (c.service) LogRecord(kLogTrace, kRunObjectProc, UString("Installer Service is running"));
  }
  c.vista = IsWindowsVersionAtLeast(6, 0, 0);
  if (c.vista) {
    const DWORD level = uGetProcessIntegrityLevel(GetCurrentProcess());
    c.highIntegrity = level == kIntegrityHigh || level == kIntegritySystem;
    c.mediumIntegrity = level == kIntegrityMedium;
    c.lowIntegrity = level == kIntegrityLow;
    c.adminVista = !IsNonAdminUser();
  } else {
    c.adminXp = CheckInstallActiveXRigths();
  }
  return c;
}

void USmartUpdateEx::LogRoute(const char* prefix, const RouteConditions& conditions, RouteSet routes) {
  LogRecord(kLogTrace, kRunObjectProc,
            UString(prefix) + RouteConditionText(conditions).c_str() + "| " + RouteText(routes).c_str());
}

UString USmartUpdateEx::AcquirePackage() {
  UpdateInfo info;
  ParseUpdateInfo(m_strCodebase.c_str(), &info);
  if (info.fileName == kTunnelPackage && info.versionHigh == 0xFFFFFFFFu && info.versionLow == 0xFFFFFFFFu) {
    const UString local = UString(kTunnelFolder) + info.fileName;
    // Copied into the private temporary folder like any other package: the
    // VPN client's folder is not ours to verify in, nor to unpack in.
    if (IsFile(local)) return DownloadPackage(info.fileName.c_str(), local.c_str(), &m_cCabInfo);
    LogRecord(kLogErrors, kRunObjectProc, UMessage::Format("file not found in path (: %1)", local));
  }
  return DownloadPackage(info.fileName.c_str(), m_strCodebase.c_str(), &m_cCabInfo);
}

std::int32_t USmartUpdateEx::RunObjectProc() {
  LogRecord(kLogTrace, kRunObjectProc, UString("enter"));
  int result = 0;
  m_uInstalledRoute = 0;
  CatchAndLog(KL_CATCH_SITE(kRunObjectProc, kRunObjectProc), result, [&] {
    const char* classId = m_strClassId.c_str();
    const bool serviceUpdate = IsServiceUpdateClass(classId);
    if (serviceUpdate)
      LogRecord(kLogTrace, kRunObjectProc, UMessage::Format("%1, %2", "update Service itself", m_strClassId));
    const bool perUserAllowed = m_cKitLoader.PerUserAllowed() && !IsServiceClass(classId);

    // A run killed in the middle of an installation leaves the files it
    // moved aside; the next run removes them, also when nothing is installed.
    // An elevated run leaves the user's folder to the user's own runs: what
    // lies there is the user's programs' to plant.
    RemoveFilesMovedAsideByEndedRuns(SGetDownloadedProgramFilesFolder());
    if (uGetProcessIntegrityLevel(GetCurrentProcess()) < kIntegrityHigh)
      RemoveFilesMovedAsideByEndedRuns(SGetUserDownloadedProgramFilesFolder(false));

    if (!isProceedWithUpdate()) {
      LogRecord(kLogTrace, kRunObjectProc,
                UMessage::Format("%1, %2, %3", "needn't install/update control", m_strClassId, m_strCodebase));
      result = 0;
      return;
    }

    RouteConditions conditions = GatherRouteConditions(serviceUpdate, perUserAllowed);
    RouteSet routes = DecideInstallRoute(conditions);
    LogRoute("", conditions, routes);
    if (routes == 0)
      KL_THROW(ERROR_ACCESS_DENIED, kRunObjectProc, "EXCEPTION - %s, %s",
               "do not have enough rights to install this package", classId);
    if (m_bRequestToStop.load())
      KL_THROW(ERROR_CANCELLED, kRunObjectProc, "EXCEPTION - %s", "install aborted by RequestToStop");

    const UString package = AcquirePackage();
    if (UGetFileSize(package.c_str()) == 0)
      KL_THROW(-1, kRunObjectProc, "EXCEPTION - %s", "package iz zero bytes length");
    if (m_bRequestToStop.load())
      KL_THROW(ERROR_CANCELLED, kRunObjectProc, "EXCEPTION - %s", "install aborted by RequestToStop");

    bool attempted = false;
    int last = 0;
    auto attempt = [&](RouteSet route, int code) {
      attempted = true;
      last = code;
      if (code == 0 || code == ERROR_SUCCESS_REBOOT_REQUIRED) m_uInstalledRoute = route;
      return code;
    };

    if (routes & kRouteService) {
      const int r = attempt(kRouteService, InstallUsingService(kPipeInstallerService, package.c_str(), serviceUpdate));
      if (r == 0) Succeed(result, 0, "control installed successfully using installer service");
      if (r == ERROR_SUCCESS_REBOOT_REQUIRED)
        Succeed(result, r, UString("control installed successfully using installer service") + kRebootSuffix);
      LogRecord(kLogWarnings, kRunObjectProc, UString("failed to install through installer service"));
      conditions.service = false;
      routes = DecideInstallRoute(conditions);
      LogRoute("Re-avaluate conditions:", conditions, routes);
    }

    if (routes & (kRouteLocalUser | kRouteLocalMachine)) {
      // The package that is verified is the package that is unpacked: from
      // here to the end of the installation nobody may write, replace or
      // delete it, nor rename the folder that holds it.
      const HeldPackage held(package);
      if (held.error != 0) {
        LogRecord(kLogErrors, kRunObjectProc, UMessage::Format("%1, %2, %3", "cannot hold the package", package,
                                                               static_cast<unsigned>(held.error)));
        KL_THROW(static_cast<int>(held.error), kRunObjectProc, "EXCEPTION - %s", "cannot hold the package");
      }
      LogRecord(kLogTrace, kRunObjectProc, UString("verify the package"));
      VerifyCAB(m_cCabInfo);
      LogRecord(kLogTrace, kRunObjectProc, UString("install the package directly"));
      const int scope = (routes & kRouteLocalMachine) ? 1 : 2;
      const RouteSet route = scope == 1 ? kRouteLocalMachine : kRouteLocalUser;
      const int r = attempt(route, InstallControl(package.c_str(), scope));
      if (r == 0) Succeed(result, 0, "control installed successfully");
      if (r == ERROR_SUCCESS_REBOOT_REQUIRED)
        Succeed(result, r, UString("control installed successfully") + kRebootSuffix);
      LogRecord(kLogErrors, kRunObjectProc, UString("control installation failed"));
    }

    static const struct {
      RouteSet route;
      int pipe;
      const char* level;  // "medium" or "high"
      const char* tag;    // "MI" or "HI"
    } kUserModeRoutes[] = {{kRouteExternalProcessMi, kPipeMediumIntegrityInstaller, "medium", "MI"},
                           {kRouteExternalProcessHi, kPipeHighIntegrityInstaller, "high", "HI"}};
    for (const auto& userMode : kUserModeRoutes) {
      if (!(routes & userMode.route)) continue;
      if (!StartUserModeService(userMode.pipe)) {
        LogRecord(kLogTrace, kRunObjectProc,
                  UMessage::Format("failed to start %1 integrity user-mode installer process", userMode.level));
        continue;
      }
      LogRecord(kLogTrace, kRunObjectProc, UMessage::Format("%1 UserMode service is available", userMode.tag));
      const UString installed = UMessage::Format(
          "control installed successfully using %1 integrity user mode installer process", userMode.level);
      const int r = attempt(userMode.route, InstallUsingService(userMode.pipe, package.c_str(), serviceUpdate));
      if (r == 0) Succeed(result, 0, installed);
      if (r == ERROR_SUCCESS_REBOOT_REQUIRED) Succeed(result, r, installed + kRebootSuffix);
      LogRecord(kLogTrace, kRunObjectProc,
                UMessage::Format("failed to install through %1 integrity user mode installer process", userMode.level));
    }

    result = attempted ? last : ERROR_INSTALL_FAILURE;
    LogRecord(kLogErrors, kRunObjectProc, UString("failed to install"));
  });
  LogRecord(kLogTrace, kRunObjectProc, UMessage::Format("exit, %1", result));
  m_iRecordedResult = result;
  return result;
}

int USmartUpdateEx::InstallUsingService(int serviceType, const char* packagePath, bool serviceUpdate) {
  int result = ERROR_INSTALL_FAILURE;
  if (serviceUpdate && serviceType != kPipeInstallerService) {
    LogRecord(kLogTrace, kInstallUsingService, UString("service can be updated through InstallerService only"));
    return 0;
  }
  UString package = packagePath;
  const std::uint64_t oldVersion = srvGetServiceVersion(20000, serviceType);
  if (serviceUpdate) {
    ERRORLOGLEVELx(
        "USmartUpdateEx::InstallUsingService() - Update Service(), check version for (%d.%d.%d.%d, %d.%d.%d.%d) "
        "and (%d.%d.%d.%d, %d.%d.%d.%d)\n",
        6010, 0, 0, 0, 6010, 2007, 1001, 0, 6020, 0, 0, 0, 6020, 2007, 727, 0);
    UString folder, name;
    SSplitPath(package, &folder, &name);
    // A package that already has the fixed name would be copied onto itself.
    if (NeedsFixedUpdateName(oldVersion) && !name.EqualsNoCase(kFixedUpdateName)) {
      LogRecord(kLogTrace, kInstallUsingService, UString("need rename cab file"));
      const UString copy = folder + kFixedUpdateName;
      if (!CopyFileA(package.c_str(), copy.c_str(), FALSE)) {
        const UString error = SGetErrorText(GetLastError());
        KL_THROW(-1, kInstallUsingService, "EXCEPTION - %s, %s, %s, %s", "CopyFile() failed", package.c_str(),
                 copy.c_str(), error.c_str());
      }
      LogRecord(kLogTrace, kInstallUsingService, UMessage::Format("%1, %2, %3", "CopyFile() succeed", package, copy));
      package = copy;
    }
  }
  if (serviceType != kPipeInstallerService) {
    char window[32];
    std::snprintf(window, sizeof window, "%p", static_cast<void*>(m_hWnd));
    LogRecord(kLogTrace, kInstallUsingService, UMessage::Format("%1, %2", "sending UI window", window));
    srvSetUIWindow(m_hWnd, 5000, serviceType);
  }
  LogRecord(kLogTrace, kInstallUsingService, UString("sending request to the service to install the control"));
  const int r = srvInstallControl(package.c_str(), static_cast<DWORD>(-1), serviceType);
  LogRecord(kLogTrace, kInstallUsingService, UMessage::Format("%1, %2", "srvInstallControl() return code", r));
  if (serviceUpdate) DeleteFileA(package.c_str());

  if (r == 0) {
    result = 0;
    LogRecord(kLogTrace, kInstallUsingService, UString("Installation through service succeeded"));
  } else if (r == kServerRebootNeeded) {
    result = 0;
    LogRecord(kLogWarnings, kInstallUsingService,
              UString("The computer need be rebooted to complete the installation"));
    m_bRebootRequired = true;
  } else if (r == kServerUpdatesItself || serviceUpdate) {
    LogRecord(kLogWarnings, kInstallUsingService, UString("Service need update itself, waiting..."));
    Sleep(100);
    std::uint64_t version = 0;
    for (int i = 0; i < 24; ++i) {
      version = srvGetServiceVersion(20000, kPipeInstallerService);
      if (version) break;
      Sleep(5000);
    }
    if (version > oldVersion) {
      result = 0;
      LogRecord(kLogTrace, kInstallUsingService, UString("Service updated itself successfully"));
    } else if (version) {
      LogRecord(kLogErrors, kInstallUsingService, UString("Service failed to update itself"));
    } else {
      LogRecord(kLogErrors, kInstallUsingService, UString("Service failed to start"));
    }
  } else {
    result = r;
    LogRecord(kLogErrors, kInstallUsingService,
              UString("failed to install through service") + (r == kServerDependency ? " because of dependency" : ""));
  }
  return result;
}
