// System facts: the Windows version tests, WOW64, the user's locale name and
// the system report written at the top of every new log file.
#pragma once

#include "foundation/m_strings.h"
#include "foundation/sysinfo_names.h"

// True when Windows is at least major.minor with the given service pack.
bool IsWindowsVersionAtLeast(unsigned major, unsigned minor, unsigned servicePack);

// Windows Vista (6.0) or later.
bool IsWindowsVistaOrLater();

// True when this process runs under emulation (a 32-bit process on 64-bit
// Windows).
bool IsWow64();

// The user's locale as "<ISO 639 language>-<ISO 3166 country>", the language
// alone, or "en-US" when nothing can be read.
UString SGetLocaleName();

// The facts of the report, collected from the system and the registry.
SystemReportFacts CollectSystemReportFacts();

// The multi-line system report; "\n-\n" is appended to what was built when a
// step fails.
UString SGetSystemReport();

// The short operating-system name with "64" appended under WOW64 ("Win10",
// "Win764"): the platform tag of INF sections. Empty when unknown.
UString SGetOSShortName();

// "0x%x" of the primary system UI language; empty when the system reports
// none: the language tag of INF sections.
UString SGetPrimaryUILanguage();
