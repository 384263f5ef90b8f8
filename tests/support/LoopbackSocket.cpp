#include "LoopbackSocket.h"

void StartWinsock()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

SOCKET ListenOnLoopback(unsigned short* port)
{
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof(address);
    if (listener == INVALID_SOCKET ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        if (listener != INVALID_SOCKET) {
            closesocket(listener);
        }
        return INVALID_SOCKET;
    }
    *port = ntohs(address.sin_port);
    return listener;
}

SOCKET AcceptWithin(SOCKET listener, DWORD milliseconds)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener, &readable);
    timeval limit = {static_cast<long>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000 * 1000)};
    if (select(0, &readable, nullptr, nullptr, &limit) != 1) {
        return INVALID_SOCKET;
    }
    return accept(listener, nullptr, nullptr);
}
