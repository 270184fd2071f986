#include "foundation/file_digest.h"

#include <bcrypt.h>

#include <vector>

namespace kit {

Sha256::Sha256() {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    m_failed = true;
    return;
  }
  m_algorithm = UniqueWithCloser<void*>(algorithm, [](void* a) { BCryptCloseAlgorithmProvider(a, 0); });
  if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
    m_failed = true;
    return;
  }
  m_hash = UniqueWithCloser<void*>(hash, [](void* h) { BCryptDestroyHash(h); });
}

void Sha256::Add(const void* data, std::size_t length) {
  if (m_failed || length == 0) return;
  if (!BCRYPT_SUCCESS(BCryptHashData(m_hash.get(), static_cast<PUCHAR>(const_cast<void*>(data)),
                                     static_cast<ULONG>(length), 0)))
    m_failed = true;
}

bool Sha256::Finish(Sha256Digest* digest) {
  if (m_failed) return false;
  m_failed = true;  // a hash is finished once
  return BCRYPT_SUCCESS(BCryptFinishHash(m_hash.get(), digest->data(), static_cast<ULONG>(digest->size()), 0));
}

bool DigestOfOpenFile(HANDLE file, Sha256Digest* digest) {
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
  Sha256 sha;
  std::vector<unsigned char> piece(64 * 1024);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, piece.data(), static_cast<DWORD>(piece.size()), &read, nullptr)) return false;
    if (read == 0) break;
    sha.Add(piece.data(), read);
  }
  return sha.Finish(digest);
}

}  // namespace kit
