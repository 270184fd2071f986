// The suite's installer helper: a COM local server that starts the user-mode
// installers on request.
//
//   ombrixhelper.exe /RegServer [installer arguments]   registers the class as a
//                    local server of this file, with what the elevation
//                    moniker needs (its Elevation key and display name), and
//                    the type library that marshals its interfaces; the
//                    installer arguments are added to every installer it
//                    starts
//   ombrixhelper.exe /UnregServer                       removes both
//   ombrixhelper.exe -Embedding                         (started by COM) serves
//
// ILegacyServiceHelper::StartOnAltPipe (the helper created through the
// elevation prompt) starts "ombrixappinst.exe /pipe 1" beside the helper;
// IPerUserServiceHelper::StartAsUser starts the installer of pipe 1 or 2
// ("ombrixmappinst.exe /pipe 2" beside the helper, or ombrixappinst.exe when
// there is no separate medium-integrity installer). Each returns once the
// installer's process runs. The helper ends when its last object is released,
// or after a minute without any.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <olectl.h>

#include <atomic>
#include <cstring>
#include <new>
#include <string>

#include "../com_class_factory.h"
#include "components/component_catalogue.h"
#include "engine/installer_helper.h"
#include "foundation/dll_search.h"
#include "foundation/file_error_log.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "foundation/m_textconv.h"

namespace {

// Put before the installers' arguments in the registered command line.
const char kInstallerMarker[] = " /installer ";

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
DWORD g_mainThread = 0;

// Ends the server once nobody holds an object or a lock.
void MaybeQuit() {
  if (g_objects.load() == 0 && g_locks.load() == 0) PostThreadMessageA(g_mainThread, WM_QUIT, 0, 0);
}

UString HelperFolder() {
  UString folder;
  SSplitPath(SGetModuleFileName(nullptr), &folder, nullptr);
  return folder;
}

// What the registration added to the command line for the installers.
UString InstallerArguments() {
  std::string line = GetCommandLineA();
  const std::size_t at = line.find(kInstallerMarker);
  if (at == std::string::npos) return UString();
  line = line.substr(at + sizeof kInstallerMarker - 1);
  for (const char* embedding : {" -Embedding", " /Embedding"}) {
    const std::size_t tail = line.rfind(embedding);
    if (tail != std::string::npos && tail + std::strlen(embedding) == line.size()) line.resize(tail);
  }
  return line.c_str();
}

HRESULT StartInstaller(LONG pipe) {
  static const char kStartInstaller[] = "OmbrixHelper::StartInstaller()";
  const UString folder = HelperFolder();
  UString program = folder + "ombrixappinst.exe";
  // A separate medium-integrity installer, when the suite has one.
  if (pipe == 2 && GetFileAttributesA((folder + "ombrixmappinst.exe").c_str()) != INVALID_FILE_ATTRIBUTES)
    program = folder + "ombrixmappinst.exe";
  UString command = UMessage::Format("\"%1\" /pipe %2", program, static_cast<int>(pipe));
  const UString extra = InstallerArguments();
  if (!extra.empty()) command = command + " " + extra;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  std::string writable = command.c_str();
  if (!CreateProcessA(program.c_str(), &writable[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                      &started)) {
    const DWORD error = GetLastError();
    LogRecord(kLogErrors, kStartInstaller, UMessage::Format("%1, %2, %3", "CreateProcess() failed", command, error));
    return HRESULT_FROM_WIN32(error);
  }
  kit::ProcessInformation process;
  process.Adopt(started);
  LogRecord(kLogTrace, kStartInstaller, UMessage::Format("%1, %2", "started", command));
  return S_OK;
}

class Helper final : public ILegacyServiceHelper, public IPerUserServiceHelper {
 public:
  Helper() { ++g_objects; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    IID legacy = {}, perUser = {};
    HelperGuid(kLegacyServiceHelperInterfaceId, &legacy);
    HelperGuid(kPerUserServiceHelperInterfaceId, &perUser);
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, perUser))
      *out = static_cast<IPerUserServiceHelper*>(this);
    else if (IsEqualIID(iid, legacy))
      *out = static_cast<ILegacyServiceHelper*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_references;
    if (left == 0) {
      delete this;
      --g_objects;
      MaybeQuit();
    }
    return left;
  }

  HRESULT STDMETHODCALLTYPE StartOnMainPipe() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE StartOnAltPipe() override {
    LogRecord(kLogTrace, "OmbrixHelper::StartOnAltPipe()", UString("enter"));
    return StartInstaller(1);
  }

  HRESULT STDMETHODCALLTYPE GetHelperVersion(LONG* version) override {
    if (!version) return E_POINTER;
    *version = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE StopInstallers() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE StartAsUser(HWND window, LONG selector) override {
    LogRecord(kLogTrace, "OmbrixHelper::StartAsUser()",
              UMessage::Format("selector %1, window %2", static_cast<int>(selector),
                               static_cast<unsigned>(reinterpret_cast<UINT_PTR>(window))));
    if (selector != 1 && selector != 2) return E_INVALIDARG;
    return StartInstaller(selector);
  }

 private:
  std::atomic<ULONG> m_references{1};
};

// The class's display name in the string table of ombrixhelper.rc.
constexpr int kDisplayNameId = 101;

std::string ClassKey() { return std::string("CLSID\\") + kInstallerHelperClassId; }

HRESULT Register() {
  const UString module = SGetModuleFileName(nullptr);
  const std::string line = GetCommandLineA();
  const char kRegServer[] = "/RegServer";
  std::size_t at = line.find(kRegServer);
  std::string extra = at == std::string::npos ? std::string() : line.substr(at + sizeof kRegServer - 1);
  extra.erase(0, extra.find_first_not_of(' '));
  std::string server = std::string("\"") + module.c_str() + "\"";
  if (!extra.empty()) server += std::string(kInstallerMarker) + extra;
  const struct {
    std::string key;
    std::string value;
  } values[] = {
      {ClassKey(), "Ombrix Installer Helper"},
      {ClassKey() + "\\LocalServer32", server},
      {ClassKey() + "\\TypeLib", kInstallerHelperTypeLibId},
  };
  for (const auto& v : values) {
    kit::UniqueKey key;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, v.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) !=
            ERROR_SUCCESS ||
        RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.value.c_str()),
                       static_cast<DWORD>(v.value.size() + 1)) != ERROR_SUCCESS)
      return SELFREG_E_CLASS;
  }
  // The elevation moniker creates only a class that allows it and has a
  // display name for the prompt (a string of this file's resources).
  const std::string displayName = "@" + module.str() + ",-" + std::to_string(kDisplayNameId);
  const DWORD enabled = 1;
  kit::UniqueKey classKey, elevation;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, ClassKey().c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, classKey.put(),
                      nullptr) != ERROR_SUCCESS ||
      RegSetValueExA(classKey.get(), "LocalizedString", 0, REG_SZ, reinterpret_cast<const BYTE*>(displayName.c_str()),
                     static_cast<DWORD>(displayName.size() + 1)) != ERROR_SUCCESS ||
      RegCreateKeyExA(classKey.get(), "Elevation", 0, nullptr, 0, KEY_SET_VALUE, nullptr, elevation.put(), nullptr) !=
          ERROR_SUCCESS ||
      RegSetValueExA(elevation.get(), "Enabled", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enabled),
                     sizeof enabled) != ERROR_SUCCESS)
    return SELFREG_E_CLASS;
  wchar_t path[MAX_PATH * 2] = {};
  if (StringToWideChar(module.c_str(), path, MAX_PATH * 2) != 0) return SELFREG_E_TYPELIB;
  kit::UniqueCom<ITypeLib> library;
  HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, library.put());
  if (SUCCEEDED(hr)) hr = RegisterTypeLib(library.get(), path, nullptr);
  return FAILED(hr) ? SELFREG_E_TYPELIB : S_OK;
}

HRESULT Unregister() {
  RegDeleteTreeA(HKEY_CLASSES_ROOT, ClassKey().c_str());
  GUID library = {};
  if (HelperGuid(kInstallerHelperTypeLibId, &library)) UnRegisterTypeLib(library, 1, 0, LOCALE_NEUTRAL, SYS_WIN32);
  return S_OK;
}

int Serve() {
  const UINT kIdleMs = 60000;
  g_mainThread = GetCurrentThreadId();
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue, before anyone posts to it
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  CLSID helper = {};
  HelperGuid(kInstallerHelperClassId, &helper);
  static ClassFactoryOf<Helper> factory(&g_locks, &MaybeQuit);
  DWORD cookie = 0;
  HRESULT hr = CoRegisterClassObject(helper, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
  if (SUCCEEDED(hr)) {
    // Without a client for a minute (one that never came, or one that went
    // away without releasing), the helper ends.
    const UINT_PTR idle = SetTimer(nullptr, 0, kIdleMs, nullptr);
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      if (message.message == WM_TIMER && message.hwnd == nullptr) {
        if (g_objects.load() == 0 && g_locks.load() == 0) break;
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    KillTimer(nullptr, idle);
    CoRevokeClassObject(cookie);
  }
  CoUninitialize();
  return FAILED(hr) ? 1 : 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  kit::RestrictDllSearch();
  UClientFileErrorLog log;
  log.Open("OMBRIXHELPER");
  const std::string line = commandLine ? commandLine : "";
  auto has = [&](const char* option) { return line.find(option) != std::string::npos; };
  if (has("/RegServer") || has("-RegServer")) return Register();
  if (has("/UnregServer") || has("-UnregServer")) return Unregister();
  return Serve();
}
