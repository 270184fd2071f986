// The system report's pure parts: the short-name table row by row and the
// report's lines.
#include "foundation/sysinfo_names.h"

#include <gtest/gtest.h>

namespace {

OsVersionFacts Nt(unsigned major, unsigned minor, unsigned build, bool workstation, bool x64 = false) {
  OsVersionFacts f;
  f.known = true;
  f.ntPlatform = true;
  f.major = major;
  f.minor = minor;
  f.build = build;
  f.workstation = workstation;
  f.x64Processor = x64;
  return f;
}

TEST(OsShortName, FollowsTheVersionTable) {
  struct Row {
    OsVersionFacts facts;
    const char* expected;
  } rows[] = {
      {Nt(10, 0, 22000, true), "Win11"},   {Nt(10, 0, 22631, false), "Win11"}, {Nt(10, 0, 19045, true), "Win10"},
      {Nt(10, 0, 17763, false), "Win2015"}, {Nt(6, 3, 9600, true), "Win8.1"}, {Nt(6, 3, 9600, false), "Win2012"},
      {Nt(6, 2, 9200, true), "Win8"},      {Nt(6, 2, 9200, false), "Win2012"}, {Nt(6, 1, 7601, true), "Win7"},
      {Nt(6, 1, 7601, false), "WinLH"},    {Nt(6, 0, 6002, true), "WinVI"},    {Nt(6, 0, 6002, false), "WinLH"},
      {Nt(5, 2, 3790, true, true), "WinXP"}, {Nt(5, 2, 3790, true, false), "Win2003"},
      {Nt(5, 2, 3790, false, true), "Win2003"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(OsShortName(row.facts, ""), row.expected)
        << row.facts.major << "." << row.facts.minor << " build " << row.facts.build;
}

TEST(OsShortName, FallsBackToTheProductNameInOrder) {
  OsVersionFacts unknown;
  const struct {
    const char* name;
    const char* expected;
  } rows[] = {
      {"Windows 10 Pro", "Win10"},
      {"Windows 8.1 Enterprise", "Win8.1"},
      {"Windows 8 Pro", "Win8"},
      {"Windows 7 Ultimate", "Win7"},
      {"Windows Vista (TM) Business", "WinVI"},
      {"Microsoft Windows XP", "WinXP"},
      {"Microsoft Windows 2000", "Win2k"},
      {"Microsoft Windows Server 2015", "Win2015"},
      {"Microsoft Windows Server 2012 R2", "Win2012"},
      {"Microsoft Windows Server 2003", "Win2003"},
      {"Microsoft Windows Server 2008", "WinLH"},
      {"Microsoft Windows NT", "WinNT4"},
      {"Windows Server 2019", ""},
      {"", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(OsShortName(unknown, row.name), row.expected) << row.name;
  // A version the table does not know also falls back to the name; a
  // non-NT record is not used.
  EXPECT_EQ(OsShortName(Nt(5, 0, 2195, true), "Microsoft Windows 2000"), "Win2k");
  OsVersionFacts nine = Nt(10, 0, 19045, true);
  nine.ntPlatform = false;
  EXPECT_EQ(OsShortName(nine, "Windows 7"), "Win7");
}

TEST(OsShortName, SixTwoWithRegistrySixThreeIsEightOne) {
  OsVersionFacts f = Nt(6, 2, 9200, true);
  ApplyCurrentVersionFix(f, "6.2");
  EXPECT_EQ(OsShortName(f, ""), "Win8");
  ApplyCurrentVersionFix(f, "6.3");
  EXPECT_EQ(OsShortName(f, ""), "Win8.1");
  OsVersionFacts seven = Nt(6, 1, 7601, true);
  ApplyCurrentVersionFix(seven, "6.3");
  EXPECT_EQ(OsShortName(seven, ""), "Win7");
}

TEST(SystemReportText, WritesOnlyTheLinesItHasValuesFor) {
  SystemReportFacts f;
  EXPECT_EQ(FormatSystemReport(f), "");
  f.osName = "Windows 10 Pro";
  f.version = "6.3";
  f.build = "19045";
  f.type = "Multiprocessor Free";
  f.processorCountKnown = true;
  f.processorCount = 8;
  f.language = "0x9";
  f.shortName = "Win1064";
  f.servicePack = "";
  f.wow64 = true;
  f.nativeArm64 = true;
  f.hotfixes = "KB1;KB2;";
  EXPECT_EQ(FormatSystemReport(f),
            "OS Name: Windows 10 Pro\nVersion: 6.3\nBuild: 19045\n"
            "Type: Multiprocessor Free (8 Logical Processor(s))\nPrimary UI language: 0x9\nShort Name: Win1064\n"
            "WOW64\nProcessor (CPU) Architecture: ARM64\nHOTFIXES: KB1;KB2;\n");
  f.processorCountKnown = false;
  f.wow64 = f.nativeArm64 = false;
  f.osName = f.version = f.build = f.language = f.shortName = f.hotfixes = "";
  EXPECT_EQ(FormatSystemReport(f), "Type: Multiprocessor Free\n");
}

TEST(SystemReportText, ServicePackStartsTheHotfixListAndLanguageAndLocaleTexts) {
  EXPECT_EQ(ServicePackHotfixEntry("Service Pack 1, v.7601"), "SP1;");
  EXPECT_EQ(ServicePackHotfixEntry("Service Pack 2"), "SP2;");
  EXPECT_EQ(ServicePackHotfixEntry("Service Pack 3;x"), "SP3;");
  EXPECT_EQ(ServicePackHotfixEntry("Service Pack 4\tx"), "SP4;");
  EXPECT_EQ(ServicePackHotfixEntry("SP1"), "");
  EXPECT_EQ(ServicePackHotfixEntry(""), "");
  EXPECT_EQ(PrimaryLanguageText(0x0409), "0x9");
  EXPECT_EQ(PrimaryLanguageText(0x0C07), "0x7");
  EXPECT_EQ(PrimaryLanguageText(0x0400), "");
  EXPECT_EQ(LocaleNameFromParts("de", "AT"), "de-AT");
  EXPECT_EQ(LocaleNameFromParts("eo", ""), "eo");
  EXPECT_EQ(LocaleNameFromParts("", "AT"), "en-US");
}

}  // namespace
