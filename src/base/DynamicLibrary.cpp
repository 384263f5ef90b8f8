#include "base/DynamicLibrary.h"

int DynamicLibrary::Load(const wchar_t* name)
{
    Free();
    // No "drive not ready" or "DLL not found" box: the caller sees only 0.
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    module_ = LoadLibraryW(name);
    SetErrorMode(previous);
    return module_ != nullptr;
}

FARPROC DynamicLibrary::Symbol(const char* name) const
{
    return module_ ? GetProcAddress(module_, name) : nullptr;
}

int DynamicLibrary::Free()
{
    if (module_) {
        FreeLibrary(module_);
        module_ = nullptr;
    }
    return 1;
}
