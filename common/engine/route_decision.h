// Which installers may install a package: the route set decided from the
// Windows version, the process's integrity level and the user's rights, and
// its texts for the log. Win32-free.
#pragma once

#include <cstdint>
#include <string>

typedef std::uint8_t RouteSet;

enum : RouteSet {
  kRouteLocalUser = 0x01,          // in this process, per user
  kRouteLocalMachine = 0x02,       // in this process, per machine
  kRouteService = 0x04,            // the Installer Service (pipe 0)
  kRouteExternalProcessHi = 0x08,  // the high-integrity user-mode installer (pipe 1)
  kRouteExternalProcessMi = 0x10,  // the medium-integrity user-mode installer (pipe 2)
  kRouteInvalid = 0x20,            // the conditions contradict each other
};

// The eleven facts the decision rests on.
struct RouteConditions {
  bool vista = false;                 // V: Windows 6.0 or later
  bool highIntegrity = false;         // HI (on V)
  bool mediumIntegrity = false;       // MI (on V)
  bool lowIntegrity = false;          // LI (on V)
  bool adminVista = false;            // AV: an administrator, elevated or not (on V)
  bool adminXp = false;               // AX: may install for the machine (before V)
  bool service = false;               // S: the Installer Service answers
  bool perUserAllowed = false;        // P
  bool serviceUpdate = false;         // U: the package updates the Installer Service
  bool registeredPerUser = false;     // RU
  bool registeredPerMachine = false;  // RM
};

RouteSet DecideInstallRoute(bool V, bool HI, bool MI, bool LI, bool AV, bool AX, bool S, bool P, bool U, bool RU,
                            bool RM);
RouteSet DecideInstallRoute(const RouteConditions& c);

// "Vista MI Admin/VI allow-per-user": the labels of the true conditions in
// the log's order (the version and per-user labels always present).
std::string RouteConditionText(const RouteConditions& c);

// "LOCAL_USER EXTERNAL_PROCESS_HI", or "NONE" for the empty set.
std::string RouteText(RouteSet routes);

// The class identifier of the package that updates the Installer Service
// itself (compared without regard to case).
bool IsServiceUpdateClass(const char* classId);

// Whether the class identifier names a service ("service:" in any case): such
// a component is never installed per user.
bool IsServiceClass(const char* classId);
