#include "system/Shell32.h"

const DynamicLibrary& Shell32()
{
    // Made once, also when threads ask at the same time.
    static const DynamicLibrary shell(L"shell32.dll");
    return shell;
}
