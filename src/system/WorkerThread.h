#pragma once

#include <windows.h>

#include "base/ScopedHandle.h"

// Wait times meaning "no limit".
constexpr DWORD WAIT_NO_LIMIT = INFINITE;

// 1 when an event of that name should be created as "Global\<name>" with an
// open security descriptor: a name is given, global is asked for, and the
// kernel word names Windows 2000 or later (NT, not NT 4.0).
int UseGlobalEventName(DWORD kernelWord, const wchar_t* name, int global);

// Waits for the first handle or, when second is given and holds a handle
// (re-read on each pass), for that one, while dispatching the calling
// thread's window messages. 1 when a handle was signalled; 0 on time-out,
// failure, or a WM_QUIT, which is posted again for the thread's message loop.
int WaitPumping(HANDLE first, const HANDLE* second, DWORD milliseconds);

// A kernel event that this object created and closes.
class Event
{
public:
    Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // Replaces any held event; 1 when a handle was obtained. A named global
    // event lets every user of the machine open it.
    int Create(int manualReset, int initialState, const wchar_t* name = nullptr, int global = 0);
    int Set();
    void Close();
    // Alertable wait for the event or the second handle: 1 when one was
    // signalled. *timedOut is 1 only when the time ran out. Completed I/O
    // wake-ups wait again.
    int Wait(DWORD milliseconds, int* timedOut = nullptr, HANDLE second = nullptr);
    // WaitPumping on this event.
    int WaitPumping(DWORD milliseconds, const HANDLE* second = nullptr);
    HANDLE Handle() const { return handle_.Get(); }

private:
    ScopedHandle handle_;
};

// The routine a worker runs; its answer becomes the worker's result.
using WorkerRoutine = DWORD (*)(void* argument, DWORD value);

// Runs one routine at a time on a thread of its own.
class WorkerThread
{
public:
    WorkerThread() = default;
    ~WorkerThread() { Stop(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // 0 while a routine still runs or when no thread could be made.
    int Start(WorkerRoutine routine, void* argument, DWORD value);
    // Waits, pumping messages, until the running routine returns (0: no
    // limit). 1 when it returned; 0 on time-out, WM_QUIT, or when nothing
    // was running.
    int Wait(DWORD milliseconds);
    // Ends a running routine by force. Afterwards no thread of this object
    // runs and the result is 0.
    void Stop();
    int IsRunning() const;
    // The last routine's answer; 0 until one returned.
    DWORD Result() const;

private:
    static DWORD WINAPI Entry(void* parameter);
    void ReleaseThread(int terminate);

    WorkerRoutine routine_ = nullptr;
    void* argument_ = nullptr;
    DWORD value_ = 0;
    volatile LONG result_ = 0;
    volatile LONG running_ = 0;
    DWORD threadId_ = 0;
    ScopedHandle thread_;
    Event started_;
    Event end_;
};
