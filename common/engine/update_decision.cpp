// The update decision: whether a requested component is missing, broken,
// older than requested or current, and the lookups that answer rests on.
#include "engine/USmartUpdateEx.h"
#include "components/installed_components.h"
#include "components/signer_trust.h"
#include "components/update_rules.h"
#include "foundation/m_folders.h"
#include "foundation/m_registry.h"
#include "foundation/m_sys.h"
#include "foundation/m_textconv.h"
#include "foundation/m_uac_helpers.h"

namespace {

constexpr char kSwitchKey[] = "SOFTWARE\\Norvane Networks\\ZirivoDerazu";
constexpr char kClassesClsid[] = "SOFTWARE\\Classes\\CLSID\\";

// Whether either server value of the class is set under the hive.
bool HasServerRegistration(HKEY hive, const char* classId) {
  const UString key = kClassesClsid + UString(classId);
  return !ReadKeyDefault(hive, key + "\\InprocServer32").empty() ||
         !ReadKeyDefault(hive, key + "\\LocalServer32").empty();
}

}  // namespace

bool USmartUpdateEx::isProceedWithUpdate() {
  static const char kFunction[] = "USmartUpdateEx::isProceedWithUpdate()";
  const int decision = applyUpdateSwitch(m_strClassId.c_str(), m_strCodebase.c_str());
  m_iDecision = decision;

  if (!m_bInService && m_bCheckCodebase) {
    int protocol = kProtocolOther;
    int port = 0;
    UString host;
    UString path;
    if (!ParseURL(m_strCodebase.c_str(), &protocol, &host, &path, &port, false))
      KL_THROW(-1, kFunction, "EXCEPTION - %s, %s", "ParseURL() failed", m_strCodebase.c_str());
    if (protocol != kProtocolHttp && protocol != kProtocolHttps)
      KL_THROW(-1, kFunction, "EXCEPTION - %s, %s", "protocol is not allowed", m_strCodebase.c_str());
  }

  LogRecord(kLogTrace, kFunction,
            UMessage::Format("%1, %2, %3", "needUpdate, flags", static_cast<unsigned>(decision),
                             static_cast<unsigned>(m_iPolicy)));
  return ProceedWithDecision(decision, m_iPolicy);
}

int USmartUpdateEx::applyUpdateSwitch(const char* classId, const char* codebase) {
  const int decision = needUpdate(classId, codebase);
  if (decision != kDecisionUpdate) return decision;

  const DWORD switchValue =
      GetRegistryAsDWORDA(HKEY_LOCAL_MACHINE, kSwitchKey, "EnableWebComponentsUpdate", 1, KEY_WOW64_64KEY);
  UString skipped;
  const int result = DecisionAfterUpdateSwitch(decision, switchValue, classId, &skipped);
  if (result != decision) {
    if (IUErrorLog* log = g_pErrorLog)
      log->WriteLine(UString::Format("0,,,, %s\n", FormatUpdateSkipped(skipped).c_str()).c_str());
  }
  return result;
}

int USmartUpdateEx::needUpdate(const char* classId, const char* codebase) {
  static const char kFunction[] = "USmartUpdateEx::needUpdate()";
  // The signature and the registration checks below ask about the same
  // installed file: one check answers both.
  SignatureAnswers signatures;
  if (!classId || !*classId) {
    LogRecord(kLogTrace, kFunction, UString("a_csCLSID is empty - proceed with update"));
    return kDecisionInstall;
  }

  bool elevated = false;
  if (IsWindowsVistaOrLater()) {
    const DWORD level = uGetProcessIntegrityLevel(GetCurrentProcess());
    if (level == kIntegrityHigh || level == kIntegritySystem) {
      elevated = true;
      LogRecord(kLogTrace, kFunction, UString("running on high integrity level"));
    }
  }

  UString path;
  ReadInstalledPath(path, elevated, classId, "");
  if (path.empty()) {
    LogRecord(kLogTrace, kFunction, UString("Installed path was not found - proceed with update"));
    return kDecisionInstall;
  }
  UpdateInfo info;
  ParseUpdateInfo(codebase, &info);
  // The Installer Service is judged by its version alone.
  if (HasServicePrefix(classId)) return needUpdate(path.c_str(), info.versionHigh, info.versionLow);

  if (!CheckFileSignature(path.c_str())) {
    LogRecord(kLogTrace, kFunction, UMessage::Format("%1, %2", "no valid signature found", path));
    return kDecisionInstall;
  }

  HKEY hive = HKEY_LOCAL_MACHINE;
  if (!elevated && (ReadInstalledScopeMask(classId, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER) & 2))
    hive = HKEY_CURRENT_USER;

  const int record = CheckCodeStoreDatabase(hive, classId);
  const DWORD lastError = GetLastError();
  if (record == 2) return kDecisionInstall;
  if (record == 0) {
    LogRecord(
        kLogTrace, kFunction,
        UMessage::Format("%1, %2, %3", "No Code Store Database installation for provided CLSID - registry is missing",
                         classId, SGetErrorText(lastError)));
    // Every finished installation into Downloaded Program Files leaves the
    // record, and it is written last: a control there without one was cut
    // short (its registration may be half written), so it is installed again.
    if (IsInFolder(path, SGetDownloadedProgramFilesFolder()) ||
        IsInFolder(path, SGetUserDownloadedProgramFilesFolder(false))) {
      LogRecord(kLogTrace, kFunction,
                UMessage::Format("%1, %2", "Downloaded Program Files control without its record - proceed with update",
                                 path));
      return kDecisionInstall;
    }
  }
  if (CheckKnownClassID(hive, classId) == 2) {
    LogRecord(kLogErrors, kFunction,
              UMessage::Format("%1, %2, %3",
                               "Type library or class ID registration is broken - some registry key is missing "
                               "(hKey, CLSID)",
                               HKEYToString(hive), classId));
    return kDecisionInstall;
  }
  return needUpdate(path.c_str(), info.versionHigh, info.versionLow);
}

DWORD USmartUpdateEx::ReadInstalledScopeMask(const char* classId, HKEY machineHive, HKEY userHive) {
  DWORD mask = 0;
  int status = 0;
  CatchAndLog(KL_CATCH_SITE("USmartUpdateEx::ReadInstalledScopeMask", "USmartUpdateEx::ReadInstalledScopeMask"), status,
              [&] {
                if (!classId || !*classId) return;
                if (HasServerRegistration(userHive, classId)) mask |= 2;
                if (HasServerRegistration(machineHive, classId)) mask |= 1;
                // A broken registration of the known class counts as present.
                if (!(mask & 1) && CheckKnownClassID(machineHive, classId) != 0) mask |= 1;
                if (!(mask & 2) && CheckKnownClassID(userHive, classId) != 0) mask |= 2;
              });
  return mask;
}
