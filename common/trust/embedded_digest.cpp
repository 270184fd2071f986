// The digest of a signed cabinet, recomputed with BCrypt over the ranges its
// Authenticode signature covers and compared with the digest it signs.
#include "trust/embedded_digest.h"

#include <bcrypt.h>
#include <wincrypt.h>

#include <cstring>
#include <vector>

#include "foundation/errorlog.h"
#include "foundation/handles.h"
#include "foundation/m_textconv.h"
#include "trust/authenticode_digest.h"
#include "delayload/system_library.h"

namespace {

const char kFunction[] = "VerifyEmbeddedDigest()";

const wchar_t* AlgorithmName(authenticode::DigestAlgorithm algorithm) {
  switch (algorithm) {
    case authenticode::DigestAlgorithm::kSha1: return BCRYPT_SHA1_ALGORITHM;
    case authenticode::DigestAlgorithm::kSha256: return BCRYPT_SHA256_ALGORITHM;
    case authenticode::DigestAlgorithm::kSha384: return BCRYPT_SHA384_ALGORITHM;
    case authenticode::DigestAlgorithm::kSha512: return BCRYPT_SHA512_ALGORITHM;
    default: return nullptr;
  }
}

// The digest of the ranges; empty when the platform's hashing failed.
std::vector<BYTE> HashRanges(const wchar_t* algorithmName, std::size_t length, const BYTE* file,
                             const std::vector<authenticode::ByteRange>& ranges) {
  BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
  if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&rawAlgorithm, algorithmName, nullptr, 0))) return {};
  kit::UniqueWithCloser<BCRYPT_ALG_HANDLE> algorithm(rawAlgorithm,
                                                     [](BCRYPT_ALG_HANDLE a) { ::BCryptCloseAlgorithmProvider(a, 0); });
  BCRYPT_HASH_HANDLE rawHash = nullptr;
  if (!BCRYPT_SUCCESS(::BCryptCreateHash(algorithm.get(), &rawHash, nullptr, 0, nullptr, 0, 0))) return {};
  kit::UniqueWithCloser<BCRYPT_HASH_HANDLE> hash(rawHash, [](BCRYPT_HASH_HANDLE h) { ::BCryptDestroyHash(h); });
  for (const authenticode::ByteRange& range : ranges) {
    if (!BCRYPT_SUCCESS(::BCryptHashData(hash.get(), const_cast<BYTE*>(file + range.offset),
                                         static_cast<ULONG>(range.length), 0)))
      return {};
  }
  std::vector<BYTE> digest(length);
  if (!BCRYPT_SUCCESS(::BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(length), 0))) return {};
  return digest;
}

// Whether the signer's signature over the blob's signed content verifies,
// with crypt32.dll loaded at run time: some versions of the platform never
// check it, and a digest is only worth what its signature proves.
bool SignatureVerifies(const BYTE* blob, std::size_t length) {
  kit::UniqueModule crypt32(kit::LoadSystemLibrary("crypt32.dll"));
  if (!crypt32) return false;
  auto verify = reinterpret_cast<decltype(&::CryptVerifyMessageSignature)>(
      reinterpret_cast<void*>(::GetProcAddress(crypt32.get(), "CryptVerifyMessageSignature")));
  if (!verify) return false;
  CRYPT_VERIFY_MESSAGE_PARA para{};
  para.cbSize = sizeof para;
  para.dwMsgAndCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
  return verify(&para, 0, blob, static_cast<DWORD>(length), nullptr, nullptr, nullptr) != FALSE;
}

DWORD Refuse(DWORD code, const char* reason, const char* path) {
  LogRecord(kLogErrors, kFunction, UMessage::Format("%1, %2, %3", reason, path, SGetErrorText(code)));
  return code;
}

}  // namespace

DWORD VerifyEmbeddedDigest(const char* path) {
  kit::UniqueFile file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return Refuse(::GetLastError(), "CreateFile() failed", path);
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) return Refuse(::GetLastError(), "GetFileSizeEx() failed", path);
  if (size.QuadPart == 0 || size.QuadPart > 0x7FFFFFFF) return 0;  // nothing a cabinet signature can cover
  kit::UniqueHandle mapping(::CreateFileMappingA(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return Refuse(::GetLastError(), "CreateFileMapping() failed", path);
  kit::UniqueWithCloser<const void*> view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0),
                                          [](const void* v) { ::UnmapViewOfFile(v); });
  if (!view) return Refuse(::GetLastError(), "MapViewOfFile() failed", path);
  const auto* bytes = static_cast<const BYTE*>(view.get());
  const std::size_t length = static_cast<std::size_t>(size.QuadPart);

  authenticode::CabSignature signature;
  std::vector<authenticode::ByteRange> ranges;
  switch (authenticode::CabDigestRanges(bytes, length, signature, ranges)) {
    case authenticode::CabLayout::kNotCabinet:
      return 0;
    case authenticode::CabLayout::kUnsigned:
      return Refuse(static_cast<DWORD>(TRUST_E_NOSIGNATURE), "the cabinet carries no signature", path);
    case authenticode::CabLayout::kMalformed:
      return Refuse(static_cast<DWORD>(TRUST_E_BAD_DIGEST), "the cabinet's signature lies outside the file", path);
    case authenticode::CabLayout::kSigned:
      break;
  }
  const BYTE* blob = bytes + signature.offset;
  authenticode::SignedDigest signedDigest;
  if (!authenticode::ReadSignedDigest(blob, signature.length, signedDigest))
    return Refuse(static_cast<DWORD>(TRUST_E_BAD_DIGEST), "the signed digest of the cabinet can't be read", path);
  // The chain from the signer's signature to the file: the signature covers
  // the messageDigest attribute, which is the digest of the signed content,
  // which holds the digest of the file.
  if (!SignatureVerifies(blob, signature.length))
    return Refuse(static_cast<DWORD>(TRUST_E_BAD_DIGEST), "the signature of the cabinet does not verify", path);
  const std::vector<BYTE> contentDigest = HashRanges(AlgorithmName(signedDigest.signerAlgorithm),
                                                     signedDigest.messageDigest.size(), blob, {signedDigest.content});
  if (contentDigest.empty() || contentDigest != signedDigest.messageDigest)
    return Refuse(static_cast<DWORD>(TRUST_E_BAD_DIGEST), "the signed content does not match its message digest", path);
  const std::vector<BYTE> computed =
      HashRanges(AlgorithmName(signedDigest.algorithm), signedDigest.value.size(), bytes, ranges);
  if (computed.empty() || computed != signedDigest.value)
    return Refuse(static_cast<DWORD>(TRUST_E_BAD_DIGEST), "the cabinet does not match its signed digest", path);
  LogRecord(kLogTrace, kFunction, UMessage::Format("%1, %2", "the cabinet matches its signed digest", path));
  return 0;
}
