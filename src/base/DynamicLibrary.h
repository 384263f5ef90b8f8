#pragma once

#include <windows.h>

// Owns one module loaded at run time. Optional or version-dependent system
// functions are reached through it, so the program still starts where they
// are missing.
class DynamicLibrary
{
public:
    DynamicLibrary() = default;
    explicit DynamicLibrary(const wchar_t* name) { Load(name); }
    ~DynamicLibrary() { Free(); }
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Loads the library with the system's error boxes suppressed; 1 or 0.
    int Load(const wchar_t* name);
    // The entry point's address, or null.
    FARPROC Symbol(const char* name) const;
    // Typed form of Symbol: Symbol<decltype(&::Function)>("Function").
    template <typename Function> Function Symbol(const char* name) const
    {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(Symbol(name)));
    }
    int Free();
    HMODULE Handle() const { return module_; }

private:
    HMODULE module_ = nullptr;
};
