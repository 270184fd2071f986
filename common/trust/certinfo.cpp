// Reading a file's embedded Authenticode signature through crypt32.dll,
// loaded at run time.
#include "trust/certinfo.h"

#include <wintrust.h>

#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "foundation/UClasses.h"
#include "foundation/m_textconv.h"
#include "delayload/system_library.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kPathBufferLength = 1041;
const char kOidOpusInfo[] = "1.3.6.1.4.1.311.2.1.12";
const char kOidCounterSignature[] = "1.2.840.113549.1.9.6";
const char kOidSigningTime[] = "1.2.840.113549.1.9.5";

template <class F>
void LookUp(HMODULE module, const char* name, F& function) {
  function = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// The first attribute with that identifier, or null.
const CRYPT_ATTRIBUTE* FindAttribute(const CRYPT_ATTRIBUTES& attributes, const char* oid) {
  for (DWORD i = 0; i < attributes.cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = attributes.rgAttr[i];
    if (attribute.pszObjId && std::strcmp(attribute.pszObjId, oid) == 0) return &attribute;
  }
  return nullptr;
}

LPWSTR CopyWide(LPCWSTR text) {
  if (!text) return nullptr;
  const std::size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
  auto* copy = static_cast<LPWSTR>(::LocalAlloc(LPTR, bytes));
  if (copy) std::memcpy(copy, text, bytes);
  return copy;
}

// A publisher or more-information link is kept when it is a URL or a file.
LPWSTR CopyLink(const SPC_LINK* link) {
  if (!link) return nullptr;
  if (link->dwLinkChoice == SPC_URL_LINK_CHOICE) return CopyWide(link->pwszUrl);
  if (link->dwLinkChoice == SPC_FILE_LINK_CHOICE) return CopyWide(link->pwszFile);
  return nullptr;
}

void FreeLocal(void* block) {
  if (block) ::LocalFree(block);
}

}  // namespace

CCertInfo::CCertInfo() {
  m_hCrypt32.reset(kit::LoadSystemLibrary("crypt32.dll"));
  if (!m_hCrypt32) return;
  const HMODULE m = m_hCrypt32.get();
  LookUp(m, "CryptMsgGetParam", m_crypt.CryptMsgGetParam);
  LookUp(m, "CryptMsgClose", m_crypt.CryptMsgClose);
  LookUp(m, "CertOpenStore", m_crypt.CertOpenStore);
  LookUp(m, "CertCloseStore", m_crypt.CertCloseStore);
  LookUp(m, "CertFreeCertificateContext", m_crypt.CertFreeCertificateContext);
  LookUp(m, "CryptQueryObject", m_crypt.CryptQueryObject);
  LookUp(m, "CryptDecodeObject", m_crypt.CryptDecodeObject);
  LookUp(m, "CertFindCertificateInStore", m_crypt.CertFindCertificateInStore);
  LookUp(m, "CertGetNameStringA", m_crypt.CertGetNameStringA);
}

CCertInfo::~CCertInfo() { Cleanup(); }

void CCertInfo::ClearRecord(CertRecord& record) {
  FreeLocal(record.pszIssuerName);
  FreeLocal(record.pszSubjectName);
  FreeLocal(record.pbSerialNumber);
  FreeLocal(record.sIssuer.pbData);
  if (record.pCertContext && m_crypt.CertFreeCertificateContext) m_crypt.CertFreeCertificateContext(record.pCertContext);
  record = CertRecord();
}

void CCertInfo::Cleanup() {
  ClearRecord(m_sSignerInfo);
  ClearRecord(m_sTimeStampSignerInfo);
  FreeLocal(m_sProgPublisherInfo.lpszProgramName);
  FreeLocal(m_sProgPublisherInfo.lpszPublisherLink);
  FreeLocal(m_sProgPublisherInfo.lpszMoreInfoLink);
  m_sProgPublisherInfo = PublisherRecord();
  m_stTimeStamp = SYSTEMTIME{};
  m_strFileName = "";
}

bool CCertInfo::ProcessFile(const char* path) {
  static const char kFunction[] = "CCertInfo::ProcessFile()";
  Cleanup();
  if (!path) {
    LogRecord(kLogErrors, kFunction, UString("Filename missing"));
    return false;
  }
  if (!m_hCrypt32) {
    LogRecord(kLogErrors, kFunction, UString("Crypt32 DLL not loaded"));
    return false;
  }
  if (!m_crypt.CryptQueryObject || !m_crypt.CryptMsgGetParam || !m_crypt.CertFindCertificateInStore ||
      !m_crypt.CryptMsgClose || !m_crypt.CertCloseStore || !m_crypt.CertFreeCertificateContext) {
    LogRecord(kLogErrors, kFunction, UString("Crypt32 functions not loaded"));
    return false;
  }
  bool ok = false;
  int status = 0;
  CatchAndLog(KL_CATCH_SITE(kFunction, kFunction), status, [&] { ok = ProcessFileBody(path); });
  return ok;
}

bool CCertInfo::ProcessFileBody(const char* path) {
  static const char kFunction[] = "CCertInfo::ProcessFile()";
  wchar_t widePath[kPathBufferLength] = {};
  if (StringToWideChar(path, widePath, kPathBufferLength) != 0)
    KL_THROW(-1, kFunction, "EXCEPTION - %s, %s, %s", "StringToWideChar() failed", path,
             SGetErrorText(::GetLastError()).c_str());
  m_strFileName = path;

  HCERTSTORE rawStore = nullptr;
  HCRYPTMSG rawMessage = nullptr;
  DWORD encoding = 0, contentType = 0, formatType = 0;
  const BOOL queried = m_crypt.CryptQueryObject(CERT_QUERY_OBJECT_FILE, widePath,
                                                CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                                                CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &contentType,
                                                &formatType, &rawStore, &rawMessage, nullptr);
  const DWORD queryError = ::GetLastError();
  const Crypt32& c = m_crypt;
  kit::UniqueWithCloser<HCERTSTORE> store(rawStore, [&c](HCERTSTORE s) { c.CertCloseStore(s, 0); });
  kit::UniqueWithCloser<HCRYPTMSG> message(rawMessage, [&c](HCRYPTMSG m) { c.CryptMsgClose(m); });
  if (!queried) {
    if (queryError == static_cast<DWORD>(CRYPT_E_NO_MATCH))
      KL_THROW(static_cast<int>(queryError), kFunction, "EXCEPTION - %s",
               UMessage::Format("Failed to get signature of \"%1\", error 0x80092009", widePath).c_str());
    KL_THROW(static_cast<int>(queryError), kFunction, "EXCEPTION - %s, %s", "CryptQueryObject() failed",
             SGetErrorText(queryError).c_str());
  }

  DWORD size = 0;
  if (!c.CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size))
    KL_THROW(-1, kFunction, "EXCEPTION - %s, %s", "CryptMsgGetParam() failed", SGetErrorText(::GetLastError()).c_str());
  kit::UniqueLocal signerBlock(::LocalAlloc(LPTR, size));
  if (!signerBlock) KL_THROW(-1, kFunction, "EXCEPTION - %s", "failed to allocate memory for Signer Info");
  if (!c.CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, signerBlock.get(), &size))
    KL_THROW(-1, kFunction, "EXCEPTION - %s, %s", "CryptMsgGetParam() failed", SGetErrorText(::GetLastError()).c_str());
  const auto* signer = static_cast<const CMSG_SIGNER_INFO*>(signerBlock.get());

  GetProgAndPublisherInfo(signer, m_sProgPublisherInfo);

  auto findCertificate = [&](const CMSG_SIGNER_INFO* info) {
    CERT_INFO wanted{};
    wanted.Issuer = info->Issuer;
    wanted.SerialNumber = info->SerialNumber;
    PCCERT_CONTEXT found = c.CertFindCertificateInStore(store.get(), kEncoding, 0, CERT_FIND_SUBJECT_CERT, &wanted,
                                                         nullptr);
    if (!found)
      KL_THROW(-1, kFunction, "EXCEPTION - %s, %s", "CertFindCertificateInStore() failed",
               SGetErrorText(::GetLastError()).c_str());
    return kit::UniqueWithCloser<PCCERT_CONTEXT>(found, [&c](PCCERT_CONTEXT p) { c.CertFreeCertificateContext(p); });
  };

  auto certificate = findCertificate(signer);
  if (!GetCertificateInfo(certificate.get(), m_sSignerInfo))
    KL_THROW(-1, kFunction, "EXCEPTION - %s, %s", "GetCertificateInfo() failed", SGetErrorText(::GetLastError()).c_str());
  m_sSignerInfo.pCertContext = certificate.release();
  m_sSignerInfo.sIssuer.pbData = static_cast<BYTE*>(::LocalAlloc(LPTR, signer->Issuer.cbData ? signer->Issuer.cbData : 1));
  if (!m_sSignerInfo.sIssuer.pbData)
    KL_THROW(-1, kFunction, "EXCEPTION - %s, %s", "m_sSignerInfo.sIssuer.pbData is NULL",
             SGetErrorText(::GetLastError()).c_str());
  std::memcpy(m_sSignerInfo.sIssuer.pbData, signer->Issuer.pbData, signer->Issuer.cbData);
  m_sSignerInfo.sIssuer.cbData = signer->Issuer.cbData;

  CMSG_SIGNER_INFO* rawCounterSigner = nullptr;
  const bool stamped = GetTimeStampSignerInfo(signer, &rawCounterSigner);
  kit::UniqueLocal counterSigner(rawCounterSigner);
  if (stamped) {
    auto stampCertificate = findCertificate(rawCounterSigner);
    GetCertificateInfo(stampCertificate.get(), m_sTimeStampSignerInfo);
    GetDateOfTimeStamp(rawCounterSigner, m_stTimeStamp);
  }
  return true;
}

bool CCertInfo::GetCertificateInfo(PCCERT_CONTEXT certificate, CertRecord& record) {
  static const char kFunction[] = "CCertInfo::GetCertificateInfo()";
  if (!m_hCrypt32 || !m_crypt.CertGetNameStringA) {
    LogRecord(kLogWarnings, kFunction, UString("Crypt32 functions not available"));
    return false;
  }
  const CRYPT_INTEGER_BLOB& serial = certificate->pCertInfo->SerialNumber;
  if (serial.cbData) {
    if (auto* copy = static_cast<BYTE*>(::LocalAlloc(LPTR, serial.cbData))) {
      std::memcpy(copy, serial.pbData, serial.cbData);
      FreeLocal(record.pbSerialNumber);
      record.pbSerialNumber = copy;
      record.cbSerialNumber = serial.cbData;
    }
  }
  struct NameTexts {
    DWORD flags;
    LPSTR CertRecord::*field;
    const char* sizeFailure;
    const char* readFailure;
  };
  const NameTexts names[] = {
      {CERT_NAME_ISSUER_FLAG, &CertRecord::pszIssuerName, "Failed to get issuer name size", "Failed to get issuer name"},
      {0, &CertRecord::pszSubjectName, "Failed to get subject name size", "Failed to get subject name"},
  };
  for (const NameTexts& name : names) {
    const DWORD size =
        m_crypt.CertGetNameStringA(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, name.flags, nullptr, nullptr, 0);
    if (size == 0) {
      LogRecord(kLogWarnings, kFunction, UString(name.sizeFailure));
      return false;
    }
    auto* text = static_cast<LPSTR>(::LocalAlloc(LPTR, size));
    if (!text) {
      LogRecord(kLogWarnings, kFunction, UMessage::Format("Failed to allocate memory (%1 bytes)", size));
      return false;
    }
    FreeLocal(record.*name.field);
    record.*name.field = text;
    if (!m_crypt.CertGetNameStringA(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, name.flags, nullptr, text, size)) {
      LogRecord(kLogWarnings, kFunction, UString(name.readFailure));
      return false;
    }
  }
  return true;
}

bool CCertInfo::GetProgAndPublisherInfo(const CMSG_SIGNER_INFO* signer, PublisherRecord& publisher) {
  static const char kFunction[] = "CCertInfo::GetProgAndPublisherInfo()";
  if (!m_hCrypt32 || !m_crypt.CryptDecodeObject) {
    LogRecord(kLogWarnings, kFunction, UString("Crypt32 functions not available"));
    return false;
  }
  const CRYPT_ATTRIBUTE* attribute = FindAttribute(signer->AuthAttrs, kOidOpusInfo);
  if (!attribute || attribute->cValue == 0) return false;
  const CRYPT_ATTR_BLOB& value = attribute->rgValue[0];
  DWORD size = 0;
  if (!m_crypt.CryptDecodeObject(kEncoding, kOidOpusInfo, value.pbData, value.cbData, 0, nullptr, &size)) {
    LogRecord(kLogWarnings, kFunction, UString("Failed to get size of publisher information"));
    return false;
  }
  kit::UniqueLocal block(::LocalAlloc(LPTR, size));
  if (!block) {
    LogRecord(kLogWarnings, kFunction, UString("Failed to allocate memory for publisher information"));
    return false;
  }
  if (!m_crypt.CryptDecodeObject(kEncoding, kOidOpusInfo, value.pbData, value.cbData, 0, block.get(), &size)) {
    const DWORD error = ::GetLastError();
    LogRecord(kLogWarnings, kFunction, UMessage::Format("Failed to get publisher information (error: %1)", error));
    return false;
  }
  const auto* opus = static_cast<const SPC_SP_OPUS_INFO*>(block.get());
  publisher.lpszProgramName = CopyWide(opus->pwszProgramName);
  publisher.lpszPublisherLink = CopyLink(opus->pPublisherInfo);
  publisher.lpszMoreInfoLink = CopyLink(opus->pMoreInfo);
  return true;
}

bool CCertInfo::GetTimeStampSignerInfo(const CMSG_SIGNER_INFO* signer, CMSG_SIGNER_INFO** counterSigner) {
  static const char kFunction[] = "CCertInfo::GetTimeStampSignerInfo()";
  if (!m_hCrypt32 || !m_crypt.CryptDecodeObject) {
    LogRecord(kLogWarnings, kFunction, UString("Crypt32 functions not available"));
    return false;
  }
  *counterSigner = nullptr;
  const CRYPT_ATTRIBUTE* attribute = FindAttribute(signer->UnauthAttrs, kOidCounterSignature);
  if (!attribute || attribute->cValue == 0) return false;
  const CRYPT_ATTR_BLOB& value = attribute->rgValue[0];
  DWORD size = 0;
  if (!m_crypt.CryptDecodeObject(kEncoding, PKCS7_SIGNER_INFO, value.pbData, value.cbData, 0, nullptr, &size)) {
    const DWORD error = ::GetLastError();
    LogRecord(kLogWarnings, kFunction, UMessage::Format("Failed to get size for signer information (error: %1)", error));
    return false;
  }
  *counterSigner = static_cast<CMSG_SIGNER_INFO*>(::LocalAlloc(LPTR, size));
  if (!*counterSigner) {
    LogRecord(kLogWarnings, kFunction, UString("Failed to allocate memory for signer information"));
    return false;
  }
  if (!m_crypt.CryptDecodeObject(kEncoding, PKCS7_SIGNER_INFO, value.pbData, value.cbData, 0, *counterSigner, &size)) {
    const DWORD error = ::GetLastError();
    LogRecord(kLogWarnings, kFunction,
              UMessage::Format("Failed to get signer information for timestamp certificate (error: %1)", error));
    return false;
  }
  return true;
}

bool CCertInfo::GetDateOfTimeStamp(const CMSG_SIGNER_INFO* counterSigner, SYSTEMTIME& time) {
  static const char kFunction[] = "CCertInfo::GetDateOfTimeStamp()";
  if (!m_hCrypt32 || !m_crypt.CryptDecodeObject || !m_crypt.CertFreeCertificateContext) {
    LogRecord(kLogWarnings, kFunction, UString("Crypt32 functions not available"));
    return false;
  }
  const CRYPT_ATTRIBUTE* attribute = FindAttribute(counterSigner->AuthAttrs, kOidSigningTime);
  if (!attribute || attribute->cValue == 0) return false;
  FILETIME utc{}, local{};
  DWORD size = sizeof utc;
  if (!m_crypt.CryptDecodeObject(kEncoding, kOidSigningTime, attribute->rgValue[0].pbData, attribute->rgValue[0].cbData,
                                 0, &utc, &size))
    return false;
  return ::FileTimeToLocalFileTime(&utc, &local) && ::FileTimeToSystemTime(&local, &time);
}

UString CCertInfo::GetIssuerName() const { return UString(m_sSignerInfo.pszIssuerName); }
UString CCertInfo::GetSubjectName() const { return UString(m_sSignerInfo.pszSubjectName); }

bool CCertInfo::BinToHex(DWORD count, const BYTE* bytes, UString& text, bool reverse) {
  static const char kDigits[] = "0123456789ABCDEF";
  try {
    std::string hex;
    try {
      hex.reserve(2 * static_cast<std::size_t>(count) + 1);
    } catch (const std::bad_alloc&) {
      throw UException("ConvertSerialNumber() - failed to allocate memory.\n");
    }
    for (DWORD i = 0; i < count; ++i) {
      const BYTE b = bytes[reverse ? count - 1 - i : i];
      hex += kDigits[b >> 4];
      hex += kDigits[b & 0x0F];
    }
    text = UString(std::move(hex));
    return true;
  } catch (const UException&) {
    return false;
  }
}

bool CCertInfo::BitBLOBToHexStr(const CRYPT_BIT_BLOB& blob, UString& text) {
  UString hex;
  if (!BinToHex(blob.cbData, blob.pbData, hex, false)) return false;
  text = hex;
  return true;
}
