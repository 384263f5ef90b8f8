#include "system/Wow64.h"

#include "base/DynamicLibrary.h"

int IsWow64(HANDLE process)
{
    DynamicLibrary kernel32(L"kernel32.dll");
    auto isWow64Process = kernel32.Symbol<decltype(&::IsWow64Process)>("IsWow64Process");
    if (!isWow64Process) {
        return 0;
    }
    BOOL wow64 = FALSE;
    if (!isWow64Process(process ? process : GetCurrentProcess(), &wow64)) {
        return 0;
    }
    return wow64 ? 1 : 0;
}
