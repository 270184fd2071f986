// The Authenticode chain policy for a signer certificate, asked of crypt32
// directly: some versions of WinVerifyTrust accept a chain that ends in a
// root the machine does not trust, or a certificate without the
// code-signing usage.
#pragma once

#include <windows.h>

// 0 when the chain of the file's signer (built with the certificates of its
// signature) satisfies the Authenticode policy; the policy's error otherwise
// (CERT_E_UNTRUSTEDROOT, CERT_E_CHAINING, CERT_E_WRONG_USAGE...), or the
// error of reading the signature.
DWORD VerifySignerChain(const char* path);
