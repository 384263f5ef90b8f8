// A program that crashes with a report server configured, for the report
// upload's tests. It holds the real process object, so the real filter
// writes the report next to it, shows the problem report dialog and
// uploads. Argument: the report server's host setting.
#include <windows.h>

#include "app/AppProcess.h"

static AppProcess gProcess(0);

int wmain(int argc, wchar_t** argv)
{
    ConfigureCrashReporter(101, argc > 1 ? argv[1] : L"", L"/kestrel/report.php", nullptr, nullptr);
    // Through a volatile pointer, or the compiler replaces the store by a
    // trap instruction.
    volatile int* volatile target = nullptr;
    *target = 1;
    return 3;
}
