#include "foundation/sysinfo_names.h"

#include <cstring>

namespace {

bool StartsWith(const UString& text, const char* prefix) {
  return text.str().compare(0, std::strlen(prefix), prefix) == 0;
}

UString ShortNameByVersion(const OsVersionFacts& f) {
  if (!f.known || !f.ntPlatform) return UString();
  const bool ws = f.workstation;
  switch (f.major * 100 + f.minor) {
    case 1000:
      if (f.build >= 22000) return "Win11";
      return ws ? "Win10" : "Win2015";
    case 603:
      return ws ? "Win8.1" : "Win2012";
    case 602:
      return ws ? "Win8" : "Win2012";
    case 601:
      return ws ? "Win7" : "WinLH";
    case 600:
      return ws ? "WinVI" : "WinLH";
    case 502:
      return ws && f.x64Processor ? "WinXP" : "Win2003";
    default:
      return UString();
  }
}

UString ShortNameByProduct(const UString& osName) {
  // Tested in this order: "Windows 8.1" before "Windows 8".
  static const struct {
    const char* prefix;
    const char* shortName;
  } kByName[] = {
      {"Windows 10", "Win10"},
      {"Windows 8.1", "Win8.1"},
      {"Windows 8", "Win8"},
      {"Windows 7", "Win7"},
      {"Windows Vista", "WinVI"},
      {"Microsoft Windows XP", "WinXP"},
      {"Microsoft Windows 2000", "Win2k"},
      {"Microsoft Windows Server 2015", "Win2015"},
      {"Microsoft Windows Server 2012", "Win2012"},
      {"Microsoft Windows Server 2003", "Win2003"},
      {"Microsoft Windows Server 2008", "WinLH"},
      {"Microsoft Windows NT", "WinNT4"},
  };
  for (const auto& row : kByName)
    if (StartsWith(osName, row.prefix)) return row.shortName;
  return UString();
}

void AppendLine(UString& out, const char* label, const UString& value) {
  if (!value.empty()) out += UString(label) + value + "\n";
}

}  // namespace

void ApplyCurrentVersionFix(OsVersionFacts& facts, const UString& registryVersion) {
  if (facts.known && facts.ntPlatform && facts.major == 6 && facts.minor == 2 && registryVersion == "6.3")
    facts.minor = 3;
}

UString OsShortName(const OsVersionFacts& facts, const UString& osName) {
  UString name = ShortNameByVersion(facts);
  return name.empty() ? ShortNameByProduct(osName) : name;
}

UString ServicePackHotfixEntry(const UString& servicePack) {
  static const char kPrefix[] = "Service Pack ";
  if (!StartsWith(servicePack, kPrefix)) return UString();
  const std::string rest = servicePack.str().substr(sizeof kPrefix - 1);
  return UString("SP") + UString(rest.substr(0, rest.find_first_of(";, \t"))) + ";";
}

UString PrimaryLanguageText(std::uint32_t languageId) {
  const std::uint32_t primary = languageId & 0x3FF;
  if (primary == 0) return UString();
  return UString::Format("0x%x", static_cast<unsigned>(primary));
}

UString LocaleNameFromParts(const UString& language, const UString& country) {
  if (language.empty()) return "en-US";
  if (country.empty()) return language;
  return language + "-" + country;
}

UString FormatSystemReport(const SystemReportFacts& f) {
  UString out;
  AppendLine(out, "OS Name: ", f.osName);
  AppendLine(out, "Version: ", f.version);
  AppendLine(out, "Build: ", f.build);
  if (!f.type.empty()) {
    if (f.processorCountKnown)
      out += UMessage::Format("Type: %1 (%2 Logical Processor(s))\n", f.type, f.processorCount);
    else
      out += UString("Type: ") + f.type + "\n";
  }
  AppendLine(out, "Primary UI language: ", f.language);
  AppendLine(out, "Short Name: ", f.shortName);
  AppendLine(out, "Service Pack: ", f.servicePack);
  if (f.wow64) out += "WOW64\n";
  if (f.nativeArm64) out += "Processor (CPU) Architecture: ARM64\n";
  AppendLine(out, "HOTFIXES: ", f.hotfixes);
  return out;
}
