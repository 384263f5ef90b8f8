#include <doctest.h>

#include <wchar.h>

#include <string>

#include "net/HttpRules.h"

TEST_CASE("Transfer decisions: flags, read sizes, rate limit, file names")
{
    CHECK(GetTextFlags(L"HTTPS://example.com/", 0) == 0x84880B00);
    CHECK(GetTextFlags(L"http://example.com/", 0) == 0x84080B00);
    CHECK(GetTextFlags(L"https:/", 1) == 0x84000B00);
    CHECK(DownloadFlags(0) == 0x8408CB00);
    CHECK(DownloadFlags(1) == 0x8400CB00);
    CHECK(RequestFlags(1, 1, 80, 0) == 0x84000300);
    CHECK(RequestFlags(0, 0, 443, 0) == 0x84A80300);
    CHECK(RequestFlags(0, 0, 8443, 1) == 0x84A80300);

    CHECK(TextChunkSize(0, 123) == 65537);
    CHECK(TextChunkSize(65536, 0) == 65536);
    CHECK(TextChunkSize(65537, 0) == 65537);
    CHECK(DownloadChunkSize(5000, 4500) == 500);
    CHECK(DownloadChunkSize(0, 5000) == 1048576);
    CHECK(DownloadChunkSize(2000000, 1000000) == 1000000);
    // Held to a rate, reads stay small so that the pauses between them do.
    CHECK(DownloadChunkSize(0, 5000, 100) == 65536);
    CHECK(DownloadChunkSize(70000, 10000, 100) == 60000);

    CHECK(RateLimitSleep(2048, 0, 0) == 0);
    CHECK(RateLimitSleep(65536, 1, 0) == 64000);
    CHECK(RateLimitSleep(2048, 1, 1500) == 500);
    CHECK(RateLimitSleep(1ULL << 40, 1, 0) == INFINITE - 1);

    CHECK(wcscmp(FileNameOfPath(L"C:\\a/b\\report.txt"), L"report.txt") == 0);
    CHECK(wcscmp(FileNameOfPath(L"folder\\"), L"") == 0);
}

TEST_CASE("A redirect is followed only from https to https")
{
    auto target = [](const wchar_t* from, const wchar_t* location) {
        WideString to;
        to.Assign(L"<untouched>");
        const int followed = SecureRedirectTarget(from, location, to);
        return followed ? std::wstring(to.Data()) : L"refused:" + std::wstring(to.Data());
    };
    const wchar_t from[] = L"https://update.example.com:8443/data/update.php?p=tessel";
    CHECK(target(from, L"HTTPS://mirror.example.com/x") == L"HTTPS://mirror.example.com/x");
    CHECK(target(from, L"/files/Tessel.exe") ==
          L"https://update.example.com:8443/files/Tessel.exe");
    CHECK(target(L"https://h", L"/a") == L"https://h/a");
    CHECK(target(L"https://h?q=1", L"/a") == L"https://h/a");
    CHECK(target(from, L"//mirror.example.com/x") == L"https://mirror.example.com/x");
    for (const wchar_t* location : {L"http://update.example.com/x", L"ftp://h/x", L"x/y", L"",
                                    L"https://h/a b", L"https://h/a\r\nX: y"}) {
        CAPTURE(std::wstring(location));
        CHECK(target(from, location) == L"refused:<untouched>");
    }
    CHECK(target(L"http://update.example.com/", L"https://update.example.com/") ==
          L"refused:<untouched>");
}
