#include "http/transfer_dialog_presence.h"

namespace {
// Shared by every program of the suite that shows the library's dialogs.
const char kUiMutexName[] = "URLConnectUIMutex7E3A9C41D25B4F8E9A06C1B7D3E5F284";
}  // namespace

void DialogPresence::PostToOwner(WPARAM wParam) const {
  if (m_hOwner) PostMessageA(m_hOwner, kDialogNotifyMessage, wParam, 0);
}

void DialogPresence::Take() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_hMutex) m_hMutex.reset(CreateMutexA(nullptr, FALSE, kUiMutexName));
  }
  PostToOwner(0);
}

void DialogPresence::Release() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_hMutex.reset();
  }
  PostToOwner(1);
}

bool DialogPresence::OnScreen() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_hMutex.valid();
}
