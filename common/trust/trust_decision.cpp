// Whether a signature read by CCertInfo is valid and its signer trusted: the
// maker's pinned certificates, or the exact certificate in the machine's
// "NorvaneOmbrixRoot" store.
#include "trust/certinfo.h"

#include <wintrust.h>

#include <cstring>

#include "foundation/UClasses.h"
#include "foundation/m_textconv.h"
#include "trust/embedded_digest.h"
#include "trust/pinned_certificates.h"
#include "delayload/system_library.h"

namespace {

// {00AAC56B-CD44-11D0-8CC2-00C04FC295EE}
const GUID kGenericVerifyV2 = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
typedef LONG(WINAPI* WinVerifyTrustFunction)(HWND, GUID*, LPVOID);

bool IsAcceptedVerifyResult(LONG result) {
  switch (static_cast<DWORD>(result)) {
    case 0:
    case static_cast<DWORD>(CERT_E_EXPIRED):
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT):
      return true;
    default:
      return false;
  }
}

bool NamesAccepted(const UString& subject, const UString& issuer) {
  const std::string& s = subject.str();
  const std::string& i = issuer.str();
  if ((s == "Norvane, Inc." || s == "Norvane Networks Inc") &&
      (i == "Entrust Extended Validation Code Signing CA - EVCS2" || i == "Entrust Code Signing CA - OVCS1"))
    return true;
  return s == "Norvane Networks" && (i == "Thawte Code Signing CA" || i == "Thawte Code Signing CA - G2");
}

constexpr std::size_t kAllPairs[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
static_assert(sizeof kAllPairs / sizeof kAllPairs[0] == kPinnedCertificateCount, "every pinned pair");

}  // namespace

bool CCertInfo::IsSignatureValid() {
  static const char kFunction[] = "CCertInfo::IsSignatureValid";
  int outcome = 0;
  CatchAndLog(KL_CATCH_SITE(kFunction, "CheckSignature()"), outcome, [&] {
    kit::UniqueModule wintrust(kit::LoadSystemLibrary("wintrust.dll"));
    if (!wintrust)
      KL_THROW(-1, kFunction, "EXCEPTION - %s, %lu", "LoadLibrary() failed", ::GetLastError());
    auto verify = reinterpret_cast<WinVerifyTrustFunction>(
        reinterpret_cast<void*>(::GetProcAddress(wintrust.get(), "WinVerifyTrust")));
    if (!verify)
      KL_THROW(-1, kFunction, "EXCEPTION - %s, %s", "GetProcAddress() failed", SGetErrorText(::GetLastError()).c_str());
    const int length = ::MultiByteToWideChar(CP_ACP, 0, m_strFileName.c_str(), -1, nullptr, 0);
    std::wstring widePath(length > 0 ? static_cast<std::size_t>(length) : 1, L'\0');
    if (length <= 0 || !::MultiByteToWideChar(CP_ACP, 0, m_strFileName.c_str(), -1, &widePath[0], length))
      KL_THROW(-1, kFunction, "EXCEPTION - %s, %s", "MultiByteToWideChar() failed",
               SGetErrorText(::GetLastError()).c_str());

    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = widePath.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
    GUID action = kGenericVerifyV2;
    LONG result = verify(nullptr, &action, &data);
    // The platform may accept a cabinet changed after signing: compare the
    // digest ourselves.
    if (IsAcceptedVerifyResult(result)) {
      const DWORD digest = VerifyEmbeddedDigest(m_strFileName.c_str());
      if (digest != 0) result = static_cast<LONG>(digest);
    }
    if (!IsAcceptedVerifyResult(result))
      KL_THROW(-1, kFunction, "EXCEPTION - %s, %s", "valid signature was not found",
               SGetErrorText(static_cast<DWORD>(result)).c_str());
  });
  LogRecord(kLogTrace, kFunction, UMessage::Format("%1, %2, %3", "filename, res", m_strFileName, outcome));
  return outcome == 0;
}

bool CCertInfo::IsSignerTrusted(int serviceOnly) {
  static const char kFunction[] = "CCertInfo::IsSignerTrusted";
  bool trusted = false;
  int status = 0;
  CatchAndLog(KL_CATCH_SITE(kFunction, kFunction), status, [&] {
    if (!m_sSignerInfo.pCertContext)
      KL_THROW(-1, kFunction, "EXCEPTION - %s", "no info about certificate, m_sSignerInfo.pCertContext is NULL");
    if (serviceOnly) {
      if (!IsCertForInstService())
        KL_THROW(-1, kFunction, "EXCEPTION - %s", "the component needs to be signed by Norvane");
      trusted = true;
      return;
    }
    if (IsOurCertificate()) {
      LogRecord(kLogTrace, kFunction, UString("the file is signed by Norvane Networks certificate"));
      trusted = true;
      return;
    }
    LogRecord(kLogTrace, kFunction, UString("the file is signed by 3rd party certificate"));
    if (!m_hCrypt32 || !m_crypt.CertOpenStore || !m_crypt.CertCloseStore || !m_crypt.CertFindCertificateInStore)
      KL_THROW(-1, kFunction, "EXCEPTION - %s", "crypt32 functions not loaded");
    const Crypt32& c = m_crypt;
    // Only an existing store is read: opening a missing system store would
    // create it, and a refused package must leave the registry as it was.
    kit::UniqueWithCloser<HCERTSTORE> store(
        c.CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                        CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG | CERT_STORE_OPEN_EXISTING_FLAG,
                        L"NorvaneOmbrixRoot"),
        [&c](HCERTSTORE s) { c.CertCloseStore(s, 0); });
    if (!store)
      KL_THROW(-1, kFunction, "EXCEPTION - %s, %s", "CertOpenStore() failed", SGetErrorText(::GetLastError()).c_str());
    kit::UniqueWithCloser<PCCERT_CONTEXT> found(
        c.CertFindCertificateInStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                     m_sSignerInfo.pCertContext, nullptr),
        [&c](PCCERT_CONTEXT p) { c.CertFreeCertificateContext(p); });
    if (!found)
      KL_THROW(-1, kFunction, "EXCEPTION - %s, %s", "CertFindCertificateInStore() failed",
               SGetErrorText(::GetLastError()).c_str());
    LogRecord(kLogTrace, kFunction, UString("The signer certificate matches exactly one of the trusted certificates"));
    trusted = true;
  });
  return trusted;
}

bool CCertInfo::IsOurCertificate() {
  if (!NamesAccepted(GetSubjectName(), GetIssuerName())) return false;
  return IsOurSerialNumberAndPubKey(m_sSignerInfo);
}

bool CCertInfo::MatchesPinnedPairs(const CertRecord& record, const std::size_t* pairs, std::size_t count) {
  if (!record.pCertContext) return false;
  UString keyText;
  if (!BitBLOBToHexStr(record.pCertContext->pCertInfo->SubjectPublicKeyInfo.PublicKey, keyText)) return false;
  for (std::size_t n = 0; n < count; ++n) {
    const PinnedCertificate& pin = kPinnedCertificates[pairs[n]];
    if (record.cbSerialNumber == pin.serialLength &&
        std::memcmp(record.pbSerialNumber, pin.serial, pin.serialLength) == 0 && keyText.EqualsNoCase(pin.publicKey))
      return true;
  }
  return false;
}

bool CCertInfo::IsOurSerialNumberAndPubKey(const CertRecord& record) {
  if (!MatchesPinnedPairs(record, kAllPairs, kPinnedCertificateCount)) return false;
  LogRecord(kLogTrace, "CCertInfo::IsOurSerialNumberAndPubKey()",
            UMessage::Format("%1, %2", "package is signed by the trusted certificate", m_strFileName));
  return true;
}

bool CCertInfo::IsCertForInstService() {
  if (!MatchesPinnedPairs(m_sSignerInfo, kInstallerServicePairs,
                          sizeof kInstallerServicePairs / sizeof kInstallerServicePairs[0]))
    return false;
  LogRecord(kLogTrace, "CCertInfo::IsCertForInstService()", UString("package is signed by the trusted certificate"));
  return true;
}
