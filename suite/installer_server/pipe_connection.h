// One connected client on one instance of an installer pipe. Every read and
// write is overlapped and ends early when the server stops, when the client
// is silent for the I/O time limit, when the connection's deadline has passed
// or when the data falls below the minimum rate.
#pragma once

#include <windows.h>

#include <cstdint>

namespace ombrix {

class PipeConnection {
 public:
  // `ioEvent` is a manual-reset event of the serving thread; `quit` is set
  // when the server stops; `timeoutMs` bounds each read or write.
  PipeConnection(HANDLE pipe, HANDLE ioEvent, HANDLE quit, DWORD timeoutMs)
      : m_pipe(pipe), m_ioEvent(ioEvent), m_quit(quit), m_timeoutMs(timeoutMs) {}

  HANDLE pipe() const { return m_pipe; }
  // From now on the connection has `ms` left in all.
  void SetDeadline(DWORD ms);
  // From now on the data must come at `bytesPerSecond` on average, after
  // `graceMs`; 0 lifts the floor.
  void SetMinimumRate(DWORD bytesPerSecond, DWORD graceMs);

  // Exactly `size` bytes, across message boundaries.
  bool Read(void* data, DWORD size);
  // Whatever comes next, up to `size` bytes; 0 when the client has gone.
  DWORD ReadSome(void* data, DWORD size);
  bool Write(const void* data, DWORD size);

 private:
  // How long the next transfer may wait: the least of the I/O limit, the
  // deadline's rest and the time until the data falls below the floor.
  DWORD Left() const;
  bool Transfer(bool write, void* data, DWORD size, DWORD* done);

  HANDLE m_pipe, m_ioEvent, m_quit;
  DWORD m_timeoutMs;
  DWORD m_start = GetTickCount();
  DWORD m_budgetMs = 0;
  DWORD m_rate = 0, m_rateGraceMs = 0, m_rateStart = 0;
  std::uint64_t m_rateBytes = 0;
};

}  // namespace ombrix
