// Codebase and URL parsing: where a package comes from, its file name and
// the version a request asks for. Win32-free.
#pragma once

#include <cstdint>

#include "foundation/m_strings.h"

// A request's codebase split into its parts. The version is two words:
// major << 16 | minor, and build << 16 | revision.
struct UpdateInfo {
  UString url;       // the codebase without its fragment ("#..."), trimmed
  UString fileName;  // the last path element without its fragment
  std::uint32_t versionHigh = 0;
  std::uint32_t versionLow = 0;
};

// Splits "<location>/<file>#<tag>=a,b,c,d". Returns 0; raises UException
// "output parameter is NULL" when `info` is missing. Text it does not
// understand leaves the version at 0.0.0.0.
int ParseUpdateInfo(const char* codebase, UpdateInfo* info);

enum : int {
  kProtocolOther = -1,
  kProtocolHttp = 1,
  kProtocolHttps = 2,
  kProtocolFtp = 3,
  kProtocolFile = 4,
};

// Splits a URL into protocol, host, path and port. Returns false, setting
// nothing, for a scheme it does not accept (schemes other than http, https,
// ftp and file only when `allowOtherSchemes`) or a missing output.
bool ParseURL(const char* url, int* protocol, UString* host, UString* path, int* port, bool allowOtherSchemes);

// A number read the way atoi reads it: leading white space and a sign, then
// digits up to the first non-digit; nothing readable gives 0. Values beyond
// the int range saturate instead of overflowing.
int ReadLeadingInt(const UString& text);
