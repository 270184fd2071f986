// Control registration: a placed control registers itself through its own
// entry points. For the machine its DllRegisterServer runs in this process;
// for the current user its DllRegisterServerUser runs here, or the suite's
// per-user registration application (userregsvr.exe) registers it in a
// process of its own.
#include <windows.h>

#include <vector>

#include "cabinstaller/UKitLoader.h"
#include "cabinstaller/distribution_unit_rules.h"
#include "components/component_catalogue.h"
#include "components/installed_components.h"
#include "foundation/dll_search.h"
#include "foundation/fault_guard.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "foundation/m_registry.h"
#include "platform/platform_facts.h"

namespace {

const char kRegister[] = "UKitLoader::RegisterActiveX()";
const char kRegisterUser[] = "UKitLoader::RegisterActiveXUser()";
const char kRegisterUserPlain[] = "UKitLoader::RegisterActiveXUser";
const char kEngineRegisterUser[] = "USmartUpdateEx::RegisterActiveXUser()";
const char kUnregister[] = "UKitLoader::UnregisterActiveX()";
const char kUnregisterUser[] = "UKitLoader::UnregisterActiveXUser()";
const char kUserRegister[] = "UKitLoader::SGetUserRegister()";
const char kUserRegisterApp[] = "userregsvr.exe";
constexpr DWORD kUserRegisterWait = 35000;
constexpr std::size_t kLongestCurrentFolder = 259;

// The current folder, to be restored after the control is loaded.
UString SavedCurrentFolder() {
  std::vector<char> buffer(200);
  DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
  if (n >= buffer.size()) {
    buffer.resize(n + 2);
    n = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
  }
  if (n == 0 || n >= buffer.size())
    KL_THROW(-1, kRegister, "SGetCurrentDirectory() - error=%d", static_cast<int>(GetLastError()));
  UString folder(buffer.data(), static_cast<int>(n));
  // A drive's root keeps its backslash: "C:" alone would mean the drive's
  // current folder, not its root.
  const bool root = folder.length() == 3 && folder[1] == ':';
  if (!root && folder.length() > 0 && folder[folder.length() - 1] == '\\')
    folder = folder.Left(static_cast<int>(folder.length()) - 1);
  return folder;
}

// The folder of a path up to its last backslash (the whole path without
// one), trimmed, ending with a backslash; empty when there is none.
UString FolderOfControl(const UString& path) {
  const std::size_t cut = path.str().rfind('\\');
  UString folder = (cut == std::string::npos ? path : path.Left(static_cast<int>(cut))).Trimmed();
  if (!folder.empty() && folder[folder.length() - 1] != '\\') folder += "\\";
  return folder;
}

// Whether a candidate for the per-user registration application can be read.
bool UserRegisterOpens(const UString& candidate) {
  kit::UniqueFile file(
      CreateFileA(candidate.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) return true;
  LogRecord(kLogErrors, kUserRegister, UMessage::Format("%1, %2", "cannot find file", candidate));
  return false;
}

UString FolderOf(const UString& path) {
  const std::size_t cut = path.str().find_last_of("\\/");
  return cut == std::string::npos ? UString() : path.Left(static_cast<int>(cut));
}

// The names a run of the per-user registration application logs under.
struct UserRegisterSites {
  const char* start;   // starting it failed
  const char* outcome;  // it timed out or failed
  const char* failed;  // the text of a failure
};

// Runs the per-user registration application on one file with `switches`
// (ending with a blank) and waits up to 35 s for it. 0; 1603 when it cannot
// be started or fails; 1223 when it does not finish in time (it is left
// running).
int RunUserRegister(const UString& app, const char* switches, const char* path, const UserRegisterSites& sites) {
  const UString commandLine = "\"" + app + "\" " + switches + "\"" + UString(path) + "\"";
  std::vector<char> buffer(commandLine.str().begin(), commandLine.str().end());
  buffer.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
    const DWORD error = GetLastError();
    LogRecord(kLogErrors, sites.start, UMessage::Format("%1, %2", "CreateProcess failed\n", commandLine));
    LogRecord(kLogErrors, sites.start,
              UMessage::Format("%1, %2", "CreateProcess error\n", UString::Format("%lu", error)));
    return ERROR_INSTALL_FAILURE;
  }
  kit::ProcessInformation process;
  process.Adopt(started);
  process.thread.reset();
  const DWORD waited =
      WaitForSingleObject(process.process.get(), kit::facts::WaitMilliseconds("UserRegister", kUserRegisterWait));
  DWORD exitCode = 0;
  const BOOL haveExitCode = GetExitCodeProcess(process.process.get(), &exitCode);
  process.process.reset();
  if (waited == WAIT_TIMEOUT) {
    LogRecord(kLogErrors, sites.outcome, UString("installation aborted"));
    return ERROR_CANCELLED;
  }
  // A wait or exit-code read that failed is no success either.
  if (waited != WAIT_OBJECT_0 || !haveExitCode) exitCode = ERROR_INSTALL_FAILURE;
  if (exitCode != 0) {
    LogRecord(kLogErrors, sites.outcome, UMessage::Format("%1, %2", sites.failed, exitCode));
    return ERROR_INSTALL_FAILURE;
  }
  return 0;
}

}  // namespace

int UKitLoader::CallDllEntryPoint(const char* path, const char* entryPoint) {
  int result = 0;
  CatchAndLog(KL_CATCH_SITE("UKitLoader::CallDllEntryPoint", "CallDllEntryPoint"), result, [&] {
    const UString saved = SavedCurrentFolder();
    const UString file(path);
    const UString folder = FolderOfControl(file);
    if (!folder.empty()) {
      if (folder.length() > kLongestCurrentFolder)
        LogRecord(kLogWarnings, kRegister,
                  UMessage::Format("%1, %2", "Destination path is too long for SetCurrentDirectory", folder));
      // The control's own dependencies beside it are found while it loads.
      SetCurrentDirectoryA(folder.c_str());
    }
    kit::UniqueModule module(kit::LoadControlLibrary(file.c_str()));
    const DWORD loadError = GetLastError();
    SetCurrentDirectoryA(saved.c_str());
    if (!module) {
      LogRecord(kLogErrors, kRegister, UMessage::Format("%1, %2, %3", "failed to load", file, loadError));
      result = static_cast<int>(loadError);
      return;
    }
    const kit::EntryPoint entry =
        reinterpret_cast<kit::EntryPoint>(reinterpret_cast<void*>(GetProcAddress(module.get(), entryPoint)));
    if (!entry) {
      const DWORD error = GetLastError();
      LogRecord(kLogErrors, kRegister, UMessage::Format("%1, %2", "GetProcAddress failed", error));
      result = static_cast<int>(error);
      return;
    }
    const HRESULT initialized = CoInitialize(nullptr);
    bool faulted = false;
    const HRESULT hr = kit::CallEntryPointGuarded(entry, &faulted);
    if (SUCCEEDED(initialized)) CoUninitialize();
    if (faulted) {
      LogRecord(kLogErrors, kRegister,
                UMessage::Format("%1, %2, %3", "entry point raised an exception", UString(entryPoint),
                                 UString::Format("0x%08lX", static_cast<unsigned long>(hr))));
      // A control whose code faulted half-way is not asked to detach.
      module.release();
    }
    if (hr < 0) LogRecord(kLogErrors, kRegister, UMessage::Format("%1, %2", "DLLRegisterServer failed", hr));
    result = hr;
  });
  return result;
}

int UKitLoader::RegisterActiveX(const char* path) {
  const int r = CallDllEntryPoint(path, "DllRegisterServer");
  if (r < 0) LogRecord(kLogErrors, kRegister, UMessage::Format("%1, %2", "failed", UString::Format("%d", r)));
  return r;
}

int UKitLoader::RegisterActiveXUser(const char* path, bool redirectToHKCU, bool userEntryPoints) {
  if (!path || !*path) {
    LogRecord(kLogErrors, kRegisterUser, UString("incorect argument (fullpath)"));
    return ERROR_BAD_ARGUMENTS;
  }
  if (userEntryPoints) return CallDllEntryPoint(path, "DllRegisterServerUser");

  const UString app = SGetUserRegister();
  if (app.empty()) {
    LogRecord(kLogErrors, kRegisterUserPlain,
              UMessage::Format("%1, %2", "cannot find per-user register applicaiton", app));
    return ERROR_INSTALL_FAILURE;
  }
  return RunUserRegister(app, redirectToHKCU ? "/s /r " : "/s ", path,
                         {kRegisterUserPlain, kEngineRegisterUser, "per-user registration failed"});
}

int UKitLoader::UnregisterActiveX(const char* path) {
  const int r = CallDllEntryPoint(path, "DllUnregisterServer");
  if (r != 0) LogRecord(kLogErrors, kUnregister, UMessage::Format("%1, %2", "failed", UString::Format("%d", r)));
  return r;
}

int UKitLoader::UnregisterActiveXUser(const char* path) {
  const UString app = SGetUserRegister();
  if (app.empty()) {
    LogRecord(kLogErrors, kUnregisterUser,
              UMessage::Format("%1, %2", "cannot find per-user register applicaiton", app));
    return ERROR_INSTALL_FAILURE;
  }
  return RunUserRegister(app, "/s /u ", path, {kUnregisterUser, kUnregisterUser, "per-user unregistration failed"});
}

void UKitLoader::SaveRegistration(const UString& classId) {
  const UString classKey = "Software\\Classes\\CLSID\\" + classId;
  const KnownClass* known = FindKnownClass(classId.c_str());
  for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    m_state.Rollback().SaveKey(hive, classKey);
    UString typeLib = SGetRegistryAsString(hive, (classKey + "\\TypeLib").c_str(), "", "", 0, 0);
    if (typeLib.empty() && known && known->typeLibId) typeLib = known->typeLibId;
    if (typeLib.length() > 2 && typeLib[0] == '{' && typeLib.str().find('\\') == std::string::npos)
      m_state.Rollback().SaveKey(hive, "Software\\Classes\\TypeLib\\" + typeLib);
    for (const char* link : {"\\ProgID", "\\VersionIndependentProgID"}) {
      // A program name is a key of its own below the classes, never one of
      // the lists every class shares.
      const UString name = SGetRegistryAsString(hive, (classKey + link).c_str(), "", "", 0, 0);
      if (name.empty() || name.str().find('\\') != std::string::npos || name.EqualsNoCase("CLSID") ||
          name.EqualsNoCase("TypeLib") || name.EqualsNoCase("Interface") || name.EqualsNoCase("AppID"))
        continue;
      m_state.Rollback().SaveKey(hive, "Software\\Classes\\" + name);
    }
    m_state.Rollback().SaveKey(hive, DistributionUnitKey(classId));
  }
}

UString UKitLoader::SGetUserRegister() {
  UString found;
  int status = 0;
  CatchAndLog(KL_CATCH_SITE("UKitLoader::SGetUserRegister", "UKitLoader::SGetUserRegister"), status, [&] {
    const UString programFolder = FolderOf(SGetModuleFileName(nullptr));
    if (programFolder.empty()) {
      LogRecord(kLogErrors, kUserRegister, UString("cannot get current path"));
    } else {
      const UString candidate = programFolder + "\\" + kUserRegisterApp;
      if (UserRegisterOpens(candidate)) {
        found = candidate;
        return;
      }
    }
    UString server;
    ReadInstalledPath(server, false, kInstallerControlClassId, "");
    if (server.empty()) return;
    const UString candidate = FolderOf(server) + "\\" + kUserRegisterApp;
    if (UserRegisterOpens(candidate)) found = candidate;
  });
  return found;
}
