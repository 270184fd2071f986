// The engine's operations that hand their work to the units beside it: the
// update decision, the acquisition and the verification of a request's
// package, with the engine's settings and the request's state.
#include "engine/USmartUpdateEx.h"
#include "engine/package_acquisition.h"
#include "engine/package_verification.h"

bool USmartUpdateEx::isProceedWithUpdate() {
  const InstallRequest& request = m_cState.Request();
  const UpdateDecider decider(request.classId.c_str(), request.codebase.c_str());
  const UpdateDecision decision = decider.DecideWithSwitch();
  m_cState.SetDecision(decision);
  DecisionSettings settings;
  settings.policy = m_iPolicy;
  settings.checkCodebase = m_bCheckCodebase;
  settings.inService = m_bInService;
  return decider.Proceed(decision, settings);
}

PackageAcquisition USmartUpdateEx::MakeAcquisition() {
  AcquisitionSettings settings;
  settings.window = m_hWnd;
  settings.userAgent = m_strUserAgent;
  settings.silent = m_bSilent;
  settings.receiveTimeoutMs = m_dwTransferReceiveTimeoutMs;
  settings.sessionValue = m_cState.Request().text4;
  return PackageAcquisition(settings, m_cState.TempFolder(), [this] { return CheckStopRequest(0) != 0; });
}

UString USmartUpdateEx::AcquirePackage() {
  return MakeAcquisition().Acquire(m_cState.Request().codebase, &m_cState.PackageRecord());
}

UString USmartUpdateEx::DownloadPackage(const char* packagePath, const char* codebase, GetCABInfo* request) {
  (void)packagePath;
  return MakeAcquisition().Download(codebase, request);
}

int USmartUpdateEx::LoadCAB(GetCABInfo* request) { return MakeAcquisition().Load(request); }

DWORD USmartUpdateEx::VerifyCABEx(const GetCABInfo* cab, const VerifyCABInfo* verify) {
  if (!cab || !verify) {
    LogRecord(kLogErrors, "USmartUpdateEx::VerifyCABEx()", UString("incorrect argument (GetCABInfo, VerifyCABInfo)"));
    return ERROR_INVALID_PARAMETER;
  }
  return PackageVerification(*cab, *verify).Run();
}

void USmartUpdateEx::VerifyCAB(const GetCABInfo& cab) {
  static const char kFunction[] = "USmartUpdateEx::VerifyCAB()";
  if (m_bInService) {
    LogRecord(kLogErrors, kFunction, UString("should not be called in a service"));
    KL_THROW(ERROR_INVALID_PARAMETER, kFunction, "EXCEPTION - %s, %lu", "VerifyCAB() failed",
             static_cast<unsigned long>(ERROR_INVALID_PARAMETER));
  }
  VerifyCABInfo verify;
  verify.hwnd = m_hWnd;
  verify.serverName = m_strServerName;
  verify.silent = m_bSilent ? 1 : 0;
  verify.uiLevel = m_iPolicy;
  const DWORD result = VerifyCABEx(&cab, &verify);
  if (result != 0)
    KL_THROW(static_cast<int>(result), kFunction, "EXCEPTION - %s, %lu", "VerifyCAB() failed",
             static_cast<unsigned long>(result));
}
