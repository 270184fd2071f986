// Whether the current security context may open a named file-system object
// or registry key with a given access, judged from the object's security
// descriptor without opening the object.
#pragma once

#include <windows.h>
#include <accctrl.h>

class UAccessCheck {
 public:
  // True when `desiredAccess` (generic rights allowed) would be granted on
  // the object. Names are those of GetNamedSecurityInfo: a path, or a key
  // name beginning with CLASSES_ROOT, CURRENT_USER, MACHINE or USERS.
  static bool CheckAccess(const char* objectName, SE_OBJECT_TYPE objectType, DWORD desiredAccess);

  // An identification-level token of the caller (the thread's when it
  // impersonates, else the process's), owned by the caller; null on failure.
  static HANDLE GetCurrentToken();
};
