// The scope of an installation: the machine's or the current user's
// Downloaded Program Files folder and registry hive. The numbers are those
// of the installer's interfaces (the INF's scope, the record's hive, the
// install flags). Win32-free.
#pragma once

enum class InstallScope : int { kMachine = 1, kUser = 2 };

// The number a scope has at the interfaces: 1 per machine, 2 per user.
constexpr int ScopeNumber(InstallScope scope) { return static_cast<int>(scope); }

// A scope number as a scope: 2 is the user, every other number the machine.
constexpr InstallScope ScopeOfNumber(int number) { return number == 2 ? InstallScope::kUser : InstallScope::kMachine; }

// "USER" or "MACHINE", as the log names a scope.
constexpr const char* ScopeName(InstallScope scope) { return scope == InstallScope::kUser ? "USER" : "MACHINE"; }

// The install flags Install takes: which scopes the caller allows.
enum InstallFlag : int { kMachineInstallAllowed = 1, kUserInstallAllowed = 2 };
