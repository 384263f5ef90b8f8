#include "net/HttpRules.h"

#include <wchar.h>

int IsSecureUrl(const wchar_t* url)
{
    return url && _wcsnicmp(url, L"https://", 8) == 0;
}

DWORD GetTextFlags(const wchar_t* url, int allowCookies)
{
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES |
                  INTERNET_FLAG_RESYNCHRONIZE | INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE;
    if (IsSecureUrl(url)) {
        flags |= INTERNET_FLAG_SECURE;
    }
    if (allowCookies) {
        flags &= ~static_cast<DWORD>(INTERNET_FLAG_NO_COOKIES);
    }
    return flags;
}

DWORD DownloadFlags(int allowCookies)
{
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES |
                  INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS |
                  INTERNET_FLAG_RESYNCHRONIZE | INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE;
    if (allowCookies) {
        flags &= ~static_cast<DWORD>(INTERNET_FLAG_NO_COOKIES);
    }
    return flags;
}

DWORD RequestFlags(int allowCookies, int allowRedirects, INTERNET_PORT port, int secure)
{
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |
                  INTERNET_FLAG_PRAGMA_NOCACHE;
    if (!allowCookies) {
        flags |= INTERNET_FLAG_NO_COOKIES;
    }
    if (!allowRedirects) {
        flags |= INTERNET_FLAG_NO_AUTO_REDIRECT;
    }
    if (secure || port == INTERNET_DEFAULT_HTTPS_PORT) {
        flags |= INTERNET_FLAG_SECURE;
    }
    return flags;
}

DWORD TextChunkSize(ULONGLONG byteLimit, ULONGLONG received)
{
    const ULONGLONG remaining = byteLimit > received ? byteLimit - received : 0;
    return byteLimit && remaining >= 1 && remaining <= 65536 ? static_cast<DWORD>(remaining)
                                                             : 65537;
}

DWORD DownloadChunkSize(ULONGLONG byteLimit, ULONGLONG received, DWORD rate)
{
    const DWORD chunk = rate ? kRateLimitedChunk : kDownloadChunk;
    const ULONGLONG remaining = byteLimit > received ? byteLimit - received : 0;
    return byteLimit && remaining < chunk ? static_cast<DWORD>(remaining) : chunk;
}

DWORD RateLimitSleep(ULONGLONG bytes, DWORD rate, ULONGLONG elapsedMs)
{
    if (!rate) {
        return 0;
    }
    const ULONGLONG expected = bytes / 1024 * 1000 / rate + bytes % 1024 * 1000 / (1024ULL * rate);
    const ULONGLONG pause = expected > elapsedMs ? expected - elapsedMs : 0;
    // Never INFINITE.
    return pause < INFINITE ? static_cast<DWORD>(pause) : INFINITE - 1;
}

int AppendBytesWidened(WideString& text, const BYTE* bytes, DWORD count)
{
    const unsigned length = text.Length();
    if (count > 0x7FFFFFFFu - length - 2) {
        return 0;
    }
    const unsigned needed = length + count + 2;
    if (needed > text.Capacity()) {
        const unsigned doubled = text.Capacity() <= 0x3FFFFFFFu ? text.Capacity() * 2 : 0;
        if (!text.Reserve(needed > doubled ? needed : doubled)) {
            return 0;
        }
    }
    wchar_t* data = text.Data();
    for (DWORD i = 0; i < count; ++i) {
        data[length + i] = bytes[i];
    }
    return text.SetCount(length + count + 1);
}

const wchar_t* FileNameOfPath(const wchar_t* path)
{
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p) {
        if (*p == L'\\' || *p == L'/') {
            name = p + 1;
        }
    }
    return name;
}

int DownloadComplete(int readFailed, int moreBeyondLimit, int lengthKnown, ULONGLONG contentLength,
                     ULONGLONG received)
{
    return !readFailed && !moreBeyondLimit && (!lengthKnown || received >= contentLength);
}

namespace {

// Length of "https://host[:port]" at the start of a secure address.
size_t OriginLength(const wchar_t* url)
{
    return 8 + wcscspn(url + 8, L"/?#");
}

} // namespace

int SecureRedirectTarget(const wchar_t* from, const wchar_t* location, WideString& target)
{
    if (!IsSecureUrl(from) || !location || !*location) {
        return 0;
    }
    WideString resolved;
    if (IsSecureUrl(location)) {
        resolved.Assign(location);
    } else if (location[0] == L'/' && location[1] == L'/') {
        // Same scheme, another server: https, since from is.
        if (!resolved.Assign(L"https:") || !resolved.Append(location)) {
            return 0;
        }
    } else if (location[0] == L'/') {
        if (!resolved.Assign(from, static_cast<unsigned>(OriginLength(from))) ||
            !resolved.Append(location)) {
            return 0;
        }
    } else {
        // http://, another scheme, or a relative path: nothing the update
        // server needs, and the first two leave TLS.
        return 0;
    }
    for (const wchar_t* unit = resolved.Data(); *unit; ++unit) {
        if (*unit <= L' ' || *unit == 0x7F) {
            return 0;
        }
    }
    return target.Assign(resolved);
}

int IsRedirectStatus(DWORD status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

int AnnouncedLengthFits(ULONGLONG length, ULONGLONG expectedSize, ULONGLONG maximumSize)
{
    return (!expectedSize || length == expectedSize) && (!maximumSize || length <= maximumSize);
}

int ReceivedFits(ULONGLONG received, int complete, ULONGLONG expectedSize, ULONGLONG maximumSize)
{
    if ((expectedSize && received > expectedSize) || (maximumSize && received > maximumSize)) {
        return 0;
    }
    return !complete || !expectedSize || received == expectedSize;
}
