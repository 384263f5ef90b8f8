#pragma once

#include <windows.h>
#include <wininet.h>

#include "base/WideString.h"

// Downloads read 1 MiB at a time: every WinINet read has a cost of its own
// (under Wine 100 MB over loopback took 0.9 s in 64 KiB reads, 0.4 s in
// 1 MiB reads, and 8.5 s in 1 KiB reads). A download held to a rate reads
// 64 KiB at a time, so that its pauses stay short.
constexpr DWORD kDownloadChunk = 1048576;
constexpr DWORD kRateLimitedChunk = 65536;

// The transfers' decisions, as functions of plain values.

// 1 when the URL begins with "https://" in any case.
int IsSecureUrl(const wchar_t* url);
DWORD GetTextFlags(const wchar_t* url, int allowCookies);
DWORD DownloadFlags(int allowCookies);
DWORD RequestFlags(int allowCookies, int allowRedirects, INTERNET_PORT port, int secure);
// Bytes to ask for in the next read of GetText and Request.
DWORD TextChunkSize(ULONGLONG byteLimit, ULONGLONG received);
// Bytes to ask for in the next read of DownloadToFile (rate: KiB per
// second, 0 for unlimited).
DWORD DownloadChunkSize(ULONGLONG byteLimit, ULONGLONG received, DWORD rate = 0);
// Milliseconds to sleep after a chunk of bytes that took elapsedMs, to keep
// to rate KiB per second (0: unlimited).
DWORD RateLimitSleep(ULONGLONG bytes, DWORD rate, ULONGLONG elapsedMs);
// Appends each byte as the character of the same value.
int AppendBytesWidened(WideString& text, const BYTE* bytes, DWORD count);
// The file name of a path: the text after its last backslash or slash.
const wchar_t* FileNameOfPath(const wchar_t* path);
// Whether a download that read received bytes is complete: a clean end
// after the announced length (when one was announced).
int DownloadComplete(int readFailed, int moreBeyondLimit, int lengthKnown, ULONGLONG contentLength,
                     ULONGLONG received);

// The address a redirect leads to, from the Location header of a response
// to from: an absolute address, or a path on from's own server. 1 only when
// both from and the target are https, so no plain request is ever sent.
int SecureRedirectTarget(const wchar_t* from, const wchar_t* location, WideString& target);
// 301, 302, 303, 307 and 308.
int IsRedirectStatus(DWORD status);
// Whether a download's announced length fits its bounds (0: none).
int AnnouncedLengthFits(ULONGLONG length, ULONGLONG expectedSize, ULONGLONG maximumSize);
// Whether the bytes received so far (complete: all of them) stay in bounds.
int ReceivedFits(ULONGLONG received, int complete, ULONGLONG expectedSize, ULONGLONG maximumSize);
