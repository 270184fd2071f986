// The installer pipes' messages: requests as a server reads them (with the
// stand-in service's recognition of its own update), responses as the client
// reads them.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "installer_server/server_rules.h"
#include "installer_service/pipe_messages.h"

using namespace pipeproto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  unsigned char header[kInstallHeaderSize] = {};
  std::memcpy(header, data, size < sizeof header ? size : sizeof header);
  (void)ClassifyRequest(DecodeHeader(header));
  std::u16string name;
  if (DecodeInstallName(header, &name) && IsPlainFileName(name)) {
    // The rest as the names of the received cabinet's files, one per line.
    std::vector<std::string> stored(1);
    for (std::size_t i = sizeof header; i < size; ++i) {
      if (data[i] == '\n')
        stored.emplace_back();
      else
        stored.back() += static_cast<char>(data[i]);
    }
    (void)ombrix::IsServiceUpdate(std::string(name.begin(), name.end()), stored);
  }
  (void)DecodeResponse(data, size);
  (void)PackageNameOf(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
