// Whether an installed file carries a valid signature of a signer the suite
// trusts.
#pragma once

bool IsFileSignedByTrustedSigner(const char* path);
