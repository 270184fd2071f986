// An installed file is acceptable when its embedded signature is valid and
// its signer trusted.
#include "components/signer_trust.h"

#include "foundation/handles.h"
#include "trust/certinfo.h"

namespace {

thread_local SignatureAnswers* t_pAnswers = nullptr;

bool CheckSignature(const char* path) {
  CCertInfo certificate;
  return certificate.ProcessFile(path) && certificate.IsSignatureValid() && certificate.IsSignerTrusted(0);
}

// The file's identity and last write time; false when they cannot be read.
bool ReadIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
  kit::UniqueFile file(CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
  return file && GetFileInformationByHandle(file.get(), info);
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow && CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime) == 0;
}

}  // namespace

SignatureAnswers::SignatureAnswers() : m_pOuter(t_pAnswers) { t_pAnswers = this; }

SignatureAnswers::~SignatureAnswers() { t_pAnswers = m_pOuter; }

bool IsFileSignedByTrustedSigner(const char* path) {
  SignatureAnswers* answers = t_pAnswers;
  BY_HANDLE_FILE_INFORMATION before;
  if (!answers || !ReadIdentity(path, &before)) return CheckSignature(path);
  for (const SignatureAnswers::Answer& a : answers->m_answers) {
    if (a.volume == before.dwVolumeSerialNumber && a.indexHigh == before.nFileIndexHigh &&
        a.indexLow == before.nFileIndexLow && CompareFileTime(&a.written, &before.ftLastWriteTime) == 0)
      return a.trusted;
  }
  const bool trusted = CheckSignature(path);
  // Kept only when the path named the same unchanged file all along.
  BY_HANDLE_FILE_INFORMATION after;
  if (ReadIdentity(path, &after) && SameFile(before, after))
    answers->m_answers.push_back({before.dwVolumeSerialNumber, before.nFileIndexHigh, before.nFileIndexLow,
                                  before.ftLastWriteTime, trusted});
  return trusted;
}
