#pragma once

#include <stddef.h>
#include <windows.h>

// Owns one system library loaded at run time. Optional or version-dependent
// system functions are reached through it, so the program still starts
// where they are missing. Libraries come from the system folder only: a
// file of the same name next to the program or in the current folder, where
// anyone may have put one, is never loaded.
class DynamicLibrary
{
public:
    DynamicLibrary() = default;
    explicit DynamicLibrary(const wchar_t* name) { Load(name); }
    ~DynamicLibrary() { Free(); }
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Loads the system library of that file name (no folder) with the
    // system's error boxes suppressed; 1 or 0.
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

// 1 when the name is a bare file name: not empty, no folder, drive or
// stream part, and not a name that climbs ("." or "..").
int IsBareLibraryName(const wchar_t* name);

// "<systemFolder>\<name>" into path (capacity characters); 0 when it does
// not fit or either part is empty. path is untouched on failure.
int SystemLibraryPath(const wchar_t* systemFolder, const wchar_t* name, wchar_t* path,
                      size_t capacity);

// Takes the program's folder and the current folder out of the library
// search of the whole process, so that libraries that are loaded later by
// name, also those that system libraries load for themselves, come from the
// system folder. Call it first, before anything else loads a library. 1 when
// the search is the system folder only; 0 where the system offers only the
// current folder's removal.
int RestrictLibrarySearch();

// Libraries that system libraries load for themselves, by name, through
// paths that may not follow the restricted search: the delayed imports of
// Wine's libraries, and of Windows' own where it lacks the restriction.
// Loaded from the system folder first, they are found already loaded.
// Held for the owner's life.
class PreloadedSystemLibraries
{
public:
    PreloadedSystemLibraries();
    PreloadedSystemLibraries(const PreloadedSystemLibraries&) = delete;
    PreloadedSystemLibraries& operator=(const PreloadedSystemLibraries&) = delete;

private:
    DynamicLibrary theme_;
    DynamicLibrary imaging_;
};

// Owns one handle of a library reached at run time, closed with a function
// of that library: a looked-up symbol, or a small function object around
// one (WinINet's and CNG's handles).
template <typename Handle, typename Close> class LibraryHandle
{
public:
    explicit LibraryHandle(Close close) : close_(close) {}
    ~LibraryHandle() { Reset(); }
    LibraryHandle(const LibraryHandle&) = delete;
    LibraryHandle& operator=(const LibraryHandle&) = delete;

    void Reset(Handle handle = nullptr)
    {
        if (handle_) {
            close_(handle_);
        }
        handle_ = handle;
    }
    // Closes a held handle and answers where a function puts the new one.
    Handle* Out()
    {
        Reset();
        return &handle_;
    }
    Handle Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    Close close_;
    Handle handle_ = nullptr;
};
