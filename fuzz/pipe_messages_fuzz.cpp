// The installer pipes' messages in both directions: requests as the service
// reads them and responses as the client reads them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "installer_service/pipe_messages.h"

using namespace pipeproto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  unsigned char header[kInstallHeaderSize] = {};
  std::memcpy(header, data, size < sizeof header ? size : sizeof header);
  const Header decoded = DecodeHeader(header);
  if (ClassifyRequest(decoded) == RequestKind::kInstall) (void)AnnouncedPackageSize(decoded);
  std::u16string name;
  if (DecodeInstallName(header, &name)) (void)IsPlainFileName(name);
  (void)DecodeResponse(data, size);
  (void)PackageNameOf(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
