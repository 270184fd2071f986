#include "kitloader/completion.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

class Completion : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    g_dwResult = 0;
    g_bDone = false;
  }
};

TEST_F(Completion, TheCallbackStoresTheResultAndEndsTheWait) {
  InstallCompleteCallback(1603, "{clsid}", 7);
  EXPECT_EQ(1603, g_dwResult.load());
  EXPECT_TRUE(g_bDone.load());
}

TEST_F(Completion, CancelKeepsItsResultWhateverTheStoppedWorkerReports) {
  // 0: the request only updated an installed control; 1223: it was stopped.
  for (std::int32_t late : {0, 1223, 1603}) {
    SCOPED_TRACE(late);
    Reset();
    CancelRun();
    EXPECT_TRUE(g_bDone.load());
    InstallCompleteCallback(late, "", 0);
    EXPECT_EQ(kResultCancelled, g_dwResult.load());
    EXPECT_TRUE(g_bDone.load());
  }
}

TEST_F(Completion, CancelRacingTheWorkerAlwaysEndsCancelled) {
  for (int round = 0; round < 200; ++round) {
    Reset();
    std::thread worker([] { InstallCompleteCallback(0, "", 0); });
    CancelRun();
    worker.join();
    ASSERT_EQ(kResultCancelled, g_dwResult.load()) << "round " << round;
  }
}

}  // namespace
