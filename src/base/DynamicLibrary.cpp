#include "base/DynamicLibrary.h"

#include <wchar.h>

namespace {

// The loader's search flag, also where the headers predate it.
constexpr DWORD kSearchSystemFolder = 0x00000800; // LOAD_LIBRARY_SEARCH_SYSTEM32

using SetDefaultDirectoriesFunction = BOOL(WINAPI*)(DWORD);
using SetDirectoryFunction = BOOL(WINAPI*)(const wchar_t*);

FARPROC Kernel32Function(const char* name)
{
    // kernel32 is in every process already: looking it up loads nothing.
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return kernel32 ? GetProcAddress(kernel32, name) : nullptr;
}

// The search flags of LoadLibraryExW exist where AddDllDirectory does
// (Windows 8, and Windows 7 and Vista with their loader update).
bool SearchFlagsSupported()
{
    static const bool supported = Kernel32Function("AddDllDirectory") != nullptr;
    return supported;
}

HMODULE LoadFromSystemFolder(const wchar_t* name)
{
    if (SearchFlagsSupported()) {
        // By name, so that the manifest's side-by-side binding still
        // chooses the version of a library such as comctl32.
        return LoadLibraryExW(name, nullptr, kSearchSystemFolder);
    }
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    wchar_t path[2 * MAX_PATH];
    if (length == 0 || length >= MAX_PATH || !SystemLibraryPath(folder, name, path, 2 * MAX_PATH)) {
        return nullptr;
    }
    // The library's own imports are looked for in its folder first.
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

} // namespace

int IsBareLibraryName(const wchar_t* name)
{
    if (!name || !*name || wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) {
        return 0;
    }
    return wcspbrk(name, L"\\/:") == nullptr;
}

int SystemLibraryPath(const wchar_t* systemFolder, const wchar_t* name, wchar_t* path,
                      size_t capacity)
{
    if (!systemFolder || !*systemFolder || !name || !*name) {
        return 0;
    }
    const size_t folderLength = wcslen(systemFolder);
    const bool needsSeparator = systemFolder[folderLength - 1] != L'\\';
    const size_t length = folderLength + (needsSeparator ? 1 : 0) + wcslen(name);
    if (length >= capacity) {
        return 0;
    }
    wcscpy(path, systemFolder);
    if (needsSeparator) {
        wcscat(path, L"\\");
    }
    wcscat(path, name);
    return 1;
}

int RestrictLibrarySearch()
{
    const auto setDirectory = reinterpret_cast<SetDirectoryFunction>(
        reinterpret_cast<void*>(Kernel32Function("SetDllDirectoryW")));
    if (setDirectory) {
        // An empty folder takes the current folder out of the search.
        setDirectory(L"");
    }
    const auto setDefault = reinterpret_cast<SetDefaultDirectoriesFunction>(
        reinterpret_cast<void*>(Kernel32Function("SetDefaultDllDirectories")));
    return setDefault && setDefault(kSearchSystemFolder) ? 1 : 0;
}

// The theme library, which comctl32 loads on first use, and the imaging
// library that the theme library loads in turn.
PreloadedSystemLibraries::PreloadedSystemLibraries()
    : theme_(L"uxtheme.dll"), imaging_(L"msimg32.dll")
{
}

int DynamicLibrary::Load(const wchar_t* name)
{
    Free();
    if (!IsBareLibraryName(name)) {
        return 0;
    }
    // No "drive not ready" or "DLL not found" box: the caller sees only 0.
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    module_ = LoadFromSystemFolder(name);
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
