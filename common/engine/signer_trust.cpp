// An installed file is acceptable when its embedded signature is valid and
// its signer trusted.
#include "engine/signer_trust.h"

#include "trust/certinfo.h"

bool IsFileSignedByTrustedSigner(const char* path) {
  CCertInfo certificate;
  return certificate.ProcessFile(path) && certificate.IsSignatureValid() && certificate.IsSignerTrusted(0);
}
