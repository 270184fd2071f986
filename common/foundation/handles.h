// One owner type per kind of Win32 handle. Each closes what it holds when it
// goes away; release() gives the handle up, reset() replaces it.
//
// "Empty is NULL" (HANDLE of threads, processes, events, mutexes; HKEY;
// HMODULE; HLOCAL) is kept apart from "empty is INVALID_HANDLE_VALUE" (files,
// find handles).
#pragma once

#include <windows.h>

#include <functional>
#include <utility>

namespace kit {

template <class T, class Traits>
class UniqueResource {
 public:
  UniqueResource() = default;
  explicit UniqueResource(T value) : m_value(value) {}
  ~UniqueResource() { reset(); }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : m_value(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  T get() const { return m_value; }
  bool valid() const { return m_value != Traits::Empty(); }
  explicit operator bool() const { return valid(); }
  // For APIs that fill in a handle: releases the current one first.
  T* put() {
    reset();
    return &m_value;
  }
  T release() { return std::exchange(m_value, Traits::Empty()); }
  void reset(T value = Traits::Empty()) {
    T old = std::exchange(m_value, value);
    if (old != Traits::Empty()) Traits::Close(old);
  }

 private:
  T m_value = Traits::Empty();
};

struct HandleTraits {
  static HANDLE Empty() { return nullptr; }
  static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct FileHandleTraits {
  static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct FindHandleTraits {
  static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::FindClose(h); }
};
struct KeyTraits {
  static HKEY Empty() { return nullptr; }
  static void Close(HKEY k) { ::RegCloseKey(k); }
};
struct ModuleTraits {
  static HMODULE Empty() { return nullptr; }
  static void Close(HMODULE m) { ::FreeLibrary(m); }
};
struct LocalTraits {
  static HLOCAL Empty() { return nullptr; }
  static void Close(HLOCAL p) { ::LocalFree(p); }
};
struct EventSourceTraits {
  static HANDLE Empty() { return nullptr; }
  static void Close(HANDLE h) { ::DeregisterEventSource(h); }
};

using UniqueHandle = UniqueResource<HANDLE, HandleTraits>;        // threads, processes, events, mutexes, tokens
using UniqueFile = UniqueResource<HANDLE, FileHandleTraits>;      // CreateFile
using UniqueFind = UniqueResource<HANDLE, FindHandleTraits>;      // FindFirstFile
using UniqueKey = UniqueResource<HKEY, KeyTraits>;                // RegOpenKeyEx / RegCreateKeyEx
using UniqueModule = UniqueResource<HMODULE, ModuleTraits>;       // LoadLibrary
using UniqueLocal = UniqueResource<HLOCAL, LocalTraits>;          // LocalAlloc, FormatMessage buffers
using UniqueEventSource = UniqueResource<HANDLE, EventSourceTraits>;  // RegisterEventSource

// A resource whose release function is known only at run time: the
// functions of libraries loaded with LoadLibrary (FDIDestroy of cabinet.dll,
// CertCloseStore, CertFreeCertificateContext and CryptMsgClose of
// crypt32.dll). The closer runs once, when the object lets go of a non-empty
// value.
template <class T>
class UniqueWithCloser {
 public:
  using Closer = std::function<void(T)>;
  UniqueWithCloser() = default;
  UniqueWithCloser(T value, Closer closer) : m_value(value), m_closer(std::move(closer)) {}
  ~UniqueWithCloser() { reset(); }
  UniqueWithCloser(const UniqueWithCloser&) = delete;
  UniqueWithCloser& operator=(const UniqueWithCloser&) = delete;
  UniqueWithCloser(UniqueWithCloser&& other) noexcept
      : m_value(std::exchange(other.m_value, T())), m_closer(std::move(other.m_closer)) {}
  UniqueWithCloser& operator=(UniqueWithCloser&& other) noexcept {
    if (this != &other) {
      reset();
      m_value = std::exchange(other.m_value, T());
      m_closer = std::move(other.m_closer);
    }
    return *this;
  }

  T get() const { return m_value; }
  explicit operator bool() const { return m_value != T(); }
  T release() { return std::exchange(m_value, T()); }
  void reset() {
    T old = std::exchange(m_value, T());
    if (old != T() && m_closer) m_closer(old);
  }

 private:
  T m_value = T();
  Closer m_closer;
};

// Both handles of a started process.
struct ProcessInformation {
  UniqueHandle process;
  UniqueHandle thread;
  DWORD processId = 0;
  DWORD threadId = 0;
  void Adopt(const PROCESS_INFORMATION& pi) {
    process.reset(pi.hProcess);
    thread.reset(pi.hThread);
    processId = pi.dwProcessId;
    threadId = pi.dwThreadId;
  }
};

// Runs a function at scope exit unless release() was called: the undo step
// of a commit-or-undo sequence.
template <class F>
class ScopeGuard {
 public:
  explicit ScopeGuard(F f) : m_f(std::move(f)) {}
  ~ScopeGuard() {
    if (m_active) m_f();
  }
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;
  void release() { m_active = false; }

 private:
  F m_f;
  bool m_active = true;
};
template <class F>
ScopeGuard<F> MakeScopeGuard(F f) {
  return ScopeGuard<F>(std::move(f));
}

// A COM interface pointer, released by its owner.
template <class Interface>
struct ComTraits {
  static Interface* Empty() { return nullptr; }
  static void Close(Interface* p) { p->Release(); }
};
template <class Interface>
using UniqueCom = UniqueResource<Interface*, ComTraits<Interface>>;

}  // namespace kit
