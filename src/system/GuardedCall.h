#pragma once

#include <windows.h>

// A routine run under RunGuarded; its answer becomes RunGuarded's.
using GuardedRoutine = int (*)(void* context);

// Runs routine(context) on a thread of its own inside a single-threaded COM
// apartment and waits for it, dispatching the calling thread's window
// messages meanwhile (a WM_QUIT is kept for after the wait). An exception that nothing inside the
// routine handles does not reach the process's crash handling: that thread is ended where the
// exception left it, without unwinding, and the answer is 0 with the exception code in
// *exceptionCode (0 when none was raised).
int RunGuarded(GuardedRoutine routine, void* context, DWORD* exceptionCode = nullptr);
