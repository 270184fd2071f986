// The Ombrix client control: an in-process COM server of the suite, shipped
// in the package ombrixctl.cab. It registers its class, its ProgID and its
// type library for the machine (DllRegisterServer) or for the current user
// only (DllRegisterServerUser), and removes them again (DllUnregisterServer).
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <atomic>
#include <string>

#include "../com_class_factory.h"
#include "../ombrix_module.h"

namespace {

const CLSID kClsid = {0x5C2B7E41, 0x9A3D, 0x4F6B, {0x8E, 0x21, 0x7D, 0x4C, 0x0A, 0x9B, 0x1E, 0x36}};
const IID kIid = {0x8E3F5B12, 0x4C7A, 0x4D19, {0x9B, 0x2E, 0x61, 0xA0, 0xC3, 0xD4, 0xE5, 0xF7}};
const GUID kLibId = {0x2D6B9C31, 0x7E85, 0x4A0F, {0xB3, 0xC2, 0x9F, 0x1E, 0x4D, 0x7A, 0x6B, 0x58}};
const char kClsidText[] = "{5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36}";
const char kLibIdText[] = "{2D6B9C31-7E85-4A0F-B3C2-9F1E4D7A6B58}";
const char kProgId[] = "Norvane.OmbrixControl.1";
const char kName[] = "Norvane Ombrix Control";

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

struct IOmbrixControl : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetVersion(ULONG* high, ULONG* low) = 0;
};

class OmbrixControl : public IOmbrixControl {
 public:
  OmbrixControl() { ++g_objects; }
  virtual ~OmbrixControl() { --g_objects; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, kIid)) {
      *out = static_cast<IOmbrixControl*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_refs); }
  ULONG STDMETHODCALLTYPE Release() override {
    long left = --m_refs;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE GetVersion(ULONG* high, ULONG* low) override {
    if (!high || !low) return E_POINTER;
    *high = (OMBRIX_VERSION_MAJOR << 16) | OMBRIX_VERSION_MINOR;
    *low = (OMBRIX_VERSION_BUILD << 16) | OMBRIX_VERSION_REVISION;
    return S_OK;
  }

 private:
  std::atomic<long> m_refs{1};
};

ClassFactoryOf<OmbrixControl> g_factory(&g_locks);

std::wstring Wide(const std::string& text) {
  int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring w(n > 0 ? n : 1, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &w[0], n);
  w.resize(n > 0 ? n - 1 : 0);
  return w;
}

// The class, its ProgID and the pointer to the type library, below `classes`
// (HKEY_CLASSES_ROOT, or the user's Software\Classes).
HRESULT RegisterClassKeys(HKEY root, const std::string& classes) {
  const std::string path = ModulePath();
  if (path.empty()) return SELFREG_E_CLASS;
  const std::string clsid = classes + "CLSID\\" + kClsidText;
  const struct {
    std::string key;
    const char* name;
    std::string value;
  } values[] = {
      {clsid, nullptr, kName},
      {clsid + "\\InprocServer32", nullptr, path},
      {clsid + "\\InprocServer32", "ThreadingModel", "Apartment"},
      {clsid + "\\ProgID", nullptr, kProgId},
      {clsid + "\\TypeLib", nullptr, kLibIdText},
      {clsid + "\\Version", nullptr, "1.0"},
      {classes + kProgId, nullptr, kName},
      {classes + kProgId + "\\CLSID", nullptr, kClsidText},
  };
  for (const auto& v : values) {
    if (SetValue(root, v.key, v.name, v.value) != ERROR_SUCCESS) return SELFREG_E_CLASS;
  }
  return S_OK;
}

HRESULT RegisterTypeLibrary(bool forUser) {
  ITypeLib* library = nullptr;
  HRESULT hr = LoadTypeLibEx(Wide(ModulePath()).c_str(), REGKIND_NONE, &library);
  if (FAILED(hr)) return SELFREG_E_TYPELIB;
  std::wstring path = Wide(ModulePath());
  if (forUser) {
    // Not in every SDK's headers: looked up in the system's library.
    using RegisterForUser = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
    auto registerForUser = reinterpret_cast<RegisterForUser>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("oleaut32.dll"), "RegisterTypeLibForUser")));
    hr = registerForUser ? registerForUser(library, &path[0], nullptr) : E_NOTIMPL;
  } else {
    hr = RegisterTypeLib(library, &path[0], nullptr);
  }
  library->Release();
  return FAILED(hr) ? SELFREG_E_TYPELIB : S_OK;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, kClsid)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  HRESULT hr = RegisterClassKeys(HKEY_CLASSES_ROOT, "");
  return FAILED(hr) ? hr : RegisterTypeLibrary(false);
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServerUser() {
  HRESULT hr = RegisterClassKeys(HKEY_CURRENT_USER, "Software\\Classes\\");
  return FAILED(hr) ? hr : RegisterTypeLibrary(true);
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  const std::string clsid = std::string("CLSID\\") + kClsidText;
  RegDeleteTreeA(HKEY_CLASSES_ROOT, clsid.c_str());
  RegDeleteTreeA(HKEY_CLASSES_ROOT, kProgId);
  const std::string user = "Software\\Classes\\";
  RegDeleteTreeA(HKEY_CURRENT_USER, (user + clsid).c_str());
  RegDeleteTreeA(HKEY_CURRENT_USER, (user + kProgId).c_str());
  UnRegisterTypeLib(kLibId, 1, 0, LOCALE_NEUTRAL, SYS_WIN32);
  return S_OK;
}
