// Authenticode digest ranges of a signed cabinet and the DER walk to the
// digest its signature signs. No platform calls: the hashing is the
// caller's.
#include "trust/authenticode_digest.h"

#include <cstring>

namespace authenticode {
namespace {

// Cabinet header fields (little endian) and the signature's reserved area.
constexpr std::size_t kCabHeaderSize = 36;         // up to and including iCabinet
constexpr std::size_t kReserveFieldsSize = 4;      // cbCFHeader, cbCFFolder, cbCFData
constexpr std::size_t kSignatureReserveSize = 20;  // cbCFHeader of a signed cabinet
constexpr std::size_t kSignedHeaderEnd = kCabHeaderSize + kReserveFieldsSize + kSignatureReserveSize;
constexpr std::uint16_t kFlagReservePresent = 0x0004;

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

enum : std::uint8_t {
  kTagInteger = 0x02,
  kTagOctetString = 0x04,
  kTagOid = 0x06,
  kTagSequence = 0x30,
  kTagSet = 0x31,
  kTagContext0 = 0xA0,
  kTagContext1 = 0xA1,
};

// Object identifiers as their DER content bytes.
const std::uint8_t kOidSignedData[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
const std::uint8_t kOidIndirectData[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04};
const std::uint8_t kOidMessageDigest[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x04};
const std::uint8_t kOidSha1[] = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
const std::uint8_t kOidSha256[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
const std::uint8_t kOidSha384[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02};
const std::uint8_t kOidSha512[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03};

// A cursor over the elements of one constructed element's content.
class DerCursor {
 public:
  DerCursor(const std::uint8_t* data, std::size_t begin, std::size_t end) : m_data(data), m_pos(begin), m_end(end) {}
  DerCursor(const std::uint8_t* data, const DerElement& parent)
      : DerCursor(data, parent.contentOffset, parent.End()) {}

  // The next element whatever its tag.
  bool Any(DerElement& element) {
    if (!ReadDerElement(m_data, m_end, m_pos, element)) return false;
    m_pos = element.End();
    return true;
  }
  // The next element when it has the expected tag.
  bool Next(std::uint8_t tag, DerElement& element) {
    if (!ReadDerElement(m_data, m_end, m_pos, element) || element.tag != tag) return false;
    m_pos = element.End();
    return true;
  }
  bool NextOid(const std::uint8_t* oid, std::size_t length) {
    DerElement element;
    return Next(kTagOid, element) && element.contentLength == length &&
           std::memcmp(m_data + element.contentOffset, oid, length) == 0;
  }

 private:
  const std::uint8_t* m_data;
  std::size_t m_pos;
  std::size_t m_end;
};

template <std::size_t N>
bool OidIs(const std::uint8_t* data, const DerElement& oid, const std::uint8_t (&expected)[N]) {
  return oid.contentLength == N && std::memcmp(data + oid.contentOffset, expected, N) == 0;
}

// The hash algorithm an AlgorithmIdentifier names.
DigestAlgorithm AlgorithmOf(const std::uint8_t* data, const DerElement& algorithmIdentifier) {
  DerElement oid;
  DerCursor cursor(data, algorithmIdentifier);
  if (!cursor.Next(kTagOid, oid)) return DigestAlgorithm::kUnknown;
  if (OidIs(data, oid, kOidSha1)) return DigestAlgorithm::kSha1;
  if (OidIs(data, oid, kOidSha256)) return DigestAlgorithm::kSha256;
  if (OidIs(data, oid, kOidSha384)) return DigestAlgorithm::kSha384;
  if (OidIs(data, oid, kOidSha512)) return DigestAlgorithm::kSha512;
  return DigestAlgorithm::kUnknown;
}

// The first signer's digest algorithm and messageDigest attribute.
bool ReadFirstSigner(const std::uint8_t* blob, DerCursor& signedData, SignedDigest& digest) {
  DerElement element, signerInfos, signer, algorithm, attributes;
  do {  // certificates [0] and crls [1] come before the signer infos
    if (!signedData.Any(element)) return false;
  } while (element.tag == kTagContext0 || element.tag == kTagContext1);
  if (element.tag != kTagSet) return false;
  signerInfos = element;
  DerCursor infos(blob, signerInfos);
  if (!infos.Next(kTagSequence, signer)) return false;
  DerCursor info(blob, signer);
  if (!info.Next(kTagInteger, element) || !info.Next(kTagSequence, element) || !info.Next(kTagSequence, algorithm) ||
      !info.Next(kTagContext0, attributes))
    return false;
  digest.signerAlgorithm = AlgorithmOf(blob, algorithm);
  DerCursor attributeCursor(blob, attributes);
  DerElement attribute, values, value;
  while (attributeCursor.Next(kTagSequence, attribute)) {
    DerCursor fields(blob, attribute);
    if (!fields.NextOid(kOidMessageDigest, sizeof kOidMessageDigest)) continue;
    DerCursor valueCursor(blob, attribute);
    if (!valueCursor.Any(element) || !valueCursor.Next(kTagSet, values)) return false;
    DerCursor set(blob, values);
    if (!set.Next(kTagOctetString, value)) return false;
    digest.messageDigest.assign(blob + value.contentOffset, blob + value.End());
    return digest.signerAlgorithm != DigestAlgorithm::kUnknown &&
           digest.messageDigest.size() == DigestLength(digest.signerAlgorithm);
  }
  return false;
}

}  // namespace

bool ReadDerElement(const std::uint8_t* data, std::size_t end, std::size_t offset, DerElement& element) {
  if (!data || offset >= end || end - offset < 2) return false;
  const std::uint8_t tag = data[offset];
  if ((tag & 0x1F) == 0x1F) return false;  // high tag numbers never occur here
  std::size_t pos = offset + 1;
  std::size_t length = data[pos++];
  if (length & 0x80) {
    const std::size_t count = length & 0x7F;
    if (count == 0 || count > 4 || end - pos < count) return false;
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = (length << 8) | data[pos++];
  }
  if (length > end - pos) return false;
  element.tag = tag;
  element.contentOffset = pos;
  element.contentLength = length;
  return true;
}

bool ReadSignedDigest(const std::uint8_t* blob, std::size_t length, SignedDigest& digest) {
  DerElement contentInfo, explicitSigned, signedData, element, inner, explicitContent, indirect, digestInfo,
      algorithm, value;
  if (!ReadDerElement(blob, length, 0, contentInfo) || contentInfo.tag != kTagSequence) return false;
  DerCursor outer(blob, contentInfo);
  if (!outer.NextOid(kOidSignedData, sizeof kOidSignedData) || !outer.Next(kTagContext0, explicitSigned)) return false;
  DerCursor explicitCursor(blob, explicitSigned);
  if (!explicitCursor.Next(kTagSequence, signedData)) return false;
  DerCursor sd(blob, signedData);
  if (!sd.Next(kTagInteger, element) || !sd.Next(kTagSet, element) || !sd.Next(kTagSequence, inner)) return false;
  DerCursor content(blob, inner);
  if (!content.NextOid(kOidIndirectData, sizeof kOidIndirectData) || !content.Next(kTagContext0, explicitContent))
    return false;
  DerCursor explicitInner(blob, explicitContent);
  if (!explicitInner.Next(kTagSequence, indirect)) return false;
  DerCursor spc(blob, indirect);
  if (!spc.Next(kTagSequence, element) || !spc.Next(kTagSequence, digestInfo)) return false;
  DerCursor info(blob, digestInfo);
  if (!info.Next(kTagSequence, algorithm) || !info.Next(kTagOctetString, value)) return false;
  const DigestAlgorithm found = AlgorithmOf(blob, algorithm);
  if (found == DigestAlgorithm::kUnknown || value.contentLength != DigestLength(found)) return false;
  digest.algorithm = found;
  digest.value.assign(blob + value.contentOffset, blob + value.End());
  // The signer's messageDigest is the digest of the content's value bytes,
  // without the SEQUENCE's own tag and length.
  digest.content = {indirect.contentOffset, indirect.contentLength};
  return ReadFirstSigner(blob, sd, digest);
}

std::size_t DigestLength(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::kSha1: return 20;
    case DigestAlgorithm::kSha256: return 32;
    case DigestAlgorithm::kSha384: return 48;
    case DigestAlgorithm::kSha512: return 64;
    default: return 0;
  }
}

CabLayout CabDigestRanges(const std::uint8_t* file, std::size_t size, CabSignature& signature,
                          std::vector<ByteRange>& ranges) {
  ranges.clear();
  if (!file || size < kCabHeaderSize || std::memcmp(file, "MSCF", 4) != 0) return CabLayout::kNotCabinet;
  const std::uint16_t flags = Le16(file + 30);
  if (!(flags & kFlagReservePresent) || size < kSignedHeaderEnd ||
      Le16(file + kCabHeaderSize) != kSignatureReserveSize)
    return CabLayout::kUnsigned;
  // The reserved area: four bytes, the blob's offset, its length, eight bytes.
  const std::size_t offset = Le32(file + kCabHeaderSize + kReserveFieldsSize + 4);
  const std::size_t length = Le32(file + kCabHeaderSize + kReserveFieldsSize + 8);
  if (offset == 0 || length == 0) return CabLayout::kUnsigned;
  if (offset < kSignedHeaderEnd || offset > size || length > size - offset) return CabLayout::kMalformed;
  signature.offset = offset;
  signature.length = length;
  ranges.push_back({0, 4});                                   // signature bytes; reserved1 skipped
  ranges.push_back({8, 34 - 8});                              // cbCabinet .. setID; iCabinet and after skipped
  ranges.push_back({kSignedHeaderEnd - 4, offset - (kSignedHeaderEnd - 4)});  // last reserved word, then the rest
  return CabLayout::kSigned;
}

}  // namespace authenticode
