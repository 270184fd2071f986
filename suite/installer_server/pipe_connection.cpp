#include "installer_server/pipe_connection.h"

namespace ombrix {

void PipeConnection::SetDeadline(DWORD ms) {
  m_start = GetTickCount();
  m_budgetMs = ms;
}

void PipeConnection::SetMinimumRate(DWORD bytesPerSecond, DWORD graceMs) {
  m_rate = bytesPerSecond;
  m_rateGraceMs = graceMs;
  m_rateStart = GetTickCount();
  m_rateBytes = 0;
}

bool PipeConnection::Read(void* data, DWORD size) {
  auto* at = static_cast<unsigned char*>(data);
  while (size) {
    DWORD got = 0;
    if (!Transfer(false, at, size, &got) || got == 0) return false;
    m_rateBytes += got;
    at += got;
    size -= got;
  }
  return true;
}

DWORD PipeConnection::ReadSome(void* data, DWORD size) {
  DWORD got = 0;
  return Transfer(false, data, size, &got) ? got : 0;
}

bool PipeConnection::Write(const void* data, DWORD size) {
  DWORD put = 0;
  return Transfer(true, const_cast<void*>(data), size, &put) && put == size;
}

DWORD PipeConnection::Left() const {
  const DWORD spent = GetTickCount() - m_start;
  DWORD left = spent < m_budgetMs ? m_budgetMs - spent : 0;
  if (m_rate) {
    // When what has come so far falls below the floor.
    const std::uint64_t due = m_rateGraceMs + m_rateBytes * 1000 / m_rate;
    const DWORD since = GetTickCount() - m_rateStart;
    const DWORD rateLeft = since < due ? static_cast<DWORD>(due - since < 0xFFFFFFFFu ? due - since : 0xFFFFFFFFu) : 0;
    if (rateLeft < left) left = rateLeft;
  }
  return left < m_timeoutMs ? left : m_timeoutMs;
}

bool PipeConnection::Transfer(bool write, void* data, DWORD size, DWORD* done) {
  const DWORD waitMs = Left();
  if (waitMs == 0) return false;
  OVERLAPPED ov{};
  ov.hEvent = m_ioEvent;  // reset by the call itself
  const BOOL ok = write ? WriteFile(m_pipe, data, size, nullptr, &ov) : ReadFile(m_pipe, data, size, nullptr, &ov);
  if (!ok && GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA) return false;
  const HANDLE waits[] = {m_ioEvent, m_quit};
  // Data that was already there completes at once, without a wait.
  if (!(ok || GetLastError() == ERROR_MORE_DATA) && WaitForMultipleObjects(2, waits, FALSE, waitMs) != WAIT_OBJECT_0) {
    CancelIo(m_pipe);
    GetOverlappedResult(m_pipe, &ov, done, TRUE);
    return false;
  }
  // A message longer than the buffer arrives in parts.
  return GetOverlappedResult(m_pipe, &ov, done, FALSE) || GetLastError() == ERROR_MORE_DATA;
}

}  // namespace ombrix
