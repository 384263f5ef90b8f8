#pragma once

// A test's worker thread whose end is awaited for a bounded time: a worker
// that hangs (a deadlock in the code under test) ends the test program with
// a message within seconds instead of at CTest's time-out.

#include <windows.h>

#include <cstdio>
#include <functional>

class BoundedThread
{
public:
    explicit BoundedThread(std::function<void()> body) : body_(std::move(body))
    {
        thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    ~BoundedThread() { Join(); }
    BoundedThread(const BoundedThread&) = delete;
    BoundedThread& operator=(const BoundedThread&) = delete;

    bool Started() const { return thread_ != nullptr; }

    // Waits for the body to end. The body may refer to the test's frame, so
    // a body still running after the limit must not outlive the test: the
    // whole test program ends with status 3.
    void Join(DWORD limitMs = kDefaultLimitMs)
    {
        if (!thread_)
            return;
        if (WaitForSingleObject(thread_, limitMs) != WAIT_OBJECT_0) {
            std::fprintf(stderr, "a worker thread did not end within %lu ms\n",
                         static_cast<unsigned long>(limitMs));
            std::fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        CloseHandle(thread_);
        thread_ = nullptr;
    }

    static constexpr DWORD kDefaultLimitMs = 20000;

private:
    static DWORD WINAPI Run(void* context)
    {
        static_cast<BoundedThread*>(context)->body_();
        return 0;
    }

    std::function<void()> body_;
    HANDLE thread_ = nullptr;
};
