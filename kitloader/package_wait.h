// The main thread's wait for one package.
#pragma once

#include <windows.h>

// Pumps the thread's window messages until the current package is done: the
// engine's callback (or Cancel) has set the done flag, or the worker thread
// `worker` has ended without reporting, which fails the run with the
// thread's exit code (1603 when that is 0) and a log line. `worker` may be
// null: then only the flag ends the wait.
void WaitForPackage(HANDLE worker);
