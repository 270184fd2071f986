// The DER walk to a signature's digest and the digest ranges of a signed
// cabinet, on buffers built here.
#include "trust/authenticode_digest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Bytes = std::string;

Bytes Tlv(unsigned char tag, const Bytes& content) {
  Bytes out(1, static_cast<char>(tag));
  const std::size_t n = content.size();
  if (n < 0x80) {
    out += static_cast<char>(n);
  } else {
    out += '\x82';
    out += static_cast<char>(n >> 8);
    out += static_cast<char>(n & 0xFF);
  }
  return out + content;
}

const Bytes kSha256Oid("\x60\x86\x48\x01\x65\x03\x04\x02\x01", 9);

const Bytes kMessageDigestOid("\x2A\x86\x48\x86\xF7\x0D\x01\x09\x04", 9);

// A PKCS#7 signedData whose SpcIndirectDataContent signs `digest`, with one
// signer whose messageDigest attribute is `messageDigest`.
Bytes SignedBlob(const Bytes& oid, const Bytes& digest, const Bytes& messageDigest = Bytes(32, '\x77')) {
  const Bytes digestInfo = Tlv(0x30, Tlv(0x30, Tlv(0x06, oid) + Tlv(0x05, "")) + Tlv(0x04, digest));
  const Bytes indirect = Tlv(0x30, Tlv(0x30, Tlv(0x06, "\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x19")) + digestInfo);
  const Bytes content = Tlv(0x30, Tlv(0x06, Bytes("\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x04", 10)) + Tlv(0xA0, indirect));
  const Bytes attributes = Tlv(0xA0, Tlv(0x30, Tlv(0x06, "\x2B\x06\x01") + Tlv(0x31, Tlv(0x05, ""))) +
                                         Tlv(0x30, Tlv(0x06, kMessageDigestOid) + Tlv(0x31, Tlv(0x04, messageDigest))));
  const Bytes signer = Tlv(0x30, Tlv(0x02, "\x01") + Tlv(0x30, "") + Tlv(0x30, Tlv(0x06, kSha256Oid)) + attributes +
                                     Tlv(0x30, "") + Tlv(0x04, "sig"));
  const Bytes signedData =
      Tlv(0x30, Tlv(0x02, "\x01") + Tlv(0x31, "") + content + Tlv(0xA0, "certificates") + Tlv(0x31, signer));
  return Tlv(0x30, Tlv(0x06, Bytes("\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02", 9)) + Tlv(0xA0, signedData));
}

const std::uint8_t* U(const Bytes& b) { return reinterpret_cast<const std::uint8_t*>(b.data()); }

TEST(AuthenticodeDigest, DerElementsAndTheSignedDigest) {
  authenticode::DerElement e;
  const struct {
    Bytes der;
    bool ok;
    std::size_t offset, length;
  } elements[] = {
      {Bytes("\x04\x02\xAA\xBB", 4), true, 2, 2},
      {Bytes("\x30\x81\x01\x00", 4), true, 3, 1},
      {Bytes("\x30\x03\x00", 3), false, 0, 0},                  // content beyond the end
      {Bytes("\x30\x80\x00\x00", 4), false, 0, 0},              // indefinite length
      {Bytes("\x30\x85\x00\x00\x00\x00\x01\x00", 8), false, 0, 0},  // five length bytes
      {Bytes("\x1F\x01\x00", 3), false, 0, 0},                  // high tag number
      {Bytes("\x30\x84\xFF\xFF\xFF\xF0", 6), false, 0, 0},      // a length far beyond the buffer
      {Bytes("\x30", 1), false, 0, 0},
  };
  for (const auto& c : elements) {
    SCOPED_TRACE(testing::PrintToString(c.der));
    ASSERT_EQ(authenticode::ReadDerElement(U(c.der), c.der.size(), 0, e), c.ok);
    if (c.ok) {
      EXPECT_EQ(e.contentOffset, c.offset);
      EXPECT_EQ(e.contentLength, c.length);
    }
  }

  const Bytes digest(32, '\x5A');
  const Bytes blob = SignedBlob(kSha256Oid, digest);
  authenticode::SignedDigest signedDigest;
  ASSERT_TRUE(authenticode::ReadSignedDigest(U(blob), blob.size(), signedDigest));
  EXPECT_EQ(signedDigest.algorithm, authenticode::DigestAlgorithm::kSha256);
  EXPECT_EQ(Bytes(signedDigest.value.begin(), signedDigest.value.end()), digest);
  EXPECT_EQ(signedDigest.signerAlgorithm, authenticode::DigestAlgorithm::kSha256);
  EXPECT_EQ(Bytes(signedDigest.messageDigest.begin(), signedDigest.messageDigest.end()), Bytes(32, '\x77'));
  EXPECT_EQ(blob.substr(signedDigest.content.offset - 2, 2), "\x30\x41");  // the content's value bytes
  EXPECT_EQ(signedDigest.content.length, 0x41u);
  // Every shorter prefix, an unknown algorithm, a digest of the wrong length
  // and a deep nest of sequences are refused.
  for (std::size_t n = 0; n < blob.size(); ++n)
    EXPECT_FALSE(authenticode::ReadSignedDigest(U(blob), n, signedDigest)) << n;
  const Bytes md5 = SignedBlob(Bytes("\x2A\x86\x48\x86\xF7\x0D\x02\x05", 8), Bytes(16, '\x01'));
  const Bytes shortDigest = SignedBlob(kSha256Oid, Bytes(20, '\x01'));
  const Bytes shortMessageDigest = SignedBlob(kSha256Oid, digest, Bytes(20, '\x01'));
  Bytes nest = "\x05";
  for (int i = 0; i < 2000; ++i) nest = Tlv(0x30, nest);
  for (const Bytes* bad : {&md5, &shortDigest, &shortMessageDigest, static_cast<const Bytes*>(&nest)})
    EXPECT_FALSE(authenticode::ReadSignedDigest(U(*bad), bad->size(), signedDigest));
}

TEST(AuthenticodeDigest, CabinetRanges) {
  // A signed cabinet's header: reserve flag, cbCFHeader 20, signature at
  // offset 100 of length 20 in a file of 120 bytes.
  Bytes cab(120, '\0');
  cab.replace(0, 4, "MSCF");
  cab[30] = 0x04;
  cab[36] = 20;
  cab[44] = 100;
  cab[48] = 20;
  authenticode::CabSignature sig;
  std::vector<authenticode::ByteRange> ranges;
  ASSERT_EQ(authenticode::CabDigestRanges(U(cab), cab.size(), sig, ranges), authenticode::CabLayout::kSigned);
  EXPECT_EQ(sig.offset, 100u);
  EXPECT_EQ(sig.length, 20u);
  ASSERT_EQ(ranges.size(), 3u);
  const std::size_t expected[][2] = {{0, 4}, {8, 26}, {56, 44}};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(ranges[i].offset, expected[i][0]);
    EXPECT_EQ(ranges[i].length, expected[i][1]);
  }

  const struct {
    const char* name;
    std::size_t at;
    char value;
    std::size_t size;
    authenticode::CabLayout layout;
  } variants[] = {
      {"not a cabinet", 0, 'X', 120, authenticode::CabLayout::kNotCabinet},
      {"no reserve flag", 30, 0, 120, authenticode::CabLayout::kUnsigned},
      {"another reserve size", 36, 8, 120, authenticode::CabLayout::kUnsigned},
      {"no signature offset", 44, 0, 120, authenticode::CabLayout::kUnsigned},
      {"blob beyond the file", 48, 21, 120, authenticode::CabLayout::kMalformed},
      {"blob inside the header", 44, 40, 120, authenticode::CabLayout::kMalformed},
      {"truncated file", 0, 'M', 110, authenticode::CabLayout::kMalformed},
      {"header cut short", 0, 'M', 40, authenticode::CabLayout::kUnsigned},
  };
  for (const auto& v : variants) {
    SCOPED_TRACE(v.name);
    Bytes changed = cab;
    changed[v.at] = v.value;
    EXPECT_EQ(authenticode::CabDigestRanges(U(changed), v.size, sig, ranges), v.layout);
  }
}

}  // namespace
