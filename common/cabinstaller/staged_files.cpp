// What is placed is what was verified: the files of the extraction (and the
// copies placed from them) are checked against the SHA-256 each had as it
// streamed out of the verified cabinet, and held open with read sharing
// only while they are copied, registered or started.
#include <windows.h>

#include <string>
#include <vector>

#include "cabinstaller/UKitLoader.h"
#include "cabinstaller/cab_directory.h"
#include "foundation/nofollow_delete.h"

namespace {

const char kCheck[] = "UKitLoader::HoldVerifiedFile()";

}  // namespace

std::string UKitLoader::DigestKey(const UString& path) {
  std::string key;
  for (char c : path.str()) {
    if (c == '/') c = '\\';
    if (c == '\\' && !key.empty() && key.back() == '\\') continue;
    key += c;
  }
  if (!key.empty()) CharUpperBuffA(&key[0], static_cast<DWORD>(key.size()));
  return key;
}

DWORD UKitLoader::HoldVerifiedFile(const UString& path, kit::UniqueFile* held, kit::Sha256Digest* digest) {
  const auto recorded = m_digests.find(DigestKey(path));
  // Only a file of the extraction (or one placed from it) is checked; where
  // nothing was extracted and nothing stands, the caller's own open fails.
  const bool staged = recorded != m_digests.end() || cab::LiesWithin(m_strCabFolder.str(), path.str()) ||
                      cab::LiesWithin(m_strTempFolder.str(), path.str());
  if (!staged || (recorded == m_digests.end() && GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)) {
    held->reset();
    return 0;
  }
  kit::UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  const DWORD openError = file ? 0 : GetLastError();
  kit::NoFollowInfo info;
  kit::Sha256Digest now{};
  if (recorded == m_digests.end() || !file || !kit::ReadNoFollowInfo(file.get(), &info) || info.IsLink() ||
      info.IsFolder() || !kit::DigestOfOpenFile(file.get(), &now) || now != recorded->second) {
    LogRecord(kLogErrors, kCheck,
              UMessage::Format("%1, %2, %3", "the file is not the one the verified package holds", path,
                               recorded == m_digests.end() ? "not in the package" : openError ? "cannot be read"
                                                                                              : "changed"));
    return static_cast<DWORD>(TRUST_E_BAD_DIGEST);
  }
  if (digest) *digest = now;
  *held = std::move(file);
  return 0;
}

DWORD UKitLoader::HoldAllExtracted(std::vector<kit::UniqueFile>* held) {
  const std::string folder = DigestKey(m_strCabFolder);
  for (const auto& entry : m_digests) {
    if (entry.first.compare(0, folder.size(), folder) != 0) continue;
    held->emplace_back();
    const DWORD bad = HoldVerifiedFile(UString(entry.first.c_str()), &held->back());
    if (bad != 0) return bad;
  }
  return 0;
}
