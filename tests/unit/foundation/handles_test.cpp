// Owner types: each releases what it holds exactly once, on every path.
#include "foundation/handles.h"

#include <gtest/gtest.h>

namespace {

bool IsOpenHandle(HANDLE h) {
  DWORD flags = 0;
  return GetHandleInformation(h, &flags) != FALSE;
}

TEST(UniqueHandle, ClosesOnScopeExitAndNotAfterRelease) {
  HANDLE raw = nullptr;
  {
    kit::UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    raw = event.get();
    ASSERT_TRUE(IsOpenHandle(raw));
    kit::UniqueHandle moved(std::move(event));
    EXPECT_FALSE(event);
    EXPECT_EQ(moved.get(), raw);
  }
  EXPECT_FALSE(IsOpenHandle(raw));

  kit::UniqueHandle kept(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  raw = kept.release();
  EXPECT_FALSE(kept);
  EXPECT_TRUE(IsOpenHandle(raw));
  CloseHandle(raw);
}

TEST(UniqueFile, TreatsInvalidHandleValueAsEmpty) {
  kit::UniqueFile none(CreateFileA("Z:\\no\\such\\folder\\file.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                   nullptr));
  EXPECT_FALSE(none);
  EXPECT_EQ(none.get(), INVALID_HANDLE_VALUE);
}

TEST(UniqueWithCloser, RunsTheRunTimeCloserOnceForAValue) {
  int closed = 0;
  int lastValue = 0;
  auto closer = [&](int v) {
    ++closed;
    lastValue = v;
  };
  {
    kit::UniqueWithCloser<int> owner(7, closer);
    kit::UniqueWithCloser<int> moved(std::move(owner));
    kit::UniqueWithCloser<int> empty(0, closer);
  }
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(lastValue, 7);

  kit::UniqueWithCloser<int> released(9, closer);
  EXPECT_EQ(released.release(), 9);
  released.reset();
  EXPECT_EQ(closed, 1);
}

TEST(ScopeGuard, UndoesUnlessReleased) {
  int undone = 0;
  {
    auto guard = kit::MakeScopeGuard([&] { ++undone; });
  }
  {
    auto guard = kit::MakeScopeGuard([&] { ++undone; });
    guard.release();
  }
  EXPECT_EQ(undone, 1);
}

}  // namespace
