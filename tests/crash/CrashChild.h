#pragma once

#include <windows.h>
#include <stdlib.h>
#include <string>
#include <vector>

#include "CrashTestFiles.h"
#include "base/ScopedHandle.h"

// A program of the tests' own, started and watched until it ends. A child
// still running when the object goes away is ended by force.
class WatchedChild
{
public:
    WatchedChild() = default;
    ~WatchedChild()
    {
        if (process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.Get(), 1);
            WaitForSingleObject(process_.Get(), 5000);
        }
    }
    WatchedChild(const WatchedChild&) = delete;
    WatchedChild& operator=(const WatchedChild&) = delete;

    bool Start(const std::wstring& program, const std::wstring& argument)
    {
        std::wstring commandLine = L"\"" + program + L"\" " + argument;
        // The system's crash output (Wine prints a backtrace) goes nowhere.
        SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
        ScopedHandle nothing(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                                         OPEN_EXISTING, 0, nullptr));
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nothing.Get();
        startup.hStdOutput = nothing.Get();
        startup.hStdError = nothing.Get();
        PROCESS_INFORMATION information = {};
        if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                            nullptr, &startup, &information)) {
            return false;
        }
        process_.Reset(information.hProcess);
        CloseHandle(information.hThread);
        mainThread_ = information.dwThreadId;
        processId_ = information.dwProcessId;
        return true;
    }

    // true when the child ended within the time.
    bool WaitForEnd(DWORD milliseconds)
    {
        return process_ && WaitForSingleObject(process_.Get(), milliseconds) == WAIT_OBJECT_0;
    }

    DWORD MainThread() const { return mainThread_; }
    DWORD ProcessId() const { return processId_; }
    HANDLE Process() const { return process_.Get(); }

private:
    ScopedHandle process_;
    DWORD mainThread_ = 0;
    DWORD processId_ = 0;
};

// Wine's own per-program setting that keeps one library from loading, for
// the length of the scope.
class WineDllDisabled
{
public:
    WineDllDisabled(const std::wstring& program, const wchar_t* library)
        : programKey_(L"Software\\Wine\\AppDefaults\\" + program),
          overridesKey_(programKey_ + L"\\DllOverrides")
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, overridesKey_.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &key, nullptr) == ERROR_SUCCESS) {
            // An empty load order: neither the native nor the builtin one.
            RegSetValueExW(key, library, 0, REG_SZ, reinterpret_cast<const BYTE*>(L""),
                           sizeof(wchar_t));
            RegCloseKey(key);
        }
    }
    ~WineDllDisabled()
    {
        RegDeleteKeyW(HKEY_CURRENT_USER, overridesKey_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, programKey_.c_str());
    }
    WineDllDisabled(const WineDllDisabled&) = delete;
    WineDllDisabled& operator=(const WineDllDisabled&) = delete;

private:
    std::wstring programKey_;
    std::wstring overridesKey_;
};

inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));
    }
    return lines;
}

inline std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    size_t start = 0;
    while ((start = line.find_first_not_of(' ', start)) != std::string::npos) {
        size_t end = line.find(' ', start);
        words.push_back(line.substr(start, end == std::string::npos ? end : end - start));
        start = end;
    }
    return words;
}

inline unsigned long long Number(const std::string& text)
{
    return strtoull(text.c_str(), nullptr, 0);
}

// The lines of one section ("ModuleList:" or "ThreadList:") after its
// header, up to the next empty line.
inline std::vector<std::string> Section(const std::string& report, const std::string& title)
{
    std::vector<std::string> lines = Lines(report);
    std::vector<std::string> section;
    size_t i = 0;
    while (i < lines.size() && lines[i] != title) {
        ++i;
    }
    for (i += 1; i < lines.size() && !lines[i].empty(); ++i) {
        section.push_back(lines[i]);
    }
    return section;
}

inline bool RunningUnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}
