#include "engine/USmartUpdateEx.h"

#include <process.h>

#include "components/component_catalogue.h"
#include "foundation/m_io.h"

namespace {
// How long a request waits for a worker that has already reported to end.
constexpr DWORD kFinishingWorkerWaitMs = 5000;
// A thread TerminateThread ended is gone at once; this bounds the wait all the same.
constexpr DWORD kTerminatedThreadWaitMs = 60000;
}  // namespace

USmartUpdateEx::USmartUpdateEx() = default;

USmartUpdateEx::~USmartUpdateEx() {
  Stop(FALSE);
  // Our duplicate outlives the worker's own handle: wait on it even when the
  // worker has already released its handle and is only finishing its last
  // log line, so that no thread runs on into the teardown of the process.
  if (m_hWaitHandle) {
    if (WaitForSingleObject(m_hWaitHandle.get(), m_dwDestroyWaitMs) == WAIT_TIMEOUT) {
      TerminateThread(m_hWaitHandle.get(), ERROR_CANCELLED);
      LogRecord(kLogWarnings, "USmartUpdateEx::~USmartUpdateEx()", UString("Thread was terminated"));
    }
    ReleaseWorkerHandle();
  }
  m_hWaitHandle.reset();
}

int USmartUpdateEx::CheckStopRequest(int) { return m_bRequestToStop.load() ? ERROR_CANCELLED : 0; }

void USmartUpdateEx::ReleaseWorkerHandle() {
  if (HANDLE h = m_hThread.exchange(nullptr)) CloseHandle(h);
}

int USmartUpdateEx::InstallControl(const char* classId, const char* codebase, const char* text3, const char* text4,
                                   InstallCallback callback, std::uintptr_t callerValue) {
  static const char kFunction[] = "USmartUpdateEx::InstallControl()";
  m_bRequestToStop = false;

  if (IUErrorLog* log = g_pErrorLog) {
    UString line = UMessage::Format("Request to install/update %1", DescribeComponent(classId));
    log->WriteLine(UString::Format("0,,,, %s\n", line.c_str()).c_str());
  }
  LogRecord(kLogTrace, kFunction,
            UMessage::Format("Request to install control CLSID:%1, codebase:%2", classId, codebase));

  // A worker that has already reported only releases its handle and ends:
  // wait for it, so that the caller's next request after the callback is
  // never refused.
  if (m_hThread.load() && m_bReported.load() && m_hWaitHandle && GetCurrentThreadId() != m_dwWorkerThreadId.load())
    WaitForSingleObject(m_hWaitHandle.get(), kFinishingWorkerWaitMs);
  if (m_hThread.load()) {
    LogRecord(kLogErrors, kFunction, UString("already running"));
    return ERROR_SHARING_VIOLATION;
  }
  // The previous worker ended on its own: its waitable duplicate is ours.
  m_hWaitHandle.reset();

  m_cState.Begin(InstallRequest{classId, codebase, text3, text4, callback, callerValue});
  m_bReported = false;
  // The installer's stop belongs to this request from here on.
  m_cKitLoader.SetRequestToStop(false);

  if (const int started = StartWorker()) return started;
  LogRecord(kLogTrace, kFunction, UMessage::Format("exit, %1", 0));
  return 0;
}

int USmartUpdateEx::StartWorker() {
  static const char kFunction[] = "USmartUpdateEx::InstallControl()";
  // Start suspended so the handle is recorded before the worker can release it.
  unsigned threadId = 0;
  HANDLE h = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &USmartUpdateEx::RunClassProc, this,
                                                     CREATE_SUSPENDED, &threadId));
  if (!h) {
    LogRecord(kLogErrors, kFunction, UString("could not create thread\n"));
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  kit::UniqueHandle wait;
  if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), wait.put(), 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    TerminateThread(h, ERROR_CANCELLED);
    CloseHandle(h);
    LogRecord(kLogErrors, kFunction, UString("could not create thread\n"));
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  m_hWaitHandle = std::move(wait);
  m_dwWorkerThreadId = threadId;
  m_hThread = h;
  ResumeThread(h);
  return 0;
}

unsigned __stdcall USmartUpdateEx::RunClassProc(void* arg) {
  static const char kFunction[] = "USmartUpdateEx::RunClassProc()";
  LogRecord(kLogTrace, kFunction, UString("enter"));
  if (!arg) {
    LogRecord(kLogErrors, kFunction, UString("Bad Args"));
    return ERROR_BAD_ARGUMENTS;
  }
  USmartUpdateEx* self = static_cast<USmartUpdateEx*>(arg);
  std::int32_t result = self->RunRequest();
  LogRecord(kLogTrace, kFunction, UMessage::Format("Thread finished, %1", result));
  return static_cast<unsigned>(result);
}

std::int32_t USmartUpdateEx::RunRequest() {
  static const char kFunction[] = "USmartUpdateEx::RunClassProc()";
  m_cState.SetRebootRequired(false);

  std::int32_t result;
  try {
    result = RunObjectProc();
  } catch (...) {
    LogRecord(kLogErrors, kFunction, UString("Exception RunObjectProc"));
    result = ERROR_BAD_ARGUMENTS;
  }
  m_cState.RecordResult(result);

  CleanTempFolder();

  if (m_cState.RebootRequired()) LogRecord(kLogWarnings, kFunction, UString("reboot required"));

  m_bReported = true;
  if (m_cState.Request().callback) result = ReportResult(result);

  // Clear the stop before the handle goes: once it is released the next
  // request may start, and a stop meant for that one must stay.
  m_bRequestToStop = false;
  ReleaseWorkerHandle();
  return result;
}

// Calls the request's callback; the thread's result after it.
std::int32_t USmartUpdateEx::ReportResult(std::int32_t result) {
  static const char kFunction[] = "USmartUpdateEx::RunClassProc()";
  LogRecord(kLogTrace, kFunction, UString("Call calback function"));
  const InstallRequest& request = m_cState.Request();
  const std::int32_t reported = m_cState.ReportedResult();
  if (m_cState.Decision() != UpdateDecision::kInstall) result = 0;
  try {
    request.callback(reported, request.classId.c_str(), request.callerValue);
  } catch (...) {
    LogRecord(kLogErrors, kFunction, UString("Exception occurred in Callback func"));
    result = ERROR_EXCEPTION_IN_SERVICE;
  }
  return result;
}

void USmartUpdateEx::CleanTempFolder() {
  static const char kFunction[] = "USmartUpdateEx::RunClassProc()";
  LogRecord(kLogTrace, kFunction, UString("Cleaning temp dir"));
  try {
    m_cState.TempFolder().Remove();
  } catch (...) {
    LogRecord(kLogErrors, kFunction, UString("Exception during temp folder cleanup"));
  }
}

void USmartUpdateEx::Stop(BOOL wait) {
  static const char kFunction[] = "USmartUpdateEx::Stop()";
  m_cKitLoader.SetRequestToStop(true);
  const bool running = m_hThread.load() != nullptr;
  m_bRequestToStop = running;
  if (!m_hWaitHandle) return;
  if (!running) {
    // The worker has released its handle and is ending: let it finish.
    if (WaitForSingleObject(m_hWaitHandle.get(), wait ? m_dwStopWaitMs : 0) == WAIT_OBJECT_0) m_hWaitHandle.reset();
    return;
  }

  if (wait) LogRecord(kLogTrace, kFunction, UString("waiting for working thread to complete"));
  DWORD rc = WaitForSingleObject(m_hWaitHandle.get(), wait ? m_dwStopWaitMs : 0);
  switch (rc) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
      LogRecord(kLogTrace, kFunction, UString("working thread exited"));
      ReleaseWorkerHandle();
      m_hWaitHandle.reset();
      break;
    case WAIT_TIMEOUT:
      if (wait) {
        LogRecord(kLogWarnings, kFunction, UString("Terminating thread"));
        TerminateThread(m_hWaitHandle.get(), ERROR_CANCELLED);
        if (WaitForSingleObject(m_hWaitHandle.get(), kTerminatedThreadWaitMs) != WAIT_OBJECT_0)
          LogRecord(kLogWarnings, kFunction, UString("the terminated thread did not end"));
        ReleaseWorkerHandle();
        m_hWaitHandle.reset();
      } else {
        LogRecord(kLogTrace, kFunction, UString("working thread has been schedulled to stop"));
      }
      break;
    default:
      LogRecord(kLogWarnings, kFunction, UMessage::Format("WaitForSingleObject() failed, %1", rc));
      ReleaseWorkerHandle();
      m_hWaitHandle.reset();
      break;
  }
}
