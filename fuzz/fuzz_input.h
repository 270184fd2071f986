// What every fuzz target needs: the entry point's types and the input cut
// at its NUL bytes into up to `count` texts, the last taking the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzing {

inline std::vector<std::string> SplitAtNul(const std::uint8_t* data, std::size_t size, std::size_t count) {
  std::vector<std::string> parts(count);
  for (std::size_t i = 0, part = 0; i < size; ++i) {
    if (data[i] == 0 && part + 1 < count) ++part;
    else parts[part] += static_cast<char>(data[i]);
  }
  return parts;
}

}  // namespace fuzzing
