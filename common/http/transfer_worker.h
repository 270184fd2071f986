// The thread a transfer's blocking calls run on. The caller posts one command
// at a time and waits for it with a time limit of its own; the worker runs
// each command it is given until a stop is requested.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>

#include "foundation/handles.h"

enum : int {
  COMMAND_NONE = 0,
  COMMAND_CONNECT = 1,
  COMMAND_READ = 2,
};

class TransferWorker {
 public:
  // `run` carries out one command on the worker thread.
  explicit TransferWorker(std::function<void(int command)> run);
  // The owner stops the worker before anything `run` uses goes away.
  ~TransferWorker() = default;
  TransferWorker(const TransferWorker&) = delete;
  TransferWorker& operator=(const TransferWorker&) = delete;

  bool Running() const { return m_hThread.valid(); }
  bool StopRequested() const { return m_bStopRequested; }

  // Starts the thread unless it runs. False when it cannot be started.
  bool Start();
  // Gives the worker `command` and wakes it.
  void Post(int command);
  // Waits up to `ms` for the posted command to be done.
  bool WaitDone(DWORD ms);
  // First step of a stop: the loop ends after the command it runs, and a
  // command not yet taken is dropped.
  void RequestStop();
  // Second step, once the owner has aborted what the worker may be blocked
  // in: wakes the worker and waits for it to end, dispatching window
  // messages meanwhile when `dispatchMessages`. A worker that does not end
  // within the bound is ended forcibly, and still waited for.
  void Join(bool dispatchMessages);

 private:
  static unsigned __stdcall ThreadStart(void* self);
  void ServeCommands();

  std::function<void(int)> m_run;
  kit::UniqueHandle m_hCommandEvent;
  kit::UniqueHandle m_hDoneEvent;
  kit::UniqueHandle m_hThread;
  std::atomic<bool> m_bStopRequested{false};
  std::atomic<int> m_iCommand{COMMAND_NONE};
};

// Dispatches every window message waiting for this thread.
void DispatchPendingMessages();
