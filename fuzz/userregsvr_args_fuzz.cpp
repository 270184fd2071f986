// The arguments the user-mode registration helper is started with.
#include "fuzz/fuzz_input.h"
#include "suite/userregsvr/userregsvr_args.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)ParseUserRegisterArgs(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
