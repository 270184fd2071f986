// The pipe servers' command line, answers and update recognition.
#include "installer_server/server_rules.h"

#include <cstdlib>
#include <cstring>

namespace ombrix {

const char kServiceUpdateName[] = "NorvaneISUpdate.cab";
const char kServiceProgramName[] = "ombrixsvc.exe";

namespace {

bool EqualsNoCase(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool ParseNumber(const char* text, std::uint32_t* value) {
  if (!text || !*text) return false;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text, &end, 0);
  if (*end != '\0' || v > 0xFFFFFFFFull) return false;
  *value = static_cast<std::uint32_t>(v);
  return true;
}

}  // namespace

bool ParseVersion(const char* text, std::uint64_t* version) {
  std::uint64_t v = 0;
  int parts = 0;
  for (const char* p = text; parts < 4; ++parts) {
    char* end = nullptr;
    if (*p < '0' || *p > '9') return false;
    const unsigned long part = std::strtoul(p, &end, 10);
    if (part > 0xFFFF) return false;
    v = (v << 16) | part;
    if (*end == '\0') {
      ++parts;
      break;
    }
    if (*end != '.') return false;
    p = end + 1;
  }
  if (parts != 4) return false;
  *version = v;
  return true;
}

bool ParseServerOptions(int argc, const char* const* argv, ServerOptions* o, const std::vector<std::string>& extra) {
  o->extraValues.assign(extra.size(), std::string());
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    std::uint32_t number = 0;
    bool ok = true;
    if (a == "/keep") {
      o->keep = true;
      continue;
    }
    if (a == "/discard") {
      o->discard = true;
      continue;
    }
    ++i;  // every other option takes a value
    if (a == "/version") {
      ok = value && ParseVersion(value, &o->version);
    } else if (a == "/stop") {
      ok = value && *value;
      if (ok) o->stopEvent = value;
    } else if (a == "/pipe" || a == "/result" || a == "/answersize" || a == "/hold" || a == "/idle" ||
               a == "/iotimeout" || a == "/deadline") {
      ok = ParseNumber(value, &number);
      if (a == "/pipe") o->pipe = static_cast<int>(number);
      if (a == "/result") o->result = number, o->forceResult = true;
      if (a == "/answersize") o->answerSize = number;
      if (a == "/hold") o->holdMs = number;
      if (a == "/idle") o->idleMs = number;
      if (a == "/iotimeout") o->ioTimeoutMs = number;
      if (a == "/deadline") o->deadlineMs = number;
    } else {
      ok = false;
      for (std::size_t k = 0; k < extra.size(); ++k)
        if (a == extra[k] && value) o->extraValues[k] = value, ok = true;
    }
    if (!ok) return false;
  }
  return true;
}

std::uint32_t AnswerFor(ResultOf from, std::int32_t result) {
  switch (static_cast<std::uint32_t>(result)) {
    case 0:
      return from == ResultOf::kInstall ? kAnswerInstalled : kAnswerInstallFailed;
    case 3010:  // ERROR_SUCCESS_REBOOT_REQUIRED
      return from == ResultOf::kInstall ? kAnswerRestartNeeded : kAnswerInstallFailed;
    case kAnswerUpdatesItself:
    case kAnswerRestartNeeded:
    case kAnswerDependency:
      return kAnswerInstallFailed;
    default:
      return static_cast<std::uint32_t>(result);
  }
}

bool IsDirectlyInside(const std::string& folder, const std::string& name, const std::string& path) {
  if (folder.empty() || name.empty() || path != folder + "\\" + name) return false;
  if (folder.back() == '\\' || folder.back() == '/') return false;
  // Any separator, a stream colon, or a name that the system trims to
  // nothing or to a parent ("..", ". ") leaves the folder.
  if (name.find_first_of("\\/:") != std::string::npos) return false;
  if (name.find_first_not_of(". ") == std::string::npos) return false;
  return name.back() != '.' && name.back() != ' ';
}

bool IsServiceUpdate(const std::string& packageName, const std::vector<std::string>& storedNames) {
  if (EqualsNoCase(packageName, kServiceUpdateName)) return true;
  for (const std::string& stored : storedNames) {
    const std::size_t slash = stored.find_last_of("\\/");
    if (EqualsNoCase(slash == std::string::npos ? stored : stored.substr(slash + 1), kServiceProgramName)) return true;
  }
  return false;
}

}  // namespace ombrix
