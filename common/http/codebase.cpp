#include "http/codebase.h"

#include <climits>
#include <cstddef>
#include <string>

#include "foundation/UClasses.h"

namespace {

struct SplitText {
  UString before;
  UString after;
  bool found = false;
};

// Splits at the last occurrence of any of `separators`; both parts trimmed.
// Without an occurrence the whole text is the part before.
SplitText SplitAtLast(const UString& text, const char* separators) {
  SplitText parts;
  std::size_t at = text.str().find_last_of(separators);
  if (at == std::string::npos) {
    parts.before = text.Trimmed();
    return parts;
  }
  parts.found = true;
  parts.before = UString(text.str().substr(0, at)).Trimmed();
  parts.after = UString(text.str().substr(at + 1)).Trimmed();
  return parts;
}

std::uint32_t VersionWord(const UString& high, const UString& low) {
  // Parts above 65535 spill into their neighbour, as they always have.
  return static_cast<std::uint32_t>(ReadLeadingInt(high)) * 65536u + static_cast<std::uint32_t>(ReadLeadingInt(low));
}

// Reads "<tag>=a,b,c,d" (or "a,b,c,d") into the two version words; leaves
// them alone unless all four numbers are there.
void ReadVersion(const UString& rest, UpdateInfo& info) {
  SplitText d = SplitAtLast(rest, ",");
  if (!d.found) return;
  SplitText c = SplitAtLast(d.before, ",");
  if (!c.found) return;
  SplitText b = SplitAtLast(c.before, ",");
  if (!b.found) return;
  SplitText a = SplitAtLast(b.before, "=");
  const UString major = a.found ? a.after : b.before;
  info.versionLow = VersionWord(c.after, d.after);
  info.versionHigh = VersionWord(major, b.after);
}

UString LowerCase(const UString& text) {
  std::string s = text.str();
  for (char& ch : s)
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  return UString(s);
}

bool StartsWith(const UString& text, const char* prefix) { return text.str().rfind(prefix, 0) == 0; }

}  // namespace

int ReadLeadingInt(const UString& text) {
  const std::string& s = text.str();
  std::size_t i = 0;
  while (i < s.size() && IsTextWhiteSpace(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  long long value = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    value = value * 10 + (s[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) return value > INT_MAX ? INT_MIN : static_cast<int>(-value);
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

int ParseUpdateInfo(const char* codebase, UpdateInfo* info) {
  if (!info) KL_THROW(-1, "USmartUpdateEx::ParseUpdateInfo()", "EXCEPTION - %s", "output parameter is NULL");
  const UString text(codebase);
  info->versionHigh = 0;
  info->versionLow = 0;
  info->url = SplitAtLast(text, "#").before;

  std::size_t slash = text.str().find_last_of("/\\");
  const UString name = slash == std::string::npos ? text : UString(text.str().substr(slash + 1));
  if (name == "." || name == "..") {
    info->fileName = UString();
    return 0;
  }
  SplitText fragment = SplitAtLast(name, "#");
  info->fileName = fragment.before;
  if (fragment.found) ReadVersion(fragment.after, *info);
  return 0;
}

namespace {

struct SchemeMatch {
  int protocol = 0;
  int port = 0;
  std::size_t length = 0;  // of the scheme with its "://"
};

// The URL's scheme; false for one that is not accepted.
bool FindScheme(const UString& trimmed, bool allowOtherSchemes, SchemeMatch* match) {
  struct Scheme {
    const char* prefix;
    int protocol;
    int port;
  };
  static const Scheme kSchemes[] = {
      {"http://", kProtocolHttp, 80},
      {"https://", kProtocolHttps, 443},
      {"ftp://", kProtocolFtp, 21},
      {"file://", kProtocolFile, 0},
  };
  const UString lower = LowerCase(trimmed);
  for (const Scheme& scheme : kSchemes) {
    if (StartsWith(lower, scheme.prefix)) {
      *match = {scheme.protocol, scheme.port, std::char_traits<char>::length(scheme.prefix)};
      return true;
    }
  }
  std::size_t marker = trimmed.str().find("://", 1);
  if (!allowOtherSchemes || marker == std::string::npos) return false;
  *match = {kProtocolOther, 0, marker + 3};
  return true;
}

// A file URL's rest: the first element is the host, the others (from their
// backslash on) the path; slashes become backslashes.
void SplitFileTarget(const std::string& rest, std::string* host, std::string* path) {
  *host = rest;
  for (char& ch : *host)
    if (ch == '/') ch = '\\';
  path->clear();
  std::size_t sep = host->find('\\', 1);
  if (!host->empty() && sep != std::string::npos) {
    *path = host->substr(sep);
    *host = host->substr(0, sep);
  }
}

// A network URL's rest: host (without user information), port when one is
// written, and path ("/" when none).
void SplitNetworkTarget(const std::string& rest, std::string* host, std::string* path, int* port) {
  *host = rest;
  *path = "/";
  std::size_t sep = rest.empty() ? std::string::npos : rest.find('/', 1);
  if (sep != std::string::npos) {
    *path = rest.substr(sep);
    *host = rest.substr(0, sep);
  }
  std::size_t at = host->find_last_of('@');
  if (at != std::string::npos) *host = UString(host->substr(at + 1)).Trimmed().str();

  UString portText;
  std::size_t bracket = host->empty() ? std::string::npos : host->find(']', 1);
  if (bracket != std::string::npos) {
    portText = SplitAtLast(UString(host->substr(bracket + 1)), ":").after;
    *host = host->substr(0, bracket + 1);
  } else {
    SplitText hostPort = SplitAtLast(UString(*host), ":");
    portText = hostPort.after;
    *host = hostPort.before.str();
  }
  if (!portText.empty()) *port = ReadLeadingInt(portText);
}

}  // namespace

bool ParseURL(const char* url, int* protocol, UString* host, UString* path, int* port, bool allowOtherSchemes) {
  if (!protocol || !host || !path || !port) return false;
  const UString trimmed = UString(url).Trimmed();
  SchemeMatch scheme;
  if (!FindScheme(trimmed, allowOtherSchemes, &scheme)) return false;
  const std::string rest = trimmed.str().substr(scheme.length);
  std::string hostText;
  std::string pathText;
  int foundPort = scheme.port;
  if (scheme.protocol == kProtocolFile)
    SplitFileTarget(rest, &hostText, &pathText);
  else
    SplitNetworkTarget(rest, &hostText, &pathText, &foundPort);

  *protocol = scheme.protocol;
  *host = UString(hostText);
  *path = UString(pathText);
  *port = foundPort;
  return true;
}
