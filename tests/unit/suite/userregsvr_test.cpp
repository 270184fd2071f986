// userregsvr.exe as kitloader starts it, on the suite's sample control: the
// registration lands in the current user's classes, with and without /r,
// and bad requests end with their codes. The program runs in a process of
// its own, so it writes the prefix's real HKEY_CURRENT_USER: the keys are
// removed afterwards.
#include <gtest/gtest.h>

#include <string>

#include "foundation/m_registry.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"

namespace {

const std::string kUserClass = "Software\\Classes\\CLSID\\{5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36}";

void RemoveUserRegistration() {
  for (const char* key : {"Software\\Classes\\CLSID\\{5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36}",
                          "Software\\Classes\\Norvane.OmbrixControl.1",
                          "Software\\Classes\\TypeLib\\{2D6B9C31-7E85-4A0F-B3C2-9F1E4D7A6B58}"}) {
    RegDeleteTreeA(HKEY_CURRENT_USER, key);
  }
}

TEST(UserRegSvr, RegistersForTheCurrentUserAndReportsFailures) {
  const std::string program = kittest::WindowsPathOf(KITLOADER_BUILD_DIR "/suite/userregsvr.exe");
  const std::string control = kittest::WindowsPathOf(KITLOADER_BUILD_DIR "/suite/ombrixctl-1.0.0.1/ombrixctl.dll");
  const struct {
    std::string arguments;
    DWORD exitCode;
    bool registered;
  } cases[] = {
      {"/s \"" + control + "\"", 0, true},
      {"/s /r \"" + control + "\"", 0, true},
      {"/s \"" + control + ".absent\"", ERROR_MOD_NOT_FOUND, false},
      {"/s \"C:\\windows\\system32\\version.dll\"", ERROR_PROC_NOT_FOUND, false},
      // A component that faults while it registers: the program reports it and ends.
      {"/s \"" + kittest::WindowsPathOf(KITLOADER_BUILD_DIR "/suite/ombrixcrash-1.0.0.1/ombrixcrash.dll") + "\"",
       0xC0000005, false},
      {"/s", ERROR_INVALID_PARAMETER, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    RemoveUserRegistration();
    const kittest::ProcessResult run = kittest::RunProcess("\"" + program + "\" " + c.arguments);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(c.exitCode, run.exitCode);
    EXPECT_EQ(c.registered, kittest::RegValueExists(HKEY_CURRENT_USER, kUserClass + "\\InprocServer32", ""));
    // Nothing reaches the machine's classes, /r or not. (The class may be
    // registered there by an installation of its own: only this copy of the
    // control must not be the machine's server.)
    const UString machineServer =
        SGetRegistryAsString(HKEY_LOCAL_MACHINE, (kUserClass + "\\InprocServer32").c_str(), "", "", 0, 0);
    EXPECT_STRCASENE(control.c_str(), machineServer.c_str());
  }
  RemoveUserRegistration();

  // No per-user entry point: DllRegisterServer registers for the user (classes redirected), with COM initialised
  // (the sample refuses otherwise); its S_FALSE is a failure, as in kitloader's process.
  const std::string panel = "Software\\Classes\\CLSID\\{7A1C2E90-3B4D-4E5F-8A6B-1C2D3E4F5A60}";
  const kittest::ProcessResult run = kittest::RunProcess(
      "\"" + program + "\" /s \"" + kittest::WindowsPathOf(KITLOADER_BUILD_DIR "/suite/ombrixplain-1.0.0.1/ombrixplain.dll") + "\"");
  EXPECT_EQ(static_cast<DWORD>(S_FALSE), run.exitCode);
  EXPECT_TRUE(kittest::RegKeyExists(HKEY_CURRENT_USER, panel));
  EXPECT_FALSE(kittest::RegKeyExists(HKEY_LOCAL_MACHINE, panel));
  for (const char* id : {"{7A1C2E90-3B4D-4E5F-8A6B-1C2D3E4F5A60}", "{7A1C2E91-3B4D-4E5F-8A6B-1C2D3E4F5A60}"})
    RegDeleteTreeA(HKEY_CURRENT_USER, (std::string("Software\\Classes\\CLSID\\") + id).c_str());
}

}  // namespace
