// The rights helpers on the answers Wine cannot give, through the test
// build's platform facts: this program links the override
// (support/testable/platform_facts_override.cpp) instead of the system's
// answers, and each test writes the facts it needs.
#include <gtest/gtest.h>

#include <aclapi.h>

#include <cstdio>
#include <string>

#include "components/installed_components.h"
#include "foundation/AccessCheck.h"
#include "foundation/m_uac_helpers.h"
#include "support/platform_facts_support.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"

namespace {

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(value));
  return text;
}

TEST(FactsIntegrity, EveryTokenValueMapsToItsLevel) {
  struct Case {
    DWORD value;
    DWORD level;
    const char* line;
  };
  const Case cases[] = {
      {0x0000, kIntegrityLow, "Running on low integrity level"},  // untrusted
      {0x1000, kIntegrityLow, "Running on low integrity level"},
      {0x1FFF, kIntegrityLow, "Running on low integrity level"},
      {0x2000, kIntegrityMedium, "Running on medium integrity level"},
      {0x2100, kIntegrityMedium, "Running on medium integrity level"},  // medium plus
      {0x3000, kIntegrityHigh, "Running on high integrity level"},
      {0x4000, kIntegritySystem, "Running on System integrity level"},
      {0x5000, kIntegritySystem, "Running on System integrity level"},  // protected process
  };
  kittest::FactsFile facts("");
  for (const Case& c : cases) {
    facts.Rewrite("[process]\nIntegrityLevel=" + Hex(c.value) + "\n");
    kittest::MemoryLog log;
    EXPECT_EQ(c.level, uGetProcessIntegrityLevel(GetCurrentProcess())) << Hex(c.value);
    EXPECT_EQ(1u, log.Count(c.line)) << Hex(c.value);
    EXPECT_EQ(1u, log.Lines().size()) << Hex(c.value);
  }
}

TEST(FactsIntegrity, WithoutFactsTheSystemAnswers) {
  kittest::FactsFile facts("[process]\nAdministratorsMember=0\n");
  EXPECT_EQ(kIntegrityHigh, uGetProcessIntegrityLevel(GetCurrentProcess()));
  SetEnvironmentVariableA("KITLOADER_TEST_FACTS", nullptr);
  EXPECT_FALSE(IsNonAdminUser());
}

TEST(FactsAdministrator, OnlyAUserThePromptCannotHelpIsANonAdministrator) {
  struct Case {
    const char* member;
    const char* type;
    bool nonAdmin;
    const char* who;
  };
  const Case cases[] = {
      {"1", "full", false, "elevated administrator"},
      {"1", "default", false, "administrator with UAC turned off"},
      {"0", "limited", false, "administrator with a split token, not elevated"},
      {"0", "default", true, "standard user (with or without UAC)"},
      {"0", "full", true, "not a member, full token"},
  };
  kittest::FactsFile facts("");
  for (const Case& c : cases) {
    facts.Rewrite(std::string("[process]\nAdministratorsMember=") + c.member + "\nElevationType=" + c.type + "\n");
    EXPECT_EQ(c.nonAdmin, IsNonAdminUser()) << c.who;
  }
}

TEST(FactsElevation, DeclinedPromptGivesFalseAndError1223) {
  kittest::TempFolder temp;
  kittest::FactsFile facts("[process]\nElevationPrompt=decline\n");
  kittest::MemoryLog log;
  SetLastError(0);
  EXPECT_FALSE(RunAsAdmin(nullptr, kittest::FactsProbePath().c_str(),
                          ("report \"" + (temp / "report.txt") + "\"").c_str(), false));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CANCELLED), GetLastError());
  EXPECT_TRUE(log.Contains("RunAsAdmin(), ShellExecuteEx failed , " + kittest::FactsProbePath() + ", 1223 (0x4c7) "))
      << testing::PrintToString(log.Lines());
  EXPECT_FALSE(kittest::FileExists(temp / "report.txt"));
}

TEST(FactsElevation, AcceptedPromptStartsACopyWithTheElevatedFacts) {
  kittest::TempFolder temp;
  kittest::FactsFile facts(
      "[process]\nIntegrityLevel=0x2000\nAdministratorsMember=0\nElevationType=limited\nElevationPrompt=accept\n"
      "[elevated]\nIntegrityLevel=0x3000\nAdministratorsMember=1\nElevationType=full\n");
  const std::string probe = "\"" + kittest::FactsProbePath() + "\"";
  kittest::ProcessResult first = kittest::RunProcess(probe + " report \"" + (temp / "first.txt") + "\"");
  EXPECT_EQ(0u, first.exitCode);
  EXPECT_EQ("integrity=8192\nnonadmin=0\nvista=1\n", kittest::ReadTextFile(temp / "first.txt"));

  kittest::ProcessResult elevate = kittest::RunProcess(probe + " elevate \"" + (temp / "elevated.txt") + "\"");
  EXPECT_EQ(0u, elevate.exitCode);
  ASSERT_TRUE(kittest::WaitForFile(temp / "elevated.txt"));
  EXPECT_EQ("integrity=12288\nnonadmin=0\nvista=1\n", kittest::ReadTextFile(temp / "elevated.txt"));
}

TEST(FactsElevation, DeclinedPromptInAnotherProcess) {
  kittest::TempFolder temp;
  kittest::FactsFile facts("[process]\nIntegrityLevel=0x2000\nElevationPrompt=decline\n");
  kittest::ProcessResult elevate =
      kittest::RunProcess("\"" + kittest::FactsProbePath() + "\" elevate \"" + (temp / "elevated.txt") + "\"");
  EXPECT_EQ(static_cast<DWORD>(ERROR_CANCELLED), elevate.exitCode);
  EXPECT_FALSE(kittest::FileExists(temp / "elevated.txt"));
}

TEST(FactsElevation, UnknownFactValueStopsTheProgramWithAClearError) {
  kittest::TempFolder temp;
  kittest::FactsFile facts("[process]\nIntegrityLevel=medium\n");
  kittest::ProcessResult run =
      kittest::RunProcess("\"" + kittest::FactsProbePath() + "\" report \"" + (temp / "report.txt") + "\"");
  EXPECT_EQ(0xFAC7u, run.exitCode);
  EXPECT_FALSE(kittest::FileExists(temp / "report.txt"));
}

TEST(FactsAccess, DeniedAndFailedChecksPerObjectName) {
  kittest::TempFolder temp;
  kittest::FactsFile facts("[process.access]\n" + temp.path() + "=deny\n" + (temp / "sub") + "=fail\n" +
                           (temp / "readonly") + "=deny 0x120089\n");
  ASSERT_TRUE(CreateDirectoryA((temp / "readonly").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((temp / "sub").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((temp / "other").c_str(), nullptr));
  kittest::MemoryLog log;
  EXPECT_FALSE(UAccessCheck::CheckAccess(temp.path().c_str(), SE_FILE_OBJECT, GENERIC_READ | GENERIC_WRITE));
  EXPECT_TRUE(log.Contains("48, ") && log.Contains("Access to " + temp.path() + " denied (access: 0)"))
      << testing::PrintToString(log.Lines());
  EXPECT_FALSE(UAccessCheck::CheckAccess((temp / "sub").c_str(), SE_FILE_OBJECT, GENERIC_READ));
  EXPECT_TRUE(log.Contains("2, ") && log.Contains("Access check failed for " + (temp / "sub") + " (error: 5)"));
  EXPECT_TRUE(UAccessCheck::CheckAccess((temp / "other").c_str(), SE_FILE_OBJECT, GENERIC_READ | GENERIC_WRITE));
  // A folder that grants only reading: the log shows what was granted.
  EXPECT_FALSE(UAccessCheck::CheckAccess((temp / "readonly").c_str(), SE_FILE_OBJECT, GENERIC_READ | GENERIC_WRITE));
  EXPECT_TRUE(log.Contains("Access to " + (temp / "readonly") + " denied (access: 1179785)"));
}

constexpr char kInternetSettings[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr char kActiveXCache[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ActiveX Cache";

class FactsInstallRights : public ::testing::Test {
 protected:
  void SetUp() override {
    kittest::SetRegString(HKEY_LOCAL_MACHINE, kInternetSettings, "ActiveXCache", dpf.path());
    kittest::SetRegString(HKEY_LOCAL_MACHINE, kActiveXCache, "0", dpf.path());
    kittest::SetRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft", "probe", "x");
    kittest::SetRegString(HKEY_CLASSES_ROOT, "CLSID", "probe", "x");
  }
  kittest::TempFolder dpf;
  kittest::RegistrySandbox sandbox;
};

TEST_F(FactsInstallRights, StandardUserWithAWritableFolderIsStoppedByTheFirstMachineKey) {
  kittest::FactsFile facts("[process.access]\nMACHINE\\SOFTWARE\\Microsoft=deny\nMACHINE\\SOFTWARE=deny\n");
  kittest::MemoryLog log;
  EXPECT_FALSE(CheckInstallActiveXRigths());
  EXPECT_TRUE(log.Contains("Have write access to DPF by trying to create temp file under DPF"));
  EXPECT_TRUE(log.Contains("SmartUpdateEx::CheckInstallActiveXRigths(), Access denied, MACHINE\\SOFTWARE\\Microsoft"));
  EXPECT_EQ(0u, log.Count("Access to MACHINE\\SOFTWARE "));  // the check stopped at the first key
}

TEST_F(FactsInstallRights, DeniedFolderIsStoppedBeforeAnyFileIsWritten) {
  kittest::FactsFile facts("[process.access]\n" + dpf.path() + "=deny\n");
  kittest::MemoryLog log;
  EXPECT_FALSE(CheckInstallActiveXRigths());
  EXPECT_TRUE(log.Contains("Access to denied, " + dpf.path()));
  EXPECT_EQ(0u, log.Count("double check"));
}

TEST_F(FactsInstallRights, LastKeyDeniedStillMeansNoRights) {
  kittest::FactsFile facts("[process.access]\nCLASSES_ROOT\\CLSID=deny\n");
  kittest::MemoryLog log;
  EXPECT_FALSE(CheckInstallActiveXRigths());
  EXPECT_TRUE(log.Contains("Access denied, CLASSES_ROOT\\CLSID"));
}

}  // namespace
