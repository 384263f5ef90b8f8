#include <doctest.h>

#include <windows.h>

#include <functional>

#include "TestWindow.h"
#include "system/GuardedCall.h"
#include "system/OsVersion.h"
#include "system/WorkerThread.h"

namespace {

// Every wait of these tests ends within this time, so a hang fails quickly.
constexpr DWORD kBound = 5000;
constexpr UINT kAsk = WM_APP + 1;
constexpr LRESULT kAnswer = 42;

LRESULT CALLBACK AnsweringProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return message == kAsk ? kAnswer : DefWindowProcW(window, message, wParam, lParam);
}

// Sends to a window of another thread; answers the window's reply, 0 when
// that thread did not handle the message in time.
DWORD SendToWindow(void* window, DWORD)
{
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(static_cast<HWND>(window), kAsk, 0, 0, SMTO_NORMAL, kBound, &answer);
    return static_cast<DWORD>(answer);
}

struct QuitJob
{
    DWORD threadId = 0;
    HANDLE release = nullptr;
    HWND window = nullptr;
};

// Posts WM_QUIT to the waiting thread, then holds until released.
DWORD PostQuitAndHold(void* argument, DWORD value)
{
    QuitJob* job = static_cast<QuitJob*>(argument);
    PostThreadMessageW(job->threadId, WM_QUIT, 7, 0);
    WaitForSingleObject(job->release, kBound);
    return value;
}

// Posts WM_QUIT to the waiting thread, then asks that thread's window.
int PostQuitAndAsk(void* argument)
{
    QuitJob* job = static_cast<QuitJob*>(argument);
    PostThreadMessageW(job->threadId, WM_QUIT, 7, 0);
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(job->window, kAsk, 0, 0, SMTO_NORMAL, kBound, &answer);
    return static_cast<int>(answer);
}

DWORD Echo(void*, DWORD value)
{
    return value;
}

DWORD BlockForever(void*, DWORD)
{
    Sleep(INFINITE);
    return 1;
}

WPARAM TakeQuitMessage()
{
    MSG message;
    return PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) ? message.wParam : 0;
}

void CALLBACK SetEventFromApc(ULONG_PTR event)
{
    SetEvent(reinterpret_cast<HANDLE>(event));
}

// What the acting window does when asked: inside a pumping wait.
std::function<void()> g_onAsk;

LRESULT CALLBACK ActingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kAsk && g_onAsk) {
        g_onAsk();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

TEST_CASE("The pumping wait serves a worker that sends to the waiting thread's window")
{
    TestWindow window(L"TesselAnsweringWindow", &AnsweringProcedure, {0, 0, 50, 50});
    WorkerThread worker;
    REQUIRE(worker.Start(&SendToWindow, window.Handle(), 0));
    CHECK(worker.Wait(2 * kBound) == 1);
    CHECK(worker.Result() == kAnswer);
}

TEST_CASE("A WM_QUIT during a pumping wait ends the wait and stays queued")
{
    Event release;
    REQUIRE(release.Create(1, 0));
    QuitJob job{GetCurrentThreadId(), release.Handle()};

    SUBCASE("WorkerThread::Wait")
    {
        WorkerThread worker;
        REQUIRE(worker.Start(&PostQuitAndHold, &job, 5));
        CHECK(worker.Wait(2 * kBound) == 0);
        CHECK(worker.IsRunning());
        CHECK(TakeQuitMessage() == 7);
        release.Set();
        worker.Wait(2 * kBound);
        CHECK_FALSE(worker.IsRunning());
        CHECK(worker.Result() == 5);
    }
    SUBCASE("RunGuarded keeps serving sent messages and leaves the WM_QUIT for the loop")
    {
        TestWindow window(L"TesselAnsweringWindow", &AnsweringProcedure, {0, 0, 50, 50});
        job.window = window.Handle();
        CHECK(RunGuarded(&PostQuitAndAsk, &job) == kAnswer);
        CHECK(TakeQuitMessage() == 7);
    }
}

TEST_CASE("Event waits: time-out, second handle, I/O completion wake-ups")
{
    Event event;
    REQUIRE(event.Create(1, 0));
    int timedOut = -1;
    CHECK(event.Wait(30, &timedOut) == 0);
    CHECK(timedOut == 1);
    CHECK(event.WaitPumping(30) == 0);

    Event other;
    REQUIRE(other.Create(1, 1));
    CHECK(event.Wait(kBound, &timedOut, other.Handle()) == 1);
    CHECK(timedOut == 0);
    HANDLE second = other.Handle();
    CHECK(event.WaitPumping(kBound, &second) == 1);

    // The APC wakes the alertable wait; the wait goes on and sees the event
    // the APC set.
    REQUIRE(QueueUserAPC(&SetEventFromApc, GetCurrentThread(),
                         reinterpret_cast<ULONG_PTR>(event.Handle())));
    CHECK(event.Wait(kBound, &timedOut) == 1);
    CHECK(timedOut == 0);
}

TEST_CASE("A pumping wait reads its handles anew after each message")
{
    TestWindow window(L"TesselActingWindow", &ActingProcedure, {0, 0, 50, 50});
    Event event;
    REQUIRE(event.Create(1, 0));
    Event other;
    SUBCASE("the second handle, which a handler hands over")
    {
        REQUIRE(other.Create(1, 1));
        HANDLE late = nullptr;
        g_onAsk = [&] { late = other.Handle(); };
        PostMessageW(window.Handle(), kAsk, 0, 0);
        CHECK(event.WaitPumping(kBound, &late) == 1);
    }
    SUBCASE("the event's own, when a handler creates it anew")
    {
        // An unsignalled event takes the old handle's value, so a wait on
        // that value would not end.
        g_onAsk = [&] {
            event.Close();
            other.Create(1, 0);
            event.Create(1, 1);
        };
        PostMessageW(window.Handle(), kAsk, 0, 0);
        CHECK(event.WaitPumping(kBound) == 1);
    }
    g_onAsk = nullptr;
}

TEST_CASE("Worker lifecycle: one routine at a time, result, forced stop")
{
    WorkerThread worker;
    CHECK(worker.Wait(kBound) == 0);
    CHECK(worker.Result() == 0);

    REQUIRE(worker.Start(&BlockForever, nullptr, 0));
    CHECK(worker.Start(&Echo, nullptr, 1) == 0);
    CHECK(worker.Wait(30) == 0);
    worker.Stop();
    CHECK_FALSE(worker.IsRunning());
    CHECK(worker.Result() == 0);

    // Routines that end at once, before Start has even returned.
    for (DWORD round = 1; round <= 100; ++round) {
        REQUIRE(worker.Start(&Echo, nullptr, round));
        const DWORD start = GetTickCount();
        while (worker.IsRunning() && GetTickCount() - start < kBound) {
            Sleep(0);
        }
        REQUIRE_FALSE(worker.IsRunning());
        REQUIRE(worker.Result() == round);
    }
    CHECK(worker.Wait(kBound) == 0);

    {
        WorkerThread abandoned;
        REQUIRE(abandoned.Start(&BlockForever, nullptr, 0));
    }
}

TEST_CASE("A global event name is used only on Windows 2000 and later")
{
    CHECK(UseGlobalEventName(OS_NT | OS_WIN7, L"name", 1) == 1);
    CHECK(UseGlobalEventName(OS_NT | OS_NT4, L"name", 1) == 0);
    CHECK(UseGlobalEventName(OS_WIN98, L"name", 1) == 0);
    CHECK(UseGlobalEventName(OS_NT | OS_WIN7, nullptr, 1) == 0);
    CHECK(UseGlobalEventName(OS_NT | OS_WIN7, L"name", 0) == 0);

    Event event;
    REQUIRE(event.Create(1, 0, L"TesselWorkerTestEvent", 1));
    ScopedHandle opened(OpenEventW(SYNCHRONIZE, FALSE, L"Global\\TesselWorkerTestEvent"));
    CHECK(opened.IsValid());
    REQUIRE(event.Set());
    CHECK(WaitForSingleObject(opened.Get(), 0) == WAIT_OBJECT_0);
}
