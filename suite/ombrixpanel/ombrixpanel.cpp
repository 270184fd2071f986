// The Ombrix panel: one in-process COM server file that provides two classes
// of the suite, the panel control and its toolbar. Its registration entry
// points register both classes for the machine (DllRegisterServer) or for the
// current user (DllRegisterServerUser) and remove them (DllUnregisterServer).
//
// OMBRIX_PANEL_REGISTRATION selects how registration behaves, so the same
// source also gives the samples of controls that cannot be registered:
//   0 registers; 1 refuses (SELFREG_E_CLASS, nothing written); 2 faults (an
//   access violation raised through the system, the record a write to address
//   0 would give: the same on every processor and under an emulator, which
//   may map the null page or report a hardware fault as another one); 3 takes
//   its time (4 s) and then registers; 4 (ombrixplain, which has no per-user
//   entry point) needs COM initialised by its caller (CO_E_NOTINITIALIZED,
//   nothing written, otherwise), registers and answers S_FALSE; 5
//   (ombrixstuck) registers a class of its own, {7A1C2E9C-...}, and refuses
//   to unregister it (SELFREG_E_CLASS, nothing removed).
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <atomic>
#include <string>

#include "../com_class_factory.h"
#include "../ombrix_module.h"

#ifndef OMBRIX_PANEL_REGISTRATION
#define OMBRIX_PANEL_REGISTRATION 0
#endif

namespace {

const struct PanelClass {
  CLSID clsid;
  const char* text;
  const char* name;
} kAllClasses[] = {
    {{0x7A1C2E9C, 0x3B4D, 0x4E5F, {0x8A, 0x6B, 0x1C, 0x2D, 0x3E, 0x4F, 0x5A, 0x60}},
     "{7A1C2E9C-3B4D-4E5F-8A6B-1C2D3E4F5A60}", "Ombrix Stuck Control"},
    {{0x7A1C2E90, 0x3B4D, 0x4E5F, {0x8A, 0x6B, 0x1C, 0x2D, 0x3E, 0x4F, 0x5A, 0x60}},
     "{7A1C2E90-3B4D-4E5F-8A6B-1C2D3E4F5A60}", "Ombrix Panel Control"},
    {{0x7A1C2E91, 0x3B4D, 0x4E5F, {0x8A, 0x6B, 0x1C, 0x2D, 0x3E, 0x4F, 0x5A, 0x60}},
     "{7A1C2E91-3B4D-4E5F-8A6B-1C2D3E4F5A60}", "Ombrix Panel Toolbar"},
};
// The classes of this sample: the stuck one its own, the others the panel's two.
const PanelClass* const kClassesBegin = OMBRIX_PANEL_REGISTRATION == 5 ? kAllClasses : kAllClasses + 1;
const PanelClass* const kClassesEnd = OMBRIX_PANEL_REGISTRATION == 5 ? kAllClasses + 1 : kAllClasses + 3;
struct {
  const PanelClass* begin() const { return kClassesBegin; }
  const PanelClass* end() const { return kClassesEnd; }
} const kClasses{};

LONG g_objects = 0;

// A panel object: it offers IUnknown only; the suite's host talks to it
// through its window, which is not part of this sample.
class PanelObject : public IUnknown {
 public:
  PanelObject() { InterlockedIncrement(&g_objects); }
  virtual ~PanelObject() { InterlockedDecrement(&g_objects); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = IsEqualIID(riid, IID_IUnknown) ? this : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&m_refs);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 private:
  LONG m_refs = 1;
};

std::atomic<long> g_locks{0};
ClassFactoryOf<PanelObject> g_factory(&g_locks);

// Both classes below `classes` of `root`, or the behaviour chosen for the
// sample.
HRESULT RegisterClasses(HKEY root, const std::string& classes) {
  if (OMBRIX_PANEL_REGISTRATION == 1) return SELFREG_E_CLASS;
  if (OMBRIX_PANEL_REGISTRATION == 2) {
    const ULONG_PTR writeAtZero[2] = {1, 0};
    RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 2, writeAtZero);
  }
  if (OMBRIX_PANEL_REGISTRATION == 3) Sleep(4000);
  if (OMBRIX_PANEL_REGISTRATION == 4) {
    const HRESULT initialized = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(initialized)) CoUninitialize();
    if (initialized != S_FALSE) return CO_E_NOTINITIALIZED;
  }
  const std::string path = ModulePath();
  for (const PanelClass& c : kClasses) {
    const std::string key = classes + "CLSID\\" + c.text;
    if (path.empty() || SetValue(root, key, nullptr, c.name) != ERROR_SUCCESS ||
        SetValue(root, key + "\\InprocServer32", nullptr, path) != ERROR_SUCCESS ||
        SetValue(root, key + "\\InprocServer32", "ThreadingModel", "Apartment") != ERROR_SUCCESS)
      return SELFREG_E_CLASS;
  }
  return OMBRIX_PANEL_REGISTRATION == 4 ? S_FALSE : S_OK;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (const PanelClass& c : kClasses)
    if (IsEqualCLSID(clsid, c.clsid)) return g_factory.QueryInterface(riid, out);
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return RegisterClasses(HKEY_CLASSES_ROOT, ""); }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServerUser() {
  return RegisterClasses(HKEY_CURRENT_USER, "Software\\Classes\\");
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  if (OMBRIX_PANEL_REGISTRATION == 5) return SELFREG_E_CLASS;
  for (const PanelClass& c : kClasses) {
    const std::string clsid = std::string("CLSID\\") + c.text;
    RegDeleteTreeA(HKEY_CLASSES_ROOT, clsid.c_str());
    RegDeleteTreeA(HKEY_CURRENT_USER, ("Software\\Classes\\" + clsid).c_str());
  }
  return S_OK;
}
