#include "foundation/fault_guard.h"

#include <atomic>
#include <csetjmp>

namespace kit {
namespace {

// While a call is guarded on a thread, the process's last-chance filter
// sends a fault on that thread back to the guard, which then reports the
// fault's code as the call's result.
class EntryPointFaultGuard {
 public:
  static HRESULT Call(EntryPoint entry, bool* faulted) {
    *faulted = false;
    s_thread = GetCurrentThreadId();
    s_previous = SetUnhandledExceptionFilter(&Filter);
    volatile HRESULT result = E_UNEXPECTED;
    // The jump back unwinds the handler frames the control left behind.
    if (setjmp(s_resume) == 0) {
      result = entry();
    } else {
      *faulted = true;
      result = static_cast<HRESULT>(s_faultCode);
    }
    SetUnhandledExceptionFilter(s_previous);
    s_thread = 0;
    return result;
  }

 private:
  static LONG WINAPI Filter(EXCEPTION_POINTERS* info) {
    if (s_thread != 0 && s_thread == GetCurrentThreadId() && info && info->ExceptionRecord &&
        info->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW) {
      s_faultCode = info->ExceptionRecord->ExceptionCode;
      longjmp(s_resume, 1);
    }
    return s_previous ? s_previous(info) : EXCEPTION_CONTINUE_SEARCH;
  }

  static inline std::atomic<DWORD> s_thread{0};
  static inline jmp_buf s_resume;
  static inline LPTOP_LEVEL_EXCEPTION_FILTER s_previous = nullptr;
  static inline DWORD s_faultCode = 0;
};

}  // namespace

HRESULT CallEntryPointGuarded(EntryPoint entry, bool* faulted) { return EntryPointFaultGuard::Call(entry, faulted); }

}  // namespace kit
