// The program's command line: tokenized, then interpreted.
#include "fuzz/fuzz_input.h"
#include "kitloader/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)ParseArguments(TokenizeCommandLine(std::string(reinterpret_cast<const char*>(data), size).c_str()));
  return 0;
}
