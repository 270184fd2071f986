// The Installer Service: a Windows service that installs the suite's
// packages per machine on behalf of less privileged callers, over the pipe
// "\\.\pipe\NORVANE_INSTALLER_SERVICE_PIPE".
//
//   ombrixsvc.exe [/temp <folder>] [/result <code>] [/version <a.b.c.d>]
//                 [/iotimeout <ms>] [/deadline <ms>] [/keep]
//       the service itself, as the service control manager starts it;
//       /temp is the folder of its log, /result answers <code> to every
//       install request instead of installing, /version reports another
//       version than its own.
//   ombrixsvc.exe /restart <service name> [/temp <folder>]
//       waits until the named service's process has ended, then starts the
//       service again: how the service comes back after replacing its own
//       program with the one of its update package.
//
// Each received package goes to a new folder "Received-<random>" beside the
// program that only the system may open, removed after the request. A
// package is verified with the trust decision of a direct installation and
// installed per machine; the service's own update (see IsServiceUpdate)
// must be signed with one of the Installer Service's certificates and carry
// a program of a higher version than the one the service reports. The
// update is answered with 2: the service replaces its program, stops, and
// the restart helper (the new program) starts it again, so it comes back
// with the higher version.
#include <windows.h>

#include <cstdint>
#include <string>

#include "cabinstaller/UKitLoader.h"
#include "engine/USmartUpdateEx.h"
#include "foundation/dll_search.h"
#include "foundation/errorlog.h"
#include "foundation/file_error_log.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "installer_server/package_install.h"
#include "installer_server/pipe_security.h"
#include "installer_server/pipe_server.h"

namespace {

const char kServiceName[] = "Norvane Networks Component Installer";
const char kSelfUpdate[] = "OmbrixService::SelfUpdate()";
const char kServiceMain[] = "OmbrixService::ServiceMain()";
constexpr DWORD kRestartWaitMs = 60000;
constexpr std::uint64_t kOwnVersion =
    (std::uint64_t(OMBRIXSVC_VERSION_MAJOR) << 48) | (std::uint64_t(OMBRIXSVC_VERSION_MINOR) << 32) |
    (std::uint64_t(OMBRIXSVC_VERSION_BUILD) << 16) | std::uint64_t(OMBRIXSVC_VERSION_REVISION);

ombrix::ServerOptions g_options;
std::string g_temp;
SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stop = nullptr;  // owned by ServiceMain

void Report(DWORD state, DWORD exitCode = 0) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  status.dwWin32ExitCode = exitCode ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
  status.dwServiceSpecificExitCode = exitCode;
  status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 10000;
  SetServiceStatus(g_status, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
  if (control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_SHUTDOWN) return NO_ERROR;
  Report(SERVICE_STOP_PENDING);
  SetEvent(g_stop);
  return NO_ERROR;
}

UString OwnProgram() { return SGetModuleFileName(nullptr); }

// Starts `program` as the restart helper of this service.
bool StartRestartHelper(const UString& program) {
  std::string command = "\"" + program.str() + "\" /restart \"" + kServiceName + "\"";
  if (!g_temp.empty()) command += " /temp \"" + g_temp + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                      &startup, &started))
    return false;
  kit::ProcessInformation process;
  process.Adopt(started);
  return true;
}

// Replaces the running program with the update's and has the service
// started again. 0 when the service is about to go away, else the failure.
int SelfUpdate(const UString& package) {
  const DWORD verified = ombrix::VerifyReceivedPackage(package, nullptr, true);
  if (verified) return static_cast<int>(verified);
  UKitLoader extractor;
  const int extracted = extractor.ExtractCAB(package.c_str());
  if (extracted) return extracted;
  UString update;
  for (const std::string& stored : ombrix::StoredNamesOf(package))
    if (UString(SGetFileName(UString(stored))).EqualsNoCase(ombrix::kServiceProgramName))
      update = extractor.CabFolder() + stored;
  // What was extracted goes with the request's folder.
  if (update.empty()) return ERROR_FILE_NOT_FOUND;
  // Never back to an older program, nor the same one again.
  DWORD high = 0, low = 0;
  const DWORD read = USmartUpdateEx::getVersion(update.c_str(), &high, &low);
  if (read) return static_cast<int>(read);
  if ((std::uint64_t(high) << 32 | low) <= g_options.version) {
    LogRecord(kLogErrors, kSelfUpdate,
              UMessage::Format("%1, %2.%3.%4.%5", "refused: the update is not newer than the service", high >> 16,
                               high & 0xFFFF, low >> 16, low & 0xFFFF));
    return ombrix::kAnswerNotNewer;
  }
  // A running program may be renamed but not overwritten: move it aside,
  // put the new one in its place, and put it back on any failure.
  const UString own = OwnProgram();
  const UString aside = own + ".old";
  DeleteFileA(aside.c_str());
  if (!MoveFileExA(own.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING)) return static_cast<int>(GetLastError());
  if (!CopyFileA(update.c_str(), own.c_str(), FALSE) || !StartRestartHelper(own)) {
    const DWORD error = GetLastError();
    DeleteFileA(own.c_str());
    MoveFileExA(aside.c_str(), own.c_str(), MOVEFILE_REPLACE_EXISTING);
    LogRecord(kLogErrors, kSelfUpdate, UMessage::Format("%1, %2", "the update was not put in place", error));
    return error ? static_cast<int>(error) : ERROR_INSTALL_FAILURE;
  }
  LogRecord(kLogTrace, kSelfUpdate, UMessage::Format("%1, %2", "updated program in place, restarting", own));
  return 0;
}

ombrix::InstallOutcome Install(const UString& package, HWND) {
  if (ombrix::IsServiceUpdate(SGetFileName(package).str(), ombrix::StoredNamesOf(package))) {
    const int updated = SelfUpdate(package);
    if (updated == 0) return {ombrix::kAnswerUpdatesItself, true};
    return {ombrix::AnswerFor(ombrix::ResultOf::kInstall, updated)};
  }
  return {ombrix::AnswerFor(ombrix::ResultOf::kInstall, ombrix::InstallReceivedPackage(package, 1, nullptr))};
}

void WINAPI ServiceMain(DWORD, char**) {
  // The stop event exists before the first stop request can arrive.
  kit::UniqueHandle stop(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  g_stop = stop.get();
  g_status = RegisterServiceCtrlHandlerExA(kServiceName, Control, nullptr);
  if (!g_status) return;
  Report(SERVICE_START_PENDING);
  // The program an update moved aside; its process has ended by now.
  DeleteFileA((OwnProgram() + ".old").c_str());
  UString folder;
  SSplitPath(OwnProgram(), &folder, nullptr);
  ombrix::PipeServer server(g_options, folder + "Received", Install);
  server.SetSecurity(ombrix::PipeSecurity(0));
  Report(SERVICE_RUNNING);
  LogRecord(kLogTrace, kServiceMain, UString("running"));
  const int result = server.Run(stop.get());
  LogRecord(kLogTrace, kServiceMain, UMessage::Format("%1, %2", "stopped", result));
  Report(SERVICE_STOPPED, static_cast<DWORD>(result));
}

// The restart helper: waits for the service's process to end, then starts
// the service. 0 when it was started.
int Restart(const char* name) {
  static const char kRestart[] = "OmbrixService::Restart()";
  kit::UniqueWithCloser<SC_HANDLE> manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT),
                                           [](SC_HANDLE h) { CloseServiceHandle(h); });
  if (!manager) return static_cast<int>(GetLastError());
  kit::UniqueWithCloser<SC_HANDLE> service(OpenServiceA(manager.get(), name, SERVICE_START | SERVICE_QUERY_STATUS),
                                           [](SC_HANDLE h) { CloseServiceHandle(h); });
  if (!service) return static_cast<int>(GetLastError());
  const DWORD start = GetTickCount();
  SERVICE_STATUS_PROCESS status{};
  DWORD size = 0;
  while (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                              &size) &&
         status.dwCurrentState != SERVICE_STOPPED && GetTickCount() - start < kRestartWaitMs) {
    if (status.dwProcessId) {
      kit::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
      if (process) WaitForSingleObject(process.get(), kRestartWaitMs);
    }
    Sleep(100);
  }
  const BOOL started = StartServiceA(service.get(), 0, nullptr);
  const DWORD error = started ? 0 : GetLastError();
  LogRecord(started ? kLogTrace : kLogErrors, kRestart, UMessage::Format("%1, %2, %3", "StartService()", name, error));
  return static_cast<int>(error);
}

}  // namespace

int main(int argc, char** argv) {
  kit::RestrictDllSearch();
  g_options.pipe = 0;
  g_options.version = kOwnVersion;
  g_options.idleMs = INFINITE;
  if (!ombrix::ParseServerOptions(argc, argv, &g_options, {"/temp", "/restart"}) || g_options.pipe != 0) return 2;
  g_temp = g_options.extraValues[0];
  if (!g_temp.empty()) {
    SetEnvironmentVariableA("TMP", g_temp.c_str());
    SetEnvironmentVariableA("TEMP", g_temp.c_str());
  }
  UClientFileErrorLog log;
  log.Open("OMBRIXSVC");
  if (!g_options.extraValues[1].empty()) return Restart(g_options.extraValues[1].c_str());
  SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(kServiceName), ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) {
    LogRecord(kLogErrors, "OmbrixService::main()",
              UMessage::Format("%1, %2", "StartServiceCtrlDispatcher() failed", GetLastError()));
    return 1;
  }
  return 0;
}
