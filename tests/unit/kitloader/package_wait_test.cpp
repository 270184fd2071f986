#include "kitloader/package_wait.h"

#include <gtest/gtest.h>
#include <process.h>

#include "foundation/handles.h"
#include "kitloader/completion.h"
#include "support/test_support.h"

namespace {

// Reports `report` (unless negative), then ends with `exitCode`; the run's
// result must become `result`.
struct Worker {
  std::int32_t report, exitCode, result;
  static unsigned __stdcall Run(void* arg) {
    const Worker* w = static_cast<const Worker*>(arg);
    Sleep(50);
    if (w->report >= 0) InstallCompleteCallback(w->report, "", 0);
    return w->exitCode;
  }
};

TEST(PackageWait, EndsWithTheReportOrFailsForAWorkerThatEndedWithoutOne) {
  for (Worker w : {Worker{7, 5, 7}, Worker{-1, 160, 160}, Worker{-1, 0, 1603}}) {
    kittest::MemoryLog log;
    g_dwResult = 0;
    g_bDone = false;
    kit::UniqueHandle thread(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Worker::Run, &w, 0, nullptr)));
    WaitForPackage(thread.get());
    WaitForSingleObject(thread.get(), INFINITE);
    EXPECT_EQ(w.result, g_dwResult.load());
    EXPECT_EQ(w.report < 0, log.Contains("the installation ended without a result, " + std::to_string(w.result)));
  }
  g_dwResult = 0;
  g_bDone = false;
}

}  // namespace
