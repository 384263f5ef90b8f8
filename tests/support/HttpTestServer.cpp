#include <winsock2.h>
#include <windows.h>

#include "HttpTestServer.h"
#include "LinuxProgram.h"
#include "LoopbackSocket.h"
#include "TestText.h"

#include <algorithm>

#include <string.h>

#include "base/ScopedHandle.h"

#ifndef TESSEL_TEST_SUPPORT_DIR
#error TESSEL_TEST_SUPPORT_DIR must name the folder of http_test_server.py
#endif

namespace {

constexpr DWORD kReplyTimeoutMs = 10000;
const wchar_t kPython[] = L"Z:\\usr\\bin\\python3";

std::string Netstring(const std::string& data)
{
    return std::to_string(data.size()) + ":" + data + ",";
}

bool IsHeaderName(const std::string& line, const char* name)
{
    const size_t length = strlen(name);
    return line.size() > length && line[length] == ':' &&
           _strnicmp(line.c_str(), name, length) == 0;
}

class ScopedSocket
{
public:
    explicit ScopedSocket(SOCKET socket) : socket_(socket) {}
    ~ScopedSocket()
    {
        if (socket_ != INVALID_SOCKET) {
            closesocket(socket_);
        }
    }
    ScopedSocket(const ScopedSocket&) = delete;
    ScopedSocket& operator=(const ScopedSocket&) = delete;
    SOCKET Get() const { return socket_; }

private:
    SOCKET socket_;
};

std::string PackFields(const std::vector<std::string>& fields)
{
    std::string packed;
    for (const std::string& field : fields) {
        packed += Netstring(field);
    }
    return packed;
}

bool UnpackFields(const std::string& bytes, std::vector<std::string>& fields)
{
    std::vector<std::string> result;
    size_t position = 0;
    while (position < bytes.size()) {
        const size_t colon = bytes.find(':', position);
        if (colon == std::string::npos || colon == position || colon - position > 12) {
            return false;
        }
        const size_t length = std::stoull(bytes.substr(position, colon - position));
        const size_t start = colon + 1;
        if (length > bytes.size() - start || start + length >= bytes.size() ||
            bytes[start + length] != ',') {
            return false;
        }
        result.push_back(bytes.substr(start, length));
        position = start + length + 1;
    }
    fields.swap(result);
    return true;
}

} // namespace

std::string RecordedRequest::Header(const char* name) const
{
    size_t position = 0;
    while (position < headers.size()) {
        size_t end = headers.find("\r\n", position);
        if (end == std::string::npos) {
            end = headers.size();
        }
        const std::string line = headers.substr(position, end - position);
        if (IsHeaderName(line, name)) {
            const size_t value = line.find_first_not_of(' ', strlen(name) + 1);
            return value == std::string::npos ? std::string() : line.substr(value);
        }
        position = end + 2;
    }
    return std::string();
}

TestServerProcess::TestServerProcess(const char* mode)
{
    StartWinsock();
    unsigned short lifelinePort = 0;
    ScopedSocket listener(ListenOnLoopback(&lifelinePort));
    if (listener.Get() == INVALID_SOCKET || !Launch(mode, lifelinePort)) {
        return;
    }
    const SOCKET lifeline = AcceptWithin(listener.Get(), kReplyTimeoutMs);
    if (lifeline == INVALID_SOCKET) {
        return;
    }
    lifeline_ = lifeline;
    const DWORD timeout = kReplyTimeoutMs;
    setsockopt(lifeline, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof(timeout));
    std::vector<std::string> hello;
    if (ReadMessage(hello) && hello.size() == 2 && hello[0] == "port") {
        port_ = static_cast<unsigned short>(atoi(hello[1].c_str()));
    }
}

TestServerProcess::~TestServerProcess()
{
    // The server exits when its lifeline closes.
    if (lifeline_ != kNoSocket) {
        closesocket(static_cast<SOCKET>(lifeline_));
    }
}

bool TestServerProcess::Launch(const char* mode, unsigned short lifelinePort)
{
    return StartLinuxProgram(std::wstring(L"\"") + kPython + L"\" \"" +
                             Widen(TESSEL_TEST_SUPPORT_DIR) + L"/http_test_server.py\" " +
                             std::to_wstring(lifelinePort) + L" " + Widen(mode));
}

bool TestServerProcess::Send(const std::string& bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        const int chunk = static_cast<int>(std::min<size_t>(bytes.size() - sent, 1 << 20));
        const int result = send(static_cast<SOCKET>(lifeline_), bytes.data() + sent, chunk, 0);
        if (result <= 0) {
            return false;
        }
        sent += static_cast<size_t>(result);
    }
    return true;
}

bool TestServerProcess::ReadMessage(std::vector<std::string>& fields)
{
    std::string digits;
    char c = 0;
    while (recv(static_cast<SOCKET>(lifeline_), &c, 1, 0) == 1 && c != ':') {
        if (c < '0' || c > '9' || digits.size() > 12) {
            return false;
        }
        digits += c;
    }
    if (c != ':' || digits.empty()) {
        return false;
    }
    std::string payload(std::stoull(digits) + 1, '\0');
    size_t received = 0;
    while (received < payload.size()) {
        const int result =
            recv(static_cast<SOCKET>(lifeline_), &payload[received],
                 static_cast<int>(std::min<size_t>(payload.size() - received, 1 << 20)), 0);
        if (result <= 0) {
            return false;
        }
        received += static_cast<size_t>(result);
    }
    if (payload.back() != ',') {
        return false;
    }
    payload.pop_back();
    return UnpackFields(payload, fields);
}

bool TestServerProcess::Call(const std::vector<std::string>& command,
                             std::vector<std::string>* reply)
{
    std::vector<std::string> fields;
    if (!IsRunning() || !Send(Netstring(PackFields(command))) || !ReadMessage(fields) ||
        fields.empty() || fields[0] != "ok") {
        return false;
    }
    if (reply) {
        reply->assign(fields.begin() + 1, fields.end());
    }
    return true;
}

std::wstring HttpTestServer::Url(const wchar_t* pathAndQuery) const
{
    return (secure_ ? L"https://127.0.0.1:" : L"http://127.0.0.1:") + std::to_wstring(Port()) +
           pathAndQuery;
}

bool HttpTestServer::IsHttps(const char* mode)
{
    return strcmp(mode, "https") == 0;
}

bool HttpTestServer::AnswerAlways(const char* path, const std::string& body, int status)
{
    ScriptedAnswer answer;
    answer.path = path;
    answer.status = status;
    answer.body = body;
    answer.times = 0;
    return Answer(answer);
}

bool HttpTestServer::Answer(const ScriptedAnswer& answer)
{
    std::vector<std::string> command = {"answer"};
    const auto add = [&command](const char* key, const std::string& value) {
        command.push_back(key);
        command.push_back(value);
    };
    add("path", answer.path);
    add("status", std::to_string(answer.status));
    add("reason", answer.reason);
    add("body", answer.body);
    add("length", answer.length == ScriptedAnswer::kNoLength ? "none"
                  : answer.length < 0                        ? "auto"
                                                             : std::to_string(answer.length));
    add("chunk", std::to_string(answer.chunkSize));
    add("delay", std::to_string(answer.chunkDelayMs));
    add("reset", std::to_string(answer.resetAfter));
    add("times", std::to_string(answer.times));
    add("tunnel", std::to_string(answer.tunnelPort));
    for (const std::string& header : answer.headers)
        add("header", header);
    return process_.Call(command);
}

std::vector<RecordedRequest> HttpTestServer::Requests()
{
    std::vector<std::string> reply;
    std::vector<RecordedRequest> requests;
    if (!process_.Call({"requests"}, &reply)) {
        return requests;
    }
    for (const std::string& packed : reply) {
        std::vector<std::string> fields;
        if (UnpackFields(packed, fields) && fields.size() == 6) {
            requests.push_back({fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]});
        }
    }
    return requests;
}

bool HttpTestServer::MultipartFields(size_t index, std::vector<MultipartField>& fields)
{
    std::vector<std::string> reply;
    if (!process_.Call({"multipart", std::to_string(index)}, &reply)) {
        return false;
    }
    std::vector<MultipartField> parsed;
    for (const std::string& packed : reply) {
        std::vector<std::string> part;
        if (!UnpackFields(packed, part) || part.size() != 3) {
            return false;
        }
        parsed.push_back({part[0], part[1], part[2]});
    }
    fields.swap(parsed);
    return true;
}

bool HttpTestServer::Clear()
{
    return process_.Call({"clear"});
}

bool HttpTestServer::Present(const char* certificate)
{
    return process_.Call({"present", certificate});
}

std::string HttpTestServer::CaCertificate()
{
    std::vector<std::string> reply;
    return process_.Call({"ca"}, &reply) && reply.size() == 1 ? reply[0] : std::string();
}

bool HttpTestServer::CsvRows(const std::string& content,
                             std::vector<std::vector<std::string>>& rows)
{
    std::vector<std::string> reply;
    if (!process_.Call({"csv", content}, &reply)) {
        return false;
    }
    std::vector<std::vector<std::string>> parsed(reply.size());
    for (size_t i = 0; i < reply.size(); ++i) {
        if (!UnpackFields(reply[i], parsed[i])) {
            return false;
        }
    }
    rows.swap(parsed);
    return true;
}

bool FtpTestServer::PutFile(const std::string& name, const std::string& content)
{
    return process_.Call({"file", name, content});
}
