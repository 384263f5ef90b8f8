#pragma once

#include <winsock2.h>

// Plain Winsock helpers shared by the tests' servers on 127.0.0.1.

// Starts Winsock once; it stays started for the rest of the test program.
void StartWinsock();

// A listening socket on a free loopback port, whose number goes to *port;
// INVALID_SOCKET when none could be made.
SOCKET ListenOnLoopback(unsigned short* port);

// The next connection to the listener, or INVALID_SOCKET when none comes
// within the time.
SOCKET AcceptWithin(SOCKET listener, DWORD milliseconds);
