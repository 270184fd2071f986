// The rules of the update decision that need nothing from the system:
// version comparison, the registry switch, whether a decision installs, and
// how a server command line from the registry becomes a file path.
// Win32-free.
#pragma once

#include <cstdint>
#include <functional>

#include "foundation/m_strings.h"

// Decision values.
enum : int {
  kDecisionCurrent = 0,  // installed, same or newer version: nothing to do
  kDecisionUpdate = 1,   // installed but older, or its file or version can't be read
  kDecisionInstall = 2,  // missing, broken registration or failed signature
};

// The policy number that installs missing or broken components but never
// updates installed ones.
enum : int { kPolicyNoUpdates = 2 };

// A version as one number: high word (major << 16 | minor) first.
std::uint64_t VersionNumber(std::uint32_t high, std::uint32_t low);

// True when the requested version is above the installed one; equal
// versions need nothing.
bool IsRequestedVersionNewer(std::uint32_t installedHigh, std::uint32_t installedLow, std::uint32_t requestedHigh,
                             std::uint32_t requestedLow);

// The trace line comparing an installed file's version with the requested one.
UString FormatVersionComparison(const char* path, std::uint32_t installedHigh, std::uint32_t installedLow,
                                std::uint32_t requestedHigh, std::uint32_t requestedLow);

// Whether a request with this decision is carried out under the policy.
bool ProceedWithDecision(int decision, int policy);

// The decision once the switch "EnableWebComponentsUpdate" is applied
// (`switchValue` as read, 1 when it could not be read): only an update of a
// switch-governed component is stopped, and only by the value 0.
// `skippedName` receives the name to log when the update is skipped.
int DecisionAfterUpdateSwitch(int decision, std::uint32_t switchValue, const char* classId, UString* skippedName);

// The message of the line that reports a skipped update.
UString FormatUpdateSkipped(const UString& displayName);

// Whether a component name is a service ("service:" in any letter case).
bool HasServicePrefix(const char* name);

// Whether a path lies in a folder or below it (letters of either case, the
// folder with or without its trailing backslash; the folder itself is not in it).
bool IsInFolder(const UString& path, const UString& folder);

// Whether a file name holds a wildcard, so that no file can carry it.
bool HasWildcard(const char* name);

// The file of a server command line as registered under LocalServer32: the
// command itself when that file exists; otherwise the quoted part of a
// command that begins with a quote, or the command cut at its last blank
// until an existing file remains (or no blank is left).
UString ResolveServerCommand(const UString& command, const std::function<bool(const UString&)>& fileExists);
