#pragma once

#include <windows.h>

#include "base/DynamicLibrary.h"
#include "base/ScopedHandle.h"

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

// user 1: the user's, else the system's; ui 1: the user-interface language,
// else the locale's. 9 (English) where the UI-language function is missing.
LANGID GetLanguageId(int user, int ui);

// 1 when a font family of that face (at most 31 characters) and character
// set is installed; dc may be null for the screen.
int FontFamilyExists(const wchar_t* face, BYTE charSet, HDC dc);

// A solid brush for coloured control backgrounds.
class SolidBrush
{
public:
    SolidBrush() = default;
    SolidBrush(const SolidBrush&) = delete;
    SolidBrush& operator=(const SolidBrush&) = delete;

    int Create(COLORREF colour);
    // Sets the context's background colour and answers the brush, as
    // WM_CTLCOLORSTATIC wants it.
    HBRUSH ForControl(HDC dc);
    void Delete();
    HBRUSH Handle() const { return brush_.Get(); }
    COLORREF Colour() const { return colour_; }

private:
    ScopedBrush brush_;
    COLORREF colour_ = 0;
};

// True when the process runs under Wine.
bool IsWine();
