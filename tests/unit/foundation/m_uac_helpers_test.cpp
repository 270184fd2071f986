// The rights helpers against the platform's real answers (what Wine itself
// answers is recorded in tests/platform/). The other answers are reached
// through the test build (tests/seam/).
#include "foundation/m_uac_helpers.h"

#include <gtest/gtest.h>

#include "foundation/handles.h"
#include "platform/platform_facts.h"
#include "support/platform_facts_support.h"
#include "support/test_support.h"

namespace {

TEST(IntegrityLevel, HandleThatOpensNoTokenGivesLow) {
  kittest::MemoryLog log;
  kit::UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  EXPECT_EQ(kIntegrityLow, uGetProcessIntegrityLevel(event.get()));
  EXPECT_TRUE(log.Contains("2, ") && log.Contains("::uGetProcessIntegrityLevel, Failed to open process token, error, "))
      << testing::PrintToString(log.Lines());
  EXPECT_TRUE(log.Contains("uGetProcessIntegrityLevel(), Running on low integrity level"));
  EXPECT_EQ(kIntegrityLow, uGetProcessIntegrityLevel(nullptr));
}

TEST(RunAsAdmin, StartsTheProgramWithAndWithoutParameters) {
  kittest::TempFolder temp;
  EXPECT_TRUE(RunAsAdmin(nullptr, kittest::FactsProbePath().c_str(),
                         ("report \"" + (temp / "report.txt") + "\"").c_str(), false));
  EXPECT_TRUE(kittest::WaitForFile(temp / "report.txt"));
  EXPECT_EQ("integrity=12288\nnonadmin=0\nvista=1\n", kittest::ReadTextFile(temp / "report.txt"));

  SetEnvironmentVariableA("KITTEST_NOARGS_MARKER", (temp / "noargs.txt").c_str());
  const bool started = RunAsAdmin(nullptr, kittest::FactsProbePath().c_str(), "", true);
  SetEnvironmentVariableA("KITTEST_NOARGS_MARKER", nullptr);
  EXPECT_TRUE(started);
  EXPECT_TRUE(kittest::WaitForFile(temp / "noargs.txt"));
}

TEST(RunAsAdmin, ProgramThatCannotStartGivesFalseWithTheReason) {
  kittest::TempFolder temp;
  kittest::MemoryLog log;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(RunAsAdmin(nullptr, (temp / "missing.exe").c_str(), "", false));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_TRUE(log.Contains("1, ") &&
              log.Contains("RunAsAdmin(), ShellExecuteEx failed , " + (temp / "missing.exe") + ", 2 (0x2) "))
      << testing::PrintToString(log.Lines());

  log.Clear();
  EXPECT_FALSE(RunAsAdmin(nullptr, nullptr, "x", false));
  EXPECT_TRUE(log.Contains("RunAsAdmin(), lpFile is NULL"));
}

}  // namespace
