#include "http/transfer_worker.h"

#include <process.h>

#include <utility>

#include "foundation/errorlog.h"

namespace {
// How long a stop waits for the worker once the library's calls were
// aborted.
const DWORD kWorkerEndWaitMs = 120000;
}  // namespace

void DispatchPendingMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

TransferWorker::TransferWorker(std::function<void(int command)> run) : m_run(std::move(run)) {
  m_hCommandEvent.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  m_hDoneEvent.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
}

unsigned __stdcall TransferWorker::ThreadStart(void* self) {
  static_cast<TransferWorker*>(self)->ServeCommands();
  return 0;
}

void TransferWorker::ServeCommands() {
  while (!m_bStopRequested) {
    WaitForSingleObject(m_hCommandEvent.get(), INFINITE);
    m_run(m_iCommand.exchange(COMMAND_NONE));
    SetEvent(m_hDoneEvent.get());
  }
}

bool TransferWorker::Start() {
  if (m_hThread) return true;
  ResetEvent(m_hDoneEvent.get());
  m_bStopRequested = false;
  unsigned id = 0;
  m_hThread.reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &TransferWorker::ThreadStart, this, 0, &id)));
  return m_hThread.valid();
}

void TransferWorker::Post(int command) {
  m_iCommand = command;
  SetEvent(m_hCommandEvent.get());
}

bool TransferWorker::WaitDone(DWORD ms) { return WaitForSingleObject(m_hDoneEvent.get(), ms) == WAIT_OBJECT_0; }

void TransferWorker::RequestStop() {
  m_bStopRequested = true;
  m_iCommand = COMMAND_NONE;
}

void TransferWorker::Join(bool dispatchMessages) {
  if (!m_hThread) return;
  SetEvent(m_hCommandEvent.get());
  HANDLE thread = m_hThread.get();
  // Nothing the worker uses (the caller's read buffer, the events, its
  // owner) may go before it has ended: every stop waits for it, a forced one
  // without dispatching messages.
  DWORD waited = WAIT_FAILED;
  if (dispatchMessages) {
    const ULONGLONG until = GetTickCount64() + kWorkerEndWaitMs;
    for (;;) {
      const ULONGLONG now = GetTickCount64();
      waited = MsgWaitForMultipleObjects(1, &thread, FALSE, now < until ? static_cast<DWORD>(until - now) : 0,
                                         QS_ALLINPUT);
      if (waited != WAIT_OBJECT_0 + 1) break;
      DispatchPendingMessages();
    }
  } else {
    waited = WaitForSingleObject(thread, kWorkerEndWaitMs);
  }
  if (waited != WAIT_OBJECT_0) {
    LogRecord(kLogWarnings, "URLConnect::Terminate", UString("Performing thread hard stop"));
    TerminateThread(thread, ERROR_CANCELLED);
    WaitForSingleObject(thread, kWorkerEndWaitMs);
    LogRecord(kLogTrace, "URLConnect::Terminate", UString("Thread hard stop done"));
  }
  m_hThread.reset();
}
