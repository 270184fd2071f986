// What is placed is what was verified: the SHA-256 each file had as it
// streamed out of the verified cabinet (and of each copy an installation
// placed from one), by its folded full path. A file is checked against it,
// and held open with read sharing only, before it is copied, registered or
// started.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "foundation/file_digest.h"
#include "foundation/handles.h"
#include "foundation/m_strings.h"

class StagedFiles {
 public:
  // Forgets every digest: a new extraction begins.
  void Clear() { m_digests.clear(); }
  void Record(const UString& path, const kit::Sha256Digest& digest) { m_digests[Key(path)] = digest; }
  bool Recorded(const UString& path) const { return m_digests.count(Key(path)) != 0; }

  // Opens a file of the extraction folder `cabFolder`, or one placed from
  // it, or one in `tempFolder` (never through a link) for reading with read
  // sharing only and checks its content against its recorded digest: 0 with
  // the file in *held (and its digest in *digest), or TRUST_E_BAD_DIGEST,
  // logged. A file outside those folders that was never recorded, or one
  // that neither stands nor was recorded: 0 with nothing held.
  DWORD Hold(const UString& path, const UString& cabFolder, const UString& tempFolder, kit::UniqueFile* held,
             kit::Sha256Digest* digest = nullptr) const;
  // Every recorded file below `cabFolder`, checked and held: 0 or
  // TRUST_E_BAD_DIGEST.
  DWORD HoldAllBelow(const UString& cabFolder, const UString& tempFolder, std::vector<kit::UniqueFile>* held) const;

 private:
  // A path as the file system compares it: one kind of separator, no
  // doubled ones, without regard to case.
  static std::string Key(const UString& path);

  std::map<std::string, kit::Sha256Digest> m_digests;
};
