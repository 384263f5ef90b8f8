#pragma once

// Files and folders for the update tests: whole-file reads and writes, a
// private folder removed with its contents, and the ZIP fixtures.

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "MessagePump.h"

namespace update_test {

inline bool WriteWholeFile(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    CloseHandle(file);
    return ok;
}

// The file's bytes, or "<missing>".
inline std::string ReadWholeFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

inline bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Waits, pumping this thread's messages, until the file exists; false when
// it has not appeared within 20 seconds.
inline bool WaitForFile(const std::wstring& path)
{
    for (DWORD waited = 0; waited < 20000; waited += 50) {
        if (Exists(path))
            return true;
        PumpMessagesFor(50);
    }
    return false;
}

// Calls visit(name, isFolder) for everything directly inside folder (which
// ends with a backslash).
template <typename Visit> void ForEachInFolder(const std::wstring& folder, Visit visit)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            visit(name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// Removes a folder (with a trailing backslash) and everything in it,
// read-only files included.
inline void RemoveTree(const std::wstring& folder)
{
    ForEachInFolder(folder, [&folder](const std::wstring& name, bool isFolder) {
        const std::wstring path = folder + name;
        if (isFolder) {
            RemoveTree(path + L"\\");
        } else {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    });
    RemoveDirectoryW(folder.c_str());
}

// Relative paths of everything under a folder, sorted; folders end with a
// backslash and are left out unless asked for.
inline std::vector<std::wstring> ListTree(const std::wstring& folder, bool withFolders = true,
                                          const std::wstring& prefix = L"")
{
    std::vector<std::wstring> names;
    ForEachInFolder(folder, [&](const std::wstring& name, bool isFolder) {
        if (!isFolder) {
            names.push_back(prefix + name);
            return;
        }
        if (withFolders)
            names.push_back(prefix + name + L"\\");
        for (const std::wstring& inner :
             ListTree(folder + name + L"\\", withFolders, prefix + name + L"\\"))
            names.push_back(inner);
    });
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh folder under the temporary folder; removed with everything in it.
class TempFolder
{
public:
    explicit TempFolder(const wchar_t* name)
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        path_ = std::wstring(temp) + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
        RemoveTree(path_);
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TempFolder() { RemoveTree(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // With a trailing backslash.
    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const wchar_t* name) const { return path_ + name; }
    std::vector<std::wstring> Files() const { return ListTree(path_); }

private:
    std::wstring path_;
};

// A file made by the ZIP test fixtures (tests/update/make_zip_fixtures.py).
inline std::wstring ZipFixture(const std::wstring& name)
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + L"zipdata\\" + name;
}

} // namespace update_test
