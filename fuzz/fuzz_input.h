// Splitting one fuzzer input into the pieces a target feeds to a parser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzing {

// The input cut at every NUL byte: up to `count` texts, the last one taking
// the rest (missing pieces are empty).
inline std::vector<std::string> SplitAtNul(const std::uint8_t* data, std::size_t size, std::size_t count) {
  std::vector<std::string> parts(count);
  std::size_t part = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && part + 1 < count) {
      ++part;
      continue;
    }
    parts[part] += static_cast<char>(data[i]);
  }
  return parts;
}

}  // namespace fuzzing
