#pragma once

#include <windows.h>
#include <string>
#include <vector>

#include "base/ScopedHandle.h"

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

// The text as the ANSI code page writes it, the report's own.
inline std::string Ansi(const std::wstring& text)
{
    std::string bytes(text.size() * 4 + 1, '\0');
    const int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &bytes[0],
                                           static_cast<int>(bytes.size()), nullptr, nullptr);
    bytes.resize(length > 0 ? static_cast<size_t>(length - 1) : 0);
    return bytes;
}

inline std::string ReadWholeFile(const std::wstring& path)
{
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    std::string text;
    char block[4096];
    DWORD read = 0;
    while (file && ReadFile(file.Get(), block, sizeof(block), &read, nullptr) && read > 0)
        text.append(block, read);
    return text;
}

inline bool WriteWholeFile(const std::wstring& path, const std::string& bytes)
{
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file &&
           WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
           written == bytes.size();
}

inline bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The folder of the running test program, with its backslash.
inline std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\') + 1);
}

// A fresh folder in the temporary folder, removed with its files and empty
// subfolders at the end of the scope. Path() ends in a backslash.
class TestFolder
{
public:
    // leaf: the name of a folder inside the fresh one that Path() names.
    explicit TestFolder(const wchar_t* leaf = nullptr)
    {
        static LONG counter = 0;
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        root_ = std::wstring(temp) + L"tessel-crash-" + std::to_wstring(GetCurrentProcessId()) +
                L"-" + std::to_wstring(InterlockedIncrement(&counter)) + L"\\";
        CreateDirectoryW(root_.c_str(), nullptr);
        path_ = leaf ? root_ + leaf + L"\\" : root_;
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TestFolder()
    {
        Empty(path_);
        RemoveDirectoryW(path_.c_str());
        RemoveDirectoryW(root_.c_str());
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;
    const std::wstring& Path() const { return path_; }

private:
    static void Empty(const std::wstring& folder)
    {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
        for (BOOL more = search != INVALID_HANDLE_VALUE; more;
             more = FindNextFileW(search, &found)) {
            const std::wstring path = folder + found.cFileName;
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW(path.c_str());
            else if (found.cFileName[0] != L'.')
                RemoveDirectoryW(path.c_str());
        }
        if (search != INVALID_HANDLE_VALUE)
            FindClose(search);
    }

    std::wstring root_;
    std::wstring path_;
};

// A program started and watched until it ends; one still running when the
// object goes is ended by force. Its output goes nowhere (Wine prints a
// backtrace of every crash there).
class WatchedChild
{
public:
    WatchedChild() = default;
    ~WatchedChild()
    {
        if (process_ && !WaitForEnd(0)) {
            TerminateProcess(process_.Get(), 1);
            WaitForSingleObject(process_.Get(), 5000);
        }
    }
    WatchedChild(const WatchedChild&) = delete;
    WatchedChild& operator=(const WatchedChild&) = delete;

    bool Start(const std::wstring& program, const std::wstring& argument)
    {
        std::wstring commandLine = L"\"" + program + L"\" " + argument;
        SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
        ScopedHandle nothing(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                                         OPEN_EXISTING, 0, nullptr));
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = startup.hStdOutput = startup.hStdError = nothing.Get();
        PROCESS_INFORMATION information = {};
        if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                            nullptr, &startup, &information))
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

private:
    static BOOL CALLBACK IsNotShownBy(HWND window, LPARAM processId)
    {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        return owner != static_cast<DWORD>(processId) || !IsWindowVisible(window);
    }

    ScopedHandle process_;
    DWORD mainThread_ = 0;
    DWORD processId_ = 0;
};

// A copy of one of the build's programs (named relative to the test
// program's folder) in a fresh folder of its own, so that its reports land
// there; the child ends before the folder goes.
struct ProgramCopy
{
    TestFolder folder;
    std::wstring path;
    bool copied;
    WatchedChild child;

    ProgramCopy(const wchar_t* source, const std::wstring& name, const wchar_t* leaf = nullptr)
        : folder(leaf), path(folder.Path() + name),
          copied(CopyFileW((ProgramFolder() + source).c_str(), path.c_str(), FALSE) != 0)
    {
    }
    // Another file of the build beside the copy.
    bool CopyBeside(const std::wstring& source, const std::wstring& name) const
    {
        return CopyFileW((ProgramFolder() + source).c_str(), (folder.Path() + name).c_str(),
                         FALSE) != 0;
    }
    bool Start(const std::wstring& arguments) { return copied && child.Start(path, arguments); }
    // The path of one of its report files: suffix "_Debug.txt" or "_Debug.dmp".
    std::wstring Report(const wchar_t* suffix) const
    {
        return path.substr(0, path.rfind(L'.')) + suffix;
    }
};

// Wine's per-program load order for some libraries: "" keeps them from
// loading at all, "native,builtin" prefers a library in the program's folder
// as Windows does for every library that is not a known one. Taken back at
// the end of the scope.
class WineDllOverrides
{
public:
    WineDllOverrides(const std::wstring& program, const std::vector<std::wstring>& libraries,
                     const std::wstring& order)
        : key_(L"Software\\Wine\\AppDefaults\\" + program)
    {
        HKEY overrides = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, (key_ + L"\\DllOverrides").c_str(), 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &overrides, nullptr);
        for (const std::wstring& library : libraries)
            RegSetValueExW(overrides, library.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(order.c_str()),
                           static_cast<DWORD>((order.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(overrides);
    }
    ~WineDllOverrides()
    {
        RegDeleteKeyW(HKEY_CURRENT_USER, (key_ + L"\\DllOverrides").c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, key_.c_str());
    }
    WineDllOverrides(const WineDllOverrides&) = delete;
    WineDllOverrides& operator=(const WineDllOverrides&) = delete;

private:
    std::wstring key_;
};

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
