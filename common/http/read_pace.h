// How much the transfer worker asks the library for in one blocking read.
// Win32-free.
#pragma once

#include <cstdint>

namespace kit_http {

// A blocking read of a block waits until the whole block has arrived, so a
// block is sized to take about a quarter second at the rate the connection
// has kept so far, and never more than 64 KiB or the room left. Until the
// connection has shown its rate for a while, or when that rate would give
// less than one library buffer (8 KiB), the answer is 0: ask what is ready
// first and read only that, which never waits beyond the first byte.
std::uint32_t BlockingReadSize(std::uint64_t bytesSoFar, std::uint32_t elapsedMs, std::uint32_t room);

}  // namespace kit_http
