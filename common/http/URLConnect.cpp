#include "http/URLConnect.h"

#include <cstring>

#include "foundation/errorlog.h"

namespace {

const HttpReadLog kReadLog = {"URLConnect::ThreadObjectProc", "COMMAND_READ: InternetQueryDataAvailable failed (error: %1)",
                              "COMMAND_READ: InternetReadFile failed (error: %1)"};
// A connect that ends without an open request is tried once more.
const int kConnectAttempts = 2;
// The worker's read-ahead buffer: a round between caller and worker brings up
// to this much, what the source has ready.
const DWORD kReadAheadSize = 256 * 1024;

}  // namespace

URLConnect::URLConnect(int accessType) : URLConnect(accessType, kReadLog, kConnectAttempts) {}

URLConnect::URLConnect(int accessType, const HttpReadLog& readLog, int connectAttempts)
    : m_http(accessType, m_dialogs, readLog),
      m_source(&m_http),
      m_iConnectAttempts(connectAttempts),
      m_worker([this](int command) { RunCommand(command); }) {}

URLConnect::~URLConnect() {
  Terminate(TERMINATE_STOP);
  m_http.Close();
}

void URLConnect::Close() { m_source->Close(); }

DWORD URLConnect::GetContentLength() { return m_source->ContentLength(); }

bool URLConnect::IsConnected() { return m_source->IsOpen(); }

DWORD URLConnect::LastError() const { return m_bWorkerFailed ? ERROR_NOT_ENOUGH_MEMORY : m_source->LastError(); }

void URLConnect::Terminate(int mode) {
  if (mode == TERMINATE_START) {
    if (m_worker.Running()) return;
    m_http.OpenSession();
    m_worker.Start();
    return;
  }
  if (!m_worker.Running()) return;
  m_worker.RequestStop();
  m_http.Abort();
  m_worker.Join(mode == TERMINATE_STOP);
}

void URLConnect::RunCommand(int command) {
  if (command == COMMAND_CONNECT) {
    m_source->Open(m_strUrl);
    if (m_iConnectAttempts > 1 && !m_worker.StopRequested() && !m_source->IsOpen()) m_source->Open(m_strUrl);
  } else if (command == COMMAND_READ) {
    m_iReadResult = m_source->Read(m_readAhead.data(), static_cast<DWORD>(m_readAhead.size()));
  }
}

int URLConnect::Connect(const char* url) {
  m_strUrl = url;
  m_dwAheadPos = m_dwAheadEnd = 0;  // nothing of an earlier connection is read
  m_bWorkerFailed = false;
  Terminate(TERMINATE_START);
  if (!m_worker.Running()) {
    m_bWorkerFailed = true;
    return 0;
  }
  m_worker.Post(COMMAND_CONNECT);

  // The user's time in one of the library's dialogs does not count.
  long long budget = m_http.Settings().connectTimeout;
  for (;;) {
    if (m_worker.WaitDone(100)) {
      if (IsConnected()) return 1;
      Terminate(TERMINATE_STOP);
      return 0;
    }
    DispatchPendingMessages();
    if (!m_dialogs.OnScreen()) budget -= 100;
    if (budget <= 0) break;
  }
  LogRecord(kLogWarnings, "URLConnect::Connect", UString("Worker thread did not exit. Force thread termination"));
  Terminate(TERMINATE_STOP);
  Close();
  return -2;
}

int URLConnect::FillReadAhead() {
  if (m_readAhead.empty()) m_readAhead.resize(kReadAheadSize);
  m_dwAheadPos = m_dwAheadEnd = 0;
  m_iReadResult = -1;
  if (!m_worker.Running()) Terminate(TERMINATE_START);
  m_worker.Post(COMMAND_READ);
  if (!m_worker.WaitDone(m_http.Settings().receiveTimeout)) {
    LogRecord(kLogWarnings, "URLConnect::Read", UString("Worker thread did not exit. Forcing thread termination"));
    Terminate(TERMINATE_HARD_STOP);
    SetLastError(LastError());
    return -2;
  }
  const int result = m_iReadResult;
  if (result == 0) return -1;
  if (result < 0) {
    SetLastError(LastError());
    return -2;
  }
  m_dwAheadEnd = static_cast<DWORD>(result);
  return result;
}

int URLConnect::Read(void* buffer, int size) {
  if (!IsConnected() || !buffer || size <= 0) return -2;
  if (m_dwAheadPos == m_dwAheadEnd) {
    const int filled = FillReadAhead();
    if (filled < 0) return filled;
  }
  const DWORD rest = m_dwAheadEnd - m_dwAheadPos;
  const DWORD taken = rest < static_cast<DWORD>(size) ? rest : static_cast<DWORD>(size);
  std::memcpy(buffer, m_readAhead.data() + m_dwAheadPos, taken);
  m_dwAheadPos += taken;
  return static_cast<int>(taken);
}
