// Prints the pinned table a build generated, one row a line: the serial
// number in hexadecimal, most significant byte first, and the key text.
#include <cstdio>

#include "trust/pinned_certificates.h"

int main() {
  for (const PinnedCertificate& row : kPinnedCertificates) {
    for (std::size_t i = row.serialLength; i > 0; --i) std::printf("%02X", row.serial[i - 1]);
    std::printf(" %s\n", row.publicKey);
  }
  return 0;
}
