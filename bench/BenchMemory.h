#pragma once

#include <windows.h>
#include <psapi.h>

#include "base/DynamicLibrary.h"

// The process's memory, for the benchmarks that watch it grow.

struct Memory
{
    double privateMb = 0;
    double workingSetMb = 0;
};

inline Memory ReadMemory()
{
    Memory memory;
    DynamicLibrary psapi(L"psapi.dll");
    auto query = psapi.Symbol<BOOL(WINAPI*)(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD)>(
        "GetProcessMemoryInfo");
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (query && query(GetCurrentProcess(), reinterpret_cast<PPROCESS_MEMORY_COUNTERS>(&counters),
                       sizeof counters)) {
        // Wine leaves PrivateUsage 0; the commit charge is the same figure.
        SIZE_T privateBytes =
            counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
        memory.privateMb = static_cast<double>(privateBytes) / (1024.0 * 1024.0);
        memory.workingSetMb = static_cast<double>(counters.WorkingSetSize) / (1024.0 * 1024.0);
    }
    return memory;
}
