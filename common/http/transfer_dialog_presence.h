// Whether one of the library's dialogs is on screen, and who hears of it. A
// named mutex exists while such a dialog shows, so every program of the suite
// (and the transfer's own caller) can tell; the owner window is told with
// kDialogNotifyMessage when one opens and when it has closed.
#pragma once

#include <windows.h>

#include <mutex>

#include "foundation/handles.h"

// Posted to the owner window around the library's dialogs: wParam 0 when one
// opens, 1 when it has closed.
enum : UINT { kDialogNotifyMessage = WM_USER + 48 };

class DialogPresence {
 public:
  DialogPresence() = default;
  DialogPresence(const DialogPresence&) = delete;
  DialogPresence& operator=(const DialogPresence&) = delete;

  // Parent of the library's dialogs and receiver of the notices; null: the
  // foreground window is the parent and nobody is told.
  void SetOwner(HWND owner) { m_hOwner = owner; }
  HWND Owner() const { return m_hOwner; }
  HWND DialogParent() const { return m_hOwner ? m_hOwner : GetForegroundWindow(); }

  // Around one dialog: the mutex is made, then the owner told; the mutex is
  // closed, then the owner told.
  void Take();
  void Release();
  bool OnScreen();

 private:
  void PostToOwner(WPARAM wParam) const;

  HWND m_hOwner = nullptr;
  std::mutex m_lock;  // guards m_hMutex
  kit::UniqueHandle m_hMutex;
};
