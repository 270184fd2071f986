// The install routes of one request: the conditions their decision rests
// on, and trying the decided routes in their fixed order (Installer Service,
// this process, the medium- and the high-integrity user-mode installer)
// until one installs the package.
#pragma once

#include <windows.h>

#include <functional>

#include "engine/engine_enums.h"
#include "engine/route_decision.h"
#include "foundation/m_strings.h"

// Whether the Installer Service answers on its pipe.
bool InstallerServiceAnswers();

// The facts of this process and of the installed component that decide the
// routes.
RouteConditions GatherRouteConditions(const char* classId, UpdateDecision decision, bool serviceUpdate,
                                      bool perUserAllowed);

// Logs the conditions and the routes decided from them, after `prefix`.
void LogRouteDecision(const char* prefix, const RouteConditions& conditions, RouteSet routes);

// The installers the routes hand the package to.
struct RouteInstallers {
  // Hands the package to a pipe server: 0, 3010 or a failure code.
  std::function<int(PipeKind pipe, const UString& package)> throughPipe;
  // Verifies the package before this process installs it; raises when it
  // is refused.
  std::function<void()> verify;
  // Installs the package in this process: 0, 3010 or an error code.
  std::function<int(const UString& package, InstallScope scope)> directly;
  // Whether the user-mode installer of the pipe answers, started if need be.
  std::function<bool(PipeKind pipe)> startUserMode;
};

// What the attempts came to: the last attempt's result (1603 when none was
// made) and the route that installed the package (0 when none did).
struct RouteOutcome {
  int result = 0;
  RouteSet installedRoute = 0;
};

struct RouteEntry;

class RouteAttempts {
 public:
  RouteAttempts(const RouteInstallers& installers, const UString& package, const RouteConditions& conditions);

  // Tries the routes of the set in the fixed order until one installs the
  // package. A failed Installer Service leads to the routes decided again
  // without it. Raises when the package cannot be held or is refused by
  // the verification.
  RouteOutcome Run(RouteSet routes);

 private:
  struct Attempt {
    bool made = false;
    int code = 0;
    RouteSet route = 0;
  };

  Attempt Try(const RouteEntry& entry, RouteSet routes);
  Attempt TryDirect(RouteSet routes);
  Attempt TryUserMode(const RouteEntry& entry);
  RouteSet DecideWithoutService();

  const RouteInstallers& m_installers;
  UString m_strPackage;
  RouteConditions m_conditions;
};
