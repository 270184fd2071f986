// The shipped answers: every fact comes from the system.
#include "platform/platform_facts.h"

namespace kit::facts {

bool ProcessIntegrityValue(HANDLE process, DWORD* value) { return uReadProcessIntegrityValue(process, value); }

bool AdministratorsMember(BOOL* member) { return uReadAdministratorsMember(member); }

bool ProcessElevationType(TOKEN_ELEVATION_TYPE* type) { return uReadProcessElevationType(type); }

bool ProcessUser(HANDLE process, std::string* user) { return uReadProcessUser(process, user); }

bool PipeClientUser(HANDLE pipe, std::string* user) { return uReadPipeClientUser(pipe, user); }

BOOL ElevatedShellExecute(ShellExecuteExAProc shellExecuteEx, SHELLEXECUTEINFOA* info) { return shellExecuteEx(info); }

BOOL EvaluateAccess(AccessCheckProc accessCheck, const char*, PSECURITY_DESCRIPTOR descriptor, HANDLE token,
                    DWORD desiredAccess, PGENERIC_MAPPING mapping, PPRIVILEGE_SET privileges, LPDWORD privilegesLength,
                    LPDWORD grantedAccess, LPBOOL accessStatus) {
  return accessCheck(descriptor, token, desiredAccess, mapping, privileges, privilegesLength, grantedAccess,
                     accessStatus);
}

DWORD WaitMilliseconds(const char*, DWORD shipped) { return shipped; }

void PausePoint(const char*, const char*) {}

HRESULT BindElevationMoniker(const wchar_t* monikerName, BIND_OPTS3* options, REFCLSID, REFIID interfaceId,
                             void** object) {
  return CoGetObject(monikerName, options, interfaceId, object);
}

}  // namespace kit::facts
