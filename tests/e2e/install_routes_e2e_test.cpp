// The route a package takes, read from the log of the test build of the
// program (kitloader_testable.exe) run with the rights each case gives it
// and, for Windows XP, under a name that Wine runs as XP.
#include <gtest/gtest.h>

#include <memory>

#include "kitloader_run.h"
#include "support/platform_facts_support.h"
#include "support/registry_sandbox.h"

namespace {

const std::string kMedium = "[process]\nIntegrityLevel=0x2000\nAdministratorsMember=0\nElevationType=";
const std::string kClass = "{11111111-2222-3333-4444-555555555555}";
// A class the prefix's user has registered for himself while the case runs.
const std::string kUserClass = "{11111111-2222-3333-4444-666666666666}";

// Registers kUserClass in the real HKEY_CURRENT_USER of the prefix (the
// program runs in another process, which no sandbox reaches) and removes it.
class UserClass {
 public:
  UserClass() {
    kittest::SetRegString(HKEY_CURRENT_USER, Key() + "\\InprocServer32", "", "C:\\absent\\userctl.dll");
  }
  ~UserClass() { RegDeleteTreeA(HKEY_CURRENT_USER, Key().c_str()); }

 private:
  static std::string Key() { return "Software\\Classes\\CLSID\\" + kUserClass; }
};
constexpr DWORD kNotTrusted = 0x800B0004;
const char kRelaunchEvent[] = "cde2660f-df48-422b-9426-e6f55a1024c3-kitloader.exe";

TEST(InstallRoutes, TheRouteFollowsTheVersionTheIntegrityLevelAndTheUsersRights) {
  const struct {
    std::string facts;
    const char* windows;  // Wine's version for the program, or null
    std::string classId;
    const char* route;  // the log's condition text, "| " and route text
    DWORD result;       // the exit code once the package is acquired
  } cases[] = {
      {kMedium + "limited\n", nullptr, kClass, "Vista MI Admin/VI allow-per-user| EXTERNAL_PROCESS_HI", 1603},
      // Registered for the user: no installer of high integrity, the user's own copy.
      {kMedium + "limited\n", nullptr, kUserClass,
       "Vista MI Admin/VI registered-per-user allow-per-user| LOCAL_USER", kNotTrusted},
      {"", nullptr, kClass, "Vista HI Admin/VI allow-per-system| LOCAL_MACHINE", kNotTrusted},
      {kMedium + "default\n", nullptr, kClass, "Vista MI allow-per-user| LOCAL_USER EXTERNAL_PROCESS_HI", kNotTrusted},
      // A service is never installed per user, and its own update goes to the
      // Installer Service only: no route, refused before acquisition.
      {kMedium + "default\n", nullptr, "Service:Norvane Networks Component Installer",
       "Vista MI service-update.cab allow-per-system| NONE", 5},
      // Before Vista the token's integrity level is not asked; without the
      // rights for the machine's folder the user installs for himself.
      {kMedium + "limited\n[process.access]\nC:\\windows\\Downloaded Program Files=deny\n", "winxp", kClass,
       "XP allow-per-user| LOCAL_USER", kNotTrusted},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.route);
    const std::string name = "kl_route_" + std::to_string(GetCurrentProcessId()) + ".exe";
    kittest::KitloaderStage stage(kittest::WindowsPathOf(KITLOADER_TESTABLE_EXE), name);
    std::unique_ptr<kittest::WineAppVersion> version;
    if (c.windows) version = std::make_unique<kittest::WineAppVersion>(name, c.windows);
    kittest::FactsFile facts(c.facts);
    // An administrator not elevated asks for elevation first, unless this is
    // the relaunched copy that still is not elevated.
    kit::UniqueHandle relaunch(c.result == 1603 ? CreateEventA(nullptr, FALSE, FALSE, kRelaunchEvent) : nullptr);
    std::unique_ptr<UserClass> userClass;
    if (c.classId == kUserClass) userClass = std::make_unique<UserClass>();
    kittest::WriteTextFile(stage.folder() + "\\pkg.cab", "not empty");
    stage.WriteSetupInf("[CabFiles]\r\npkg.cab=1\r\n[pkg.cab]\r\nCLSID=" + c.classId + "\r\n");

    const kittest::ProcessResult run = stage.Run("/s");
    const std::string log = stage.Log();
    EXPECT_NE(std::string::npos, log.find("USmartUpdateEx::RunObjectProc(), " + std::string(c.route) + "\r\n")) << log;
    EXPECT_NE(std::string::npos, log.find("Installation failed. Code:" + std::to_string(int(run.exitCode)) + " ("));
    EXPECT_EQ(c.result, run.exitCode) << log;
    EXPECT_EQ(c.result == 5, log.find("do not have enough rights to install this package") != std::string::npos);
  }
}

}  // namespace
