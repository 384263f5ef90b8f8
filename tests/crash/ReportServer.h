#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// The report server of the tests: PHP's built-in server running
// report_server/kestrel/report.php on 127.0.0.1, started through Wine as a
// Linux program. It lives as long as the object: a launcher watches the
// connection to this process and stops PHP when it closes, also when the
// test dies. Mode "php" answers 200, "php500" answers 500, "silent"
// accepts connections and never answers.
class ReportServer
{
public:
    // port 0 picks a free one.
    explicit ReportServer(const char* mode = "php", unsigned short port = 0);
    ~ReportServer();
    ReportServer(const ReportServer&) = delete;
    ReportServer& operator=(const ReportServer&) = delete;

    bool IsRunning() const { return port_ != 0; }
    unsigned short Port() const { return port_; }
    // "127.0.0.1:<port>", the host setting that reaches it.
    std::wstring Host() const;

    // One line per request (per connection for "silent").
    std::vector<std::string> Requests() const;
    // Text fields in arrival order: name and the value's bytes.
    std::vector<std::pair<std::string, std::string>> Fields() const;
    // File fields in arrival order: "name=filename=size=error".
    std::vector<std::string> Files() const;
    // The bytes received for a file field.
    std::string FileContent(const std::string& name) const;
    // Waits up to timeoutMs for at least count requests.
    bool WaitForRequests(size_t count, unsigned timeoutMs) const;

private:
    std::string Read(const std::string& name) const;

    uintptr_t lifeline_;
    unsigned short port_ = 0;
    std::wstring store_; // the store folder as a Windows path
};

// A loopback port on which nothing listens.
unsigned short UnusedPort();
