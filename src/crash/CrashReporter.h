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
    virtual ~CrashReporter();
    CrashReporter(const CrashReporter&) = delete;
    CrashReporter& operator=(const CrashReporter&) = delete;

    // Installs the filter (enable 1) and readies the report thread, or
    // (enable 0) puts back the filter that was there before and ends it.
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
    // The report thread's routine: waits for a crash and reports it, or
    // for its end. 1 when it reported one.
    DWORD ServeReport();

protected:
    // Runs on the crashing thread after the crash was taken and before the
    // report thread has it. The crash tests fault here to see that a
    // second fault cannot hang the process.
    virtual void BeforeReportStarts() {}

private:
    // The crash handed to the report thread.
    struct ReportJob
    {
        EXCEPTION_POINTERS* pointers = nullptr;
        DWORD crashingThread = 0;
        int result = 1;
    };

    LONG HandleRepeatedCrash();
    void StartReportThread();
    void EndReportThread();

    CrashSettings settings_;
    DebugHelp debugHelp_;
    LPTOP_LEVEL_EXCEPTION_FILTER previousFilter_ = nullptr;
    // Everything the crashing thread needs is made here, before any crash:
    // after a stack overflow it has room for little more than signalling
    // and waiting.
    ScopedHandle reportStart_; // signalled by the crashing thread
    ScopedHandle reportDone_;  // signalled once the first report has ended
    ScopedHandle reportEnd_;   // ends the idle report thread
    ReportJob job_;
    ScopedHandle reportThread_;
};

// The longest a second crash waits for the first one's report, in
// milliseconds, before it goes to the system.
constexpr DWORD kRepeatedCrashWaitMs = 10000;

// Configures the installed reporter (the process object's); 0 when none is
// installed.
int ConfigureCrashReporter(int iconId, const wchar_t* host, const wchar_t* path,
                           const wchar_t* product, const wchar_t* extra);
