// The platform's answers about this process's rights: the few facts the
// rights helpers (foundation/m_uac_helpers, foundation/AccessCheck) cannot
// work out themselves.
//
// The shipped program links platform_facts.cpp, which asks the system and
// nothing else. A test build of a program links its own definitions of these
// functions instead (tests/support/testable/), so that a test can reach the
// answers the test machine cannot give (a medium-integrity token, a split
// administrator token, a declined elevation prompt, a denied access check).
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>

namespace kit::facts {

// The integrity value (the last sub-authority of the token's mandatory
// label) of a process. False, with the reason logged, when it cannot be read.
bool ProcessIntegrityValue(HANDLE process, DWORD* value);

// Whether the current thread's token is a member of BUILTIN\Administrators.
// False when the membership check itself fails.
bool AdministratorsMember(BOOL* member);

// The elevation type of the process token. False when the token cannot be
// opened or queried.
bool ProcessElevationType(TOKEN_ELEVATION_TYPE* type);

// Runs ShellExecuteExA (looked up by the caller) through the elevation
// prompt. FALSE with the thread's last error set on failure (1223 when the
// user declined).
typedef BOOL(WINAPI* ShellExecuteExAProc)(SHELLEXECUTEINFOA*);
BOOL ElevatedShellExecute(ShellExecuteExAProc shellExecuteEx, SHELLEXECUTEINFOA* info);

// Evaluates an object's security descriptor against a token with AccessCheck
// (looked up by the caller); `objectName` names the object the descriptor
// belongs to. The arguments and results are those of AccessCheck.
typedef BOOL(WINAPI* AccessCheckProc)(PSECURITY_DESCRIPTOR, HANDLE, DWORD, PGENERIC_MAPPING, PPRIVILEGE_SET, LPDWORD,
                                      LPDWORD, LPBOOL);
BOOL EvaluateAccess(AccessCheckProc accessCheck, const char* objectName, PSECURITY_DESCRIPTOR descriptor, HANDLE token,
                    DWORD desiredAccess, PGENERIC_MAPPING mapping, PPRIVILEGE_SET privileges, LPDWORD privilegesLength,
                    LPDWORD grantedAccess, LPBOOL accessStatus);

// How long the program waits for something that takes its time on a real
// machine (a started program, a registration helper): `shipped` in the
// shipped program. `waitName` names the wait, so that a test can shorten one
// wait and leave the others alone.
DWORD WaitMilliseconds(const char* waitName, DWORD shipped);

// A named point of a run (after a package's extraction, before its clean-up)
// at which a test build may hold the run while its test plays an attacker
// below it; `detail` tells the test where (the folder concerned). The
// shipped program goes straight on.
void PausePoint(const char* pointName, const char* detail);

// Binds the elevation moniker `monikerName`, which names the class
// `classId` (CoGetObject). The results are those of CoGetObject: 0x800704C7
// when the user declined the prompt.
HRESULT BindElevationMoniker(const wchar_t* monikerName, BIND_OPTS3* options, REFCLSID classId, REFIID interfaceId,
                             void** object);

// The user a process runs as (the token user's SID text, "S-1-5-18" for the
// system account). False when it cannot be read.
bool ProcessUser(HANDLE process, std::string* user);

// The user of the client connected to a server's end of a pipe: the token
// user read through an identification-level impersonation of the client
// (never its process id). False when it cannot be read.
bool PipeClientUser(HANDLE pipe, std::string* user);

}  // namespace kit::facts

// The system's own answers, used by platform_facts.cpp and by a test build
// for every fact its test leaves alone. They live with the helpers that use
// them.
bool uReadProcessIntegrityValue(HANDLE process, DWORD* value);
bool uReadAdministratorsMember(BOOL* member);
bool uReadProcessElevationType(TOKEN_ELEVATION_TYPE* type);
bool uReadProcessUser(HANDLE process, std::string* user);
bool uReadPipeClientUser(HANDLE pipe, std::string* user);
