// The suite's installer helper (ombrixhelper.exe), a COM local server that
// starts the user-mode installers on request. Its class and interface
// identifiers are in the component catalogue; the helper's type library
// (suite/ombrixhelper/ombrixhelper.idl) describes the same interfaces for
// marshaling, with the window handle as a 32-bit number.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <unknwn.h>

// COM interfaces: their objects are released through IUnknown, never
// deleted through a pointer of the interface, and a destructor would change
// the layout COM expects. The warning about their non-virtual destructors
// does not apply.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// The helper as an elevated server: starts the high-integrity installer.
struct ILegacyServiceHelper : public IUnknown {
  // Not used by the installer.
  virtual HRESULT STDMETHODCALLTYPE StartOnMainPipe() = 0;
  // Starts the installer that serves the high-integrity pipe and returns once
  // its process runs.
  virtual HRESULT STDMETHODCALLTYPE StartOnAltPipe() = 0;
};

// The helper as the user: starts the installer of pipe 1 or 2.
struct IPerUserServiceHelper : public IUnknown {
  // Not used by the installer.
  virtual HRESULT STDMETHODCALLTYPE GetHelperVersion(LONG* version) = 0;
  virtual HRESULT STDMETHODCALLTYPE StopInstallers() = 0;
  // Starts the installer named by `selector` (1 high, 2 medium integrity),
  // with `window` as the parent of its windows, and returns once its process
  // runs.
  virtual HRESULT STDMETHODCALLTYPE StartAsUser(HWND window, LONG selector) = 0;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// The catalogue's identifier text as a GUID; false for a malformed text.
inline bool HelperGuid(const char* text, GUID* guid) {
  wchar_t wide[64] = {};
  if (!MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 64)) return false;
  return SUCCEEDED(CLSIDFromString(wide, guid));
}
