// The installer pipes' messages: requests as a server reads them, responses
// as the client reads them.
#include <cstring>

#include "fuzz/fuzz_input.h"
#include "installer_service/pipe_messages.h"

using namespace pipeproto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  unsigned char header[kInstallHeaderSize] = {};
  std::memcpy(header, data, size < sizeof header ? size : sizeof header);
  (void)ClassifyRequest(DecodeHeader(header));
  std::u16string name;
  if (DecodeInstallName(header, &name)) (void)IsPlainFileName(name);
  (void)DecodeResponse(data, size);
  (void)PackageNameOf(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
