// Starting a user-mode installer on demand through the suite's installer
// helper, and waiting until its pipe answers.
#include <cstdio>

#include "engine/USmartUpdateEx.h"
#include "components/component_catalogue.h"
#include "engine/installer_helper.h"
#include "foundation/m_sync.h"
#include "foundation/m_sys.h"
#include "foundation/m_uac_helpers.h"
#include "installer_service/installer_service.h"
#include "platform/platform_facts.h"

namespace {

const char kStartUserModeService[] = "USmartUpdateEx::StartUserModeService()";
const char kStartLegacyService[] = "USmartUpdateEx::StartLegacyService()";
const char kStartPerUserService[] = "USmartUpdateEx::StartPerUserService()";

// Starts of the user-mode installers wait for one another across the session.
const char kElevationMutexSuffix[] = ".ElevationMutex";
const DWORD kElevationMutexWaitMs = 180000;
// How often and how long the started installer's pipe is asked for its version.
const int kOnlinePolls = 15;
const DWORD kPollMs = 500;

const HRESULT kPromptCancelled = HRESULT_FROM_WIN32(ERROR_CANCELLED);

GUID CatalogueGuid(const char* text, const char* function) {
  GUID guid = {};
  if (!HelperGuid(text, &guid)) KL_THROW(E_INVALIDARG, function, "EXCEPTION - %s, %s", "bad identifier", text);
  return guid;
}

UString WindowText(HWND window) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", static_cast<void*>(window));
  return text;
}

}  // namespace

bool USmartUpdateEx::StartUserModeService(int serviceType) {
  LogRecord(kLogTrace, kStartUserModeService, UMessage::Format("%1, %2", "enter, (m_hWnd)", WindowText(m_hWnd)));
  bool online = false;
  bool comInitialised = false;
  int failure = 0;
  CatchAndLog(KL_CATCH_SITE(kStartUserModeService, "StartUserModeService"), failure, [&] {
    if (m_bSilent)
      KL_THROW(-1, kStartUserModeService, "EXCEPTION - %s", "attempt to run in service or with silent flag");
    if (!IsWindowsVersionAtLeast(6, 0, 0)) KL_THROW(-1, kStartUserModeService, "EXCEPTION - %s", "incompatible platform");
    const PipeKind pipe = static_cast<PipeKind>(serviceType);
    if (pipe != PipeKind::kHighIntegrity && pipe != PipeKind::kMediumIntegrity)
      KL_THROW(-1, kStartUserModeService, "EXCEPTION - %s", "invalid argument ServiceType");

    UMutex mutex((UString(kInstallerControlClassId) + kElevationMutexSuffix).c_str());
    UAutoMutex owned(mutex, kit::facts::WaitMilliseconds("ElevationMutex", kElevationMutexWaitMs));
    if (srvGetServiceVersion(kPollMs, serviceType)) {
      online = true;
      return;
    }
    const HRESULT initialised = CoInitialize(nullptr);
    if (FAILED(initialised))
      KL_THROW(initialised, kStartUserModeService, "EXCEPTION - %s, %d", "CoInitialize() failed", static_cast<int>(initialised));
    comInitialised = true;

    bool started = false;
    if (pipe == PipeKind::kHighIntegrity) {
      const HRESULT hr = StartLegacyService();
      if (hr == kPromptCancelled)
        KL_THROW(hr, kStartUserModeService, "EXCEPTION - %s", "StartLegacyService() canceled by user");
      // Without the elevated helper, the helper as the user is asked for it.
      started = SUCCEEDED(hr);
    }
    if (!started && !StartPerUserService(serviceType))
      KL_THROW(-1, kStartUserModeService, "EXCEPTION - %s", "StartPerUserService() failed");

    for (int poll = 0; poll < kOnlinePolls && !online; ++poll) {
      online = srvGetServiceVersion(kPollMs, serviceType) != 0;
      if (!online) Sleep(kPollMs);
    }
    if (!online) KL_THROW(-1, kStartUserModeService, "EXCEPTION - %s", "service failed to go online");
  });
  if (comInitialised) CoUninitialize();
  LogRecord(kLogTrace, kStartUserModeService, UMessage::Format("%1, %2", "exit", online ? 1 : 0));
  return online;
}

HRESULT USmartUpdateEx::StartLegacyService() {
  HRESULT hr = S_OK;
  int failure = 0;
  CatchAndLog(KL_CATCH_SITE(kStartLegacyService, kStartLegacyService), failure, [&] {
    const CLSID helper = CatalogueGuid(kInstallerHelperClassId, kStartLegacyService);
    const IID legacy = CatalogueGuid(kLegacyServiceHelperInterfaceId, kStartLegacyService);
    kit::UniqueCom<ILegacyServiceHelper> object;
    hr = uCoCreateInstanceAsAdmin(m_hWnd, helper, legacy, reinterpret_cast<void**>(object.put()));
    if (FAILED(hr))
      KL_THROW(hr, kStartLegacyService, "EXCEPTION - %s, %d", "uCoCreateInstanceAsAdmin() failed", static_cast<int>(hr));
    if (!object) {
      hr = E_FAIL;
      KL_THROW(hr, kStartLegacyService, "EXCEPTION - %s", "pHelper is NULL");
    }
    hr = object.get()->StartOnAltPipe();
    if (FAILED(hr)) KL_THROW(hr, kStartLegacyService, "EXCEPTION - %s, %d", "pHelper->StartOnAltPipe() failed", static_cast<int>(hr));
  });
  if (FAILED(hr)) return hr;
  return failure ? E_FAIL : S_OK;
}

bool USmartUpdateEx::StartPerUserService(int serviceType) {
  int failure = 0;
  CatchAndLog(KL_CATCH_SITE(kStartPerUserService, kStartPerUserService), failure, [&] {
    const CLSID helper = CatalogueGuid(kInstallerHelperClassId, kStartPerUserService);
    const IID perUser = CatalogueGuid(kPerUserServiceHelperInterfaceId, kStartPerUserService);
    kit::UniqueCom<IPerUserServiceHelper> object;
    HRESULT hr = CoCreateInstance(helper, nullptr, CLSCTX_LOCAL_SERVER, perUser, reinterpret_cast<void**>(object.put()));
    if (FAILED(hr)) KL_THROW(hr, kStartPerUserService, "EXCEPTION - %s, %d", "CoCreateInstance() failed", static_cast<int>(hr));
    if (!object) KL_THROW(E_FAIL, kStartPerUserService, "EXCEPTION - %s", "pHelper is NULL");
    const LONG selector = static_cast<PipeKind>(serviceType) == PipeKind::kMediumIntegrity ? 2 : 1;
    hr = object.get()->StartAsUser(m_hWnd, selector);
    if (FAILED(hr)) KL_THROW(hr, kStartPerUserService, "EXCEPTION - %s, %d", "pHelper->StartAsUser() failed", static_cast<int>(hr));
  });
  return failure == 0;
}
