// The system report collected live, against a sandboxed registry.
#include "foundation/m_sys.h"

#include <gtest/gtest.h>

#include "support/registry_sandbox.h"

namespace {

TEST(SystemReport, ReadsTheRegistryAndSurvivesAMissingHotfixKey) {
  kittest::RegistrySandbox sandbox;
  const char* key = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  kittest::SetRegString(HKEY_LOCAL_MACHINE, key, "ProductName", "Windows 7 Test Edition");
  kittest::SetRegString(HKEY_LOCAL_MACHINE, key, "CurrentVersion", "6.1");
  kittest::SetRegString(HKEY_LOCAL_MACHINE, key, "CurrentBuildNumber", "7601");
  kittest::SetRegString(HKEY_LOCAL_MACHINE, key, "CurrentType", "Uniprocessor Free");
  kittest::SetRegString(HKEY_LOCAL_MACHINE, key, "CSDVersion", "Service Pack 1, build 99");
  const std::string report = SGetSystemReport().c_str();
  EXPECT_EQ(report.rfind("OS Name: Windows 7 Test Edition\nVersion: 6.1\nBuild: 7601\nType: Uniprocessor Free (", 0),
            0u)
      << report;
  EXPECT_NE(report.find("\nService Pack: Service Pack 1, build 99\n"), std::string::npos) << report;
  EXPECT_NE(report.find("\nHOTFIXES: SP1;\n"), std::string::npos) << report;

  kittest::SetRegString(HKEY_LOCAL_MACHINE, std::string(key) + "\\HotFix\\KB100", "x", "");
  kittest::SetRegString(HKEY_LOCAL_MACHINE, std::string(key) + "\\HotFix\\ServicePackUninstall", "x", "");
  kittest::SetRegString(HKEY_LOCAL_MACHINE, std::string(key) + "\\HotFix\\KB200", "x", "");
  kit::UniqueKey hotfix;  // a name of the longest length the registry allows, and one after it
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(key) + "\\HotFix").c_str(), 0, KEY_ALL_ACCESS, hotfix.put());
  const std::string longest(255, 'L');
  for (const std::string& name : {longest, std::string("Z1")}) kittest::SetRegString(hotfix.get(), name, "x", "");
  EXPECT_NE(std::string(SGetSystemReport().c_str()).find("\nHOTFIXES: SP1;KB100;KB200;" + longest + ";Z1;\n"),
            std::string::npos);
}

TEST(SystemFacts, AnswerForThisMachine) {
  // Wine's 32-bit prefix reports Windows 7 SP1, no WOW64.
  EXPECT_TRUE(IsWindowsVersionAtLeast(6, 1, 0));
  EXPECT_TRUE(IsWindowsVistaOrLater());
  EXPECT_FALSE(IsWindowsVersionAtLeast(99, 0, 0));
  EXPECT_FALSE(IsWow64());
  const std::string locale = SGetLocaleName().c_str();
  EXPECT_GE(locale.size(), 2u);
  EXPECT_EQ(SGetPrimaryUILanguage(), PrimaryLanguageText(GetSystemDefaultUILanguage()));
  EXPECT_EQ(SGetOSShortName(), "Win7");
}

}  // namespace
