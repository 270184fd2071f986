// A signed cabinet's signature area and the PKCS#7 blob it points to; the
// input is also read as a bare blob.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "trust/authenticode_digest.h"

using namespace authenticode;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Copied so that a read past the end of the input is caught as such.
  const std::vector<std::uint8_t> file(data, data + size);
  CabSignature signature;
  std::vector<ByteRange> ranges;
  SignedDigest digest;
  if (CabDigestRanges(file.data(), file.size(), signature, ranges) == CabLayout::kSigned)
    ReadSignedDigest(file.data() + signature.offset, signature.length, digest);
  if (ReadSignedDigest(file.data(), file.size(), digest)) (void)DigestLength(digest.algorithm);
  return 0;
}
