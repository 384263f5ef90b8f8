#pragma once

#include <windows.h>

#include "base/DynamicLibrary.h"
#include "crash/CrashReporter.h"

// Process option: leave the unhandled-exception filter out.
constexpr DWORD PROCESS_NO_CRASH_FILTER = 0x8;

// The first process-wide object: constructed before the application object
// and destroyed after it, so that what it holds covers the whole life of the
// windows. It is the home of the crash reporter, whose exception filter it
// installs unless the options leave it out.
class AppProcess
{
public:
    explicit AppProcess(DWORD options) : options_(options)
    {
        if (CrashFilterWanted()) {
            crashReporter_.InstallCrashFilter(1);
        }
    }
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    DWORD Options() const { return options_; }
    bool CrashFilterWanted() const { return (options_ & PROCESS_NO_CRASH_FILTER) == 0; }
    CrashReporter& Reporter() { return crashReporter_; }

private:
    // First of all, before any member or later object loads a library: a
    // library planted in the program's folder (a download folder, say) or in
    // the current folder must never be found.
    int librarySearchRestricted_ = RestrictLibrarySearch();
    PreloadedSystemLibraries preloaded_;
    CrashReporter crashReporter_;
    DWORD options_;
};
