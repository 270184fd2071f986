#include "foundation/m_uac_helpers.h"

#include <objbase.h>
#include <shellapi.h>

#include <sddl.h>

#include <cwchar>
#include <memory>
#include <string>

#include "foundation/errorlog.h"
#include "foundation/handles.h"
#include "foundation/m_textconv.h"
#include "platform/platform_facts.h"
#include "delayload/system_library.h"

bool uReadProcessIntegrityValue(HANDLE process, DWORD* value) {
  static const char kFunction[] = "::uGetProcessIntegrityLevel";
  kit::UniqueHandle token;
  if (!OpenProcessToken(process, TOKEN_QUERY | TOKEN_QUERY_SOURCE, token.put())) {
    LogRecord(kLogWarnings, kFunction, UMessage::Format("Failed to open process token, error", GetLastError()));
    return false;
  }
  DWORD size = 0;
  if (GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &size)) {
    LogRecord(kLogWarnings, kFunction, UString("First call to GetTokenInformation must fail"));
    return false;
  }
  const DWORD sizeError = GetLastError();
  if (sizeError != ERROR_INSUFFICIENT_BUFFER) {
    LogRecord(kLogWarnings, kFunction,
              UMessage::Format("Failed to get process token information size, error", sizeError));
    return false;
  }
  kit::UniqueLocal buffer(LocalAlloc(LMEM_FIXED, size));
  if (!buffer) {
    LogRecord(kLogWarnings, kFunction,
              UMessage::Format("Failed to allocate memory (size, error)", size, GetLastError()));
    return false;
  }
  if (!GetTokenInformation(token.get(), TokenIntegrityLevel, buffer.get(), size, &size)) {
    LogRecord(kLogWarnings, kFunction,
              UMessage::Format("Failed to get process token information error", GetLastError()));
    return false;
  }
  PSID sid = static_cast<TOKEN_MANDATORY_LABEL*>(buffer.get())->Label.Sid;
  const UCHAR count = *GetSidSubAuthorityCount(sid);
  if (count == 0) return false;
  *value = *GetSidSubAuthority(sid, count - 1);
  return true;
}

DWORD uIntegrityLevelOfValue(DWORD value) {
  if (value < kIntegrityMedium) return kIntegrityLow;
  if (value < kIntegrityHigh) return kIntegrityMedium;
  if (value < kIntegritySystem) return kIntegrityHigh;
  return kIntegritySystem;
}

DWORD uGetProcessIntegrityLevel(HANDLE process) {
  static const char kFunction[] = "uGetProcessIntegrityLevel()";
  DWORD value = 0;
  DWORD level = kIntegrityLow;
  if (kit::facts::ProcessIntegrityValue(process, &value)) level = uIntegrityLevelOfValue(value);
  switch (level) {
    case kIntegrityMedium:
      LogRecord(kLogTrace, kFunction, UString("Running on medium integrity level"));
      break;
    case kIntegrityHigh:
      LogRecord(kLogTrace, kFunction, UString("Running on high integrity level"));
      break;
    case kIntegritySystem:
      LogRecord(kLogTrace, kFunction, UString("Running on System integrity level"));
      break;
    default:
      LogRecord(kLogTrace, kFunction, UString("Running on low integrity level"));
      break;
  }
  return level;
}

bool uReadAdministratorsMember(BOOL* member) {
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &administrators))
    return false;
  const BOOL checked = CheckTokenMembership(nullptr, administrators, member);
  FreeSid(administrators);
  return checked != FALSE;
}

bool uReadProcessElevationType(TOKEN_ELEVATION_TYPE* type) {
  kit::UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  DWORD size = 0;
  return GetTokenInformation(token.get(), TokenElevationType, type, sizeof *type, &size) != FALSE;
}

namespace {

// The SID text of a token's user.
bool TokenUserText(HANDLE token, std::string* user) {
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  if (size == 0) return false;
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]);
  if (!GetTokenInformation(token, TokenUser, buffer.get(), size, &size)) return false;
  char* text = nullptr;
  if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &text)) return false;
  kit::UniqueLocal owner(text);
  *user = text;
  return true;
}

}  // namespace

bool uReadProcessUser(HANDLE process, std::string* user) {
  kit::UniqueHandle token;
  return OpenProcessToken(process, TOKEN_QUERY, token.put()) && TokenUserText(token.get(), user);
}

bool uReadPipeClientUser(HANDLE pipe, std::string* user) {
  if (!ImpersonateNamedPipeClient(pipe)) return false;
  kit::UniqueHandle token;
  const bool opened = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) != FALSE;
  // Back to the server's own rights before anything else happens.
  if (!RevertToSelf()) ExitProcess(ERROR_INVALID_ACCESS);
  return opened && TokenUserText(token.get(), user);
}

bool IsNonAdminUser() {
  BOOL member = FALSE;
  if (kit::facts::AdministratorsMember(&member) && member) return false;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  if (!kit::facts::ProcessElevationType(&type)) return false;
  return type != TokenElevationTypeLimited;
}

bool RunAsAdmin(HWND owner, const char* file, const char* parameters, bool asyncAllowed, kit::UniqueHandle* process) {
  static const char kFunction[] = "RunAsAdmin()";
  if (!file) {
    LogRecord(kLogErrors, kFunction, UString("lpFile is NULL"));
    return false;
  }
  try {
    kit::UniqueModule shell32(kit::LoadSystemLibrary("shell32.dll"));
    auto shellExecuteEx = reinterpret_cast<kit::facts::ShellExecuteExAProc>(
        shell32 ? reinterpret_cast<void*>(GetProcAddress(shell32.get(), "ShellExecuteExA")) : nullptr);
    if (!shellExecuteEx) {
      const DWORD error = GetLastError();
      LogRecord(kLogErrors, kFunction, UMessage::Format("GetProcAddress failed", SGetErrorText(error)));
      SetLastError(error);
      return false;
    }
    static_assert(sizeof(SHELLEXECUTEINFOA) == 60, "the 32-bit layout the shell expects");
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = asyncAllowed ? (SEE_MASK_ASYNCOK | SEE_MASK_FLAG_NO_UI) : (SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI);
    if (process) info.fMask |= SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = owner;
    info.lpVerb = "runas";
    info.lpFile = file;
    info.lpParameters = parameters;
    info.nShow = SW_SHOWNORMAL;
    if (!kit::facts::ElevatedShellExecute(shellExecuteEx, &info)) {
      const DWORD error = GetLastError();
      LogRecord(kLogErrors, kFunction, UMessage::Format("ShellExecuteEx failed ", file, SGetErrorText(error)));
      SetLastError(error);
      return false;
    }
    if (process) process->reset(info.hProcess);
    return true;
  } catch (...) {
    LogRecord(kLogErrors, kFunction, UString("RunAsAdmin() - EXCEPTION"));
    return false;
  }
}

HRESULT uCoCreateInstanceAsAdmin(HWND owner, REFCLSID classId, REFIID interfaceId, void** object) {
  static const char kFunction[] = "uCoCreateInstanceAsAdmin()";
  wchar_t classText[50] = {};
  StringFromGUID2(classId, classText, 50);
  wchar_t monikerName[300] = {};
  const int n = std::swprintf(monikerName, 300, L"Elevation:%ls!new:%ls", L"Highest", classText);
  if (n < 0 || n >= 300) {
    LogRecord(kLogErrors, kFunction, UString("_snwprintf() - buffer is insufficient"));
    return ERROR_INSUFFICIENT_BUFFER;
  }
  static_assert(sizeof(BIND_OPTS3) == 36, "the 32-bit layout COM expects");
  BIND_OPTS3 options = {};
  options.cbStruct = sizeof options;
  options.dwClassContext = CLSCTX_LOCAL_SERVER;
  options.hwnd = owner;
  return kit::facts::BindElevationMoniker(monikerName, &options, classId, interfaceId, object);
}
