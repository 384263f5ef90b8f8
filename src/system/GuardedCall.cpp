#include "system/GuardedCall.h"

#include "base/Com.h"
#include "base/LockedList.h"
#include "base/ScopedHandle.h"
#include "system/WorkerThread.h"

// The shell offers no way to tell its callers about a fault inside one of
// its extensions, and this build has no __try. So the guarded routine runs
// on a thread of its own, and a process-wide top-level exception filter,
// installed only while guarded calls are running, recognises an unhandled
// exception of such a thread and resumes that thread in a function that
// ends it. Exceptions that the routine's own code handles never reach the
// filter, as with an __except around the call; exceptions of other threads
// are passed on to the filter that was installed before.

namespace {

struct GuardState
{
    GuardedRoutine routine = nullptr;
    void* context = nullptr;
    int result = 0;
    DWORD exceptionCode = 0;
    // Where the abandoned thread's last function gets its stack: inside the
    // guarded thread's own frame, above anything the routine used; that
    // frame is never returned to.
    ULONG_PTR resumeStack = 0;
};

thread_local GuardState* t_guard = nullptr;

class FilterInstallation
{
public:
    FilterInstallation() { lock_.Init(); }

    void Acquire()
    {
        lock_.Enter();
        if (users_++ == 0) {
            Publish(SetUnhandledExceptionFilter(&Filter));
        }
        lock_.Leave();
    }

    void Release()
    {
        lock_.Enter();
        if (--users_ == 0) {
            LPTOP_LEVEL_EXCEPTION_FILTER previous = Previous();
            LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(previous);
            // Someone installed a filter of their own meanwhile: keep it.
            if (current != &Filter) {
                SetUnhandledExceptionFilter(current);
            }
        }
        lock_.Leave();
    }

    static FilterInstallation& Instance()
    {
        static FilterInstallation installation;
        return installation;
    }

private:
    static LONG WINAPI Filter(EXCEPTION_POINTERS* pointers);

    void Publish(LPTOP_LEVEL_EXCEPTION_FILTER previous)
    {
        InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&previous_),
                                   reinterpret_cast<void*>(previous));
    }
    LPTOP_LEVEL_EXCEPTION_FILTER Previous()
    {
        return reinterpret_cast<LPTOP_LEVEL_EXCEPTION_FILTER>(InterlockedCompareExchangePointer(
            reinterpret_cast<void* volatile*>(&previous_), nullptr, nullptr));
    }

    CriticalSection lock_;
    int users_ = 0;
    LPTOP_LEVEL_EXCEPTION_FILTER previous_ = nullptr;
};

void WINAPI AbandonGuardedThread()
{
    ExitThread(0);
}

// Points the context at AbandonGuardedThread as if it had been called with
// the stack at resumeStack. 0 when the fault lies above that point, where
// writing the return slot could clash with the exception dispatch.
int RedirectToAbandon(CONTEXT* context, ULONG_PTR resumeStack)
{
    const ULONG_PTR aligned = resumeStack & ~static_cast<ULONG_PTR>(15);
    const ULONG_PTR entry = reinterpret_cast<ULONG_PTR>(&AbandonGuardedThread);
#if defined(_M_AMD64) || defined(__x86_64__)
    const ULONG_PTR stack = aligned - sizeof(ULONG_PTR);
    if (stack <= context->Rsp) {
        return 0;
    }
    *reinterpret_cast<ULONG_PTR*>(stack) = 0;
    context->Rsp = stack;
    context->Rip = entry;
#elif defined(_M_IX86) || defined(__i386__)
    const ULONG_PTR stack = aligned - sizeof(ULONG_PTR);
    if (stack <= context->Esp) {
        return 0;
    }
    *reinterpret_cast<ULONG_PTR*>(stack) = 0;
    context->Esp = static_cast<DWORD>(stack);
    context->Eip = static_cast<DWORD>(entry);
#else
    (void)context;
    (void)aligned;
    (void)entry;
    return 0;
#endif
    return 1;
}

LONG WINAPI FilterInstallation::Filter(EXCEPTION_POINTERS* pointers)
{
    GuardState* guard = t_guard;
    if (guard && pointers && pointers->ContextRecord &&
        RedirectToAbandon(pointers->ContextRecord, guard->resumeStack)) {
        t_guard = nullptr;
        guard->result = 0;
        guard->exceptionCode =
            pointers->ExceptionRecord ? pointers->ExceptionRecord->ExceptionCode : 1;
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    LPTOP_LEVEL_EXCEPTION_FILTER previous = Instance().Previous();
    return previous ? previous(pointers) : EXCEPTION_CONTINUE_SEARCH;
}

DWORD WINAPI GuardedThread(void* parameter)
{
    GuardState* guard = static_cast<GuardState*>(parameter);
    volatile ULONG_PTR mark = 0;
    guard->resumeStack = reinterpret_cast<ULONG_PTR>(&mark);
    ComApartment apartment;
    apartment.Init(0);
    t_guard = guard;
    const int result = guard->routine(guard->context);
    t_guard = nullptr;
    guard->result = result;
    return 0;
}

// Waits for the guarded thread while this thread's window messages keep
// flowing: the shell may send messages to our windows from the call. A
// WM_QUIT does not end the wait, since the guard state lives on this stack;
// it is held back and posted again once the thread has ended.
void WaitForGuardedThread(HANDLE thread)
{
    int quit = 0;
    WPARAM quitCode = 0;
    while (!WaitPumping(thread, nullptr, WAIT_NO_LIMIT)) {
        MSG message;
        if (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
            quit = 1;
            quitCode = message.wParam;
        } else {
            WaitForSingleObject(thread, INFINITE);
            break;
        }
    }
    if (quit) {
        PostQuitMessage(static_cast<int>(quitCode));
    }
}

} // namespace

int RunGuarded(GuardedRoutine routine, void* context, DWORD* exceptionCode)
{
    if (!routine) {
        return 0;
    }
    GuardState guard;
    guard.routine = routine;
    guard.context = context;
    FilterInstallation& filter = FilterInstallation::Instance();
    filter.Acquire();
    ScopedHandle thread(CreateThread(nullptr, 0, &GuardedThread, &guard, 0, nullptr));
    if (thread) {
        WaitForGuardedThread(thread.Get());
    }
    filter.Release();
    if (exceptionCode) {
        *exceptionCode = guard.exceptionCode;
    }
    return thread ? guard.result : 0;
}
