// Calling a component's own code (a COM server's registration entry point)
// so that a fault inside it cannot take the calling process with it.
#pragma once

#include <windows.h>

namespace kit {

// The signature of DllRegisterServer and its kind.
using EntryPoint = HRESULT(STDAPICALLTYPE*)();

// Calls the entry point. A hardware fault inside it that it does not handle
// itself (an access violation, say) would end this process, or under Wine
// start the debugger and leave the process waiting on it; instead the call
// ends with the fault's exception code (a negative HRESULT, such as
// 0xC0000005) and *faulted set. A stack overflow cannot be recovered from
// and still ends the process. One guarded call at a time per process.
HRESULT CallEntryPointGuarded(EntryPoint entry, bool* faulted);

}  // namespace kit
