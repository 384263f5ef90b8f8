#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A URL protocol of the tests' own, registered under HKEY_CLASSES_ROOT (Wine
// ignores class registrations that exist only for the current user). Its
// open command appends the address it was started with to a log file, so a
// test can count how often the shell opened it. Destruction removes the
// registration and the log.
class UrlProtocolRecorder
{
public:
    explicit UrlProtocolRecorder(const wchar_t* scheme);
    ~UrlProtocolRecorder();
    UrlProtocolRecorder(const UrlProtocolRecorder&) = delete;
    UrlProtocolRecorder& operator=(const UrlProtocolRecorder&) = delete;

    bool IsRegistered() const { return registered_; }
    // The recorded addresses, one per start.
    std::vector<std::wstring> Lines() const;
    // Waits (pumping this thread's messages) until at least count addresses
    // were recorded; false when the time ran out.
    bool WaitForLines(size_t count, DWORD timeoutMs) const;

private:
    std::wstring scheme_;
    std::wstring logPath_;
    bool registered_ = false;
};
