#pragma once

// Real servers on 127.0.0.1 for tests of network code, each a python3
// process (tests/support/http_test_server.py) started through Wine on a free
// port. The server ends when the object goes away, and also when the test
// process dies: it watches the connection ("lifeline") that carries this
// class's commands. Every call waits a few seconds at most, never hangs.
//
// HttpTestServer answers with ScriptedAnswers, kept in order: a request takes
// the first one whose path fits (an empty path fits any), else 404. Requests()
// gives what the server saw; MultipartFields() a form body as Python's email
// package parses it. A 407 challenge is an answer with status 407 and a
// "Proxy-Authenticate: Basic realm=..." header.
//
// In mode "https" the server speaks TLS with certificates from a test CA of
// its own making (test_pki.py): Present chooses which one later connections
// get (TestCertificate, "trusted" after every Clear), CaCertificate gives the
// CA for TrustedTestRoot (TrustedTestRoot.h, with the test program's shared
// https server).
//
// FtpTestServer serves a fresh folder, read only, to anonymous users and to
// user "tessel" with password "secret"; PutFile puts a file there.

#include <stdint.h>

#include <string>
#include <vector>

struct ScriptedAnswer
{
    static constexpr long long kAutoLength = -1; // announce the body's own length
    static constexpr long long kNoLength = -2;   // no Content-Length; the end closes

    std::string path;
    int status = 200;
    std::string reason; // empty: the usual phrase
    std::vector<std::string> headers;
    std::string body;
    long long length = kAutoLength;
    unsigned chunkSize = 0; // 0: the whole body in one write
    unsigned chunkDelayMs = 0;
    long long resetAfter = -1; // body bytes sent before a reset; -1: none
    unsigned times = 1;        // 0: always
    // A CONNECT taking this answer is relayed to this loopback port, as a
    // proxy's tunnel; 0: answered like any other request.
    unsigned short tunnelPort = 0;
};

// An answer of that status and body, for that path (empty: any).
ScriptedAnswer Scripted(int status, const std::string& body, unsigned times = 1,
                        const std::string& path = std::string());

struct RecordedRequest
{
    std::string method;
    std::string target; // as sent: path and query, or an absolute address
    std::string path;
    std::string query;
    std::string headers; // "Name: value\r\n" each
    std::string body;

    // Value of the first header of that name (case ignored); empty if none.
    std::string Header(const char* name) const;
};

struct MultipartField
{
    std::string name;
    std::string filename; // empty for a text field
    std::string content;
};

// The connection to one server process; shared by both server kinds.
class TestServerProcess
{
public:
    explicit TestServerProcess(const char* mode);
    ~TestServerProcess();
    TestServerProcess(const TestServerProcess&) = delete;
    TestServerProcess& operator=(const TestServerProcess&) = delete;

    bool IsRunning() const { return lifeline_ != kNoSocket && port_ != 0; }
    unsigned short Port() const { return port_; }
    // Sends a command; true when the reply's first field is "ok". The
    // reply's other fields go to reply.
    bool Call(const std::vector<std::string>& command, std::vector<std::string>* reply = nullptr);

private:
    bool Launch(const char* mode, unsigned short lifelinePort);
    bool Send(const std::string& bytes);
    bool ReadMessage(std::vector<std::string>& fields);

    // A Winsock SOCKET; kept as an integer so users need no Winsock headers.
    static constexpr uintptr_t kNoSocket = ~static_cast<uintptr_t>(0);
    uintptr_t lifeline_ = kNoSocket;
    unsigned short port_ = 0;
};

// The certificates an https server can present.
namespace TestCertificate {
constexpr const char* kTrusted = "trusted";        // from the test CA, for 127.0.0.1
constexpr const char* kWrongName = "wrong-name";   // from the test CA, another host
constexpr const char* kExpired = "expired";        // from the test CA, days ago
constexpr const char* kUnknownCa = "unknown-ca";   // from a CA nobody trusts
constexpr const char* kSelfSigned = "self-signed"; // its own issuer
} // namespace TestCertificate

class HttpTestServer
{
public:
    explicit HttpTestServer(const char* mode = "http") : process_(mode), secure_(IsHttps(mode)) {}

    bool IsRunning() const { return process_.IsRunning(); }
    unsigned short Port() const { return process_.Port(); }
    // "http://127.0.0.1:<port>" (or https) followed by pathAndQuery.
    std::wstring Url(const wchar_t* pathAndQuery) const;

    bool Answer(const ScriptedAnswer& answer);
    // Serves body at path to every request from now on.
    bool AnswerAlways(const char* path, const std::string& body, int status = 200);
    std::vector<RecordedRequest> Requests();
    // How many of them asked for that path.
    size_t RequestsFor(const std::string& path);
    // The multipart/form-data body of request index as the server's own
    // parser reads it; false when it is not a well-formed one.
    bool MultipartFields(size_t index, std::vector<MultipartField>& fields);
    // Forgets answers and recorded requests.
    bool Clear();
    // The rows of a recording (UTF-8 CSV after a byte-order mark) as
    // Python's csv module reads them in strict mode; false when it cannot.
    bool CsvRows(const std::string& content, std::vector<std::vector<std::string>>& rows);

    // https only: the certificate of later connections, and the test CA's
    // certificate (DER); empty when there is none.
    bool Present(const char* certificate);
    std::string CaCertificate();

private:
    static bool IsHttps(const char* mode);

    TestServerProcess process_;
    bool secure_;
};

class FtpTestServer
{
public:
    FtpTestServer() : process_("ftp") {}

    bool IsRunning() const { return process_.IsRunning(); }
    unsigned short Port() const { return process_.Port(); }
    bool PutFile(const std::string& name, const std::string& content);

private:
    TestServerProcess process_;
};
