// The engine's kinds of values. Inside the engine they are enum classes; at
// its interfaces (the numbers the engine's operations store and return, the
// pipe protocol, the log lines) they keep their numbers. Win32-free.
#pragma once

// Where a package is installed: the cabinet installer's scope.
#include "cabinstaller/install_scope.h"

// Whether a requested component needs anything: the decision value.
enum class UpdateDecision : int { kNothing = 0, kUpdate = 1, kInstall = 2 };

// The state of a registration under one hive.
enum class RegistrationState : int { kNotRegistered = 0, kIntact = 1, kBroken = 2 };

// The pipe servers that install packages: the pipe index of the protocol.
enum class PipeKind : int { kInstallerService = 0, kHighIntegrity = 1, kMediumIntegrity = 2 };

// The number a value carries at the engine's interfaces.
template <class Kind>
constexpr int ToNumber(Kind value) {
  return static_cast<int>(value);
}
