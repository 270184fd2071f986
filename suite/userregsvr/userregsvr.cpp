// userregsvr.exe: registers a COM server for the current user only, or with
// /u removes that registration. Without /r the file's own per-user entry
// point (DllRegisterServerUser, DllUnregisterServerUser) is called; with /r,
// or when the file has no such entry point, its DllRegisterServer
// (DllUnregisterServer) runs while the class registrations of the machine (HKEY_CLASSES_ROOT) are
// redirected to the user's (HKEY_CURRENT_USER\Software\Classes). COM is
// initialised on the thread around the call, as in kitloader's own process.
// The exit code is 0 when the entry point answered S_OK, otherwise the
// failure: 87 for a bad command line, the loader's error, 127 without an
// entry point, or the entry point's HRESULT (the exception code when it
// faulted; S_FALSE, 1, counts as a failure as it does in kitloader). /s
// shows nothing; otherwise the outcome is shown in a box.
#include <windows.h>
#include <objbase.h>

#include "foundation/dll_search.h"
#include "foundation/errorlog.h"
#include "foundation/dll_search.h"
#include "foundation/fault_guard.h"
#include "foundation/file_error_log.h"
#include "foundation/handles.h"
#include "foundation/m_strings.h"
#include "foundation/m_textconv.h"
#include "userregsvr_args.h"

namespace {

const char kFunction[] = "userregsvr";

UClientFileErrorLog g_cErrorLog;

using kit::EntryPoint;

EntryPoint Find(HMODULE module, const char* name) {
  return reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The machine's class registrations of this process go to the user's for
// the lifetime of the object.
class ClassesToUser {
 public:
  explicit ClassesToUser(bool wanted) {
    if (wanted && RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        m_classes.put(), nullptr) == ERROR_SUCCESS) {
      m_active = RegOverridePredefKey(HKEY_CLASSES_ROOT, m_classes.get()) == ERROR_SUCCESS;
    }
  }
  ~ClassesToUser() {
    if (m_active) RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  }
  bool active() const { return m_active; }

 private:
  kit::UniqueKey m_classes;
  bool m_active = false;
};

DWORD Register(const UserRegisterArgs& args) {
  kit::UniqueModule module(kit::LoadControlLibrary(args.file.c_str()));
  if (!module) {
    const DWORD error = GetLastError();
    LogRecord(kLogErrors, kFunction, UMessage::Format("%1, %2, %3", "cannot load", args.file.c_str(), SGetErrorText(error)));
    return error ? error : ERROR_MOD_NOT_FOUND;
  }
  EntryPoint entry =
      args.redirect ? nullptr : Find(module.get(), args.unregister ? "DllUnregisterServerUser" : "DllRegisterServerUser");
  // DllRegisterServer registers for the machine: for the user only with the
  // classes redirected.
  const bool redirect = !entry;
  if (!entry) entry = Find(module.get(), args.unregister ? "DllUnregisterServer" : "DllRegisterServer");
  if (!entry) {
    LogRecord(kLogErrors, kFunction, UMessage::Format("%1, %2", "no registration entry point", args.file.c_str()));
    return ERROR_PROC_NOT_FOUND;
  }
  HRESULT hr = E_FAIL;
  bool faulted = false;
  {
    ClassesToUser classes(redirect);
    if (redirect && !classes.active()) {
      LogRecord(kLogErrors, kFunction, UString("cannot redirect the class registrations"));
      return ERROR_ACCESS_DENIED;
    }
    const HRESULT initialized = CoInitialize(nullptr);
    hr = kit::CallEntryPointGuarded(entry, &faulted);
    if (SUCCEEDED(initialized) && !faulted) CoUninitialize();
  }
  // A faulted component is not asked to detach.
  if (faulted) module.release();
  LogRecord(kLogTrace, kFunction,
            UMessage::Format("%1%2, %3, %4, 0x%5", args.unregister ? "unregistered" : "registered",
                             redirect ? " (redirected)" : "",
                             args.file.c_str(), hr == S_OK ? "succeeded" : "failed",
                             UString::Format("%08lx", static_cast<unsigned long>(hr))));
  return hr == S_OK ? 0 : static_cast<DWORD>(hr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  kit::RestrictDllSearch();
  if (g_pErrorLog) g_pErrorLog->Open("USERREGSVR");
  const UserRegisterArgs args = ParseUserRegisterArgs(commandLine ? commandLine : "");
  DWORD result = ERROR_INVALID_PARAMETER;
  if (!args.error.empty()) {
    LogRecord(kLogErrors, kFunction, UMessage::Format("%1, %2", "bad command line", args.error.c_str()));
  } else {
    result = Register(args);
  }
  if (!args.silent) {
    const char* done = args.unregister ? "unregistered" : "registered";
    UString text = result == 0 ? UMessage::Format("%1 was %2 for the current user.", args.file.c_str(), done)
                               : UMessage::Format("%1 could not be %2: %3", args.file.c_str(), done,
                                                  args.error.empty() ? SGetErrorText(result) : UString(args.error.c_str()));
    MessageBoxA(nullptr, text.c_str(), "userregsvr", MB_OK | (result == 0 ? MB_ICONINFORMATION : MB_ICONERROR));
  }
  return static_cast<int>(result);
}
