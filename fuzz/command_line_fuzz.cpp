// The program's command line: tokenized, then interpreted.
#include <cstddef>
#include <cstdint>
#include <string>

#include "kitloader/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  (void)ParseArguments(TokenizeCommandLine(line.c_str()));
  return 0;
}
