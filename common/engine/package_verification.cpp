// Verification of a package before it is installed in this process: its
// Authenticode signature for WinVerifyTrust, its signer for the trust
// decision, and whether a user may be asked (silent mode, the security zone
// of its URL, the server it came from).
#include <windows.h>
#include <urlmon.h>
#include <wininet.h>
#include <wintrust.h>

#include <string>

#include "engine/USmartUpdateEx.h"
#include "foundation/m_textconv.h"
#include "trust/certinfo.h"
#include "trust/embedded_digest.h"
#include "trust/signer_chain.h"
#include "delayload/system_library.h"

namespace {

const char kVerifyFunction[] = "USmartUpdateEx::VerifyCABEx()";
constexpr UINT kDialogMessage = WM_USER + 48;

// {00AAC56B-CD44-11D0-8CC2-00C04FC295EE}
const GUID kGenericVerifyV2 = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
// The browser's security manager and its interface.
const CLSID kSecurityManager = {0x7B8A2D94, 0x0AC9, 0x11D1, {0x89, 0x6C, 0x00, 0xC0, 0x4F, 0xB6, 0xBF, 0xC4}};
const IID kSecurityManagerInterface = {0x79EAC9EE, 0xBAF9, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};
typedef LONG(WINAPI* WinVerifyTrustFunction)(HWND, GUID*, LPVOID);

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

DWORD USmartUpdateEx::VerifyCABEx(const GetCABInfo* cab, const VerifyCABInfo* verify) {
  if (!cab || !verify) {
    LogRecord(kLogErrors, kVerifyFunction, UString("incorrect argument (GetCABInfo, VerifyCABInfo)"));
    return ERROR_INVALID_PARAMETER;
  }
  kit::UniqueModule wintrust(kit::LoadSystemLibrary("wintrust.dll"));
  if (!wintrust) {
    const DWORD error = ::GetLastError();
    LogRecord(kLogErrors, kVerifyFunction, UMessage::Format("%1, %2", "LoadLibrary(WEintrust.dll) failed", error));
    return error;
  }
  auto winVerifyTrust = reinterpret_cast<WinVerifyTrustFunction>(
      reinterpret_cast<void*>(::GetProcAddress(wintrust.get(), "WinVerifyTrust")));
  if (!winVerifyTrust) {
    const DWORD error = ::GetLastError();
    LogRecord(kLogErrors, kVerifyFunction, UMessage::Format("%1, %2", "GetProcAddress() failed", SGetErrorText(error)));
    return error;
  }
  kit::UniqueFile file(::CreateFileA(cab->filePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                     nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    LogRecord(kLogErrors, kVerifyFunction,
              UMessage::Format("%1, %2, %3", "CreateFile() failed", cab->filePath, SGetErrorText(error)));
    return error;
  }

  const std::wstring widePath = Widen(cab->filePath);
  WINTRUST_FILE_INFO fileInfo{};
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = widePath.c_str();
  fileInfo.hFile = file.get();
  LogRecord(kLogTrace, kVerifyFunction,
            UMessage::Format("%1, %2", "WINTRUST_FILE_INFO (pcwszFilePath)", createString(widePath.c_str())));
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwUIChoice = verify->uiLevel == -1 ? WTD_UI_NONE : WTD_UI_ALL;

  if (verify->uiLevel == 0 && !cab->url.empty()) {
    data.dwUIChoice = QueryZoneUiChoice(cab->url);
    if (data.dwUIChoice != WTD_UI_ALL && !verify->serverName.empty()) {
      LogRecord(kLogTrace, kVerifyFunction,
                UMessage::Format("%1, %2, %3", "check the download URL is from original Ombrix server", cab->url,
                                 verify->serverName));
      if (!IsFromServer(cab->url, verify->serverName)) data.dwUIChoice = WTD_UI_ALL;
    }
  }

  DWORD result = 0;
  bool trusted = false;
  bool refused = false;
  {
    LogRecord(kLogTrace, kVerifyFunction, UString("check whether the CAB file is signed by our company"));
    CCertInfo certificate;
    UString subject;
    if (certificate.ProcessFile(cab->filePath.c_str())) {
      trusted = certificate.IsSignerTrusted(0);
      subject = certificate.GetSubjectName();
    } else {
      LogRecord(kLogWarnings, kVerifyFunction,
                UMessage::Format("%1, %2, %3", "CCertInfo.ProcessFile() failed", cab->filePath,
                                 SGetErrorText(::GetLastError())));
    }
    if (trusted) {
      data.dwUIChoice = WTD_UI_NONE;
    } else if (!IsMakersName(subject)) {
      LogRecord(kLogTrace, kVerifyFunction, UMessage::Format("%1, %2", "signed by untrusted vendor", subject));
      LogRecord(kLogTrace, kVerifyFunction, UString("Internet Policy is to Deny"));
      result = static_cast<DWORD>(TRUST_E_SUBJECT_NOT_TRUSTED);
      refused = true;
    } else {
      LogRecord(kLogTrace, kVerifyFunction, UString("signed by our company"));
    }
  }

  if (!refused) {
    GUID action = kGenericVerifyV2;
    if (verify->silent) {
      LogRecord(kLogTrace, kVerifyFunction, UString("silent flag is set"));
      if (data.dwUIChoice == WTD_UI_ALL) {
        LogRecord(kLogTrace, kVerifyFunction, UString("UI level is ALL - fail"));
        result = static_cast<DWORD>(TRUST_E_SUBJECT_NOT_TRUSTED);
        refused = true;
      } else {
        data.dwUIChoice = WTD_UI_NONE;
        LogRecord(kLogTrace, kVerifyFunction, UString("set UI level to None and call WinVerifyTrust"));
        result = static_cast<DWORD>(winVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data));
      }
    } else {
      LogRecord(kLogTrace, kVerifyFunction, UString("NOT silent mode and call WinVerifyTrust directly"));
      if (data.dwUIChoice == WTD_UI_ALL) {
        data.dwUIChoice = WTD_UI_NOBAD;
        LogRecord(kLogTrace, kVerifyFunction,
                  UMessage::Format("%1, %2", "WinVerifyTrust requires user interaction, (hwnd)",
                                   static_cast<const void*>(verify->hwnd)));
        ::PostMessageA(verify->hwnd, kDialogMessage, 0, 0);
        result = static_cast<DWORD>(winVerifyTrust(verify->hwnd, &action, &data));
        ::PostMessageA(verify->hwnd, kDialogMessage, 1, 0);
      } else {
        data.dwUIChoice = WTD_UI_NONE;
        result = static_cast<DWORD>(winVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data));
        if (trusted && result == static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT)) result = 0;
      }
    }
  }
  // WinVerifyTrust may accept a cabinet changed after signing, and a signer
  // outside the trusted set whose chain it never checked: an accepted
  // package must also match the digest its signature signs, and such a
  // signer's chain must satisfy the Authenticode policy.
  if (!refused && result == 0) result = VerifyEmbeddedDigest(cab->filePath.c_str());
  if (!refused && result == 0 && !trusted) result = VerifySignerChain(cab->filePath.c_str());

  LogRecord(kLogTrace, kVerifyFunction, UMessage::Format("%1, %2", "exit", result));
  return result;
}

void USmartUpdateEx::VerifyCAB(const GetCABInfo& cab) {
  if (m_bInService) {
    LogRecord(kLogErrors, "USmartUpdateEx::VerifyCAB()", UString("should not be called in a service"));
    KL_THROW(ERROR_INVALID_PARAMETER, "USmartUpdateEx::VerifyCAB()", "EXCEPTION - %s, %lu", "VerifyCAB() failed",
             static_cast<unsigned long>(ERROR_INVALID_PARAMETER));
  }
  VerifyCABInfo verify;
  verify.hwnd = m_hWnd;
  verify.serverName = m_strServerName;
  verify.silent = m_bSilent ? 1 : 0;
  verify.uiLevel = m_iPolicy;
  const DWORD result = VerifyCABEx(&cab, &verify);
  if (result != 0)
    KL_THROW(static_cast<int>(result), "USmartUpdateEx::VerifyCAB()", "EXCEPTION - %s, %lu", "VerifyCAB() failed",
             static_cast<unsigned long>(result));
}
