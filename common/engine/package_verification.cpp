#include "engine/package_verification.h"

#include <urlmon.h>
#include <wininet.h>

#include "delayload/system_library.h"
#include "foundation/UClasses.h"
#include "foundation/errorlog.h"
#include "foundation/m_textconv.h"
#include "trust/certinfo.h"
#include "trust/embedded_digest.h"
#include "trust/signer_chain.h"

namespace {

const char kVerifyFunction[] = "USmartUpdateEx::VerifyCABEx()";
constexpr UINT kDialogMessage = WM_USER + 48;
const DWORD kSubjectNotTrusted = static_cast<DWORD>(TRUST_E_SUBJECT_NOT_TRUSTED);

// {00AAC56B-CD44-11D0-8CC2-00C04FC295EE}
const GUID kGenericVerifyV2 = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
// The browser's security manager and its interface.
const CLSID kSecurityManager = {0x7B8A2D94, 0x0AC9, 0x11D1, {0x89, 0x6C, 0x00, 0xC0, 0x4F, 0xB6, 0xBF, 0xC4}};
const IID kSecurityManagerInterface = {0x79EAC9EE, 0xBAF9, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};

std::wstring Widen(const UString& text) {
  const int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

// WTD_UI_NOGOOD when the URL's zone lets signed controls be downloaded
// (or asks, or forbids it); WTD_UI_ALL otherwise, also when the security
// manager is missing.
DWORD QueryZoneUiChoice(const UString& url) {
  LogRecord(kLogTrace, kVerifyFunction, UMessage::Format("%1, %2", "query SecurityZone settings for the URL", url));
  DWORD choice = WTD_UI_ALL;
  const HRESULT initialized = ::CoInitialize(nullptr);
  IInternetSecurityManager* manager = nullptr;
  if (SUCCEEDED(::CoCreateInstance(kSecurityManager, nullptr, CLSCTX_INPROC_SERVER, kSecurityManagerInterface,
                                   reinterpret_cast<void**>(&manager))) &&
      manager) {
    DWORD policy = 0;
    const std::wstring wideUrl = Widen(url);
    const HRESULT hr = manager->ProcessUrlAction(wideUrl.c_str(), URLACTION_DOWNLOAD_SIGNED_ACTIVEX,
                                                 reinterpret_cast<BYTE*>(&policy), sizeof policy, nullptr, 0,
                                                 PUAF_NOUI, 0);
    if (hr == S_OK || (hr == S_FALSE && (policy == URLPOLICY_QUERY || policy == URLPOLICY_DISALLOW)))
      choice = WTD_UI_NOGOOD;
    manager->Release();
  }
  if (SUCCEEDED(initialized)) ::CoUninitialize();
  return choice;
}

// Whether the URL's host is the expected server (ignoring letter case).
bool IsFromServer(const UString& url, const UString& serverName) {
  char host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
  URL_COMPONENTSA parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof host;
  const bool cracked = ::InternetCrackUrlA(url.c_str(), 0, 0, &parts) != FALSE;
  const UString hostName = cracked ? UString(host, static_cast<int>(parts.dwHostNameLength)) : UString();
  if (cracked && hostName.length() == serverName.length() && hostName.EqualsNoCase(serverName.c_str())) return true;
  LogRecord(kLogWarnings, kVerifyFunction,
            UMessage::Format("%1, %2, %3", "Requested file is on another server",
                             static_cast<unsigned>(hostName.length()), hostName));
  return false;
}

bool IsMakersName(const UString& subject) {
  const std::string& s = subject.str();
  return s == "Norvane, Inc." || s == "Norvane Networks Inc" || s == "Norvane Networks" || s == "Tessary Inc";
}

}  // namespace

PackageVerification::PackageVerification(const GetCABInfo& cab, const VerifyCABInfo& verify)
    : m_cab(cab), m_verify(verify) {}

DWORD PackageVerification::Run() {
  if (const DWORD error = LoadWinVerifyTrust()) return error;
  if (const DWORD error = OpenPackage()) return error;
  PrepareTrustData();
  ChooseUiFromZoneAndOrigin();

  const bool refused = !CheckSigner();
  DWORD result = 0;
  if (refused)
    result = static_cast<DWORD>(TRUST_E_SUBJECT_NOT_TRUSTED);
  else
    result = AskWinVerifyTrust();
  // WinVerifyTrust may accept a cabinet changed after signing, and a signer
  // outside the trusted set whose chain it never checked: an accepted
  // package must also match the digest its signature signs, and such a
  // signer's chain must satisfy the Authenticode policy.
  if (!refused && result == 0) result = VerifyEmbeddedDigest(m_cab.filePath.c_str());
  if (!refused && result == 0 && !m_bTrusted) result = VerifySignerChain(m_cab.filePath.c_str());

  LogRecord(kLogTrace, kVerifyFunction, UMessage::Format("%1, %2", "exit", result));
  return result;
}

DWORD PackageVerification::LoadWinVerifyTrust() {
  m_wintrust.reset(kit::LoadSystemLibrary("wintrust.dll"));
  if (!m_wintrust) {
    const DWORD error = ::GetLastError();
    LogRecord(kLogErrors, kVerifyFunction, UMessage::Format("%1, %2", "LoadLibrary(WEintrust.dll) failed", error));
    return error;
  }
  m_pWinVerifyTrust = reinterpret_cast<WinVerifyTrustFunction>(
      reinterpret_cast<void*>(::GetProcAddress(m_wintrust.get(), "WinVerifyTrust")));
  if (!m_pWinVerifyTrust) {
    const DWORD error = ::GetLastError();
    LogRecord(kLogErrors, kVerifyFunction, UMessage::Format("%1, %2", "GetProcAddress() failed", SGetErrorText(error)));
    return error;
  }
  return 0;
}

DWORD PackageVerification::OpenPackage() {
  m_file.reset(::CreateFileA(m_cab.filePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                             nullptr));
  if (m_file) return 0;
  const DWORD error = ::GetLastError();
  LogRecord(kLogErrors, kVerifyFunction,
            UMessage::Format("%1, %2, %3", "CreateFile() failed", m_cab.filePath, SGetErrorText(error)));
  return error;
}

void PackageVerification::PrepareTrustData() {
  m_widePath = Widen(m_cab.filePath);
  m_fileInfo.cbStruct = sizeof m_fileInfo;
  m_fileInfo.pcwszFilePath = m_widePath.c_str();
  m_fileInfo.hFile = m_file.get();
  LogRecord(kLogTrace, kVerifyFunction,
            UMessage::Format("%1, %2", "WINTRUST_FILE_INFO (pcwszFilePath)", createString(m_widePath.c_str())));
  m_data.cbStruct = sizeof m_data;
  m_data.fdwRevocationChecks = WTD_REVOKE_NONE;
  m_data.dwUnionChoice = WTD_CHOICE_FILE;
  m_data.pFile = &m_fileInfo;
  m_data.dwUIChoice = m_verify.uiLevel == -1 ? WTD_UI_NONE : WTD_UI_ALL;
}

// With the UI level 0, the URL's zone and the server it came from decide
// whether a user would have to be asked.
void PackageVerification::ChooseUiFromZoneAndOrigin() {
  if (m_verify.uiLevel != 0 || m_cab.url.empty()) return;
  m_data.dwUIChoice = QueryZoneUiChoice(m_cab.url);
  if (m_data.dwUIChoice == WTD_UI_ALL || m_verify.serverName.empty()) return;
  LogRecord(kLogTrace, kVerifyFunction,
            UMessage::Format("%1, %2, %3", "check the download URL is from original Ombrix server", m_cab.url,
                             m_verify.serverName));
  if (!IsFromServer(m_cab.url, m_verify.serverName)) m_data.dwUIChoice = WTD_UI_ALL;
}

bool PackageVerification::CheckSigner() {
  LogRecord(kLogTrace, kVerifyFunction, UString("check whether the CAB file is signed by our company"));
  CCertInfo certificate;
  UString subject;
  if (certificate.ProcessFile(m_cab.filePath.c_str())) {
    m_bTrusted = certificate.IsSignerTrusted(0);
    subject = certificate.GetSubjectName();
  } else {
    LogRecord(kLogWarnings, kVerifyFunction,
              UMessage::Format("%1, %2, %3", "CCertInfo.ProcessFile() failed", m_cab.filePath,
                               SGetErrorText(::GetLastError())));
  }
  if (m_bTrusted) {
    m_data.dwUIChoice = WTD_UI_NONE;
  } else if (!IsMakersName(subject)) {
    LogRecord(kLogTrace, kVerifyFunction, UMessage::Format("%1, %2", "signed by untrusted vendor", subject));
    LogRecord(kLogTrace, kVerifyFunction, UString("Internet Policy is to Deny"));
    return false;
  } else {
    LogRecord(kLogTrace, kVerifyFunction, UString("signed by our company"));
  }
  return true;
}

DWORD PackageVerification::AskWinVerifyTrust() {
  if (m_verify.silent) {
    LogRecord(kLogTrace, kVerifyFunction, UString("silent flag is set"));
    if (m_data.dwUIChoice == WTD_UI_ALL) {
      LogRecord(kLogTrace, kVerifyFunction, UString("UI level is ALL - fail"));
      return kSubjectNotTrusted;
    }
    m_data.dwUIChoice = WTD_UI_NONE;
    LogRecord(kLogTrace, kVerifyFunction, UString("set UI level to None and call WinVerifyTrust"));
    GUID action = kGenericVerifyV2;
    return static_cast<DWORD>(m_pWinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &m_data));
  }
  LogRecord(kLogTrace, kVerifyFunction, UString("NOT silent mode and call WinVerifyTrust directly"));
  if (m_data.dwUIChoice != WTD_UI_ALL) return AskWithoutDialog();
  m_data.dwUIChoice = WTD_UI_NOBAD;
  LogRecord(kLogTrace, kVerifyFunction,
            UMessage::Format("%1, %2", "WinVerifyTrust requires user interaction, (hwnd)",
                             static_cast<const void*>(m_verify.hwnd)));
  GUID action = kGenericVerifyV2;
  ::PostMessageA(m_verify.hwnd, kDialogMessage, 0, 0);
  const DWORD result = static_cast<DWORD>(m_pWinVerifyTrust(m_verify.hwnd, &action, &m_data));
  ::PostMessageA(m_verify.hwnd, kDialogMessage, 1, 0);
  return result;
}

// Not silent and no user to ask: a pinned signer's test root is accepted.
DWORD PackageVerification::AskWithoutDialog() {
  m_data.dwUIChoice = WTD_UI_NONE;
  GUID action = kGenericVerifyV2;
  const DWORD result =
      static_cast<DWORD>(m_pWinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &m_data));
  if (m_bTrusted && result == static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT)) return 0;
  return result;
}
