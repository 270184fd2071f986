// Whether an installed file carries a valid signature of a signer the suite
// trusts.
#pragma once

#include <windows.h>

#include <vector>

bool IsFileSignedByTrustedSigner(const char* path);

// The answers of one update decision: the decision and its registration check
// ask about the same installed file, which is checked once while an object of
// this kind lives on the asking thread. An answer is kept for the file's
// identity (volume and file index) and last write time, so a file replaced
// or written meanwhile is checked again; nothing is kept beyond the object.
class SignatureAnswers {
 public:
  SignatureAnswers();
  ~SignatureAnswers();
  SignatureAnswers(const SignatureAnswers&) = delete;
  SignatureAnswers& operator=(const SignatureAnswers&) = delete;

 private:
  struct Answer {
    DWORD volume, indexHigh, indexLow;
    FILETIME written;
    bool trusted;
  };
  friend bool IsFileSignedByTrustedSigner(const char* path);
  SignatureAnswers* m_pOuter;
  std::vector<Answer> m_answers;
};
