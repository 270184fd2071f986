// The rights helpers against Wine's real answers. Wine runs every process at
// high integrity as an administrator with a full token and never shows the
// elevation prompt; these tests record that, so a Wine that changes it is
// noticed. The other answers are reached through the test build
// (tests/seam/).
#include "foundation/m_uac_helpers.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include "foundation/handles.h"
#include "platform/platform_facts.h"
#include "support/platform_facts_support.h"
#include "support/test_support.h"

namespace {

TEST(IntegrityLevel, WineRunsEveryProcessAtHighIntegrityAsAnAdministrator) {
  kittest::MemoryLog log;
  EXPECT_EQ(kIntegrityHigh, uGetProcessIntegrityLevel(GetCurrentProcess()));
  EXPECT_TRUE(log.Contains("48, ") && log.Contains("uGetProcessIntegrityLevel(), Running on high integrity level"));
  DWORD value = 0;
  ASSERT_TRUE(uReadProcessIntegrityValue(GetCurrentProcess(), &value));
  EXPECT_EQ(static_cast<DWORD>(SECURITY_MANDATORY_HIGH_RID), value);

  BOOL member = FALSE;
  ASSERT_TRUE(uReadAdministratorsMember(&member));
  EXPECT_TRUE(member);
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  ASSERT_TRUE(uReadProcessElevationType(&type));
  EXPECT_EQ(TokenElevationTypeFull, type);
  EXPECT_FALSE(IsNonAdminUser());
}

TEST(IntegrityLevel, HandleThatOpensNoTokenGivesLow) {
  kittest::MemoryLog log;
  kit::UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  EXPECT_EQ(kIntegrityLow, uGetProcessIntegrityLevel(event.get()));
  EXPECT_TRUE(log.Contains("2, ") && log.Contains("::uGetProcessIntegrityLevel, Failed to open process token, error, "))
      << testing::PrintToString(log.Lines());
  EXPECT_TRUE(log.Contains("uGetProcessIntegrityLevel(), Running on low integrity level"));
  EXPECT_EQ(kIntegrityLow, uGetProcessIntegrityLevel(nullptr));
}

TEST(IntegrityLevel, WineOpensTheTokenEvenWithoutQueryAccess) {
  // On Windows a handle that may only wait for the process opens no token
  // (error 5, so low integrity); Wine does not check the handle's access.
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::string commandLine = "\"" + kittest::FactsProbePath() + "\" usage-only";
  ASSERT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  kit::ProcessInformation child;
  child.Adopt(pi);
  kit::UniqueHandle limited;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), child.process.get(), GetCurrentProcess(), limited.put(), SYNCHRONIZE,
                              FALSE, 0));
  EXPECT_EQ(kIntegrityHigh, uGetProcessIntegrityLevel(limited.get()));
  WaitForSingleObject(child.process.get(), 60000);
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

TEST(CoCreateInstanceAsAdmin, WineHasNoElevationMoniker) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  // Any registered local class: the moniker is refused before the class matters.
  static const CLSID kSomeClass = {0x0002DF01, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  IUnknown* object = nullptr;
  EXPECT_EQ(static_cast<HRESULT>(0x800401EA),
            uCoCreateInstanceAsAdmin(nullptr, kSomeClass, IID_IUnknown, reinterpret_cast<void**>(&object)));
  EXPECT_EQ(nullptr, object);
  CoUninitialize();
}

}  // namespace
