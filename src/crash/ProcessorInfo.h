#pragma once

#include <windows.h>

#include "base/DynamicLibrary.h"

class WideString;

// NtQuerySystemInformation, reached at run time through ntdll.dll.
class SystemInfoQuery
{
public:
    // Status answered when the function does not exist.
    static constexpr LONG kMissingFunction = static_cast<LONG>(0xC00000FF);

    SystemInfoQuery();
    SystemInfoQuery(const SystemInfoQuery&) = delete;
    SystemInfoQuery& operator=(const SystemInfoQuery&) = delete;

    LONG Query(ULONG informationClass, void* buffer, ULONG length, ULONG* returnedLength);

private:
    using QueryFunction = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);

    DynamicLibrary ntdll_;
    QueryFunction query_ = nullptr;
};

// Describes the processors for the crash report.
class ProcessorInfo
{
public:
    ProcessorInfo();

    // Fills the given outs for the processor with that index (null outs are
    // skipped); 1 when it exists. A value that cannot be read leaves its out
    // string as it was.
    int Get(unsigned index, WideString* name, WideString* vendor, WideString* identifier,
            DWORD* megahertz);

private:
    bool isNt_ = false;
    SystemInfoQuery query_;
};
