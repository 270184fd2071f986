// The test programs' entry point. After the tests and every static object's
// clean-up, the program ends itself at once instead of returning: ending
// normally detaches every DLL under the loader lock, and under Wine that
// step was seen to hang after all tests had passed, holding the test
// runner's output open until its time limit.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

int g_result = 0;

void EndWithoutDetachingDlls() {
  std::fflush(nullptr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(g_result));
}

// Registered before any other static object exists, so it runs after all
// of their destructors.
struct EndLast {
  EndLast() { std::atexit(&EndWithoutDetachingDlls); }
};
__attribute__((init_priority(101))) EndLast g_endLast;

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  g_result = RUN_ALL_TESTS();
  return g_result;
}
