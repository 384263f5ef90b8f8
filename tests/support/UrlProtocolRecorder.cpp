#include "UrlProtocolRecorder.h"

#include "MessagePump.h"

#include <stdio.h>

namespace {

bool WriteString(HKEY key, const wchar_t* name, const std::wstring& value)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) ==
           ERROR_SUCCESS;
}

} // namespace

UrlProtocolRecorder::UrlProtocolRecorder(const wchar_t* scheme) : scheme_(scheme)
{
    wchar_t folder[MAX_PATH];
    wchar_t shortFolder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    // cmd.exe gets the log path unquoted, so it must be free of spaces.
    if (!GetShortPathNameW(folder, shortFolder, MAX_PATH))
        wcscpy(shortFolder, folder);
    logPath_ = std::wstring(shortFolder) + scheme_ + L".log";
    DeleteFileW(logPath_.c_str());

    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring command = std::wstring(system) + L"\\cmd.exe /c echo %1>>" + logPath_;
    HKEY root = nullptr;
    HKEY open = nullptr;
    registered_ = RegCreateKeyExW(HKEY_CLASSES_ROOT, scheme_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &root, nullptr) == ERROR_SUCCESS &&
                  WriteString(root, nullptr, L"URL:Tessel test protocol") &&
                  WriteString(root, L"URL Protocol", L"") &&
                  RegCreateKeyExW(root, L"shell\\open\\command", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &open, nullptr) == ERROR_SUCCESS &&
                  WriteString(open, nullptr, command);
    if (open)
        RegCloseKey(open);
    if (root)
        RegCloseKey(root);
}

UrlProtocolRecorder::~UrlProtocolRecorder()
{
    RegDeleteTreeW(HKEY_CLASSES_ROOT, scheme_.c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, scheme_.c_str());
    DeleteFileW(logPath_.c_str());
}

std::vector<std::wstring> UrlProtocolRecorder::Lines() const
{
    std::vector<std::wstring> lines(1);
    FILE* file = _wfopen(logPath_.c_str(), L"rb");
    for (int c; file && (c = fgetc(file)) != EOF;) {
        if (c != '\n' && c != '\r')
            lines.back().push_back(static_cast<wchar_t>(c));
        else if (!lines.back().empty())
            lines.emplace_back();
    }
    if (file)
        fclose(file);
    if (lines.back().empty())
        lines.pop_back();
    return lines;
}

bool UrlProtocolRecorder::WaitForLines(size_t count, DWORD timeoutMs) const
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (Lines().size() >= count)
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        PumpMessagesFor(50);
    }
}
