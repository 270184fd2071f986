#include "engine/route_attempts.h"

#include "components/installed_components.h"
#include "engine/update_decision.h"
#include "foundation/UClasses.h"
#include "foundation/errorlog.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "foundation/m_sys.h"
#include "foundation/m_uac_helpers.h"
#include "installer_service/installer_service.h"

namespace {

const char kRunObjectProc[] = "USmartUpdateEx::RunObjectProc()";
const char kRebootSuffix[] = ", reboot required to complete installation";

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

bool Installed(int code) { return code == 0 || code == ERROR_SUCCESS_REBOOT_REQUIRED; }

}  // namespace

enum class RouteKind { kService, kDirect, kUserMode };

// One route of the fixed order and the texts of its outcomes.
struct RouteEntry {
  RouteKind kind;
  RouteSet selects;        // the route bits that call for it
  PipeKind pipe;           // the pipe server it hands the package to
  const char* installed;   // logged when it installed the package
  int failedLevel;
  const char* failed;      // logged when its installation failed
  const char* notStarted;  // a user-mode installer that did not start
  const char* available;   // a user-mode installer that answers
};

namespace {

const RouteEntry kRouteOrder[] = {
    {RouteKind::kService, kRouteService, PipeKind::kInstallerService,
     "control installed successfully using installer service", kLogWarnings,
     "failed to install through installer service", nullptr, nullptr},
    {RouteKind::kDirect, kRouteLocalUser | kRouteLocalMachine, PipeKind::kInstallerService,
     "control installed successfully", kLogErrors, "control installation failed", nullptr, nullptr},
    {RouteKind::kUserMode, kRouteExternalProcessMi, PipeKind::kMediumIntegrity,
     "control installed successfully using medium integrity user mode installer process", kLogTrace,
     "failed to install through medium integrity user mode installer process",
     "failed to start medium integrity user-mode installer process", "MI UserMode service is available"},
    {RouteKind::kUserMode, kRouteExternalProcessHi, PipeKind::kHighIntegrity,
     "control installed successfully using high integrity user mode installer process", kLogTrace,
     "failed to install through high integrity user mode installer process",
     "failed to start high integrity user-mode installer process", "HI UserMode service is available"},
};

}  // namespace

bool InstallerServiceAnswers() {
  // Bounded: a service that stays busy counts as absent.
  const std::uint64_t version = srvGetServiceVersion(kServicePresenceWaitMs, ToNumber(PipeKind::kInstallerService));
  LogRecord(kLogTrace, "USmartUpdateEx::CheckForExternalService()",
            UMessage::Format("%1, %2, %3", "service version", static_cast<unsigned>(version >> 32),
                             static_cast<unsigned>(version & 0xFFFFFFFFu)));
  return version != 0;
}

RouteConditions GatherRouteConditions(const char* classId, UpdateDecision decision, bool serviceUpdate,
                                      bool perUserAllowed) {
  RouteConditions c;
  c.serviceUpdate = serviceUpdate;
  c.perUserAllowed = perUserAllowed;
  const DWORD scope = InstalledScopeMask(classId, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER);
  c.registeredPerUser = (scope & kRegisteredPerUser) != 0;
  // An installed component found nowhere in the registry counts as a
  // machine-wide one.
  c.registeredPerMachine = (scope & kRegisteredPerMachine) != 0 || (scope == 0 && decision == UpdateDecision::kUpdate);
  if (!c.registeredPerUser) {
    c.service = InstallerServiceAnswers();
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

void LogRouteDecision(const char* prefix, const RouteConditions& conditions, RouteSet routes) {
  LogRecord(kLogTrace, kRunObjectProc,
            UString(prefix) + RouteConditionText(conditions).c_str() + "| " + RouteText(routes).c_str());
}

RouteAttempts::RouteAttempts(const RouteInstallers& installers, const UString& package,
                             const RouteConditions& conditions)
    : m_installers(installers), m_strPackage(package), m_conditions(conditions) {}

RouteOutcome RouteAttempts::Run(RouteSet routes) {
  RouteOutcome outcome;
  bool attempted = false;
  for (const RouteEntry& entry : kRouteOrder) {
    if (!(routes & entry.selects)) continue;
    const Attempt attempt = Try(entry, routes);
    if (!attempt.made) continue;
    attempted = true;
    outcome.result = attempt.code;
    if (Installed(attempt.code)) {
      outcome.installedRoute = attempt.route;
      LogRecord(kLogTrace, kRunObjectProc,
                UString(entry.installed) + (attempt.code == ERROR_SUCCESS_REBOOT_REQUIRED ? kRebootSuffix : ""));
      return outcome;
    }
    LogRecord(entry.failedLevel, kRunObjectProc, UString(entry.failed));
    if (entry.kind == RouteKind::kService) routes = DecideWithoutService();
  }
  if (!attempted) outcome.result = ERROR_INSTALL_FAILURE;
  LogRecord(kLogErrors, kRunObjectProc, UString("failed to install"));
  return outcome;
}

RouteAttempts::Attempt RouteAttempts::Try(const RouteEntry& entry, RouteSet routes) {
  switch (entry.kind) {
    case RouteKind::kService:
      return {true, m_installers.throughPipe(entry.pipe, m_strPackage), kRouteService};
    case RouteKind::kDirect:
      return TryDirect(routes);
    case RouteKind::kUserMode:
      return TryUserMode(entry);
  }
  return {};
}

RouteAttempts::Attempt RouteAttempts::TryDirect(RouteSet routes) {
  // The package that is verified is the package that is unpacked: from here
  // to the end of the installation nobody may write, replace or delete it,
  // nor rename the folder that holds it.
  const HeldPackage held(m_strPackage);
  if (held.error != 0) {
    LogRecord(kLogErrors, kRunObjectProc, UMessage::Format("%1, %2, %3", "cannot hold the package", m_strPackage,
                                                           static_cast<unsigned>(held.error)));
    KL_THROW(static_cast<int>(held.error), kRunObjectProc, "EXCEPTION - %s", "cannot hold the package");
  }
  LogRecord(kLogTrace, kRunObjectProc, UString("verify the package"));
  m_installers.verify();
  LogRecord(kLogTrace, kRunObjectProc, UString("install the package directly"));
  const bool perMachine = (routes & kRouteLocalMachine) != 0;
  const InstallScope scope = perMachine ? InstallScope::kMachine : InstallScope::kUser;
  return {true, m_installers.directly(m_strPackage, scope), perMachine ? kRouteLocalMachine : kRouteLocalUser};
}

RouteAttempts::Attempt RouteAttempts::TryUserMode(const RouteEntry& entry) {
  if (!m_installers.startUserMode(entry.pipe)) {
    LogRecord(kLogTrace, kRunObjectProc, UString(entry.notStarted));
    return {};
  }
  LogRecord(kLogTrace, kRunObjectProc, UString(entry.available));
  return {true, m_installers.throughPipe(entry.pipe, m_strPackage), entry.selects};
}

RouteSet RouteAttempts::DecideWithoutService() {
  m_conditions.service = false;
  const RouteSet routes = DecideInstallRoute(m_conditions);
  LogRouteDecision("Re-avaluate conditions:", m_conditions, routes);
  return routes;
}
