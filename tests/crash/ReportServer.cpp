#include <winsock2.h>
#include <windows.h>

#include "ReportServer.h"

#include <stdlib.h>

#include <algorithm>

#include "CrashTestSupport.h"
#include "LinuxProgram.h"
#include "LoopbackSocket.h"
#include "TestText.h"

#ifndef TESSEL_REPORT_SERVER_DIR
#error TESSEL_REPORT_SERVER_DIR must name the folder of serve.py
#endif

namespace {

constexpr DWORD kLaunchTimeoutMs = 15000;
constexpr uintptr_t kNoSocket = ~static_cast<uintptr_t>(0);

bool Launch(unsigned short lifelinePort, const char* mode, unsigned short port)
{
    return StartLinuxProgram(L"\"Z:\\usr\\bin\\python3\" \"" + Widen(TESSEL_REPORT_SERVER_DIR) +
                             L"/serve.py\" " + std::to_wstring(lifelinePort) + L" " + Widen(mode) +
                             L" " + std::to_wstring(port));
}

// "<port> <store>\n" from the launcher.
bool ReadGreeting(SOCKET lifeline, unsigned short* port, std::string* store)
{
    std::string line;
    char byte = 0;
    while (line.size() < 1024 && recv(lifeline, &byte, 1, 0) == 1 && byte != '\n')
        line += byte;
    const size_t space = line.find(' ');
    if (byte != '\n' || space == std::string::npos)
        return false;
    *port = static_cast<unsigned short>(atoi(line.substr(0, space).c_str()));
    *store = line.substr(space + 1);
    return *port != 0;
}

std::string FromHex(const std::string& hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    return bytes;
}

} // namespace

ReportServer::ReportServer(const char* mode, unsigned short port) : lifeline_(kNoSocket)
{
    StartWinsock();
    unsigned short lifelinePort = 0;
    SOCKET listener = ListenOnLoopback(&lifelinePort);
    if (listener == INVALID_SOCKET)
        return;
    SOCKET lifeline = INVALID_SOCKET;
    if (Launch(lifelinePort, mode, port))
        lifeline = AcceptWithin(listener, kLaunchTimeoutMs);
    closesocket(listener);
    if (lifeline == INVALID_SOCKET)
        return;
    lifeline_ = lifeline;
    const DWORD timeout = kLaunchTimeoutMs;
    setsockopt(lifeline, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof(timeout));
    std::string store;
    unsigned short serverPort = 0;
    if (!ReadGreeting(lifeline, &serverPort, &store))
        return;
    port_ = serverPort;
    store_ = L"Z:" + Widen(store);
    std::replace(store_.begin(), store_.end(), L'/', L'\\');
}

ReportServer::~ReportServer()
{
    // The launcher stops PHP and removes the store when this closes.
    if (lifeline_ != kNoSocket)
        closesocket(static_cast<SOCKET>(lifeline_));
}

std::wstring ReportServer::Host() const
{
    return L"127.0.0.1:" + std::to_wstring(port_);
}

std::string ReportServer::Read(const std::string& name) const
{
    return ReadWholeFile(store_ + L"\\" + Widen(name));
}

std::vector<std::string> ReportServer::Requests() const
{
    return Lines(Read("requests.log"), "\n");
}

std::vector<std::pair<std::string, std::string>> ReportServer::Fields() const
{
    std::vector<std::pair<std::string, std::string>> fields;
    for (const std::string& line : Lines(Read("fields.txt"), "\n")) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            fields.emplace_back(line.substr(0, equals), FromHex(line.substr(equals + 1)));
    }
    return fields;
}

std::vector<std::string> ReportServer::Files() const
{
    return Lines(Read("files.txt"), "\n");
}

std::string ReportServer::FileContent(const std::string& name) const
{
    return Read("file_" + name);
}

bool ReportServer::WaitForRequests(size_t count, unsigned timeoutMs) const
{
    for (unsigned waited = 0; waited <= timeoutMs; waited += 50) {
        if (Requests().size() >= count)
            return true;
        Sleep(50);
    }
    return false;
}

unsigned short UnusedPort()
{
    StartWinsock();
    unsigned short port = 0;
    SOCKET probe = ListenOnLoopback(&port);
    if (probe != INVALID_SOCKET)
        closesocket(probe);
    return port;
}
