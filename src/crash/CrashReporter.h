#pragma once

#include <windows.h>

#include "base/ScopedHandle.h"
#include "base/WideString.h"
#include "crash/CrashSettings.h"
#include "crash/DebugHelp.h"

// The process's crash reporter: an unhandled-exception filter that writes a
// minidump and a text report once per process, then offers to send them.
class CrashReporter
{
public:
    CrashReporter();
    // Takes the filter out again when it is this reporter's.
    ~CrashReporter();
    CrashReporter(const CrashReporter&) = delete;
    CrashReporter& operator=(const CrashReporter&) = delete;

    // Installs the filter (enable 1) or removes every filter (enable 0).
    void InstallCrashFilter(int enable);
    // Null product or extra: the program's "InternalName", and empty.
    void Configure(int iconId, const wchar_t* host, const wchar_t* path, const wchar_t* product,
                   const wchar_t* extra);
    const CrashSettings& Settings() const { return settings_; }

    // Writes both files on the calling thread, then offers to send them.
    // 1: let the system handle the exception; 0: handled.
    int WriteCrashReport(EXCEPTION_POINTERS* pointers);

    // The filter's work for an exception raised on crashingThread.
    LONG HandleCrash(EXCEPTION_POINTERS* pointers);

    // Used by the report thread.
    int WriteReportFor(EXCEPTION_POINTERS* pointers, DWORD crashingThread);

private:
    LONG HandleRepeatedCrash();

    CrashSettings settings_;
    DebugHelp debugHelp_;
    ScopedHandle reportDone_; // signalled once the first report has ended
};

// Configures the installed reporter (the process object's); 0 when none is
// installed.
int ConfigureCrashReporter(int iconId, const wchar_t* host, const wchar_t* path,
                           const wchar_t* product, const wchar_t* extra);
