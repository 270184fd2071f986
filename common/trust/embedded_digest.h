// The project's own check of a signed cabinet's Authenticode digest: the
// signature over the signed content must verify, and the digest of the
// file's signed ranges, computed with the platform's hashing, must equal the
// digest that content holds. It only ever refuses: some versions of the
// platform accept a cabinet changed after signing.
#pragma once

#include <windows.h>

// 0 when the digests agree or the file is no cabinet (other formats are left
// to WinVerifyTrust); TRUST_E_NOSIGNATURE for a cabinet without signature;
// TRUST_E_BAD_DIGEST for a mismatch or a signature that can't be read; the
// Win32 error when the file can't be read.
DWORD VerifyEmbeddedDigest(const char* path);
