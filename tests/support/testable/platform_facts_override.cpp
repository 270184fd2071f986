// The test build's answers about this process's rights.
//
// When the environment variable KITLOADER_TEST_FACTS names a facts file, the
// answers it gives replace the system's; every fact it leaves out still comes
// from the system. The file is read at every question, so a test may change
// it between calls. Its sections:
//
//   [process]                      the facts of a program started by the test
//   IntegrityLevel=0x2000          integrity value of this process's token
//   AdministratorsMember=0         CheckTokenMembership(Administrators)
//   ElevationType=limited          default | full | limited
//   ElevationPrompt=decline        accept | decline (1223)
//   ElevatedSection=elevated       the section of the copy the prompt starts
//   ElevationMoniker=accept        accept | cancel | fail 0x80080005: the COM
//                                  elevation moniker (accept creates the class
//                                  as a plain local server)
//   [process.access]               AccessCheck per object name
//   MACHINE\SOFTWARE\Microsoft=deny   grant | deny | fail; "deny 0x120089" also
//                                  reports what would have been granted
//   [process.waits]                how long a named wait lasts, in ms
//   UserRegister=500               (the program's own value when left out)
//   [process.pauses]               a run held at a named point:
//   AfterExtraction=C:\x\signal    writes the point's detail to "<signal>.reached",
//                                  then waits (at most 60 s) for "<signal>.go"
//
// The user a process runs as comes from the file KITLOADER_TEST_USERS names:
//
//   [users]                        by process id or by program file name; a
//   1234=S-1-5-18                  pipe's client is the process at its other
//   ombrixother.exe=S-1-5-21-1-2-3-1001   end
//
// KITLOADER_TEST_FACTS_SECTION names the section to read (default
// "process"); a program started through an accepted elevation prompt reads
// the section that ElevatedSection names (default "elevated").
#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/handles.h"
#include "platform/platform_facts.h"

namespace {

const char kFactsFileVariable[] = "KITLOADER_TEST_FACTS";
const char kSectionVariable[] = "KITLOADER_TEST_FACTS_SECTION";

std::string Environment(const char* name) {
  char value[2048] = {};
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n && n < sizeof value ? std::string(value, n) : std::string();
}

std::string Section() {
  std::string section = Environment(kSectionVariable);
  return section.empty() ? "process" : section;
}

// The fact's text, or empty when the test gives none.
std::string Fact(const std::string& section, const char* key, const char* variable = kFactsFileVariable) {
  const std::string file = Environment(variable);
  if (file.empty()) return std::string();
  char value[1024] = {};
  GetPrivateProfileStringA(section.c_str(), key, "", value, sizeof value, file.c_str());
  return value;
}

[[noreturn]] void BadFact(const char* key, const std::string& value) {
  std::fprintf(stderr, "facts file: unknown value \"%s\" for %s\n", value.c_str(), key);
  std::fflush(stderr);
  ExitProcess(0xFAC7);
}

bool IsThisProcess(HANDLE process) {
  return process == GetCurrentProcess() || GetProcessId(process) == GetCurrentProcessId();
}

// The user the test gives the process `id` (by its id, else by its program's
// file name), or empty.
std::string UserFact(DWORD id) {
  const char kUsersFile[] = "KITLOADER_TEST_USERS";
  const std::string fact = Fact("users", std::to_string(id).c_str(), kUsersFile);
  if (!fact.empty()) return fact;
  kit::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  char image[MAX_PATH * 2] = {};
  DWORD length = sizeof image;
  if (!process || !QueryFullProcessImageNameA(process.get(), 0, image, &length)) return fact;
  const std::string path(image, length);
  return Fact("users", path.substr(path.find_last_of("\\/") + 1).c_str(), kUsersFile);
}

}  // namespace

namespace kit::facts {

bool ProcessIntegrityValue(HANDLE process, DWORD* value) {
  const std::string fact = IsThisProcess(process) ? Fact(Section(), "IntegrityLevel") : std::string();
  if (fact.empty()) return uReadProcessIntegrityValue(process, value);
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(fact.c_str(), &end, 0);
  if (!end || *end) BadFact("IntegrityLevel", fact);
  *value = parsed;
  return true;
}

bool AdministratorsMember(BOOL* member) {
  const std::string fact = Fact(Section(), "AdministratorsMember");
  if (fact.empty()) return uReadAdministratorsMember(member);
  if (fact != "0" && fact != "1") BadFact("AdministratorsMember", fact);
  *member = fact == "1";
  return true;
}

bool ProcessElevationType(TOKEN_ELEVATION_TYPE* type) {
  const std::string fact = Fact(Section(), "ElevationType");
  if (fact.empty()) return uReadProcessElevationType(type);
  if (fact == "default")
    *type = TokenElevationTypeDefault;
  else if (fact == "full")
    *type = TokenElevationTypeFull;
  else if (fact == "limited")
    *type = TokenElevationTypeLimited;
  else
    BadFact("ElevationType", fact);
  return true;
}

bool ProcessUser(HANDLE process, std::string* user) {
  const std::string fact = UserFact(GetProcessId(process));
  if (fact.empty()) return uReadProcessUser(process, user);
  *user = fact;
  return true;
}

bool PipeClientUser(HANDLE pipe, std::string* user) {
  ULONG client = 0;
  const std::string fact = GetNamedPipeClientProcessId(pipe, &client) ? UserFact(client) : std::string();
  if (fact.empty()) return uReadPipeClientUser(pipe, user);
  *user = fact;
  return true;
}

BOOL ElevatedShellExecute(ShellExecuteExAProc shellExecuteEx, SHELLEXECUTEINFOA* info) {
  const std::string section = Section();
  const std::string prompt = Fact(section, "ElevationPrompt");
  if (prompt == "decline") {
    SetLastError(ERROR_CANCELLED);
    return FALSE;
  }
  if (!prompt.empty() && prompt != "accept") BadFact("ElevationPrompt", prompt);
  if (Environment(kFactsFileVariable).empty()) return shellExecuteEx(info);

  // The elevated copy inherits this environment: point it at its own section.
  std::string elevated = Fact(section, "ElevatedSection");
  if (elevated.empty()) elevated = "elevated";
  SetEnvironmentVariableA(kSectionVariable, elevated.c_str());
  const BOOL started = shellExecuteEx(info);
  const DWORD error = GetLastError();
  SetEnvironmentVariableA(kSectionVariable, section.c_str());
  SetLastError(error);
  return started;
}

BOOL EvaluateAccess(AccessCheckProc accessCheck, const char* objectName, PSECURITY_DESCRIPTOR descriptor, HANDLE token,
                    DWORD desiredAccess, PGENERIC_MAPPING mapping, PPRIVILEGE_SET privileges, LPDWORD privilegesLength,
                    LPDWORD grantedAccess, LPBOOL accessStatus) {
  const std::string fact = Fact(Section() + ".access", objectName);
  if (fact.empty())
    return accessCheck(descriptor, token, desiredAccess, mapping, privileges, privilegesLength, grantedAccess,
                       accessStatus);
  if (fact == "fail") {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (fact == "grant") {
    *accessStatus = TRUE;
    *grantedAccess = desiredAccess;
    return TRUE;
  }
  if (fact.compare(0, 4, "deny") != 0) BadFact(objectName, fact);
  char* end = nullptr;
  const unsigned long granted = fact.size() > 4 ? std::strtoul(fact.c_str() + 4, &end, 0) : 0;
  if (fact.size() > 4 && (fact[4] != ' ' || !end || *end)) BadFact(objectName, fact);
  *accessStatus = FALSE;
  *grantedAccess = granted;
  return TRUE;
}

DWORD WaitMilliseconds(const char* waitName, DWORD shipped) {
  const std::string fact = Fact(Section() + ".waits", waitName);
  if (fact.empty()) return shipped;
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(fact.c_str(), &end, 0);
  if (!end || *end) BadFact(waitName, fact);
  return parsed;
}

void PausePoint(const char* pointName, const char* detail) {
  const std::string signal = Fact(Section() + ".pauses", pointName);
  if (signal.empty()) return;
  const std::string text = detail ? detail : "";
  HANDLE reached = CreateFileA((signal + ".reached").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (reached == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(reached, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(reached);
  for (int waited = 0; waited < 3000 && GetFileAttributesA((signal + ".go").c_str()) == INVALID_FILE_ATTRIBUTES;
       ++waited)
    Sleep(20);
}

HRESULT BindElevationMoniker(const wchar_t* monikerName, BIND_OPTS3* options, REFCLSID classId, REFIID interfaceId,
                             void** object) {
  const std::string fact = Fact(Section(), "ElevationMoniker");
  if (fact.empty()) return CoGetObject(monikerName, options, interfaceId, object);
  if (fact == "accept") return CoCreateInstance(classId, nullptr, CLSCTX_LOCAL_SERVER, interfaceId, object);
  if (fact == "cancel") return HRESULT_FROM_WIN32(ERROR_CANCELLED);
  char* end = nullptr;
  const unsigned long failure = fact.compare(0, 5, "fail ") == 0 ? std::strtoul(fact.c_str() + 5, &end, 0) : 0;
  if (!end || *end || !FAILED(static_cast<HRESULT>(failure))) BadFact("ElevationMoniker", fact);
  return static_cast<HRESULT>(failure);
}

}  // namespace kit::facts
