#include "engine/update_decision.h"

#include "components/installed_components.h"
#include "components/signer_trust.h"
#include "components/update_rules.h"
#include "engine/registration_checks.h"
#include "foundation/UClasses.h"
#include "foundation/errorlog.h"
#include "foundation/m_folders.h"
#include "foundation/m_registry.h"
#include "foundation/m_sys.h"
#include "foundation/m_textconv.h"
#include "foundation/m_uac_helpers.h"
#include "http/codebase.h"

namespace {

const char kNeedUpdate[] = "USmartUpdateEx::needUpdate()";
constexpr char kSwitchKey[] = "SOFTWARE\\Norvane Networks\\ZirivoDerazu";
constexpr char kClassesClsid[] = "SOFTWARE\\Classes\\CLSID\\";

// Whether either server value of the class is set under the hive.
bool HasServerRegistration(HKEY hive, const char* classId) {
  const UString key = kClassesClsid + UString(classId);
  return !ReadKeyDefault(hive, key + "\\InprocServer32").empty() ||
         !ReadKeyDefault(hive, key + "\\LocalServer32").empty();
}

bool RunsElevated() {
  if (!IsWindowsVistaOrLater()) return false;
  const DWORD level = uGetProcessIntegrityLevel(GetCurrentProcess());
  if (level != kIntegrityHigh && level != kIntegritySystem) return false;
  LogRecord(kLogTrace, kNeedUpdate, UString("running on high integrity level"));
  return true;
}

// The installed file's version against the requested one.
UpdateDecision FileDecision(const UString& path, const UpdateInfo& info) {
  return needUpdate(path.c_str(), info.versionHigh, info.versionLow) ? UpdateDecision::kUpdate
                                                                     : UpdateDecision::kNothing;
}

}  // namespace

DWORD InstalledScopeMask(const char* classId, HKEY machineHive, HKEY userHive) {
  DWORD mask = 0;
  int status = 0;
  CatchAndLog(KL_CATCH_SITE("USmartUpdateEx::ReadInstalledScopeMask", "USmartUpdateEx::ReadInstalledScopeMask"), status,
              [&] {
                if (!classId || !*classId) return;
                if (HasServerRegistration(userHive, classId)) mask |= kRegisteredPerUser;
                if (HasServerRegistration(machineHive, classId)) mask |= kRegisteredPerMachine;
                // A broken registration of the known class counts as present.
                if (!(mask & kRegisteredPerMachine) &&
                    KnownClassState(machineHive, classId) != RegistrationState::kNotRegistered)
                  mask |= kRegisteredPerMachine;
                if (!(mask & kRegisteredPerUser) &&
                    KnownClassState(userHive, classId) != RegistrationState::kNotRegistered)
                  mask |= kRegisteredPerUser;
              });
  return mask;
}

UpdateDecider::UpdateDecider(const char* classId, const char* codebase)
    : m_strClassId(classId), m_strCodebase(codebase) {}

UpdateDecision UpdateDecider::Decide() const {
  // The signature and the registration checks below ask about the same
  // installed file: one check answers both.
  SignatureAnswers signatures;
  if (m_strClassId.empty()) {
    LogRecord(kLogTrace, kNeedUpdate, UString("a_csCLSID is empty - proceed with update"));
    return UpdateDecision::kInstall;
  }
  const bool elevated = RunsElevated();
  UString path;
  ReadInstalledPath(path, elevated, m_strClassId.c_str(), "");
  if (path.empty()) {
    LogRecord(kLogTrace, kNeedUpdate, UString("Installed path was not found - proceed with update"));
    return UpdateDecision::kInstall;
  }
  UpdateInfo info;
  ParseUpdateInfo(m_strCodebase.c_str(), &info);
  // The Installer Service is judged by its version alone.
  if (HasServicePrefix(m_strClassId.c_str())) return FileDecision(path, info);

  if (!CheckFileSignature(path.c_str())) {
    LogRecord(kLogTrace, kNeedUpdate, UMessage::Format("%1, %2", "no valid signature found", path));
    return UpdateDecision::kInstall;
  }
  if (RegistrationBroken(path, elevated)) return UpdateDecision::kInstall;
  return FileDecision(path, info);
}

bool UpdateDecider::RegistrationBroken(const UString& path, bool elevated) const {
  const char* classId = m_strClassId.c_str();
  HKEY hive = HKEY_LOCAL_MACHINE;
  if (!elevated && (InstalledScopeMask(classId, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER) & kRegisteredPerUser))
    hive = HKEY_CURRENT_USER;

  const RegistrationState record = CodeStoreDatabaseState(hive, classId);
  const DWORD lastError = GetLastError();
  if (record == RegistrationState::kBroken) return true;
  if (record == RegistrationState::kNotRegistered) {
    LogRecord(
        kLogTrace, kNeedUpdate,
        UMessage::Format("%1, %2, %3", "No Code Store Database installation for provided CLSID - registry is missing",
                         classId, SGetErrorText(lastError)));
    // Every finished installation into Downloaded Program Files leaves the
    // record, and it is written last: a control there without one was cut
    // short (its registration may be half written), so it is installed again.
    if (IsInFolder(path, SGetDownloadedProgramFilesFolder()) ||
        IsInFolder(path, SGetUserDownloadedProgramFilesFolder(false))) {
      LogRecord(kLogTrace, kNeedUpdate,
                UMessage::Format("%1, %2", "Downloaded Program Files control without its record - proceed with update",
                                 path));
      return true;
    }
  }
  if (KnownClassState(hive, classId) != RegistrationState::kBroken) return false;
  LogRecord(kLogErrors, kNeedUpdate,
            UMessage::Format("%1, %2, %3",
                             "Type library or class ID registration is broken - some registry key is missing "
                             "(hKey, CLSID)",
                             HiveName(hive), classId));
  return true;
}

UpdateDecision UpdateDecider::DecideWithSwitch() const {
  const UpdateDecision decision = Decide();
  if (decision != UpdateDecision::kUpdate) return decision;

  const DWORD switchValue =
      GetRegistryAsDWORDA(HKEY_LOCAL_MACHINE, kSwitchKey, "EnableWebComponentsUpdate", 1, KEY_WOW64_64KEY);
  UString skipped;
  const int result = DecisionAfterUpdateSwitch(ToNumber(decision), switchValue, m_strClassId.c_str(), &skipped);
  if (result != ToNumber(decision)) {
    if (IUErrorLog* log = g_pErrorLog)
      log->WriteLine(UString::Format("0,,,, %s\n", FormatUpdateSkipped(skipped).c_str()).c_str());
  }
  return static_cast<UpdateDecision>(result);
}

bool UpdateDecider::Proceed(UpdateDecision decision, const DecisionSettings& settings) const {
  if (!settings.inService && settings.checkCodebase) CheckCodebase();
  LogRecord(kLogTrace, "USmartUpdateEx::isProceedWithUpdate()",
            UMessage::Format("%1, %2, %3", "needUpdate, flags", static_cast<unsigned>(ToNumber(decision)),
                             static_cast<unsigned>(settings.policy)));
  return ProceedWithDecision(ToNumber(decision), settings.policy);
}

void UpdateDecider::CheckCodebase() const {
  static const char kFunction[] = "USmartUpdateEx::isProceedWithUpdate()";
  int protocol = kProtocolOther;
  int port = 0;
  UString host;
  UString path;
  if (!ParseURL(m_strCodebase.c_str(), &protocol, &host, &path, &port, false))
    KL_THROW(-1, kFunction, "EXCEPTION - %s, %s", "ParseURL() failed", m_strCodebase.c_str());
  if (protocol != kProtocolHttp && protocol != kProtocolHttps)
    KL_THROW(-1, kFunction, "EXCEPTION - %s, %s", "protocol is not allowed", m_strCodebase.c_str());
}
