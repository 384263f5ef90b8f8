#pragma once

#include <string>

#include "HttpTestServer.h"

// A certificate in the current user's trusted roots while the object lives.
class TrustedTestRoot
{
public:
    explicit TrustedTestRoot(const std::string& der);
    ~TrustedTestRoot();
    TrustedTestRoot(const TrustedTestRoot&) = delete;
    TrustedTestRoot& operator=(const TrustedTestRoot&) = delete;

    bool IsTrusted() const { return added_; }

private:
    std::string der_;
    bool added_ = false;
};

// The test program's https server, started on first use, whose CA stays
// trusted until the program ends; null when it could not be started or
// trusted. One for all: Wine's WinINet checks certificates against the
// trusted roots as its process first read them, so a CA added after the
// first secure connection would not count.
HttpTestServer* SharedHttpsServer();

// The shared https server, emptied and answering every request with
// "thanks", as a report server that takes every report; null as above.
HttpTestServer* ThankingHttpsServer();
