#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest.h>

#include <windows.h>

int main(int argc, char** argv)
{
    // A failing test must end the process, never wait in a system dialog.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    doctest::Context context(argc, argv);
    return context.run();
}
