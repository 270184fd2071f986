// The system report's pure parts: the short operating-system name, the
// service-pack start of the hotfix list, the language and locale texts and
// the report text itself. Win32-free; the facts come from m_sys.cpp.
#pragma once

#include <cstdint>

#include "foundation/m_strings.h"

// What the version record says (only meaningful when `known`).
struct OsVersionFacts {
  bool known = false;
  bool ntPlatform = false;
  unsigned major = 0;
  unsigned minor = 0;
  unsigned build = 0;
  bool workstation = false;
  bool x64Processor = false;  // the native processor is x64 (AMD64)
};

// A version record of 6.2 on the NT platform is taken as 6.3 when the
// registry's "CurrentVersion" says exactly "6.3" (the record is capped at
// 6.2 for programs that do not declare themselves aware of later versions).
void ApplyCurrentVersionFix(OsVersionFacts& facts, const UString& registryVersion);

// The short name ("Win7", "Win10", ...): by the version record first, then by
// the beginning of the product name; empty when neither is recognised.
UString OsShortName(const OsVersionFacts& facts, const UString& osName);

// "SP" + the number + ";" when the service pack text is "Service Pack <n>..."
// (the number ends at the first semicolon, comma, blank or tab); else empty.
UString ServicePackHotfixEntry(const UString& servicePack);

// "0x%x" of the primary language (low 10 bits) of a language identifier;
// empty when that is 0.
UString PrimaryLanguageText(std::uint32_t languageId);

// "<language>-<country>", the language alone without a country, "en-US"
// without a language.
UString LocaleNameFromParts(const UString& language, const UString& country);

struct SystemReportFacts {
  UString osName;
  UString version;
  UString build;
  UString type;
  bool processorCountKnown = false;
  std::uint32_t processorCount = 0;
  UString language;
  UString shortName;
  UString servicePack;
  bool wow64 = false;
  bool nativeArm64 = false;
  UString hotfixes;
};

// The report's lines, each only when its value is not empty.
UString FormatSystemReport(const SystemReportFacts& facts);
