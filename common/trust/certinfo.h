// The Authenticode signature embedded in a file: its signer's certificate,
// names, serial number and issuer, the publisher information and the
// timestamp; and whether the signature is valid and its signer trusted.
// crypt32.dll and Wintrust.dll are loaded at run time.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "foundation/handles.h"
#include "foundation/m_strings.h"

// A certificate as the trust decision needs it. Heap blocks are LocalAlloc'ed.
struct CertRecord {
  LPSTR pszIssuerName = nullptr;
  LPSTR pszSubjectName = nullptr;
  BYTE* pbSerialNumber = nullptr;  // least significant byte first
  DWORD cbSerialNumber = 0;
  PCCERT_CONTEXT pCertContext = nullptr;  // the signer's record only
  CRYPT_DATA_BLOB sIssuer = {0, nullptr};  // encoded issuer, the signer's record only
};

// The SpcSpOpusInfo attribute of a signature, each text null when absent.
struct PublisherRecord {
  LPWSTR lpszProgramName = nullptr;
  LPWSTR lpszPublisherLink = nullptr;
  LPWSTR lpszMoreInfoLink = nullptr;
};

class CCertInfo {
 public:
  CCertInfo();
  virtual ~CCertInfo();
  CCertInfo(const CCertInfo&) = delete;
  CCertInfo& operator=(const CCertInfo&) = delete;

  void Cleanup();
  // Reads the embedded signature of the file and finds the signer's
  // certificate in it.
  bool ProcessFile(const char* path);
  bool GetCertificateInfo(PCCERT_CONTEXT certificate, CertRecord& record);
  bool GetProgAndPublisherInfo(const CMSG_SIGNER_INFO* signer, PublisherRecord& publisher);
  // The countersigner block is LocalAlloc'ed; the caller frees it in every case.
  bool GetTimeStampSignerInfo(const CMSG_SIGNER_INFO* signer, CMSG_SIGNER_INFO** counterSigner);
  bool GetDateOfTimeStamp(const CMSG_SIGNER_INFO* counterSigner, SYSTEMTIME& time);
  UString GetIssuerName() const;
  UString GetSubjectName() const;
  static bool BinToHex(DWORD count, const BYTE* bytes, UString& text, bool reverse);
  static bool BitBLOBToHexStr(const CRYPT_BIT_BLOB& blob, UString& text);

  // The trust decision.
  bool IsSignatureValid();
  bool IsSignerTrusted(int serviceOnly);
  bool IsOurCertificate();
  bool IsOurSerialNumberAndPubKey(const CertRecord& record);
  bool IsCertForInstService();

  const CertRecord& SignerInfo() const { return m_sSignerInfo; }
  const CertRecord& TimeStampSignerInfo() const { return m_sTimeStampSignerInfo; }
  const SYSTEMTIME& TimeStamp() const { return m_stTimeStamp; }
  const PublisherRecord& PublisherInfo() const { return m_sProgPublisherInfo; }
  const UString& FileName() const { return m_strFileName; }

 private:
  struct Crypt32 {
    decltype(&::CryptMsgGetParam) CryptMsgGetParam = nullptr;
    decltype(&::CryptMsgClose) CryptMsgClose = nullptr;
    decltype(&::CertOpenStore) CertOpenStore = nullptr;
    decltype(&::CertCloseStore) CertCloseStore = nullptr;
    decltype(&::CertFreeCertificateContext) CertFreeCertificateContext = nullptr;
    decltype(&::CryptQueryObject) CryptQueryObject = nullptr;
    decltype(&::CryptDecodeObject) CryptDecodeObject = nullptr;
    decltype(&::CertFindCertificateInStore) CertFindCertificateInStore = nullptr;
    decltype(&::CertGetNameStringA) CertGetNameStringA = nullptr;
  };

  void ClearRecord(CertRecord& record);
  bool ProcessFileBody(const char* path);
  bool MatchesPinnedPairs(const CertRecord& record, const std::size_t* pairs, std::size_t count);

  Crypt32 m_crypt;
  kit::UniqueModule m_hCrypt32;
  CertRecord m_sSignerInfo;
  CertRecord m_sTimeStampSignerInfo;
  SYSTEMTIME m_stTimeStamp{};
  PublisherRecord m_sProgPublisherInfo;
  UString m_strFileName;
};
