#include <winsock2.h>
#include <windows.h>

#include "HttpTestServer.h"
#include "LinuxProgram.h"
#include "LoopbackSocket.h"
#include "TestText.h"

#include <algorithm>

#include <string.h>

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
        if (length >= bytes.size() - start || bytes[start + length] != ',') {
            return false;
        }
        result.push_back(bytes.substr(start, length));
        position = start + length + 1;
    }
    fields.swap(result);
    return true;
}

// Each field of a reply unpacked into its own fields; false when one is no
// record of the given size (0: any).
bool UnpackRecords(const std::vector<std::string>& reply, size_t size,
                   std::vector<std::vector<std::string>>& records)
{
    records.assign(reply.size(), {});
    for (size_t i = 0; i < reply.size(); ++i) {
        if (!UnpackFields(reply[i], records[i]) || (size && records[i].size() != size)) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string RecordedRequest::Header(const char* name) const
{
    const size_t length = strlen(name);
    for (size_t position = 0; position < headers.size();) {
        const size_t end = std::min(headers.find("\r\n", position), headers.size());
        const std::string line = headers.substr(position, end - position);
        if (line.size() > length && line[length] == ':' &&
            _strnicmp(line.c_str(), name, length) == 0) {
            const size_t value = line.find_first_not_of(' ', length + 1);
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
    const SOCKET listener = ListenOnLoopback(&lifelinePort);
    if (listener == INVALID_SOCKET) {
        return;
    }
    const SOCKET lifeline =
        Launch(mode, lifelinePort) ? AcceptWithin(listener, kReplyTimeoutMs) : INVALID_SOCKET;
    closesocket(listener);
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
    for (size_t sent = 0; sent < bytes.size();) {
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
    const SOCKET lifeline = static_cast<SOCKET>(lifeline_);
    std::string digits;
    char c = 0;
    while (recv(lifeline, &c, 1, 0) == 1 && c != ':') {
        if (c < '0' || c > '9' || digits.size() > 12) {
            return false;
        }
        digits += c;
    }
    if (c != ':' || digits.empty()) {
        return false;
    }
    std::string payload(std::stoull(digits) + 1, '\0');
    for (size_t received = 0; received < payload.size();) {
        const int chunk = static_cast<int>(std::min<size_t>(payload.size() - received, 1 << 20));
        const int result = recv(lifeline, &payload[received], chunk, 0);
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
    std::string packed;
    for (const std::string& field : command) {
        packed += Netstring(field);
    }
    std::vector<std::string> fields;
    if (!IsRunning() || !Send(Netstring(packed)) || !ReadMessage(fields) || fields.empty() ||
        fields[0] != "ok") {
        return false;
    }
    if (reply) {
        reply->assign(fields.begin() + 1, fields.end());
    }
    return true;
}

ScriptedAnswer Scripted(int status, const std::string& body, unsigned times,
                        const std::string& path)
{
    ScriptedAnswer answer;
    answer.status = status;
    answer.body = body;
    answer.times = times;
    answer.path = path;
    return answer;
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
    return Answer(Scripted(status, body, 0, path));
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
    std::vector<std::vector<std::string>> records;
    std::vector<RecordedRequest> requests;
    if (process_.Call({"requests"}, &reply) && UnpackRecords(reply, 6, records)) {
        for (const auto& f : records)
            requests.push_back({f[0], f[1], f[2], f[3], f[4], f[5]});
    }
    return requests;
}

size_t HttpTestServer::RequestsFor(const std::string& path)
{
    const std::vector<RecordedRequest> requests = Requests();
    return std::count_if(requests.begin(), requests.end(),
                         [&path](const RecordedRequest& request) { return request.path == path; });
}

bool HttpTestServer::MultipartFields(size_t index, std::vector<MultipartField>& fields)
{
    std::vector<std::string> reply;
    std::vector<std::vector<std::string>> parts;
    if (!process_.Call({"multipart", std::to_string(index)}, &reply) ||
        !UnpackRecords(reply, 3, parts)) {
        return false;
    }
    fields.clear();
    for (const auto& part : parts)
        fields.push_back({part[0], part[1], part[2]});
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
    std::vector<std::vector<std::string>> parsed;
    if (!process_.Call({"csv", content}, &reply) || !UnpackRecords(reply, 0, parsed)) {
        return false;
    }
    rows.swap(parsed);
    return true;
}

bool FtpTestServer::PutFile(const std::string& name, const std::string& content)
{
    return process_.Call({"file", name, content});
}
