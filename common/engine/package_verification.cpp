// Package verification is not built yet: every package is refused as not
// trusted, so nothing unverified is ever installed in this process.
#include "engine/USmartUpdateEx.h"

DWORD USmartUpdateEx::VerifyCABEx(const GetCABInfo* cab, const VerifyCABInfo* verify) {
  static const char kFunction[] = "USmartUpdateEx::VerifyCABEx()";
  if (!cab || !verify) {
    LogRecord(kLogErrors, kFunction, UString("incorrect argument (GetCABInfo, VerifyCABInfo)"));
    return ERROR_INVALID_PARAMETER;
  }
  LogRecord(kLogErrors, kFunction,
            UMessage::Format("%1, %2", "package verification is not available, the package is refused", cab->filePath));
  return static_cast<DWORD>(TRUST_E_SUBJECT_NOT_TRUSTED);
}

void USmartUpdateEx::VerifyCAB(const GetCABInfo& cab) {
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
