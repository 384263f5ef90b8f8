#include "system/Clock.h"

#include "base/DynamicLibrary.h"

namespace {

DWORD MultimediaTime()
{
    // winmm is not linked; it is looked up once and kept for the process.
    using TimeGetTimeFunction = DWORD(WINAPI*)();
    static DynamicLibrary winmm(L"winmm.dll");
    static const TimeGetTimeFunction timeGetTime = winmm.Symbol<TimeGetTimeFunction>("timeGetTime");
    return timeGetTime ? timeGetTime() : GetTickCount();
}

} // namespace

ULONGLONG GetTickCount64Ms()
{
    using GetTickCount64Function = ULONGLONG(WINAPI*)();
    static DynamicLibrary kernel32(L"kernel32.dll");
    static const GetTickCount64Function getTickCount64 =
        kernel32.Symbol<GetTickCount64Function>("GetTickCount64");
    return getTickCount64 ? getTickCount64() : static_cast<ULONGLONG>(GetTickCount());
}

ULONGLONG ClockDifference(DWORD start, DWORD now)
{
    // Unsigned 32-bit arithmetic stays right when the clock wrapped once.
    return static_cast<DWORD>(now - start);
}

void Stopwatch::Start()
{
    start_ = MultimediaTime();
}

ULONGLONG Stopwatch::Elapsed()
{
    elapsed_ = ClockDifference(static_cast<DWORD>(start_), MultimediaTime());
    return elapsed_;
}
