// Scoped memory and named mutexes, with a real second process where a mutex
// has to be abandoned.
#include "foundation/m_sync.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "support/test_support.h"

namespace {

std::string UniqueMutexName(const char* what) {
  static LONG counter = 0;
  return std::string("KitSyncTest_") + what + "_" + std::to_string(GetCurrentProcessId()) + "_" +
         std::to_string(InterlockedIncrement(&counter));
}

bool AllZero(const unsigned char* p, int n) {
  for (int i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

TEST(AutoMemory, AllocatesZerosResetsAndGrowsKeepingTheContents) {
  AutoMemory memory(5121);
  ASSERT_NE(memory.data(), nullptr);
  EXPECT_EQ(memory.size(), 5121);
  EXPECT_TRUE(AllZero(memory.data(), 5121));

  memory.reset(0);
  EXPECT_EQ(memory.data(), nullptr);
  EXPECT_EQ(memory.size(), 0);
  memory.reset(-5);
  EXPECT_EQ(memory.data(), nullptr);

  memory.grow(2049);  // without a buffer: as reset
  ASSERT_EQ(memory.size(), 2049);
  EXPECT_TRUE(AllZero(memory.data(), 2049));
  for (int i = 0; i < 2049; ++i) memory.data()[i] = static_cast<unsigned char>(i * 7);
  memory.grow(4096);
  ASSERT_EQ(memory.size(), 6145);
  for (int i = 0; i < 2049; ++i) ASSERT_EQ(memory.data()[i], static_cast<unsigned char>(i * 7)) << i;
}

TEST(AutoMemory, AllocationFailureRaisesAndKeepsWhatGrowHad) {
  kittest::MemoryLog log;
  AutoMemory memory(16);
  std::memset(memory.data(), 0xAB, 16);
  try {
    memory.grow(0x7FFFFFF0);  // far beyond a 32-bit process's heap
    FAIL() << "no exception";
  } catch (UException& e) {
    EXPECT_EQ(e.Code(), -1);
    EXPECT_STREQ(e.Function(), "AutoMemory::malloc");
    EXPECT_STREQ(e.Message(), "EXCEPTION - malloc error (size), 2147483648");
  }
  ASSERT_EQ(memory.size(), 16);
  EXPECT_EQ(memory.data()[15], 0xAB);

  EXPECT_THROW(memory.reset(0x7FFFFFFF), UException);
  EXPECT_EQ(memory.data(), nullptr) << "reset frees the old buffer first";
  EXPECT_EQ(memory.size(), 0);
  EXPECT_EQ(log.Count("malloc error (size)"), 2u);
}

TEST(UAutoMutex, TakesAMutexAbandonedByAProcessThatDied) {
  const std::string name = UniqueMutexName("abandoned");
  UMutex mutex(name.c_str());
  const std::string writer = kittest::WindowsPathOf(KIT_LOGWRITER_EXE);
  kittest::ProcessResult child = kittest::RunProcess("\"" + writer + "\" abandon " + name);
  ASSERT_TRUE(child.started);
  ASSERT_EQ(child.exitCode, 0u);
  kittest::MemoryLog log;
  EXPECT_NO_THROW({ UAutoMutex lock(mutex, 1000); });
  EXPECT_TRUE(log.Lines().empty());
}

TEST(UAutoMutex, RaisesTimeoutWhenHeldElsewhereAndReleasesWhenDone) {
  const std::string name = UniqueMutexName("held");
  UMutex mutex(name.c_str());
  kit::UniqueHandle held(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  kit::UniqueHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  std::thread holder([&] {
    UMutex same(name.c_str());
    UAutoMutex lock(same, INFINITE);
    SetEvent(held.get());
    WaitForSingleObject(done.get(), INFINITE);
  });
  ASSERT_EQ(WaitForSingleObject(held.get(), 60000), WAIT_OBJECT_0);
  kittest::MemoryLog log;
  try {
    UAutoMutex lock(mutex, 50);
    ADD_FAILURE() << "the mutex was taken while another thread held it";
  } catch (UException& e) {
    EXPECT_EQ(e.Code(), 258);
    EXPECT_STREQ(e.Function(), "UAutoMutex::UAutoMutex()");
    EXPECT_STREQ(e.Message(), "EXCEPTION - IsAcquired failed");
  }
  SetEvent(done.get());
  holder.join();
  // The holder's scope released it: now it is free.
  EXPECT_NO_THROW({ UAutoMutex lock(mutex, 0); });
}

}  // namespace
