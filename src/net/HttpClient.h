#pragma once

#include <windows.h>
#include <wininet.h>

#include "base/DynamicLibrary.h"
#include "base/LockedList.h"
#include "base/WideString.h"
#include "net/HttpRules.h"
#include "system/Files.h"

// Progress and decision callback of the transfers: (code, argument, user
// value). What the argument points to, and what the answer means, depends on
// the code; numbers are passed as a pointer to a ULONGLONG.
using HttpCallback = int (*)(int code, void* argument, void* userValue);

// Codes of Request.
constexpr int HTTP_CB_TOTAL_SIZE = 0;     // ULONGLONG body size; 0 aborts
constexpr int HTTP_CB_SENT = 1;           // ULONGLONG bytes sent; 0 aborts
constexpr int HTTP_CB_CONTENT_LENGTH = 2; // ULONGLONG (0 if none); 0 aborts
constexpr int HTTP_CB_SET_COOKIE = 3;     // const wchar_t* header text; 0 aborts
constexpr int HTTP_CB_RECEIVED = 4;       // ULONGLONG bytes so far; 0 stops reading
constexpr int HTTP_CB_END = 5;            // null; answer ignored
constexpr int HTTP_CB_ADD_HEADERS = 6;    // HttpHeaderAccess; 0 aborts
constexpr int HTTP_CB_END_SESSION = 7;    // int out; answer 1 and set 1 to end it
constexpr int HTTP_CB_COOKIES = 8;        // const wchar_t* object or URL; 1 allows cookies
constexpr int HTTP_CB_REDIRECT = 9;       // const wchar_t* object; 0 forbids redirects
constexpr int HTTP_CB_FILE_SINK = 10;     // int out; set 1 to write the body to a file
constexpr int HTTP_CB_MEMORY_SINK = 12;   // HttpMemoryBlock* out; receives raw bytes
// GetText, before the proxy-credentials prompt of a 407: null; 0 fails the
// transfer without asking.
constexpr int HTTP_CB_PROXY_PROMPT = 13;

// Codes of DownloadToFile.
constexpr int DOWNLOAD_CB_DISPOSITION = 0;  // DownloadHeaderOffer; 0 aborts
constexpr int DOWNLOAD_CB_CONTENT_TYPE = 1; // DownloadHeaderOffer; 0 aborts
constexpr int DOWNLOAD_CB_RESUME = 2;       // int out; set 1 to append to the file
constexpr int DOWNLOAD_CB_FAILED = 3;       // DownloadFailure
constexpr int DOWNLOAD_CB_LENGTH = 4;       // ULONGLONG content length; 0 aborts
constexpr int DOWNLOAD_CB_FINAL_URL = 5;    // const wchar_t* URL after redirects; 0 aborts
constexpr int DOWNLOAD_CB_WRITTEN = 6;      // ULONGLONG bytes written; 0 fails
constexpr int DOWNLOAD_CB_DONE = 7;         // null; 0 fails
constexpr int DOWNLOAD_CB_COOKIES = 8;      // const wchar_t* URL; 1 allows cookies
// GetText and DownloadToFile: const wchar_t* URL; 0 follows redirects by
// hand, and only from https to https (at most HTTP_MAX_REDIRECTS).
constexpr int DOWNLOAD_CB_REDIRECT = 9;
constexpr int HTTP_MAX_REDIRECTS = 5;

// Status stored when the download's file cannot be opened.
constexpr DWORD HTTP_STATUS_FILE_ERROR = 999;

using AddHeadersFunction = BOOL(WINAPI*)(HINTERNET, LPCWSTR, DWORD, DWORD);

struct HttpHeaderAccess
{
    AddHeadersFunction addHeaders;
    HINTERNET request;
};

struct DownloadHeaderOffer
{
    WideString* targetPath; // may be changed by the callback
    const wchar_t* header;
};

struct DownloadFailure
{
    DWORD status;
    int deleteFile; // preset 1; cleared to keep the partial file
    int result;
};

// Growable block of raw bytes (the memory sink of Request).
class HttpMemoryBlock
{
public:
    HttpMemoryBlock() = default;
    ~HttpMemoryBlock() { free(data_); }
    HttpMemoryBlock(const HttpMemoryBlock&) = delete;
    HttpMemoryBlock& operator=(const HttpMemoryBlock&) = delete;

    int Append(const void* bytes, DWORD count);
    const BYTE* Data() const { return data_; }
    ULONGLONG Size() const { return size_; }

private:
    BYTE* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// One part of a multipart body; the records are linked through their
// WinINet buffer records.
struct MultipartPart
{
    MultipartPart() { buffers.dwStructSize = sizeof(buffers); }
    MultipartPart(const MultipartPart&) = delete;
    MultipartPart& operator=(const MultipartPart&) = delete;

    INTERNET_BUFFERSW buffers = {};
    WideString text; // its narrow copy is the data of a text part
    FileObject file; // the mapped view is the data of a file part
    MultipartPart* next = nullptr;
};

// What GetText fetches and how.
struct GetTextRequest
{
    const wchar_t* url = nullptr; // required
    const wchar_t* agent = nullptr;
    ULONGLONG byteLimit = 0;        // 0: none
    const wchar_t* proxy = nullptr; // null or empty: the system's settings
    HttpCallback callback = nullptr;
    void* userValue = nullptr;
};

// How DownloadToFile fetches: everything but the address and the target.
struct DownloadOptions
{
    const wchar_t* agent = nullptr;
    ULONGLONG byteLimit = 0; // 0: none
    HttpCallback callback = nullptr;
    void* userValue = nullptr;
    const wchar_t* headers = nullptr;
    DWORD headerLength = static_cast<DWORD>(-1); // -1: up to the terminator
    DWORD* statusOut = nullptr;
    DWORD connectTimeout = static_cast<DWORD>(-1); // milliseconds; -1: the default
    DWORD downloadRate = 0;                        // KiB per second; 0: unlimited
    const wchar_t* proxy = nullptr;                // null or empty: the system's settings
    // Bounds of the body, checked against the announced length before the
    // file is made and against the bytes as they arrive (0: none). A body
    // longer than either fails, and so does one of another length than the
    // expected size.
    ULONGLONG expectedSize = 0;
    ULONGLONG maximumSize = 0;
};

// Description of one transfer of the general engine; see HttpClient::Request.
struct HttpRequest
{
    const wchar_t* host = nullptr;   // required
    const wchar_t* object = nullptr; // required
    const wchar_t* agent = nullptr;
    // The body is appended here; with the file sink it names the file.
    WideString* responseText = nullptr;
    HWND ownerWindow = nullptr; // of the proxy-credentials dialog
    ULONGLONG byteLimit = 0;    // 0: none
    const wchar_t* user = nullptr;
    const wchar_t* password = nullptr;
    const wchar_t* proxyUser = nullptr;
    const wchar_t* proxyPassword = nullptr;
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT; // 443 makes it secure
    bool secure = false; // TLS on any port, with WinINet's full certificate checks
    DWORD service = INTERNET_SERVICE_HTTP; // or INTERNET_SERVICE_FTP
    const wchar_t* verb = nullptr;
    const wchar_t* headers = nullptr;
    DWORD headerLength = static_cast<DWORD>(-1); // -1: up to the terminator
    const void* optionalData = nullptr;
    DWORD optionalLength = 0;
    const wchar_t** acceptTypes = nullptr; // null: "*/*"
    MultipartPart* bodyParts = nullptr;
    HttpCallback callback = nullptr;
    void* userValue = nullptr;
    DWORD* statusOut = nullptr;
    DWORD downloadRate = 0; // KiB per second; 0: unlimited
    DWORD uploadRate = 0;
    const wchar_t* proxy = nullptr;                // null or empty: the system's settings
    DWORD connectTimeout = static_cast<DWORD>(-1); // milliseconds; -1: the default
};

// The application's HTTP client over WinINet, which is loaded at run time.
// One transfer at a time; transfers block and call back on the caller's
// thread.
class HttpClient
{
public:
    HttpClient() { lock_.Init(); }
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Nesting load and unload of WinINet; Acquire fails when the library or
    // any of its entry points is missing.
    int Acquire();
    int Release();

    // GET whose body is returned as text, one character per byte. 1 when a
    // non-empty body arrived whole (or up to the byte limit) with status 200
    // or 206; otherwise the text is empty.
    int GetText(const GetTextRequest& request, WideString& text);
    // GET whose body is written to targetPath. 1 only when the whole body
    // arrived (all announced bytes, or a clean end without an announced
    // length) and was written; otherwise the file is deleted unless the
    // callback keeps it.
    int DownloadToFile(const wchar_t* url, const wchar_t* targetPath,
                       const DownloadOptions& options);
    // The general engine (HTTP or FTP). 1 when the response body was read
    // successfully at least once and no file write failed.
    int Request(const HttpRequest& request);

    // Multipart/form-data body: fields are collected, then PostMultipart
    // sends them (verb, headers, optional data and body parts of the request
    // are its own) and frees them.
    int AddTextField(const wchar_t* name, const wchar_t* value);
    int AddFileField(const wchar_t* name, const wchar_t* path);
    int PostMultipart(const HttpRequest& request);

    // Ends a transfer running on another thread (closing its session
    // unblocks WinINet) and makes every later one fail at once until
    // AllowTransfers. Safe from any thread.
    void CancelTransfers();
    void AllowTransfers();
    // 1 while a transfer runs (on any thread).
    int IsTransferring() const { return InterlockedCompareExchange(&running_, 0, 0) != 0; }

    // The WinINet entry points; defined where they are bound.
    struct Api;

private:
    // The open session of the running transfer, which CancelTransfers may
    // close from another thread; defined with the transfers.
    class Session;
    HINTERNET OpenTrackedSession(const wchar_t* agent, const wchar_t* proxy);
    void CloseTrackedSession(HINTERNET session);

    int RunRequest(const HttpRequest& request);
    int RunGetText(const GetTextRequest& request, WideString& text);
    int RunDownload(const wchar_t* url, WideString& targetPath, const DownloadOptions& options);
    MultipartPart* AppendPart();
    int AppendTextPart(const WideString& text);
    void FreeParts();
    void FreeTlsLibraries();

    // WinINet's TLS layer loads these by name at the first secure
    // connection (the security support provider, the certificate check),
    // and Wine resolves those loads through the default search, program
    // folder included. Held from the system folder first, they are found
    // already loaded.
    DynamicLibrary tlsLibraries_[2];
    DynamicLibrary wininet_;
    unsigned loadCount_ = 0;
    Api* api_ = nullptr;
    MultipartPart* parts_ = nullptr;
    CriticalSection lock_; // guards session_ and cancelled_
    HINTERNET session_ = nullptr;
    volatile LONG cancelled_ = 0; // also read by the running transfer between reads
    mutable volatile LONG running_ = 0;
};
