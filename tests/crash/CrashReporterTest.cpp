#include <doctest.h>

#include <windows.h>

#include "crash/CrashDump.h"
#include "crash/CrashReporter.h"

namespace {

LONG WINAPI SentinelFilter(EXCEPTION_POINTERS*)
{
    return EXCEPTION_CONTINUE_SEARCH;
}

LPTOP_LEVEL_EXCEPTION_FILTER CurrentFilter()
{
    LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(nullptr);
    SetUnhandledExceptionFilter(current);
    return current;
}

struct MarkedRun
{
    DWORD id = 0;
    bool markedWhileRunning = false;
};

DWORD WINAPI RunMarked(void* parameter)
{
    MarkedRun* run = static_cast<MarkedRun*>(parameter);
    ReportThreadMark mark;
    run->id = GetCurrentThreadId();
    run->markedWhileRunning = IsReportThread(run->id);
    return 0;
}

} // namespace

TEST_CASE("a report thread is known as one while it runs, and its id is free again after")
{
    // More threads one after the other than the list has places: each
    // place is given back, or later threads would no longer be known and a
    // new thread with an old id would be taken for a report thread.
    for (int i = 0; i < 12; ++i) {
        CAPTURE(i);
        MarkedRun run;
        HANDLE thread = CreateThread(nullptr, 0, RunMarked, &run, 0, nullptr);
        REQUIRE(thread);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        CHECK(run.markedWhileRunning);
        CHECK_FALSE(IsReportThread(run.id));
    }
}

TEST_CASE("taking the reporter out puts back the filter that was there before")
{
    const LPTOP_LEVEL_EXCEPTION_FILTER original = SetUnhandledExceptionFilter(SentinelFilter);
    {
        CrashReporter reporter;
        reporter.InstallCrashFilter(1);
        CHECK_FALSE((CurrentFilter() == SentinelFilter));
        // Installing again keeps the filter from before the first time.
        reporter.InstallCrashFilter(1);
        reporter.InstallCrashFilter(0);
        CHECK((CurrentFilter() == SentinelFilter));
        reporter.InstallCrashFilter(1);
    }
    CHECK((CurrentFilter() == SentinelFilter));
    SetUnhandledExceptionFilter(original);
}
