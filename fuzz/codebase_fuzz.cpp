// Codebases, URLs and the class identifiers that pick the install route.
#include "http/codebase.h"
#include "engine/route_decision.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = fuzzing::SplitAtNul(data, size, 2);
  UpdateInfo info;
  ParseUpdateInfo(parts[0].c_str(), &info);
  int protocol = 0, port = 0;
  UString host, path;
  for (bool other : {false, true}) ParseURL(parts[0].c_str(), &protocol, &host, &path, &port, other);
  (void)IsServiceClass(parts[1].c_str());
  (void)IsServiceUpdateClass(parts[1].c_str());
  return 0;
}
