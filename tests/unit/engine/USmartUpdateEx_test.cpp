// The engine's request, worker, stop and destruction protocol, with test
// bodies standing in for the install routes.
#include "engine/USmartUpdateEx.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

#include "foundation/handles.h"
#include "support/test_support.h"

namespace {

class TestEngine : public USmartUpdateEx {
 public:
  std::function<std::int32_t(TestEngine&)> body;

  void SetDecision(int d) { RequestState().SetDecision(static_cast<UpdateDecision>(d)); }
  void SetTempFolder(const std::string& folder) { RequestState().TempFolder().Adopt(folder.c_str()); }
  using USmartUpdateEx::RequestStop;

 protected:
  std::int32_t RunObjectProc() override { return body ? body(*this) : 0; }
};

// A manual-reset event owned by the test.
struct Event {
  kit::UniqueHandle handle{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  HANDLE get() const { return handle.get(); }
  void Set() const { SetEvent(handle.get()); }
  bool Wait(DWORD ms = 10000) const { return WaitForSingleObject(handle.get(), ms) == WAIT_OBJECT_0; }
};

// A body for a first installation (decision 2) that ends with `result`.
std::function<std::int32_t(TestEngine&)> Reports(std::int32_t result) {
  return [result](TestEngine& e) {
    e.SetDecision(2);
    return result;
  };
}

// A body that signals `started` and then never ends by itself.
std::function<std::int32_t(TestEngine&)> Stuck(const Event& started, const Event& never) {
  return [&started, &never](TestEngine&) {
    started.Set();
    WaitForSingleObject(never.get(), INFINITE);
    return 0;
  };
}

// What the callback saw; signalled when it ran.
struct Completion {
  bool Wait(DWORD ms = 10000) { return done.Wait(ms); }

  Event done;
  std::atomic<std::int32_t> result{12345};
  std::string classId;
  DWORD threadId = 0;
  int calls = 0;
};

void RecordCompletion(std::int32_t result, const char* classId, std::uintptr_t value) {
  Completion* c = reinterpret_cast<Completion*>(value);
  c->result = result;
  c->classId = classId ? classId : "(null)";
  c->threadId = GetCurrentThreadId();
  ++c->calls;
  c->done.Set();
}

// Reports, then takes a while to return, as a caller's callback may: the
// caller has seen the report before the worker could release its handle.
void LingeringCallback(std::int32_t result, const char* classId, std::uintptr_t value) {
  RecordCompletion(result, classId, value);
  Sleep(30);
}

void ThrowingCallback(std::int32_t, const char*, std::uintptr_t value) {
  reinterpret_cast<Completion*>(value)->done.Set();
  throw 42;
}

std::uintptr_t Value(Completion& c) { return reinterpret_cast<std::uintptr_t>(&c); }

class EngineProtocol : public ::testing::Test {
 protected:
  kittest::MemoryLog log;
};

}  // namespace

TEST_F(EngineProtocol, FirstInstallationReportsTheRealResultOnTheWorkerThread) {
  TestEngine engine;
  engine.body = Reports(1603);
  Completion c;
  ASSERT_EQ(engine.InstallControl("{CLSID-1}", "C:\\pkg.cab", "", "", &RecordCompletion, Value(c)), 0);
  ASSERT_TRUE(c.Wait());
  EXPECT_EQ(c.result.load(), 1603);
  EXPECT_EQ(c.classId, "{CLSID-1}");
  EXPECT_NE(c.threadId, GetCurrentThreadId());
  engine.Stop(TRUE);
  EXPECT_TRUE(log.Contains("Request to install control CLSID:{CLSID-1}, codebase:C:\\pkg.cab"));
  EXPECT_TRUE(log.Contains("Thread finished, 1603"));
}

TEST_F(EngineProtocol, UpdateOrNothingToDoIsReportedAsSuccessWhateverHappened) {
  for (int decision : {0, 1}) {
    TestEngine engine;
    engine.body = [decision](TestEngine& e) {
      e.SetDecision(decision);
      return 1603;
    };
    Completion c;
    ASSERT_EQ(engine.InstallControl("", "x.cab", "", "", &RecordCompletion, Value(c)), 0);
    ASSERT_TRUE(c.Wait());
    EXPECT_EQ(c.result.load(), 0) << "decision " << decision;
    engine.Stop(TRUE);
  }
  EXPECT_EQ(log.Count("Thread finished, 0"), 2u);
}

TEST_F(EngineProtocol, SecondRequestWhileBusyIsRefusedAndAcceptedOnceIdle) {
  Event release;
  TestEngine engine;
  engine.body = [&release](TestEngine& e) {
    release.Wait();
    e.SetDecision(2);
    return 0;
  };
  Completion first, second;
  ASSERT_EQ(engine.InstallControl("A", "a.cab", "", "", &LingeringCallback, Value(first)), 0);
  EXPECT_EQ(engine.InstallControl("B", "b.cab", "", "", &RecordCompletion, Value(second)), 32);
  EXPECT_TRUE(log.Contains("already running"));
  release.Set();
  ASSERT_TRUE(first.Wait());
  EXPECT_EQ(first.classId, "A");
  // Accepted as soon as the callback ran, before the worker could end.
  ASSERT_EQ(engine.InstallControl("B", "b.cab", "", "", &LingeringCallback, Value(second)), 0);
  ASSERT_TRUE(second.Wait());
  EXPECT_EQ(second.classId, "B");
  EXPECT_EQ(first.calls, 1);
  for (int package = 0; package < 20; ++package) {
    Completion next;
    ASSERT_EQ(engine.InstallControl("C", "c.cab", "", "", &LingeringCallback, Value(next)), 0) << package;
    ASSERT_TRUE(next.Wait());
  }
  engine.Stop(TRUE);
}

TEST_F(EngineProtocol, StopWithoutWaitingReturnsAtOnceAndTheWorkerSeesTheRequest) {
  Event started;
  TestEngine engine;
  std::atomic<bool> installerSawStop{false};
  engine.body = [&started, &installerSawStop](TestEngine& e) -> std::int32_t {
    e.SetDecision(2);
    started.Set();
    for (int i = 0; i < 1000; ++i) {
      if (int rc = e.CheckStopRequest(0)) {
        installerSawStop = e.KitLoader().RequestToStop();
        return rc;
      }
      Sleep(10);
    }
    return 0;
  };
  Completion c;
  ASSERT_EQ(engine.InstallControl("", "x.cab", "", "", &RecordCompletion, Value(c)), 0);
  ASSERT_TRUE(started.Wait());
  engine.Stop(FALSE);  // returns without waiting for the worker
  EXPECT_TRUE(log.Contains("working thread has been schedulled to stop"));
  ASSERT_TRUE(c.Wait());
  EXPECT_EQ(c.result.load(), 1223);
  EXPECT_TRUE(installerSawStop.load());
  engine.Stop(TRUE);
}

TEST_F(EngineProtocol, StopWithWaitingTerminatesAWorkerThatNeverEnds) {
  Event never, started;
  {
    TestEngine engine;
    engine.SetWaitLimits(300, 300);
    engine.body = Stuck(started, never);
    Completion c;
    ASSERT_EQ(engine.InstallControl("", "x.cab", "", "", &RecordCompletion, Value(c)), 0);
    ASSERT_TRUE(started.Wait());
    engine.Stop(TRUE);
    EXPECT_TRUE(log.Contains("Terminating thread"));
    EXPECT_EQ(c.calls, 0);
    // The engine is idle again: a new request is accepted.
    engine.body = Reports(7);
    Completion next;
    ASSERT_EQ(engine.InstallControl("", "y.cab", "", "", &RecordCompletion, Value(next)), 0);
    ASSERT_TRUE(next.Wait());
    EXPECT_EQ(next.result.load(), 7);
    engine.Stop(TRUE);
  }
}

TEST_F(EngineProtocol, DestructionTerminatesAStuckWorkerAfterItsLimit) {
  Event never, started;
  Completion c;
  {
    auto engine = std::make_unique<TestEngine>();
    engine->SetWaitLimits(300, 300);
    engine->body = Stuck(started, never);
    ASSERT_EQ(engine->InstallControl("", "x.cab", "", "", &RecordCompletion, Value(c)), 0);
    ASSERT_TRUE(started.Wait());
  }
  EXPECT_TRUE(log.Contains("Thread was terminated"));
  EXPECT_EQ(c.calls, 0);
}

TEST_F(EngineProtocol, DestructionLetsAWorkerThatHonoursTheStopFinish) {
  Completion c;
  {
    TestEngine engine;
    engine.body = [](TestEngine& e) -> std::int32_t {
      e.SetDecision(2);
      while (!e.CheckStopRequest(0)) Sleep(5);
      return 1223;
    };
    ASSERT_EQ(engine.InstallControl("", "x.cab", "", "", &RecordCompletion, Value(c)), 0);
    Sleep(50);
  }
  EXPECT_FALSE(log.Contains("Thread was terminated"));
  EXPECT_EQ(c.calls, 1);
  EXPECT_EQ(c.result.load(), 1223);
}

TEST_F(EngineProtocol, ExceptionsInTheBodyAndInTheCallbackBecomeCodes) {
  TestEngine engine;
  engine.body = [](TestEngine& e) -> std::int32_t {
    e.SetDecision(2);
    throw 1;
  };
  Completion c;
  ASSERT_EQ(engine.InstallControl("", "x.cab", "", "", &RecordCompletion, Value(c)), 0);
  ASSERT_TRUE(c.Wait());
  EXPECT_EQ(c.result.load(), 160);
  EXPECT_TRUE(log.Contains("Exception RunObjectProc"));
  engine.Stop(TRUE);

  engine.body = Reports(0);
  Completion t;
  ASSERT_EQ(engine.InstallControl("", "x.cab", "", "", &ThrowingCallback, Value(t)), 0);
  ASSERT_TRUE(t.Wait());
  engine.Stop(TRUE);
  EXPECT_TRUE(log.Contains("Exception occurred in Callback func"));
  EXPECT_TRUE(log.Contains("Thread finished, 1064"));
}

TEST_F(EngineProtocol, TheTemporaryFolderIsRemovedAfterAFailedRequest) {
  kittest::TempFolder parent;
  std::string temp = parent / "request";
  ASSERT_TRUE(CreateDirectoryA(temp.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((temp + "\\sub").c_str(), nullptr));
  kittest::WriteTextFile(temp + "\\sub\\file.bin", "data");
  kittest::WriteTextFile(temp + "\\package.cab", "data");

  TestEngine engine;
  engine.body = [temp](TestEngine& e) {
    e.SetTempFolder(temp);
    e.SetDecision(2);
    return 1603;
  };
  Completion c;
  ASSERT_EQ(engine.InstallControl("", "x.cab", "", "", &RecordCompletion, Value(c)), 0);
  ASSERT_TRUE(c.Wait());
  engine.Stop(TRUE);
  EXPECT_EQ(c.result.load(), 1603);
  EXPECT_FALSE(kittest::FileExists(temp));
}

TEST_F(EngineProtocol, EveryRequestWritesItsAlwaysLineNamingTheComponent) {
  log.SetLevel(1);  // the line is written whatever the level
  log.Clear();
  TestEngine engine;
  Completion c;
  ASSERT_EQ(engine.InstallControl("", "x.cab", "", "", &RecordCompletion, Value(c)), 0);
  ASSERT_TRUE(c.Wait());
  engine.Stop(TRUE);
  EXPECT_EQ(log.Count("0,,,, Request to install/update a control\n"), 1u);
  EXPECT_FALSE(log.Contains("Request to install control CLSID"));  // level 48 only
}

TEST_F(EngineProtocol, TheLocalInstallChecksItsPathAndTheStopBeforeTheInstaller) {
  TestEngine engine;
  // A three-letter path fails before the stop is looked at; the extension is
  // compared without regard to case; the installer's failure is the result.
  EXPECT_EQ(-1, engine.InstallControl("abc", 1));
  EXPECT_EQ(-1, engine.InstallControl("C:\\pkg.txt", 2));
  EXPECT_NE(0, engine.InstallControl("C:\\missing\\PKG.CAB", 1));
  EXPECT_EQ(1u, log.Count("m_cKitLoader.Install() failed"));
  engine.RequestStop();
  EXPECT_EQ(-1, engine.InstallControl("abc", 1));
  EXPECT_EQ(ERROR_CANCELLED, engine.InstallControl("C:\\pkg.cab", 1));
  EXPECT_EQ(2u, log.Count("incorect file extension"));
  EXPECT_EQ(5u, log.Count("USmartUpdateEx::InstallControl(), exit, FAILURE"));
}
