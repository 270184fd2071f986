// The state of one install request: what was asked, what was decided, the
// route that installed it, whether a restart is due, and the private folder
// its package was brought into.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "engine/engine_enums.h"
#include "engine/package_record.h"
#include "engine/route_decision.h"
#include "foundation/m_strings.h"
#include "foundation/temp_folders.h"

typedef void (*InstallCallback)(std::int32_t result, const char* classId, std::uintptr_t callerValue);

// The arguments of a request.
struct InstallRequest {
  UString classId;
  UString codebase;
  UString text3;  // stored, not used further
  UString text4;  // the session value a download sends
  InstallCallback callback = nullptr;
  std::uintptr_t callerValue = 0;
};

// A request's private temporary folder, kept in place from its creation
// until it is removed.
class RequestTempFolder {
 public:
  RequestTempFolder() = default;
  RequestTempFolder(const RequestTempFolder&) = delete;
  RequestTempFolder& operator=(const RequestTempFolder&) = delete;

  // Makes a new folder below `base`: 0, or a negative status when no name
  // could be made; raises when the folder cannot be created.
  int Create(const char* base);
  // Removes the folder, when there is one, and forgets it.
  void Remove();
  // The folder; empty when there is none.
  const UString& Path() const { return m_strPath; }
  // Takes over a folder made elsewhere, to be removed like an own one.
  void Adopt(const UString& path) { m_strPath = path; }

 private:
  UString m_strPath;
  TempFolderHold m_hold;
};

class InstallRequestState {
 public:
  InstallRequestState() = default;
  InstallRequestState(const InstallRequestState&) = delete;
  InstallRequestState& operator=(const InstallRequestState&) = delete;

  // Takes a new request; its recorded result is -1 until it ends.
  void Begin(const InstallRequest& request);
  const InstallRequest& Request() const { return m_request; }

  // The update decision of the request; kept until the next one stores its own.
  void SetDecision(UpdateDecision decision) { m_iDecision = ToNumber(decision); }
  UpdateDecision Decision() const { return static_cast<UpdateDecision>(m_iDecision.load()); }

  void RecordResult(std::int32_t result) { m_iRecordedResult = result; }
  std::int32_t RecordedResult() const { return m_iRecordedResult.load(); }
  // What the caller is told: only a first installation or a repair reports
  // its real outcome, anything else 0.
  std::int32_t ReportedResult() const;

  // The route that installed the package; 0 when nothing was installed.
  void SetInstalledRoute(RouteSet route) { m_uInstalledRoute = route; }
  RouteSet InstalledRoute() const { return m_uInstalledRoute.load(); }

  void SetRebootRequired(bool required) { m_bRebootRequired = required; }
  bool RebootRequired() const { return m_bRebootRequired.load(); }

  RequestTempFolder& TempFolder() { return m_cTempFolder; }
  // The package record, filled by the acquisition.
  GetCABInfo& PackageRecord() { return m_cPackageRecord; }

 private:
  InstallRequest m_request;
  std::atomic<std::int32_t> m_iRecordedResult{0};
  std::atomic<int> m_iDecision{0};
  std::atomic<RouteSet> m_uInstalledRoute{0};
  std::atomic<bool> m_bRebootRequired{false};
  RequestTempFolder m_cTempFolder;
  GetCABInfo m_cPackageRecord;
};
