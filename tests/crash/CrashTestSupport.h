#pragma once

#include <windows.h>
#include <functional>
#include <string>
#include <vector>

#include "TestText.h"
#include "UpdateTestFiles.h"
#include "base/ScopedHandle.h"

using update_test::ReadWholeFile; // "<missing>" for a file that cannot be read
using update_test::WriteWholeFile;

inline bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}
inline bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}
inline bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// A fresh folder in the temporary folder, removed with everything in it.
class TestFolder : public update_test::TempFolder
{
public:
    TestFolder() : TempFolder(NextName().c_str()) {}

private:
    static std::wstring NextName()
    {
        static LONG counter = 0;
        return L"tessel-crash-" + std::to_wstring(InterlockedIncrement(&counter));
    }
};

// A copy of one of the build's programs (named relative to the test
// program's folder) in a fresh folder of its own (or a folder leaf inside
// it), so that its reports land there. Started, its output goes nowhere
// (Wine prints a backtrace of every crash there); one still running when
// the object goes is ended by force before the folder goes.
class ProgramCopy
{
    TestFolder folder_; // removed last, once the program has ended

public:
    const std::wstring dir; // with its backslash
    const std::wstring path;

    ProgramCopy(const wchar_t* source, const std::wstring& name, const wchar_t* leaf = nullptr)
        : dir(leaf ? folder_.Path() + leaf + L"\\" : folder_.Path()), path(dir + name)
    {
        CreateDirectoryW(dir.c_str(), nullptr);
        copied_ = CopyBeside(source, name);
    }
    ~ProgramCopy()
    {
        if (process_ && !WaitForEnd(0)) {
            TerminateProcess(process_.Get(), 1);
            WaitForSingleObject(process_.Get(), 5000);
        }
    }
    ProgramCopy(const ProgramCopy&) = delete;
    ProgramCopy& operator=(const ProgramCopy&) = delete;

    // Another file of the build beside the copy.
    bool CopyBeside(const std::wstring& source, const std::wstring& name) const
    {
        wchar_t program[MAX_PATH];
        GetModuleFileNameW(nullptr, program, MAX_PATH);
        std::wstring from = program;
        from = from.substr(0, from.rfind(L'\\') + 1) + source;
        return CopyFileW(from.c_str(), (dir + name).c_str(), FALSE) != 0;
    }
    bool Start(const std::wstring& arguments)
    {
        std::wstring commandLine = L"\"" + path + L"\" " + arguments;
        SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
        ScopedHandle nothing(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                                         OPEN_EXISTING, 0, nullptr));
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = startup.hStdOutput = startup.hStdError = nothing.Get();
        PROCESS_INFORMATION information = {};
        if (!copied_ || !CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &information))
            return false;
        process_.Reset(information.hProcess);
        CloseHandle(information.hThread);
        mainThread_ = information.dwThreadId;
        processId_ = information.dwProcessId;
        return true;
    }
    bool WaitForEnd(DWORD milliseconds)
    {
        return process_ && WaitForSingleObject(process_.Get(), milliseconds) == WAIT_OBJECT_0;
    }
    // The exit code once the program ended, STILL_ACTIVE before.
    DWORD ExitCode() const
    {
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process_.Get(), &code);
        return code;
    }
    // True once the program shows a window, false when it ends first or
    // shows none within 30 s.
    bool WaitForWindow()
    {
        for (int i = 0; i < 300 && !WaitForEnd(100); ++i) {
            if (!EnumWindows(&IsNotShownBy, static_cast<LPARAM>(processId_)))
                return true;
        }
        return false;
    }
    DWORD MainThread() const { return mainThread_; }
    DWORD ProcessId() const { return processId_; }
    HANDLE Process() const { return process_.Get(); }
    // The path of one of its report files: suffix "_Debug.txt" or "_Debug.dmp".
    std::wstring Report(const wchar_t* suffix) const
    {
        return path.substr(0, path.rfind(L'.')) + suffix;
    }

private:
    static BOOL CALLBACK IsNotShownBy(HWND window, LPARAM processId)
    {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        return owner != static_cast<DWORD>(processId) || !IsWindowVisible(window);
    }

    bool copied_ = false;
    ScopedHandle process_;
    DWORD mainThread_ = 0;
    DWORD processId_ = 0;
};

// Runs an action at the end of the scope: puts back what a test changed.
class AtScopeEnd
{
public:
    explicit AtScopeEnd(std::function<void()> action) : action_(std::move(action)) {}
    ~AtScopeEnd() { action_(); }
    AtScopeEnd(const AtScopeEnd&) = delete;
    AtScopeEnd& operator=(const AtScopeEnd&) = delete;

private:
    std::function<void()> action_;
};

// Wine's per-program load order for some libraries: "" keeps them from
// loading at all, "native,builtin" prefers a library in the program's folder
// as Windows does for every library that is not a known one. Taken back at
// the end of the guard's scope.
inline AtScopeEnd WineDllOverrides(const std::wstring& program,
                                   const std::vector<std::wstring>& libraries,
                                   const std::wstring& order)
{
    const std::wstring key = L"Software\\Wine\\AppDefaults\\" + program;
    for (const std::wstring& library : libraries)
        RegSetKeyValueW(HKEY_CURRENT_USER, (key + L"\\DllOverrides").c_str(), library.c_str(),
                        REG_SZ, order.c_str(),
                        static_cast<DWORD>((order.size() + 1) * sizeof(wchar_t)));
    return AtScopeEnd([key] {
        RegDeleteKeyW(HKEY_CURRENT_USER, (key + L"\\DllOverrides").c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
    });
}

// The lines that end with lineEnd; an unfinished last one is left out.
inline std::vector<std::string> Lines(const std::string& text, const std::string& lineEnd = "\r\n")
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(lineEnd, start)) != std::string::npos;
         start = end + lineEnd.size())
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// The lines after a section's title (and its header), up to an empty line.
inline std::vector<std::string> Section(const std::string& report, const std::string& title,
                                        size_t headers = 1)
{
    const std::vector<std::string> lines = Lines(report);
    std::vector<std::string> section;
    size_t i = 0;
    while (i < lines.size() && lines[i] != title)
        ++i;
    for (i += 1 + headers; i < lines.size() && !lines[i].empty(); ++i)
        section.push_back(lines[i]);
    return section;
}

inline bool RunningUnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}
