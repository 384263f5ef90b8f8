#pragma once

// A simulator scenario written by a test to a file of its own in the
// temporary folder, removed again with the object.

#include <windows.h>

#include <string>

class ScenarioFile
{
public:
    // text: the INI lines, ASCII.
    explicit ScenarioFile(const std::string& text)
    {
        wchar_t folder[MAX_PATH] = {};
        wchar_t name[MAX_PATH] = {};
        if (!GetTempPathW(MAX_PATH, folder) || !GetTempFileNameW(folder, L"scn", 0, name))
            return;
        HANDLE file = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;
        DWORD written = 0;
        const BOOL wrote =
            WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
        if (wrote && written == text.size())
            path_ = name;
    }
    ~ScenarioFile()
    {
        if (!path_.empty())
            DeleteFileW(path_.c_str());
    }
    ScenarioFile(const ScenarioFile&) = delete;
    ScenarioFile& operator=(const ScenarioFile&) = delete;

    // Empty when the file could not be written.
    const wchar_t* Path() const { return path_.empty() ? nullptr : path_.c_str(); }

private:
    std::wstring path_;
};
