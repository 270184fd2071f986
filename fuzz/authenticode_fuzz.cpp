// A cabinet's signature area and the PKCS#7 blob it points to; the input is
// also read as a bare blob. Copied so that a read past its end is caught.
#include "fuzz/fuzz_input.h"
#include "trust/authenticode_digest.h"

using namespace authenticode;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> file(data, data + size);
  CabSignature signature;
  std::vector<ByteRange> ranges;
  SignedDigest digest;
  if (CabDigestRanges(file.data(), file.size(), signature, ranges) == CabLayout::kSigned)
    ReadSignedDigest(file.data() + signature.offset, signature.length, digest);
  ReadSignedDigest(file.data(), file.size(), digest);
  return 0;
}
