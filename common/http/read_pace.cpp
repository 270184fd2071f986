#include "http/read_pace.h"

#include <cstdint>

namespace kit_http {

namespace {

// The library's own receive buffer: reading less than this costs as much as
// asking what is ready.
const std::uint32_t kLibraryBuffer = 8 * 1024;
const std::uint32_t kLargestBlock = 64 * 1024;
// A rate seen over less time than this says little about the next block.
const std::uint32_t kRateSettledMs = 100;
const std::uint32_t kBlockMs = 250;

}  // namespace

std::uint32_t BlockingReadSize(std::uint64_t bytesSoFar, std::uint32_t elapsedMs, std::uint32_t room) {
  if (elapsedMs < kRateSettledMs) return 0;
  const std::uint64_t block =
      bytesSoFar > UINT64_MAX / kBlockMs ? kLargestBlock : bytesSoFar * kBlockMs / elapsedMs;
  std::uint32_t size = block < kLargestBlock ? static_cast<std::uint32_t>(block) : kLargestBlock;
  if (size > room) size = room;
  return size < kLibraryBuffer ? 0 : size;
}

}  // namespace kit_http
