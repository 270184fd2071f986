// The real kitloader.exe runs package hooks: the tunnel component's restart
// becomes the run's exit code, and a program that outlasts the installer's
// waits (shortened in the test build) is left running while the run ends.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "e2e/kitloader_run.h"
#include "foundation/handles.h"
#include "support/platform_facts_support.h"
#include "support/test_support.h"

namespace {

TEST(HooksE2E, ARestartIsTheExitCodeAndASlowProgramIsLeftRunning) {
  kittest::KitloaderStage stage;
  kittest::CopyFileOrFail(kittest::WindowsPathOf(KITLOADER_PACKAGE_DIR "/hook_tunnel.cab"),
                          stage.folder() + "\\hook_tunnel.cab");
  const kittest::ProcessResult run = stage.Run("/s /i hook_tunnel.cab");
  std::string log = stage.Log();
  EXPECT_EQ(run.exitCode, static_cast<DWORD>(ERROR_SUCCESS_REBOOT_REQUIRED)) << log;
  EXPECT_NE(log.find("result of installation, need reboot"), std::string::npos) << log;
  EXPECT_NE(log.find("reboot required to complete installation"), std::string::npos) << log;

  // 20 waits of 100 ms instead of 30 s: the run goes on with 259 recorded.
  kittest::FactsFile facts("[process.waits]\r\nHookRun=100\r\n");
  kittest::KitloaderStage slow(kittest::WindowsPathOf(KITLOADER_TESTABLE_EXE));
  kittest::CopyFileOrFail(kittest::WindowsPathOf(KITLOADER_PACKAGE_DIR "/hook_wait.cab"),
                          slow.folder() + "\\hook_wait.cab");
  kittest::ChildProcess kitloader = slow.Start("/s /i hook_wait.cab");
  const DWORD kitloaderId = kitloader.id();
  const kittest::ProcessResult waited = kitloader.Wait(60000);
  log = slow.Log();
  EXPECT_FALSE(waited.timedOut);
  EXPECT_NE(log.find("GetExitCodeProcess() result (exit code, cmd), 259"), std::string::npos) << log;
  EXPECT_NE(log.find("result of installation, failed"), std::string::npos) << log;
  kit::UniqueHandle program = kittest::ChildNamed(kitloaderId, "ombrixwait.exe");
  ASSERT_TRUE(program);
  EXPECT_EQ(WaitForSingleObject(program.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  TerminateProcess(program.get(), 1);
  WaitForSingleObject(program.get(), 10000);
}

}  // namespace
