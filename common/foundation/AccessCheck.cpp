#include "foundation/AccessCheck.h"

#include <aclapi.h>

#include "foundation/errorlog.h"
#include "foundation/handles.h"
#include "platform/platform_facts.h"
#include "delayload/system_library.h"

namespace {

typedef BOOL(WINAPI* OpenThreadTokenProc)(HANDLE, DWORD, BOOL, PHANDLE);
typedef BOOL(WINAPI* OpenProcessTokenProc)(HANDLE, DWORD, PHANDLE);
typedef BOOL(WINAPI* DuplicateTokenProc)(HANDLE, SECURITY_IMPERSONATION_LEVEL, PHANDLE);
typedef DWORD(WINAPI* GetNamedSecurityInfoAProc)(LPCSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*,
                                                 PACL*, PSECURITY_DESCRIPTOR*);

template <class Proc>
Proc Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The generic rights of each object type; other types map nothing.
GENERIC_MAPPING MappingOf(SE_OBJECT_TYPE type) {
  switch (type) {
    case SE_FILE_OBJECT:
      return GENERIC_MAPPING{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    case SE_REGISTRY_KEY:
      return GENERIC_MAPPING{KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS};
    default:
      return GENERIC_MAPPING{0, 0, 0, 0};
  }
}

bool LoadAdvapi(kit::UniqueModule& module, const char* function) {
  module.reset(kit::LoadSystemLibrary("advapi32.dll"));
  if (!module)
    LogRecord(kLogWarnings, function,
              UMessage::Format("Failed to load library advapi32.dll (error: %1)", GetLastError()));
  return module.valid();
}

void LogMissingProcedure(const char* function) {
  LogRecord(kLogWarnings, function, UMessage::Format("Failed to get procedure address (error: %1)", GetLastError()));
}

}  // namespace

HANDLE UAccessCheck::GetCurrentToken() {
  static const char kFunction[] = "UAccessCheck::GetCurrentToken";
  kit::UniqueModule advapi;
  if (!LoadAdvapi(advapi, kFunction)) return nullptr;
  auto openThreadToken = Lookup<OpenThreadTokenProc>(advapi.get(), "OpenThreadToken");
  auto openProcessToken = Lookup<OpenProcessTokenProc>(advapi.get(), "OpenProcessToken");
  auto duplicateToken = Lookup<DuplicateTokenProc>(advapi.get(), "DuplicateToken");
  if (!openThreadToken || !openProcessToken || !duplicateToken) {
    LogMissingProcedure(kFunction);
    return nullptr;
  }
  kit::UniqueHandle token;
  if (!openThreadToken(GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_QUERY, FALSE, token.put()) &&
      GetLastError() == ERROR_NO_TOKEN)
    openProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, token.put());
  if (!token) {
    LogRecord(kLogWarnings, kFunction, UMessage::Format("Failed to open token (error: %1)", GetLastError()));
    return nullptr;
  }
  HANDLE duplicate = nullptr;
  if (!duplicateToken(token.get(), SecurityIdentification, &duplicate)) {
    LogRecord(kLogWarnings, kFunction, UMessage::Format("Failed to duplicate token (error: %1)", GetLastError()));
    return nullptr;
  }
  return duplicate;
}

bool UAccessCheck::CheckAccess(const char* objectName, SE_OBJECT_TYPE objectType, DWORD desiredAccess) {
  static const char kFunction[] = "UAccessCheck::CheckAccess";
  kit::UniqueHandle token(GetCurrentToken());
  if (!token) return false;
  kit::UniqueModule advapi;
  if (!LoadAdvapi(advapi, kFunction)) return false;
  auto getNamedSecurityInfo = Lookup<GetNamedSecurityInfoAProc>(advapi.get(), "GetNamedSecurityInfoA");
  auto accessCheck = Lookup<kit::facts::AccessCheckProc>(advapi.get(), "AccessCheck");
  if (!getNamedSecurityInfo || !accessCheck) {
    LogMissingProcedure(kFunction);
    return false;
  }
  if (!objectName) objectName = "";

  PSECURITY_DESCRIPTOR rawDescriptor = nullptr;
  const DWORD infoResult = getNamedSecurityInfo(
      objectName, objectType, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
      nullptr, nullptr, nullptr, nullptr, &rawDescriptor);
  kit::UniqueLocal descriptor(rawDescriptor);
  if (infoResult != ERROR_SUCCESS) {
    LogRecord(kLogErrors, kFunction,
              UMessage::Format("Failed to get security info for %1 (error: %2)", objectName, infoResult));
    return false;
  }

  GENERIC_MAPPING mapping = MappingOf(objectType);
  DWORD access = desiredAccess;
  MapGenericMask(&access, &mapping);

  // Room for the privileges AccessCheck may report.
  union {
    PRIVILEGE_SET set;
    BYTE bytes[20];
  } privileges = {};
  DWORD privilegesLength = sizeof privileges.bytes;
  DWORD granted = 0;
  BOOL status = FALSE;
  if (!kit::facts::EvaluateAccess(accessCheck, objectName, descriptor.get(), token.get(), access, &mapping,
                                  &privileges.set, &privilegesLength, &granted, &status)) {
    LogRecord(kLogWarnings, kFunction,
              UMessage::Format("Access check failed for %1 (error: %2)", objectName, GetLastError()));
    return false;
  }
  if (!status) {
    LogRecord(kLogTrace, kFunction, UMessage::Format("Access to %1 denied (access: %2)", objectName, granted));
    return false;
  }
  LogRecord(kLogTrace, kFunction, UMessage::Format("Access to %1 granted (access: %2)", objectName, granted));
  return true;
}
