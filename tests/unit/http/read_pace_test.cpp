// How large a blocking read the transfer worker dares.
#include "http/read_pace.h"

#include <gtest/gtest.h>

namespace {

TEST(ReadPace, BlocksFollowTheRateSeenAndNeverOutgrowTheRoomOrTheLimit) {
  struct Case {
    std::uint64_t bytes;
    std::uint32_t elapsedMs, room, expected;
  } cases[] = {
      {100u << 20, 99, 1u << 20, 0},         // a rate seen too briefly is not trusted, however fast
      {100u << 20, 1000, 1u << 20, 65536},   // fast: the largest block
      {100u << 20, 1000, 20000, 20000},      // never past the room left
      {100u << 20, 1000, 4000, 0},           // a room below one library buffer: ask what is ready
      {64u << 10, 1000, 1u << 20, 16384},    // 64 KiB/s: a quarter second's worth
      {16u << 10, 1000, 1u << 20, 0},        // 16 KiB/s: 4 KiB a quarter second, ask what is ready
      {~0ull / 2, 0xFFFFFFFFu, 1u << 20, 65536},  // no overflow on extreme figures
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.expected, kit_http::BlockingReadSize(c.bytes, c.elapsedMs, c.room))
        << c.bytes << " bytes in " << c.elapsedMs << " ms, room " << c.room;
}

}  // namespace
