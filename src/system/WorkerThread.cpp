#include "system/WorkerThread.h"

#include "base/DynamicLibrary.h"
#include "base/WideString.h"
#include "system/OsVersion.h"
#include "system/Clock.h"

namespace {

// How long a forced stop waits for a new thread to reach its routine.
constexpr DWORD kStartBound = 5000;

// An open security descriptor (no DACL: everyone has access), built with the
// advapi32 functions looked up at run time.
class OpenSecurity
{
public:
    OpenSecurity()
    {
        using InitializeFunction = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, DWORD);
        using SetDaclFunction = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
        DynamicLibrary advapi(L"advapi32.dll");
        const auto initialize = advapi.Symbol<InitializeFunction>("InitializeSecurityDescriptor");
        const auto setDacl = advapi.Symbol<SetDaclFunction>("SetSecurityDescriptorDacl");
        valid_ = initialize && setDacl && initialize(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
                 setDacl(&descriptor_, TRUE, nullptr, FALSE);
        attributes_.nLength = sizeof(attributes_);
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = FALSE;
    }
    OpenSecurity(const OpenSecurity&) = delete;
    OpenSecurity& operator=(const OpenSecurity&) = delete;

    bool IsValid() const { return valid_; }
    SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

private:
    SECURITY_DESCRIPTOR descriptor_ = {};
    SECURITY_ATTRIBUTES attributes_ = {};
    bool valid_ = false;
};

// Dispatches every waiting message; 0 when a WM_QUIT was among them (it is
// posted again).
int DispatchWaitingMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return 0;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 1;
}

DWORD CollectHandles(HANDLE first, HANDLE second, HANDLE* handles)
{
    DWORD count = 0;
    handles[count++] = first;
    if (second) {
        handles[count++] = second;
    }
    return count;
}

} // namespace

int UseGlobalEventName(DWORD kernelWord, const wchar_t* name, int global)
{
    return name && global == 1 && (kernelWord & OS_NT) && !(kernelWord & OS_NT4);
}

namespace {

// The pumping wait; both handles are read anew on each pass, after the
// messages were dispatched, since a message handler may change them.
template <typename ReadFirst>
int PumpUntilSignalled(ReadFirst readFirst, const HANDLE* second, DWORD milliseconds)
{
    const bool unlimited = milliseconds == WAIT_NO_LIMIT;
    const ULONGLONG deadline = GetTickCount64Ms() + milliseconds;
    for (;;) {
        DWORD passTime = WAIT_NO_LIMIT;
        if (!unlimited) {
            const ULONGLONG now = GetTickCount64Ms();
            if (now > deadline) {
                return 0;
            }
            passTime = static_cast<DWORD>(deadline - now);
        }
        if (!DispatchWaitingMessages()) {
            return 0;
        }
        HANDLE handles[2];
        const DWORD count = CollectHandles(readFirst(), second ? *second : nullptr, handles);
        const DWORD outcome =
            MsgWaitForMultipleObjects(count, handles, FALSE, passTime, QS_ALLINPUT);
        if (outcome == WAIT_OBJECT_0 + count) {
            continue;
        }
        return outcome < WAIT_OBJECT_0 + count ? 1 : 0;
    }
}

} // namespace

int WaitPumping(HANDLE first, const HANDLE* second, DWORD milliseconds)
{
    return PumpUntilSignalled([first] { return first; }, second, milliseconds);
}

int Event::Create(int manualReset, int initialState, const wchar_t* name, int global)
{
    Close();
    const BOOL manual = manualReset ? TRUE : FALSE;
    const BOOL initial = initialState ? TRUE : FALSE;
    // Only a named global event asks the system's version and builds a
    // security descriptor: a plain event must cost nothing more than the
    // event, also on a thread with little stack left.
    if (name && global == 1) {
        WideString globalName;
        OpenSecurity security;
        if (UseGlobalEventName(OsKernelWord(GetOsKernel()), name, global) && security.IsValid() &&
            Format(globalName, L"Global\\%s", name)) {
            handle_.Reset(CreateEventW(security.Attributes(), manual, initial, globalName.Data()));
            return handle_ ? 1 : 0;
        }
    }
    handle_.Reset(CreateEventW(nullptr, manual, initial, name));
    return handle_ ? 1 : 0;
}

int Event::Set()
{
    return handle_ && SetEvent(handle_.Get()) ? 1 : 0;
}

void Event::Close()
{
    handle_.Reset();
}

int Event::Wait(DWORD milliseconds, int* timedOut, HANDLE second)
{
    HANDLE handles[2];
    const DWORD count = CollectHandles(handle_.Get(), second, handles);
    DWORD outcome;
    do {
        outcome = WaitForMultipleObjectsEx(count, handles, FALSE, milliseconds, TRUE);
    } while (outcome == WAIT_IO_COMPLETION);
    if (timedOut) {
        *timedOut = outcome == WAIT_TIMEOUT ? 1 : 0;
    }
    return outcome < WAIT_OBJECT_0 + count ? 1 : 0;
}

int Event::WaitPumping(DWORD milliseconds, const HANDLE* second)
{
    // The event may be created anew while the wait pumps (a worker started
    // again from a message handler): wait on the handle it has now.
    return PumpUntilSignalled([this] { return handle_.Get(); }, second, milliseconds);
}

int WorkerThread::Start(WorkerRoutine routine, void* argument, DWORD value)
{
    if (IsRunning() || !routine) {
        return 0;
    }
    // A previous thread may still be between signalling its end and exiting.
    ReleaseThread(0);
    routine_ = routine;
    argument_ = argument;
    value_ = value;
    if (!end_.Create(1, 0) || !started_.Create(1, 0)) {
        return 0;
    }
    InterlockedExchange(&running_, 1);
    // Created suspended, so the handle is stored before the routine can end.
    thread_.Reset(CreateThread(nullptr, 0, &Entry, this, CREATE_SUSPENDED, &threadId_));
    if (!thread_) {
        InterlockedExchange(&running_, 0);
        return 0;
    }
    ResumeThread(thread_.Get());
    return 1;
}

DWORD WINAPI WorkerThread::Entry(void* parameter)
{
    WorkerThread* worker = static_cast<WorkerThread*>(parameter);
    worker->started_.Set();
    const DWORD result = worker->routine_(worker->argument_, worker->value_);
    InterlockedExchange(&worker->result_, static_cast<LONG>(result));
    InterlockedExchange(&worker->running_, 0);
    worker->end_.Set();
    return 0;
}

int WorkerThread::Wait(DWORD milliseconds)
{
    if (!IsRunning()) {
        return 0;
    }
    return end_.WaitPumping(milliseconds == 0 ? WAIT_NO_LIMIT : milliseconds);
}

void WorkerThread::Stop()
{
    ReleaseThread(1);
    InterlockedExchange(&result_, 0);
    end_.Close();
    started_.Close();
}

// The thread handle stays with this object, not with the thread, so that
// Stop and the destructor can wait until the thread no longer touches it.
void WorkerThread::ReleaseThread(int terminate)
{
    if (!thread_) {
        return;
    }
    if (terminate && InterlockedExchange(&running_, 0)) {
        // A thread killed while it is still starting can take the loader
        // lock with it, and under Wine it can bring the whole process down:
        // let it reach its routine first.
        WaitForSingleObject(started_.Handle(), kStartBound);
        TerminateThread(thread_.Get(), 0);
    }
    WaitForSingleObject(thread_.Get(), INFINITE);
    thread_.Reset();
    threadId_ = 0;
}

int WorkerThread::IsRunning() const
{
    return InterlockedCompareExchange(const_cast<volatile LONG*>(&running_), 0, 0) ? 1 : 0;
}

DWORD WorkerThread::Result() const
{
    return static_cast<DWORD>(
        InterlockedCompareExchange(const_cast<volatile LONG*>(&result_), 0, 0));
}
