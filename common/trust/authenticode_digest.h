// The parts of an Authenticode check that need no platform: walking the DER
// of a PKCS#7 signature to the digest it signs, and the byte ranges of a
// signed cabinet that digest covers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace authenticode {

// One DER element inside a buffer: its tag byte and where its content lies.
struct DerElement {
  std::uint8_t tag = 0;
  std::size_t contentOffset = 0;
  std::size_t contentLength = 0;
  std::size_t End() const { return contentOffset + contentLength; }
};

// Reads the element that starts at `offset` of data[0, end): definite
// lengths of at most four length bytes, content inside the range. False for
// anything else (indefinite length, high tag numbers, a length beyond end).
bool ReadDerElement(const std::uint8_t* data, std::size_t end, std::size_t offset, DerElement& element);

enum class DigestAlgorithm { kUnknown, kSha1, kSha256, kSha384, kSha512 };

struct ByteRange {
  std::size_t offset;
  std::size_t length;
};

// The digest that an Authenticode signature signs: the algorithm and value
// of the DigestInfo inside its SpcIndirectDataContent; and what ties that
// content to the signer's signature: the content bytes (inside the blob),
// the first signer's digest algorithm and its messageDigest attribute.
struct SignedDigest {
  DigestAlgorithm algorithm = DigestAlgorithm::kUnknown;
  std::vector<std::uint8_t> value;
  ByteRange content{0, 0};
  DigestAlgorithm signerAlgorithm = DigestAlgorithm::kUnknown;
  std::vector<std::uint8_t> messageDigest;
};

// Walks ContentInfo(signedData) -> SignedData -> contentInfo
// (SpcIndirectDataContent) -> DigestInfo, and SignedData -> signerInfos ->
// the first SignerInfo -> its messageDigest attribute, along fixed paths,
// never deeper. False when the blob does not have that shape.
bool ReadSignedDigest(const std::uint8_t* blob, std::size_t length, SignedDigest& digest);

// The number of bytes of a digest of that algorithm; 0 for kUnknown.
std::size_t DigestLength(DigestAlgorithm algorithm);

// Where a signed cabinet keeps its signature: the 20-byte reserved header
// area names the blob's offset and length.
struct CabSignature {
  std::size_t offset = 0;
  std::size_t length = 0;
};

enum class CabLayout {
  kSigned,       // signature found inside the file, ranges filled
  kNotCabinet,   // no "MSCF" header
  kUnsigned,     // a cabinet without the signature's reserved area
  kMalformed,    // a signature area that points outside the file or overlaps the header
};

// The ranges of a signed cabinet that its Authenticode digest covers, in
// order: the signature bytes, the header from cbCabinet to setID, the last
// four reserved bytes, and everything after the header up to the signature
// blob.
CabLayout CabDigestRanges(const std::uint8_t* file, std::size_t size, CabSignature& signature,
                          std::vector<ByteRange>& ranges);

}  // namespace authenticode
