// Verification of a package before it is installed in this process: its
// Authenticode signature for WinVerifyTrust, its signer for the trust
// decision, and whether a user may be asked (silent mode, the security zone
// of its URL, the server it came from).
#pragma once

#include <windows.h>
#include <wintrust.h>

#include <string>

#include "engine/package_record.h"
#include "foundation/handles.h"

class PackageVerification {
 public:
  PackageVerification(const GetCABInfo& cab, const VerifyCABInfo& verify);
  PackageVerification(const PackageVerification&) = delete;
  PackageVerification& operator=(const PackageVerification&) = delete;

  // 0 when the package may be installed, else the reason it may not.
  DWORD Run();

 private:
  typedef LONG(WINAPI* WinVerifyTrustFunction)(HWND, GUID*, LPVOID);

  DWORD LoadWinVerifyTrust();
  DWORD OpenPackage();
  void PrepareTrustData();
  void ChooseUiFromZoneAndOrigin();
  // False when the signer refuses the package without asking WinVerifyTrust.
  bool CheckSigner();
  DWORD AskWinVerifyTrust();
  DWORD AskWithoutDialog();

  const GetCABInfo& m_cab;
  const VerifyCABInfo& m_verify;
  kit::UniqueModule m_wintrust;
  WinVerifyTrustFunction m_pWinVerifyTrust = nullptr;
  kit::UniqueFile m_file;
  std::wstring m_widePath;
  WINTRUST_FILE_INFO m_fileInfo{};
  WINTRUST_DATA m_data{};
  // The signer is one of the maker's pinned certificates.
  bool m_bTrusted = false;
};
