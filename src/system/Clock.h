#pragma once

#include <windows.h>

// Milliseconds since system start; wraps after 49.7 days where
// GetTickCount64 is missing.
ULONGLONG GetTickCount64Ms();

// Elapsed milliseconds of the multimedia timer.
class Stopwatch
{
public:
    void Start();
    // Milliseconds since Start; also kept in LastElapsed.
    ULONGLONG Elapsed();
    ULONGLONG LastElapsed() const { return elapsed_; }

private:
    ULONGLONG start_ = 0;
    ULONGLONG elapsed_ = 0;
};

// Milliseconds from start to now of a 32-bit clock, correct across one wrap.
ULONGLONG ClockDifference(DWORD start, DWORD now);
