// The signer's chain and the Authenticode policy through crypt32.dll,
// loaded at run time.
#include "trust/signer_chain.h"

#include "foundation/errorlog.h"
#include "foundation/handles.h"
#include "foundation/m_textconv.h"
#include "delayload/system_library.h"

#include <string>
#include <vector>

namespace {

template <class F>
F LookUp(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace

DWORD VerifySignerChain(const char* path) {
  static const char kFunction[] = "VerifySignerChain()";
  kit::UniqueModule crypt32(kit::LoadSystemLibrary("crypt32.dll"));
  const HMODULE m = crypt32.get();
  auto query = m ? LookUp<decltype(&::CryptQueryObject)>(m, "CryptQueryObject") : nullptr;
  auto getParam = m ? LookUp<decltype(&::CryptMsgGetParam)>(m, "CryptMsgGetParam") : nullptr;
  auto closeMessage = m ? LookUp<decltype(&::CryptMsgClose)>(m, "CryptMsgClose") : nullptr;
  auto closeStore = m ? LookUp<decltype(&::CertCloseStore)>(m, "CertCloseStore") : nullptr;
  auto subject = m ? LookUp<decltype(&::CertGetSubjectCertificateFromStore)>(m, "CertGetSubjectCertificateFromStore")
                   : nullptr;
  auto freeCertificate = m ? LookUp<decltype(&::CertFreeCertificateContext)>(m, "CertFreeCertificateContext") : nullptr;
  auto getChain = m ? LookUp<decltype(&::CertGetCertificateChain)>(m, "CertGetCertificateChain") : nullptr;
  auto freeChain = m ? LookUp<decltype(&::CertFreeCertificateChain)>(m, "CertFreeCertificateChain") : nullptr;
  auto verifyPolicy =
      m ? LookUp<decltype(&::CertVerifyCertificateChainPolicy)>(m, "CertVerifyCertificateChainPolicy") : nullptr;
  if (!path || !query || !getParam || !closeMessage || !closeStore || !subject || !freeCertificate || !getChain ||
      !freeChain || !verifyPolicy) {
    LogRecord(kLogWarnings, kFunction, UString("crypt32 functions not loaded"));
    return ERROR_PROC_NOT_FOUND;
  }
  // The signature's own certificates stay open while the chain is built.
  const std::wstring widePath = [&] {
    std::wstring w(1041, L'\0');
    return StringToWideChar(path, &w[0], static_cast<std::uint32_t>(w.size())) == 0 ? w : std::wstring();
  }();
  HCERTSTORE rawStore = nullptr;
  HCRYPTMSG rawMessage = nullptr;
  if (widePath.empty() ||
      !query(CERT_QUERY_OBJECT_FILE, widePath.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
             CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &rawStore, &rawMessage, nullptr)) {
    const DWORD error = ::GetLastError();
    LogRecord(kLogWarnings, kFunction, UMessage::Format("%1, %2", "CryptQueryObject() failed", SGetErrorText(error)));
    return error ? error : static_cast<DWORD>(TRUST_E_NOSIGNATURE);
  }
  kit::UniqueWithCloser<HCERTSTORE> store(rawStore, [closeStore](HCERTSTORE s) { closeStore(s, 0); });
  kit::UniqueWithCloser<HCRYPTMSG> message(rawMessage, [closeMessage](HCRYPTMSG h) { closeMessage(h); });
  DWORD size = 0;
  if (!getParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size)) return ::GetLastError();
  std::vector<BYTE> signerInfo(size);
  if (!getParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, signerInfo.data(), &size)) return ::GetLastError();
  kit::UniqueWithCloser<PCCERT_CONTEXT> certificate(
      subject(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, reinterpret_cast<PCERT_INFO>(signerInfo.data())),
      [freeCertificate](PCCERT_CONTEXT c) { freeCertificate(c); });
  if (!certificate) return ::GetLastError();

  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  PCCERT_CHAIN_CONTEXT rawChain = nullptr;
  if (!getChain(nullptr, certificate.get(), nullptr, store.get(), &para, 0, nullptr, &rawChain)) {
    const DWORD error = ::GetLastError();
    LogRecord(kLogWarnings, kFunction, UMessage::Format("%1, %2", "CertGetCertificateChain() failed", SGetErrorText(error)));
    return error;
  }
  kit::UniqueWithCloser<PCCERT_CHAIN_CONTEXT> chain(rawChain, [freeChain](PCCERT_CHAIN_CONTEXT c) { freeChain(c); });
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!verifyPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, chain.get(), &policy, &status)) {
    const DWORD error = ::GetLastError();
    LogRecord(kLogWarnings, kFunction,
              UMessage::Format("%1, %2", "CertVerifyCertificateChainPolicy() failed", SGetErrorText(error)));
    return error;
  }
  // Some versions of the policy pass a chain whose own status names the
  // fault: take the status's word for the faults Windows' policy refuses.
  const DWORD chainStatus = chain.get()->TrustStatus.dwErrorStatus;
  if (status.dwError == 0) {
    if (chainStatus & CERT_TRUST_IS_UNTRUSTED_ROOT) status.dwError = static_cast<DWORD>(CERT_E_UNTRUSTEDROOT);
    else if (chainStatus & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) status.dwError = static_cast<DWORD>(CERT_E_WRONG_USAGE);
    else if (chainStatus & CERT_TRUST_IS_PARTIAL_CHAIN) status.dwError = static_cast<DWORD>(CERT_E_CHAINING);
  }
  LogRecord(kLogTrace, kFunction, UMessage::Format("%1, %2, %3", "chain status, policy", chainStatus, status.dwError));
  if (status.dwError != 0)
    LogRecord(kLogWarnings, kFunction,
              UMessage::Format("%1, %2", "the signer's chain is refused", SGetErrorText(status.dwError)));
  return status.dwError;
}
