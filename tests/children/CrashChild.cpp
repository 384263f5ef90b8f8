// A small program that crashes on request, for the crash reporter's tests.
// It holds the real process object, so the real filter writes the report
// next to it. Argument: the kind of crash.
#include <windows.h>
#include <string.h>

#include <stdexcept>
#include <string>

#include "app/AppProcess.h"

static AppProcess gProcess(0);

#if defined(_MSC_VER)
#define NOT_INLINED __declspec(noinline)
#else
#define NOT_INLINED __attribute__((noinline))
#endif

namespace {

// The idle thread's name, found by the report through its information
// block's arbitrary-user-pointer slot.
char gThreadName[] = "tessel-named-worker";
HANDLE gGate = nullptr;

NOT_INLINED void CrashByWritingToZero()
{
    // Through a volatile pointer, or the compiler replaces the store by a
    // trap instruction.
    volatile int* volatile target = nullptr;
    *target = 1;
}

// Results go here, so that the compiler keeps the operations that crash.
volatile int gSink = 0;

NOT_INLINED void CrashByReading()
{
    volatile int* volatile source = reinterpret_cast<int*>(static_cast<ULONG_PTR>(0x10));
    gSink = *source;
}

NOT_INLINED void CrashByDividing(volatile int divisor)
{
    gSink = 100 / divisor;
}

NOT_INLINED int CrashByRecursing(int depth)
{
    // Below a page, so that the frame needs no stack probe and the fault
    // happens in this function.
    volatile char room[512];
    room[0] = static_cast<char>(depth);
    return gSink == 0 ? CrashByRecursing(depth + 1) + room[0] : room[0];
}

NT_TIB* OwnInformationBlock()
{
#if defined(__GNUC__)
#pragma GCC diagnostic push
// The header's segment read looks like an access to an empty array.
#pragma GCC diagnostic ignored "-Warray-bounds"
#endif
    return reinterpret_cast<NT_TIB*>(NtCurrentTeb());
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
}

DWORD WINAPI NamedIdleThread(void*)
{
    OwnInformationBlock()->ArbitraryUserPointer = gThreadName;
    SetEvent(gGate);
    Sleep(INFINITE);
    return 0;
}

DWORD WINAPI CrashingThread(void* gate)
{
    if (gate)
        WaitForSingleObject(static_cast<HANDLE>(gate), 10000);
    CrashByWritingToZero();
    return 0;
}

void StartNamedIdleThread()
{
    gGate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(CreateThread(nullptr, 0, NamedIdleThread, nullptr, 0, nullptr));
    WaitForSingleObject(gGate, 10000);
}

// Two threads released together, both writing to 0.
void CrashTwoThreadsAtOnce()
{
    HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE threads[2];
    for (HANDLE& thread : threads)
        thread = CreateThread(nullptr, 0, CrashingThread, start, 0, nullptr);
    Sleep(100);
    SetEvent(start);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
}

// A window whose answer to WM_APP writes to 0 as well: a message waiting
// for the crashing thread would crash it again while its report is
// written. A quit message waits behind it.
LRESULT CALLBACK CrashingWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP)
        CrashByWritingToZero();
    return DefWindowProcW(window, message, wParam, lParam);
}

void CrashAgainWhilePumping()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = CrashingWindowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"CrashChildWindow";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(L"CrashChildWindow", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);
    PostMessageW(window, WM_APP, 0, 0);
    PostQuitMessage(0);
    CrashByReading();
}

void CrashInWorker()
{
    HANDLE thread = CreateThread(nullptr, 0, CrashingThread, nullptr, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
}

// A reporter that tells by an event when it has taken a crash, and whose
// crashing thread may meet a second fault then, before its report thread
// has the crash. The fault reaches the filter the way the system delivers
// one that nothing handles: through UnhandledExceptionFilter. (Windows also
// delivers a fault raised inside the filter this way; Wine ends the process
// without calling it again.)
class TestReporter : public CrashReporter
{
public:
    HANDLE taken = nullptr;
    bool faultOnce = false;

protected:
    void BeforeReportStarts() override
    {
        if (taken)
            SetEvent(taken);
        if (!faultOnce)
            return;
        faultOnce = false;
        EXCEPTION_RECORD record = {};
        record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
        CONTEXT context = {};
        RtlCaptureContext(&context);
        EXCEPTION_POINTERS pointers = {&record, &context};
        UnhandledExceptionFilter(&pointers);
    }
};

TestReporter& InstallTestReporter()
{
    static TestReporter reporter;
    reporter.Configure(101, L"", L"/kestrel/report.php", nullptr, nullptr);
    reporter.InstallCrashFilter(1);
    return reporter;
}

void CrashTwiceBeforeTheReport()
{
    InstallTestReporter().faultOnce = true;
    CrashByReading();
}

HANDLE ChildEvent(const wchar_t* name)
{
    const std::wstring full = name + std::to_wstring(GetCurrentProcessId());
    return CreateEventW(nullptr, TRUE, FALSE, full.c_str());
}

DWORD WINAPI LoadFaultingLibrary(void*)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring library(path, length);
    library = library.substr(0, library.find_last_of(L'\\') + 1) + L"faulting_library.dll";
    LoadLibraryW(library.c_str());
    return 0;
}

// The first thread crashes while a second one is inside a library's
// DllMain, where it faults as soon as the crash is taken (see
// FaultingLibrary.cpp).
void CrashWhileAnotherFaultsInDllMain()
{
    InstallTestReporter().taken = ChildEvent(L"tessel-crash-taken-");
    HANDLE entered = ChildEvent(L"tessel-dllmain-entered-");
    CloseHandle(CreateThread(nullptr, 0, LoadFaultingLibrary, nullptr, 0, nullptr));
    if (WaitForSingleObject(entered, 10000) == WAIT_OBJECT_0)
        CrashByWritingToZero();
}

void ThrowUncaught()
{
    throw std::runtime_error("nobody catches this");
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const struct
    {
        const wchar_t* name;
        void (*crash)();
    } kinds[] = {
        {L"write", CrashByWritingToZero},
        {L"read", CrashByReading},
        {L"divide", [] { CrashByDividing(0); }},
        {L"cpp", ThrowUncaught},
        {L"unknown", [] { RaiseException(0x2BADC0DE, EXCEPTION_NONCONTINUABLE, 0, nullptr); }},
        {L"overflow", [] { gSink = CrashByRecursing(0); }},
        {L"again", CrashAgainWhilePumping},
        {L"two", CrashTwoThreadsAtOnce},
        {L"worker", CrashInWorker},
        {L"twice", CrashTwiceBeforeTheReport},
        {L"dllmain", CrashWhileAnotherFaultsInDllMain},
    };
    ConfigureCrashReporter(101, L"", L"/kestrel/report.php", nullptr, nullptr);
    StartNamedIdleThread();
    for (const auto& kind : kinds) {
        if (argc > 1 && !wcscmp(argv[1], kind.name))
            kind.crash();
    }
    return 3;
}
