#include "components/update_rules.h"

#include <cctype>
#include <cstring>
#include <string>

#include "components/component_catalogue.h"

std::uint64_t VersionNumber(std::uint32_t high, std::uint32_t low) {
  return static_cast<std::uint64_t>(high) << 32 | low;
}

bool IsRequestedVersionNewer(std::uint32_t installedHigh, std::uint32_t installedLow, std::uint32_t requestedHigh,
                             std::uint32_t requestedLow) {
  return VersionNumber(requestedHigh, requestedLow) > VersionNumber(installedHigh, installedLow);
}

UString FormatVersionComparison(const char* path, std::uint32_t installedHigh, std::uint32_t installedLow,
                                std::uint32_t requestedHigh, std::uint32_t requestedLow) {
  // The words go out as the signed numbers the line has always shown.
  return UString::Format("current version %s %d %d (%d.%d.%d.%d) reqested 0x%08x 0x%08x (%d.%d.%d.%d)",
                         path ? path : "", static_cast<int>(installedHigh), static_cast<int>(installedLow),
                         static_cast<int>(installedHigh >> 16), static_cast<int>(installedHigh & 0xFFFF),
                         static_cast<int>(installedLow >> 16), static_cast<int>(installedLow & 0xFFFF),
                         static_cast<unsigned>(requestedHigh), static_cast<unsigned>(requestedLow),
                         static_cast<int>(requestedHigh >> 16), static_cast<int>(requestedHigh & 0xFFFF),
                         static_cast<int>(requestedLow >> 16), static_cast<int>(requestedLow & 0xFFFF));
}

bool ProceedWithDecision(int decision, int policy) {
  return decision == kDecisionInstall || (decision == kDecisionUpdate && policy != kPolicyNoUpdates);
}

int DecisionAfterUpdateSwitch(int decision, std::uint32_t switchValue, const char* classId, UString* skippedName) {
  if (decision != kDecisionUpdate || switchValue != 0 || !classId || !*classId) return decision;
  UString name;
  if (!IsSwitchGovernedComponent(classId, &name)) return decision;
  if (skippedName) *skippedName = name;
  return kDecisionCurrent;
}

UString FormatUpdateSkipped(const UString& displayName) {
  return UMessage::Format("Updates were disabled by registry settings. Skipping update of %1.", displayName);
}

bool HasServicePrefix(const char* name) {
  return name && std::strlen(name) >= 8 && UString(name, 8).EqualsNoCase("service:");
}

bool IsInFolder(const UString& path, const UString& folder) {
  std::string base = folder.str();
  if (base.empty()) return false;
  if (base.back() != '\\') base += '\\';
  const std::string& text = path.str();
  if (text.size() <= base.size()) return false;
  for (std::size_t i = 0; i < base.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(base[i])))
      return false;
  return true;
}

bool HasWildcard(const char* name) { return name && std::strpbrk(name, "*?") != nullptr; }

UString ResolveServerCommand(const UString& command, const std::function<bool(const UString&)>& fileExists) {
  if (fileExists(command)) return command;
  const std::string& text = command.str();
  if (!text.empty() && text[0] == '"') {
    const std::size_t end = text.find('"', 1);
    return UString(end == std::string::npos ? text.substr(1) : text.substr(1, end - 1));
  }
  UString path = command;
  while (!fileExists(path)) {
    const std::size_t blank = path.str().rfind(' ');
    if (blank == std::string::npos) break;
    path = UString(path.str().substr(0, blank));
  }
  return path;
}
