#include "foundation/m_sys.h"

#include <windows.h>

#include "foundation/UClasses.h"
#include "foundation/handles.h"
#include "foundation/m_registry.h"
#include "foundation/m_textconv.h"

namespace {

constexpr char kCurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr char kHotfixKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\HotFix";
constexpr USHORT kMachineArm64 = 0xAA64;
constexpr int kLocaleBuffer = 85;

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
using GetLocaleInfoExFn = int(WINAPI*)(LPCWSTR, LCTYPE, LPWSTR, int);

template <class Fn>
Fn Kernel32Function(const char* name) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  return kernel ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, name))) : nullptr;
}

// IsWow64Process2's answer: false when the function is missing or fails.
bool QueryWow64Process2(USHORT* processMachine, USHORT* nativeMachine) {
  auto fn = Kernel32Function<IsWow64Process2Fn>("IsWow64Process2");
  return fn && fn(GetCurrentProcess(), processMachine, nativeMachine);
}

bool NativeProcessorIsX64() {
  SYSTEM_INFO info = {};
  if (auto native = Kernel32Function<GetNativeSystemInfoFn>("GetNativeSystemInfo"))
    native(&info);
  else
    GetSystemInfo(&info);
  return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}

// The version record, extended when possible.
bool GetOSVersionInfo(OSVERSIONINFOEXA& info) {
  info = OSVERSIONINFOEXA();
  info.dwOSVersionInfoSize = sizeof info;
  if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return true;
  LogRecord(kLogWarnings, "GetOSVersionInfo",
            UMessage::Format("%1, %2", "GetVerionEx with OSVERSIONINFOEX failed", SGetErrorText(GetLastError())));
  info = OSVERSIONINFOEXA();
  info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return true;
  LogRecord(kLogErrors, "GetOSVersionInfo",
            UMessage::Format("%1, %2", "GetVerionEx with OSVERSIONINFO failed", SGetErrorText(GetLastError())));
  return false;
}

OsVersionFacts CollectVersionFacts() {
  OsVersionFacts facts;
  OSVERSIONINFOEXA info;
  if (!GetOSVersionInfo(info)) {
    LogRecord(kLogWarnings, "GetOSInfo", UString("GetOSVersionInfo failed"));
    return facts;
  }
  facts.known = true;
  facts.ntPlatform = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
  facts.major = info.dwMajorVersion;
  facts.minor = info.dwMinorVersion;
  facts.build = info.dwBuildNumber;
  facts.workstation = info.wProductType == VER_NT_WORKSTATION;
  facts.x64Processor = facts.major == 5 && facts.minor == 2 && NativeProcessorIsX64();
  return facts;
}

UString CurrentVersionValue(const char* name, REGSAM extraAccess = 0) {
  return SGetRegistryAsString(HKEY_LOCAL_MACHINE, kCurrentVersionKey, name, "", extraAccess, 0);
}

// Appends "<name>;" for each subkey of the HotFix key; nothing when the key
// cannot be opened.
void AppendHotfixes(UString& list) {
  kit::UniqueKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kHotfixKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
  for (DWORD index = 0;; ++index) {
    // The longest key name the registry allows, 255 characters, and its
    // terminator.
    char name[256] = {};
    DWORD length = sizeof name;
    if (RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (lstrcmpA(name, "ServicePackUninstall") == 0) continue;
    list += UString(name) + ";";
  }
}

UString SystemUILanguage() { return PrimaryLanguageText(GetSystemDefaultUILanguage()); }

// Fills what it can; what raises leaves the rest as it was.
void CollectInto(SystemReportFacts& facts) {
  facts.language = SystemUILanguage();
  SYSTEM_INFO info = {};
  GetSystemInfo(&info);
  facts.processorCount = info.dwNumberOfProcessors;
  facts.processorCountKnown = true;

  OsVersionFacts version = CollectVersionFacts();
  facts.osName = CurrentVersionValue("ProductName");
  facts.version = CurrentVersionValue("CurrentVersion");
  facts.build = CurrentVersionValue("CurrentBuildNumber");
  facts.type = CurrentVersionValue("CurrentType");
  facts.servicePack = CurrentVersionValue("CSDVersion");
  ApplyCurrentVersionFix(version, facts.version);

  facts.wow64 = IsWow64();
  facts.shortName = OsShortName(version, facts.osName);
  if (!facts.shortName.empty() && facts.wow64) {
    facts.shortName += "64";
    facts.servicePack = CurrentVersionValue("CSDVersion", KEY_WOW64_64KEY);
  }
  USHORT processMachine = 0, nativeMachine = 0;
  facts.nativeArm64 = QueryWow64Process2(&processMachine, &nativeMachine) && nativeMachine == kMachineArm64;

  facts.hotfixes = ServicePackHotfixEntry(facts.servicePack);
  AppendHotfixes(facts.hotfixes);
}

}  // namespace

bool IsWindowsVersionAtLeast(unsigned major, unsigned minor, unsigned servicePack) {
  OSVERSIONINFOEXW info = {};
  info.dwOSVersionInfoSize = sizeof info;
  info.dwMajorVersion = major;
  info.dwMinorVersion = minor;
  info.wServicePackMajor = static_cast<WORD>(servicePack);
  DWORDLONG mask = 0;
  mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
  mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
  mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask) != FALSE;
}

bool IsWindowsVistaOrLater() { return IsWindowsVersionAtLeast(6, 0, 0); }

bool IsWow64() {
  BOOL wow64 = FALSE;
  auto fn = Kernel32Function<IsWow64ProcessFn>("IsWow64Process");
  if (fn && fn(GetCurrentProcess(), &wow64) && wow64) return true;
  USHORT processMachine = IMAGE_FILE_MACHINE_UNKNOWN, nativeMachine = 0;
  return QueryWow64Process2(&processMachine, &nativeMachine) && processMachine != IMAGE_FILE_MACHINE_UNKNOWN;
}

UString SGetLocaleName() {
  UString language, country;
  if (IsWindowsVistaOrLater()) {
    auto getLocaleInfoEx = Kernel32Function<GetLocaleInfoExFn>("GetLocaleInfoEx");
    if (!getLocaleInfoEx) return LocaleNameFromParts(UString(), UString());
    wchar_t wide[kLocaleBuffer] = {};
    if (getLocaleInfoEx(nullptr, LOCALE_SISO639LANGNAME, wide, kLocaleBuffer) > 0) language = createString(wide);
    wchar_t wideCountry[kLocaleBuffer] = {};
    if (!language.empty() && getLocaleInfoEx(nullptr, LOCALE_SISO3166CTRYNAME, wideCountry, kLocaleBuffer) > 0)
      country = createString(wideCountry);
  } else {
    LANGID ui = GetUserDefaultUILanguage();
    if (ui == 0) ui = GetSystemDefaultUILanguage();
    const LCID lcid = MAKELCID(ui, SORT_DEFAULT);
    char narrow[kLocaleBuffer] = {};
    if (GetLocaleInfoA(lcid, LOCALE_SISO639LANGNAME, narrow, kLocaleBuffer) > 0) language = narrow;
    char narrowCountry[kLocaleBuffer] = {};
    if (!language.empty() && GetLocaleInfoA(lcid, LOCALE_SISO3166CTRYNAME, narrowCountry, kLocaleBuffer) > 0)
      country = narrowCountry;
  }
  return LocaleNameFromParts(language, country);
}

SystemReportFacts CollectSystemReportFacts() {
  SystemReportFacts facts;
  CollectInto(facts);
  return facts;
}

UString SGetSystemReport() {
  SystemReportFacts facts;
  try {
    CollectInto(facts);
  } catch (...) {
    return FormatSystemReport(facts) + "\n-\n";
  }
  return FormatSystemReport(facts);
}

UString SGetOSShortName() {
  OsVersionFacts version = CollectVersionFacts();
  ApplyCurrentVersionFix(version, CurrentVersionValue("CurrentVersion"));
  UString name = OsShortName(version, CurrentVersionValue("ProductName"));
  if (!name.empty() && IsWow64()) name += "64";
  return name;
}

UString SGetPrimaryUILanguage() { return SystemUILanguage(); }
