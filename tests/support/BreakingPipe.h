#pragma once

// A recording target that goes away in the middle of a recording, as a
// removed drive does: a named pipe whose reading end keeps what arrives and
// closes once it has at least a given number of bytes ending after a whole
// row. Every write after that fails.

#include <windows.h>

#include <string>

#include "BoundedThread.h"

class BreakingPipe
{
public:
    explicit BreakingPipe(size_t breakAfterBytes)
        : path_(L"\\\\.\\pipe\\tessel-recording-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++Serial())),
          pipe_(CreateNamedPipeW(path_.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                 0, 65536, 0, nullptr)),
          breakAfter_(breakAfterBytes), reader_([this] { Read(); })
    {
    }
    // A reader still waiting for a writer is let go by a connection that
    // closes at once; one reading ends when the writer closes its end.
    ~BreakingPipe()
    {
        HANDLE client =
            CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (client != INVALID_HANDLE_VALUE)
            CloseHandle(client);
        reader_.Join();
    }
    BreakingPipe(const BreakingPipe&) = delete;
    BreakingPipe& operator=(const BreakingPipe&) = delete;

    const std::wstring& Path() const { return path_; }
    // Waits until the pipe broke; what arrived until then.
    const std::string& Received()
    {
        reader_.Join();
        return received_;
    }

private:
    static int& Serial()
    {
        static int serial = 0;
        return serial;
    }
    bool Broken() const
    {
        return received_.size() >= breakAfter_ && received_.size() >= 2 &&
               received_.compare(received_.size() - 2, 2, "\r\n") == 0;
    }
    void Read()
    {
        if (pipe_ == INVALID_HANDLE_VALUE)
            return;
        ConnectNamedPipe(pipe_, nullptr);
        char buffer[65536];
        DWORD got = 0;
        while (!Broken() && ReadFile(pipe_, buffer, sizeof buffer, &got, nullptr))
            received_.append(buffer, got);
        CloseHandle(pipe_);
    }

    std::wstring path_;
    HANDLE pipe_;
    size_t breakAfter_;
    std::string received_;
    BoundedThread reader_;
};
