// The route a package takes, read from the log of the test build of the
// program (kitloader_testable.exe) run with the rights each case gives it
// and, for Windows XP, under a name that Wine runs as XP.
#include <gtest/gtest.h>

#include <memory>

#include "kitloader_run.h"
#include "support/platform_facts_support.h"

namespace {

const std::string kMedium = "[process]\nIntegrityLevel=0x2000\nAdministratorsMember=0\nElevationType=";
const std::string kClass = "{11111111-2222-3333-4444-555555555555}";
constexpr DWORD kNotTrusted = 0x800B0004;

TEST(InstallRoutes, TheRouteFollowsTheVersionTheIntegrityLevelAndTheUsersRights) {
  const struct {
    std::string facts;
    const char* windows;  // Wine's version for the program, or null
    std::string classId;
    const char* route;  // the log's condition text, "| " and route text
    DWORD result;       // the exit code once the package is acquired
  } cases[] = {
      {kMedium + "limited\n", nullptr, kClass, "Vista MI Admin/VI allow-per-user| EXTERNAL_PROCESS_HI", 1603},
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
    kittest::WriteTextFile(stage.folder() + "\\pkg.cab", "not empty");
    stage.WriteSetupInf("[CabFiles]\r\npkg.cab=1\r\n[pkg.cab]\r\nCLSID=" + c.classId + "\r\n");

    const kittest::ProcessResult run = stage.Run("/s");
    const std::string log = stage.Log();
    EXPECT_NE(std::string::npos, log.find("USmartUpdateEx::RunObjectProc(), " + std::string(c.route) + "\r\n")) << log;
    EXPECT_NE(std::string::npos, log.find("Installation failed. Code:" + std::to_string(int(run.exitCode)) + " ("));
    // Until package acquisition is built its failure is the result.
    if (c.result == 5 || log.find("verify the package") != std::string::npos ||
        log.find("integrity user-mode installer process") != std::string::npos)
      EXPECT_EQ(c.result, run.exitCode) << log;
    else
      EXPECT_NE(std::string::npos, log.find("DownloadPackage()")) << log;
    EXPECT_EQ(c.result == 5, log.find("do not have enough rights to install this package") != std::string::npos);
  }
}

}  // namespace
