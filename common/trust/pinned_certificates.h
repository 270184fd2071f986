// The code-signing certificates of the suite's maker: serial number and
// public key of each, in a fixed order. The table is generated at build time
// from the folder of signer certificates the build names (KITLOADER_SIGNERS_DIR;
// the development PKI's pki/signers unless told otherwise).
#pragma once

#include <cstddef>

struct PinnedCertificate {
  const unsigned char* serial;  // least significant byte first
  std::size_t serialLength;
  const char* publicKey;        // lower-case hex of the DER RSA public key
};

enum : std::size_t { kPinnedCertificateCount = 10 };
extern const PinnedCertificate kPinnedCertificates[kPinnedCertificateCount];

// The pairs the Installer Service is signed with (indexes into the table).
constexpr std::size_t kInstallerServicePairs[] = {0, 4};
