#include "kitloader/package_wait.h"

#include <gtest/gtest.h>
#include <process.h>

#include "foundation/handles.h"
#include "kitloader/completion.h"
#include "support/test_support.h"

namespace {

// A worker that reports `report` (unless it is negative) and ends with `exitCode`.
struct Worker {
  std::int32_t report;
  unsigned exitCode;
  static unsigned __stdcall Run(void* arg) {
    const Worker* w = static_cast<const Worker*>(arg);
    Sleep(50);
    if (w->report >= 0) InstallCompleteCallback(w->report, "", 0);
    return w->exitCode;
  }
};

TEST(PackageWait, EndsWithTheReportOrFailsForAWorkerThatEndedWithoutOne) {
  const struct {
    Worker worker;
    std::int32_t result;
    bool logged;
  } cases[] = {
      {{7, 0}, 7, false},      // reported, then ended
      {{0, 5}, 0, false},      // reported success; the exit code does not count
      {{-1, 160}, 160, true},  // ended without reporting: its exit code
      {{-1, 0}, 1603, true},   // ... or 1603 when that says nothing
  };
  for (const auto& c : cases) {
    kittest::MemoryLog log;
    g_dwResult = 0;
    g_bDone = false;
    kit::UniqueHandle thread(
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Worker::Run, const_cast<Worker*>(&c.worker), 0, nullptr)));
    ASSERT_TRUE(thread);
    WaitForPackage(thread.get());
    EXPECT_TRUE(g_bDone.load());
    EXPECT_EQ(c.result, g_dwResult.load()) << c.worker.exitCode;
    EXPECT_EQ(c.logged, log.Contains("the installation ended without a result, " + std::to_string(c.result)));
    WaitForSingleObject(thread.get(), INFINITE);
  }
  g_dwResult = 0;
  g_bDone = false;
}

}  // namespace
