// What the platform under the tests answers, recorded so that a Wine that
// changes it is noticed: every process runs at high integrity as an
// administrator with a full token, no elevation prompt, no elevation
// moniker, and a per-program Windows version (which the route and elevation
// tests use to run a program as Windows XP). The answers Wine cannot give
// are reached through the test build (tests/seam/).
#include <gtest/gtest.h>

#include <objbase.h>

#include <string>

#include "foundation/handles.h"
#include "foundation/m_uac_helpers.h"
#include "platform/platform_facts.h"
#include "support/platform_facts_support.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"

namespace {

TEST(WinePlatform, RunsEveryProcessAtHighIntegrityAsAnAdministrator) {
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

TEST(WinePlatform, OpensTheTokenEvenWithoutQueryAccess) {
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

TEST(WinePlatform, HasNoElevationMoniker) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  // Any registered local class: the moniker is refused before the class matters.
  static const CLSID kSomeClass = {0x0002DF01, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  IUnknown* object = nullptr;
  EXPECT_EQ(static_cast<HRESULT>(0x800401EA),
            uCoCreateInstanceAsAdmin(nullptr, kSomeClass, IID_IUnknown, reinterpret_cast<void**>(&object)));
  EXPECT_EQ(nullptr, object);
  CoUninitialize();
}

TEST(WinePlatform, GivesAProgramTheWindowsVersionOfItsName) {
  kittest::TempFolder temp;
  // A name of its own, so no other test's program sees the setting.
  const std::string name = "facts_probe_" + std::to_string(GetCurrentProcessId()) + ".exe";
  kittest::CopyFileOrFail(kittest::FactsProbePath(), temp / name);
  const std::string command = "\"" + (temp / name) + "\" report ";
  {
    kittest::WineAppVersion xp(name, "winxp");
    EXPECT_EQ(0u, kittest::RunProcess(command + "\"" + (temp / "xp.txt") + "\"").exitCode);
  }
  EXPECT_EQ(0u, kittest::RunProcess(command + "\"" + (temp / "default.txt") + "\"").exitCode);
  EXPECT_NE(std::string::npos, kittest::ReadTextFile(temp / "xp.txt").find("vista=0"));
  EXPECT_NE(std::string::npos, kittest::ReadTextFile(temp / "default.txt").find("vista=1"));
  EXPECT_FALSE(kittest::RegKeyExists(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\" + name));
}

}  // namespace
