// The class factory of the suite's COM servers: one static instance per
// class, which creates `Object` and counts the server's locks.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <atomic>
#include <new>

template <class Object>
class ClassFactoryOf final : public IClassFactory {
 public:
  // `lockChanged`, when given, runs after every lock change.
  explicit ClassFactoryOf(std::atomic<long>* locks, void (*lockChanged)() = nullptr)
      : m_locks(locks), m_lockChanged(lockChanged) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    Object* object = new (std::nothrow) Object();
    if (!object) return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(riid, out);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? ++*m_locks : --*m_locks;
    if (m_lockChanged) m_lockChanged();
    return S_OK;
  }

 private:
  std::atomic<long>* m_locks;
  void (*m_lockChanged)();
};
