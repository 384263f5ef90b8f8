#pragma once

#include <windows.h>

#include <string>

// Starts a Linux program (a command line whose program is a "Z:\..." path)
// from a test under Wine. Wine runs it as such but answers no process handle
// for it, so there is nothing to wait on: callers watch its effect instead
// (a connection back, a changed file).
inline bool StartLinuxProgram(std::wstring commandLine)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    // Without a process handle the thread field is no handle of this
    // process either: closing it would close something else.
    if (process.hProcess) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return true;
}

// The Linux path of a Windows path under Wine ("/tmp/x" for "Z:\tmp\x"), or
// empty when it has none.
inline std::wstring UnixPath(const std::wstring& path)
{
    using ToUnix = char*(CDECL*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* unixPath = toUnix ? toUnix(path.c_str()) : nullptr;
    const std::string text = unixPath ? unixPath : "";
    if (unixPath) {
        HeapFree(GetProcessHeap(), 0, unixPath);
    }
    return std::wstring(text.begin(), text.end());
}
