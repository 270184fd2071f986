// The digests of the staged files and their check (see staged_files.h).
#include "cabinstaller/staged_files.h"

#include "cabinstaller/cab_directory.h"
#include "foundation/errorlog.h"
#include "foundation/nofollow_delete.h"

namespace {

const char kCheck[] = "UKitLoader::HoldVerifiedFile()";

}  // namespace

std::string StagedFiles::Key(const UString& path) {
  std::string key;
  for (char c : path.str()) {
    if (c == '/') c = '\\';
    if (c == '\\' && !key.empty() && key.back() == '\\') continue;
    key += c;
  }
  if (!key.empty()) CharUpperBuffA(&key[0], static_cast<DWORD>(key.size()));
  return key;
}

DWORD StagedFiles::Hold(const UString& path, const UString& cabFolder, const UString& tempFolder,
                        kit::UniqueFile* held, kit::Sha256Digest* digest) const {
  const auto recorded = m_digests.find(Key(path));
  // Only a file of the extraction (or one placed from it) is checked; where
  // nothing was extracted and nothing stands, the caller's own open fails.
  const bool staged = recorded != m_digests.end() || cab::LiesWithin(cabFolder.str(), path.str()) ||
                      cab::LiesWithin(tempFolder.str(), path.str());
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

DWORD StagedFiles::HoldAllBelow(const UString& cabFolder, const UString& tempFolder,
                                std::vector<kit::UniqueFile>* held) const {
  const std::string folder = Key(cabFolder);
  for (const auto& entry : m_digests) {
    if (entry.first.compare(0, folder.size(), folder) != 0) continue;
    held->emplace_back();
    const DWORD bad = Hold(UString(entry.first.c_str()), cabFolder, tempFolder, &held->back());
    if (bad != 0) return bad;
  }
  return 0;
}
