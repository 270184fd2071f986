// SHA-256 of what streams through this process (a file as it is written, or
// a file read through a handle already held), with the platform's BCrypt.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>

#include "foundation/handles.h"

namespace kit {

using Sha256Digest = std::array<unsigned char, 32>;

// A running SHA-256. A failure of the platform's hashing at any step leaves
// the object failed: Finish then reports false.
class Sha256 {
 public:
  Sha256();
  void Add(const void* data, std::size_t length);
  bool Finish(Sha256Digest* digest);

 private:
  UniqueWithCloser<void*> m_algorithm;
  UniqueWithCloser<void*> m_hash;
  bool m_failed = false;
};

// The SHA-256 of a file's whole content, read through `file` from its start.
bool DigestOfOpenFile(HANDLE file, Sha256Digest* digest);

}  // namespace kit
