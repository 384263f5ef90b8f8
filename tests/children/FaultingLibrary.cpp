// A library whose DllMain faults, for the crash reporter's tests. A second
// thread of crash_child loads it while the first thread crashes: inside
// DllMain, holding the loader lock that writing the report needs, it waits
// until the child's reporter has taken the first crash and then faults
// itself. The fault goes to the process's unhandled-exception filter as one
// that nothing handles does; the loader would catch a real one first under
// Wine. As the system does after the filter, the process then ends.
#include <windows.h>

#include <string>

namespace {

HANDLE OpenChildEvent(const wchar_t* name, DWORD access)
{
    const std::wstring full = name + std::to_wstring(GetCurrentProcessId());
    return OpenEventW(access, FALSE, full.c_str());
}

void FaultUnhandled()
{
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    CONTEXT context = {};
    RtlCaptureContext(&context);
    EXCEPTION_POINTERS pointers = {&record, &context};
    const LPTOP_LEVEL_EXCEPTION_FILTER filter = SetUnhandledExceptionFilter(nullptr);
    SetUnhandledExceptionFilter(filter);
    if (filter)
        filter(&pointers);
    TerminateProcess(GetCurrentProcess(), EXCEPTION_ACCESS_VIOLATION);
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    HANDLE entered = OpenChildEvent(L"tessel-dllmain-entered-", EVENT_MODIFY_STATE);
    HANDLE taken = OpenChildEvent(L"tessel-crash-taken-", SYNCHRONIZE);
    if (!entered || !taken)
        return TRUE;
    SetEvent(entered);
    if (WaitForSingleObject(taken, 20000) == WAIT_OBJECT_0)
        FaultUnhandled();
    return TRUE;
}
