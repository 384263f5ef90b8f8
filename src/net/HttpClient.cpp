#include "net/HttpClient.h"

#include <iterator>
#include <memory>
#include <new>
#include <string.h>
#include <wchar.h>

#include "base/ScopedHandle.h"
#include "system/Clock.h"

namespace {

const wchar_t kBoundary[] = L"-----------------------------1234567890123";
const wchar_t kTextPart[] = L"-------------------------------1234567890123\r\n"
                            L"Content-Disposition: form-data; name=\"%s\"\r\n\r\n%s\r\n";
const wchar_t kFileHeaderPart[] =
    L"-------------------------------1234567890123\r\n"
    L"Content-Disposition: form-data; name=\"%s\"; filename=\"%s\"\r\n"
    L"Content-Type: application/octet-stream\r\n\r\n";
const wchar_t kFileEndPart[] = L"\r\n";
const wchar_t kClosingPart[] = L"-------------------------------1234567890123--\r\n";
const wchar_t kAcceptAnything[] = L"Accept: */*\r\n\r\n";

constexpr DWORD kTextBufferSize = 65538;
constexpr DWORD kHeaderBufferBytes = 512;
constexpr DWORD kCookieBufferBytes = 10000;
constexpr DWORD kUrlBufferBytes = 1024;
constexpr DWORD kUploadPiece = 65536;
constexpr DWORD kSendExFlags = 0x2C;
constexpr DWORD kEndRequestFlags = 0x8;
constexpr DWORD kProxyDialogFlags = FLAGS_ERROR_UI_FILTER_FOR_ERRORS |
                                    FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                    FLAGS_ERROR_UI_FLAGS_GENERATE_DATA;
constexpr DWORD kDefaultTimeout = static_cast<DWORD>(-1);

} // namespace

struct HttpClient::Api
{
    decltype(&::HttpSendRequestW) httpSendRequest = nullptr;
    decltype(&::HttpSendRequestExW) httpSendRequestEx = nullptr;
    decltype(&::HttpAddRequestHeadersW) httpAddRequestHeaders = nullptr;
    decltype(&::HttpEndRequestW) httpEndRequest = nullptr;
    decltype(&::InternetGetCookieW) internetGetCookie = nullptr;
    decltype(&::InternetSetCookieW) internetSetCookie = nullptr;
    decltype(&::InternetQueryOptionW) internetQueryOption = nullptr;
    decltype(&::InternetOpenW) internetOpen = nullptr;
    decltype(&::HttpOpenRequestW) httpOpenRequest = nullptr;
    decltype(&::FtpOpenFileW) ftpOpenFile = nullptr;
    decltype(&::InternetSetOptionW) internetSetOption = nullptr;
    decltype(&::HttpQueryInfoW) httpQueryInfo = nullptr;
    decltype(&::InternetConnectW) internetConnect = nullptr;
    decltype(&::InternetOpenUrlW) internetOpenUrl = nullptr;
    decltype(&::InternetCrackUrlW) internetCrackUrl = nullptr;
    decltype(&::InternetReadFile) internetReadFile = nullptr;
    decltype(&::InternetWriteFile) internetWriteFile = nullptr;
    decltype(&::InternetErrorDlg) internetErrorDlg = nullptr;
    decltype(&::InternetCloseHandle) internetCloseHandle = nullptr;
};

namespace {

using Api = HttpClient::Api;

template <typename Function>
bool Bind(const DynamicLibrary& library, const char* name, Function& target)
{
    target = library.Symbol<Function>(name);
    return target != nullptr;
}

bool BindAll(const DynamicLibrary& library, Api& api)
{
    return Bind(library, "HttpSendRequestW", api.httpSendRequest) &&
           Bind(library, "HttpSendRequestExW", api.httpSendRequestEx) &&
           Bind(library, "HttpAddRequestHeadersW", api.httpAddRequestHeaders) &&
           Bind(library, "HttpEndRequestW", api.httpEndRequest) &&
           Bind(library, "InternetGetCookieW", api.internetGetCookie) &&
           Bind(library, "InternetSetCookieW", api.internetSetCookie) &&
           Bind(library, "InternetQueryOptionW", api.internetQueryOption) &&
           Bind(library, "InternetOpenW", api.internetOpen) &&
           Bind(library, "HttpOpenRequestW", api.httpOpenRequest) &&
           Bind(library, "FtpOpenFileW", api.ftpOpenFile) &&
           Bind(library, "InternetSetOptionW", api.internetSetOption) &&
           Bind(library, "HttpQueryInfoW", api.httpQueryInfo) &&
           Bind(library, "InternetConnectW", api.internetConnect) &&
           Bind(library, "InternetOpenUrlW", api.internetOpenUrl) &&
           Bind(library, "InternetCrackUrlW", api.internetCrackUrl) &&
           Bind(library, "InternetReadFile", api.internetReadFile) &&
           Bind(library, "InternetWriteFile", api.internetWriteFile) &&
           Bind(library, "InternetErrorDlg", api.internetErrorDlg) &&
           Bind(library, "InternetCloseHandle", api.internetCloseHandle);
}

// One WinINet handle, closed with the library's own function.
class InternetHandle : public LibraryHandle<HINTERNET, decltype(&::InternetCloseHandle)>
{
public:
    explicit InternetHandle(const Api& api) : LibraryHandle(api.internetCloseHandle) {}
};

// Sleeps after each chunk as far as needed to keep to the rate.
class RateLimiter
{
public:
    explicit RateLimiter(DWORD rate) : rate_(rate) {}

    void AfterChunk(DWORD bytes)
    {
        if (!rate_) {
            return;
        }
        const DWORD pause = RateLimitSleep(bytes, rate_, watch_.Elapsed());
        if (pause) {
            Sleep(pause);
        }
        watch_.Start();
    }

private:
    DWORD rate_;
    // Not started: the first chunk's elapsed time is the whole clock, so it
    // is never delayed.
    Stopwatch watch_;
};

// Asks the callback; without one the default is the answer.
int Ask(HttpCallback callback, void* userValue, int code, void* argument, int answerWithout)
{
    return callback ? callback(code, argument, userValue) : answerWithout;
}

int AskNumber(HttpCallback callback, void* userValue, int code, ULONGLONG number)
{
    return Ask(callback, userValue, code, &number, 1);
}

HINTERNET OpenSession(const Api& api, const wchar_t* agent, const wchar_t* proxy)
{
    const bool named = proxy && *proxy;
    return api.internetOpen(agent, named ? INTERNET_OPEN_TYPE_PROXY : INTERNET_OPEN_TYPE_PRECONFIG,
                            named ? proxy : nullptr, nullptr, 0);
}

void SetConnectTimeout(const Api& api, HINTERNET session, DWORD timeout)
{
    if (timeout != kDefaultTimeout) {
        api.internetSetOption(session, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof(timeout));
    }
}

int QueryNumber(const Api& api, HINTERNET request, DWORD info, DWORD* value)
{
    DWORD number = 0;
    DWORD size = sizeof(number);
    if (!api.httpQueryInfo(request, info | HTTP_QUERY_FLAG_NUMBER, &number, &size, nullptr)) {
        return 0;
    }
    *value = number;
    return 1;
}

// A header's text; 0 when it is absent or cannot be read whole. A header
// longer than the buffer counts as absent: the server controls its length,
// and none of the optional headers read here is worth failing a transfer.
int QueryText(const Api& api, HINTERNET request, DWORD info, wchar_t* buffer, DWORD bufferBytes,
              DWORD* index)
{
    DWORD size = bufferBytes - sizeof(wchar_t);
    if (!api.httpQueryInfo(request, info, buffer, &size, index)) {
        return 0;
    }
    buffer[size / sizeof(wchar_t)] = 0;
    return 1;
}

// The proxy-credentials prompt; 1 when the user asks to try again.
int ConfirmProxyCredentials(const Api& api, HWND owner, HINTERNET request)
{
    return api.internetErrorDlg(owner ? owner : GetForegroundWindow(), request,
                                ERROR_INTERNET_INCORRECT_PASSWORD, kProxyDialogFlags,
                                nullptr) == ERROR_INTERNET_FORCE_RETRY;
}

// A secure transfer stays secure: one that a redirect took to a plain
// address fails, so nothing that came in the clear is used. (Wine's WinINet
// follows such a redirect whatever the flags say.)
int StayedSecure(const Api& api, HINTERNET request, const wchar_t* url)
{
    if (!IsSecureUrl(url)) {
        return 1;
    }
    wchar_t finalUrl[INTERNET_MAX_URL_LENGTH + 1] = {};
    DWORD size = sizeof(finalUrl) - sizeof(wchar_t);
    return api.internetQueryOption(request, INTERNET_OPTION_URL, finalUrl, &size) &&
           IsSecureUrl(finalUrl);
}

// Opens the address. With redirects by hand (WinINet told not to follow
// any), each redirect is opened anew, up to HTTP_MAX_REDIRECTS of them and
// only from https to https: a chain that leads to plain http ends before
// the plain request is sent.
int OpenFollowing(const Api& api, HINTERNET session, const wchar_t* url, const wchar_t* headers,
                  DWORD headerLength, DWORD flags, int byHand, InternetHandle& request)
{
    WideString current(url);
    for (int hops = 0;; ++hops) {
        request.Reset(api.internetOpenUrl(session, current.Data(), headers, headerLength,
                                          byHand ? flags | INTERNET_FLAG_NO_AUTO_REDIRECT : flags,
                                          0));
        if (!request || !StayedSecure(api, request.Get(), current.Data())) {
            return 0;
        }
        DWORD status = 0;
        if (!byHand || !QueryNumber(api, request.Get(), HTTP_QUERY_STATUS_CODE, &status) ||
            !IsRedirectStatus(status)) {
            return 1;
        }
        wchar_t location[INTERNET_MAX_URL_LENGTH + 1];
        WideString next;
        if (hops == HTTP_MAX_REDIRECTS ||
            !QueryText(api, request.Get(), HTTP_QUERY_LOCATION, location, sizeof(location),
                       nullptr) ||
            !SecureRedirectTarget(current.Data(), location, next)) {
            request.Reset();
            return 0;
        }
        current.Assign(next);
    }
}

int IsSet(volatile LONG* flag)
{
    return InterlockedCompareExchange(flag, 0, 0) != 0;
}

BYTE* AllocateBuffer(ScopedHeapMemory& memory, DWORD size)
{
    memory.Reset(HeapAlloc(GetProcessHeap(), 0, size));
    return static_cast<BYTE*>(memory.Get());
}

} // namespace

int HttpMemoryBlock::Append(const void* bytes, DWORD count)
{
    if (count > static_cast<size_t>(-1) - size_) {
        return 0;
    }
    if (size_ + count > capacity_) {
        size_t capacity = capacity_ ? capacity_ : 65536;
        while (capacity < size_ + count) {
            capacity = capacity <= static_cast<size_t>(-1) / 2 ? capacity * 2 : size_ + count;
        }
        void* grown = realloc(data_, capacity);
        if (!grown) {
            return 0;
        }
        data_ = static_cast<BYTE*>(grown);
        capacity_ = capacity;
    }
    memcpy(data_ + size_, bytes, count);
    size_ += count;
    return 1;
}

HttpClient::~HttpClient()
{
    FreeParts();
    delete api_;
}

int HttpClient::Acquire()
{
    if (loadCount_) {
        ++loadCount_;
        return 1;
    }
    Api* api = new (std::nothrow) Api();
    const wchar_t* const tlsNames[] = {L"secur32.dll", L"crypt32.dll"};
    for (size_t i = 0; i < std::size(tlsLibraries_); ++i) {
        tlsLibraries_[i].Load(tlsNames[i]);
    }
    if (!api || !wininet_.Load(L"wininet.dll") || !BindAll(wininet_, *api)) {
        delete api;
        wininet_.Free();
        FreeTlsLibraries();
        return 0;
    }
    api_ = api;
    loadCount_ = 1;
    return 1;
}

void HttpClient::FreeTlsLibraries()
{
    for (DynamicLibrary& library : tlsLibraries_) {
        library.Free();
    }
}

int HttpClient::Release()
{
    if (!loadCount_) {
        return 0;
    }
    if (--loadCount_ == 0) {
        FreeParts();
        delete api_;
        api_ = nullptr;
        wininet_.Free();
        FreeTlsLibraries();
    }
    return 1;
}

void HttpClient::CancelTransfers()
{
    lock_.Enter();
    InterlockedExchange(&cancelled_, 1);
    if (session_) {
        api_->internetCloseHandle(session_);
        session_ = nullptr;
    }
    lock_.Leave();
}

void HttpClient::AllowTransfers()
{
    lock_.Enter();
    InterlockedExchange(&cancelled_, 0);
    lock_.Leave();
}

HINTERNET HttpClient::OpenTrackedSession(const wchar_t* agent, const wchar_t* proxy)
{
    lock_.Enter();
    HINTERNET session = cancelled_ ? nullptr : OpenSession(*api_, agent, proxy);
    session_ = session;
    lock_.Leave();
    return session;
}

// Closes the session unless CancelTransfers already did.
void HttpClient::CloseTrackedSession(HINTERNET session)
{
    lock_.Enter();
    if (session && session_ == session) {
        api_->internetCloseHandle(session);
        session_ = nullptr;
    }
    lock_.Leave();
}

class HttpClient::Session
{
public:
    Session(HttpClient& client, const wchar_t* agent, const wchar_t* proxy)
        : client_(client), handle_(client.OpenTrackedSession(agent, proxy))
    {
        InterlockedIncrement(&client_.running_);
    }
    ~Session()
    {
        client_.CloseTrackedSession(handle_);
        InterlockedDecrement(&client_.running_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    HINTERNET Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HttpClient& client_;
    HINTERNET handle_;
};

int HttpClient::GetText(const GetTextRequest& request, WideString& text)
{
    if (!Acquire()) {
        return 0;
    }
    text.Assign(L"");
    const int result = RunGetText(request, text);
    Release();
    return result;
}

namespace {

// Reads the body as text. A body cut short (a failed read, or fewer bytes
// than announced) gives 0 and no text; the byte limit ends a body early on
// purpose.
int ReadText(const Api& api, HINTERNET request, BYTE* buffer, WideString& text, ULONGLONG byteLimit,
             volatile LONG* cancelled)
{
    ULONGLONG received = 0;
    int readFailed = 0;
    for (;;) {
        DWORD got = 0;
        if (!api.internetReadFile(request, buffer, TextChunkSize(byteLimit, received), &got)) {
            readFailed = 1;
            break;
        }
        if (!got) {
            break;
        }
        if (!AppendBytesWidened(text, buffer, got)) {
            readFailed = 1;
            break;
        }
        received += got;
        if (IsSet(cancelled) || (byteLimit && received >= byteLimit)) {
            break;
        }
    }
    DWORD contentLength = 0;
    const int lengthKnown = QueryNumber(api, request, HTTP_QUERY_CONTENT_LENGTH, &contentLength);
    const int complete = (byteLimit && received >= byteLimit) ||
                         DownloadComplete(readFailed, 0, lengthKnown, contentLength, received);
    // A cancelled transfer's handles are closed under it: what it read is
    // no answer, however it ended.
    if (IsSet(cancelled) || !received || !complete) {
        text.Assign(L"");
        return 0;
    }
    return 1;
}

} // namespace

int HttpClient::RunGetText(const GetTextRequest& get, WideString& text)
{
    const Api& api = *api_;
    const wchar_t* url = get.url;
    Session session(*this, get.agent, get.proxy);
    ScopedHeapMemory memory;
    BYTE* buffer = AllocateBuffer(memory, kTextBufferSize);
    if (!session || !buffer || !url) {
        return 0;
    }
    const int allowCookies =
        Ask(get.callback, get.userValue, DOWNLOAD_CB_COOKIES, const_cast<wchar_t*>(url), 0) == 1;
    const DWORD flags = GetTextFlags(url, allowCookies);
    const int redirectsByHand =
        Ask(get.callback, get.userValue, DOWNLOAD_CB_REDIRECT, const_cast<wchar_t*>(url), 1) == 0;
    int success = 0;
    for (int attempt = 1; attempt <= 2; ++attempt) {
        InternetHandle request(api);
        DWORD status = 0;
        if (!OpenFollowing(api, session.Get(), url, kAcceptAnything, static_cast<DWORD>(-1), flags,
                           redirectsByHand, request) ||
            !QueryNumber(api, request.Get(), HTTP_QUERY_STATUS_CODE, &status)) {
            break;
        }
        if (status == HTTP_STATUS_OK || status == HTTP_STATUS_PARTIAL_CONTENT) {
            success = ReadText(api, request.Get(), buffer, text, get.byteLimit, &cancelled_);
            break;
        }
        // A prompt that the user did not ask for (a background check) may
        // be refused: the transfer then just fails.
        if (status != HTTP_STATUS_PROXY_AUTH_REQ ||
            !Ask(get.callback, get.userValue, HTTP_CB_PROXY_PROMPT, nullptr, 1) ||
            !ConfirmProxyCredentials(api, nullptr, request.Get())) {
            break;
        }
    }
    return success;
}

int HttpClient::DownloadToFile(const wchar_t* url, const wchar_t* targetPath,
                               const DownloadOptions& options)
{
    if (options.statusOut) {
        *options.statusOut = HTTP_STATUS_OK;
    }
    WideString target(targetPath);
    if (!url || !targetPath || !Acquire()) {
        return 0;
    }
    const int result = RunDownload(url, target, options);
    Release();
    return result;
}

namespace {

// The part of a download from opening the target file on: reads the body
// into it and decides whether the file is complete.
struct DownloadBody
{
    const Api& api;
    HINTERNET request;
    HttpCallback callback;
    void* userValue;
    ULONGLONG byteLimit;
    DWORD downloadRate;
    volatile LONG* cancelled;
    ULONGLONG expectedSize;
    ULONGLONG maximumSize;
};

int OfferHeader(const DownloadBody& body, DWORD info, const wchar_t* name, int code,
                WideString& target)
{
    wchar_t header[kHeaderBufferBytes / sizeof(wchar_t)] = {};
    if (name) {
        wcscpy(header, name);
    }
    if (!QueryText(body.api, body.request, info, header, sizeof(header), nullptr)) {
        return 1;
    }
    DownloadHeaderOffer offer{&target, header};
    return Ask(body.callback, body.userValue, code, &offer, 1);
}

// Positions the file for writing: a new file is first given the announced
// size, a resumed one is appended to.
int PrepareFile(FileObject& file, int resume, int lengthKnown, DWORD contentLength)
{
    if (!lengthKnown) {
        return 1;
    }
    if (resume) {
        return file.Seek(FILE_END, 0);
    }
    return file.Seek(FILE_BEGIN, contentLength) && file.SetEnd() && file.Seek(FILE_BEGIN, 0);
}

// 1 when a read beyond the byte limit still finds data.
int MoreBeyondLimit(const DownloadBody& body)
{
    BYTE probe = 0;
    DWORD got = 0;
    return body.api.internetReadFile(body.request, &probe, 1, &got) && got;
}

int ReceiveIntoFile(const DownloadBody& body, FileObject& file, int lengthKnown,
                    DWORD contentLength)
{
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[kDownloadChunk]);
    if (!buffer) {
        return 0;
    }
    RateLimiter limiter(body.downloadRate);
    ULONGLONG received = 0;
    int readFailed = 0;
    int moreBeyondLimit = 0;
    for (;;) {
        DWORD got = 0;
        if (!body.api.internetReadFile(
                body.request, buffer.get(),
                DownloadChunkSize(body.byteLimit, received, body.downloadRate), &got)) {
            readFailed = 1;
            break;
        }
        if (!got) {
            break;
        }
        // Nothing beyond the bounds reaches the disk.
        if (!ReceivedFits(received + got, 0, body.expectedSize, body.maximumSize) ||
            !file.Write(got, buffer.get())) {
            return 0;
        }
        received += got;
        limiter.AfterChunk(got);
        if (IsSet(body.cancelled) ||
            !AskNumber(body.callback, body.userValue, DOWNLOAD_CB_WRITTEN, received)) {
            return 0;
        }
        if (body.byteLimit && received >= body.byteLimit) {
            moreBeyondLimit = !lengthKnown && MoreBeyondLimit(body);
            break;
        }
    }
    return received && !IsSet(body.cancelled) &&
           ReceivedFits(received, 1, body.expectedSize, body.maximumSize) &&
           DownloadComplete(readFailed, moreBeyondLimit, lengthKnown, contentLength, received);
}

// From opening the target file on: writes the body into it, decides whether
// the file is complete and removes an incomplete one unless the callback
// keeps it.
int SaveDownload(const DownloadBody& body, WideString& target, DWORD status, DWORD* statusOut)
{
    int resume = 0;
    Ask(body.callback, body.userValue, DOWNLOAD_CB_RESUME, &resume, 0);
    FileObject file;
    if (!file.Open(target.Data(), resume == 1 ? FILE_MODE_WRITE_ALWAYS : FILE_MODE_CREATE,
                   FILE_FLAG_SEQUENTIAL_SCAN, FILE_SHARE_READ | FILE_SHARE_WRITE)) {
        if (statusOut) {
            *statusOut = HTTP_STATUS_FILE_ERROR;
        }
        return 0;
    }
    DWORD contentLength = 0;
    const int lengthKnown =
        QueryNumber(body.api, body.request, HTTP_QUERY_CONTENT_LENGTH, &contentLength);
    wchar_t finalUrl[kUrlBufferBytes / sizeof(wchar_t)] = {};
    DWORD urlSize = sizeof(finalUrl) - sizeof(wchar_t);
    int success =
        PrepareFile(file, resume == 1, lengthKnown, contentLength) &&
        AskNumber(body.callback, body.userValue, DOWNLOAD_CB_LENGTH,
                  lengthKnown ? contentLength : 0) &&
        (!body.api.internetQueryOption(body.request, INTERNET_OPTION_URL, finalUrl, &urlSize) ||
         Ask(body.callback, body.userValue, DOWNLOAD_CB_FINAL_URL, finalUrl, 1)) &&
        ReceiveIntoFile(body, file, lengthKnown, contentLength);
    // The file was given the announced size: it ends where the writing
    // stopped, so a partial file that the callback keeps holds only what
    // arrived.
    if (!file.SetEnd()) {
        success = 0;
    }
    if (!Ask(body.callback, body.userValue, DOWNLOAD_CB_DONE, nullptr, 1)) {
        success = 0;
    }
    file.Close();
    if (!success) {
        DownloadFailure failure{status, 1, 0};
        Ask(body.callback, body.userValue, DOWNLOAD_CB_FAILED, &failure, 1);
        if (failure.deleteFile || !body.callback) {
            DeleteFileForced(target.Data());
        }
    }
    return success;
}

} // namespace

int HttpClient::RunDownload(const wchar_t* url, WideString& target, const DownloadOptions& options)
{
    const Api& api = *api_;
    HttpCallback callback = options.callback;
    void* userValue = options.userValue;
    DWORD* statusOut = options.statusOut;
    Session session(*this, options.agent, options.proxy);
    if (!session) {
        return 0;
    }
    SetConnectTimeout(api, session.Get(), options.connectTimeout);
    const int allowCookies =
        Ask(callback, userValue, DOWNLOAD_CB_COOKIES, const_cast<wchar_t*>(url), 0) == 1;
    const int redirectsByHand =
        Ask(callback, userValue, DOWNLOAD_CB_REDIRECT, const_cast<wchar_t*>(url), 1) == 0;
    InternetHandle request(api);
    if (!OpenFollowing(api, session.Get(), url, options.headers, options.headerLength,
                       DownloadFlags(allowCookies), redirectsByHand, request)) {
        return 0;
    }
    DWORD status = HTTP_STATUS_OK;
    if (QueryNumber(api, request.Get(), HTTP_QUERY_STATUS_CODE, &status)) {
        if (statusOut) {
            *statusOut = status;
        }
        if (status != HTTP_STATUS_OK && status != HTTP_STATUS_PARTIAL_CONTENT) {
            return 0;
        }
    }
    // A body longer than its bounds is refused before its file is made.
    DWORD announced = 0;
    if (QueryNumber(api, request.Get(), HTTP_QUERY_CONTENT_LENGTH, &announced) &&
        !AnnouncedLengthFits(announced, options.expectedSize, options.maximumSize)) {
        return 0;
    }
    const DownloadBody body{api,         request.Get(),        callback,
                            userValue,   options.byteLimit,    options.downloadRate,
                            &cancelled_, options.expectedSize, options.maximumSize};
    if (!OfferHeader(body, HTTP_QUERY_CUSTOM, L"Content-Disposition", DOWNLOAD_CB_DISPOSITION,
                     target) ||
        !OfferHeader(body, HTTP_QUERY_CONTENT_TYPE, nullptr, DOWNLOAD_CB_CONTENT_TYPE, target)) {
        return 0;
    }
    return SaveDownload(body, target, status, statusOut);
}

int HttpClient::Request(const HttpRequest& request)
{
    if (request.statusOut) {
        *request.statusOut = HTTP_STATUS_OK;
    }
    if (!request.host || !request.object ||
        (request.service != INTERNET_SERVICE_HTTP && request.service != INTERNET_SERVICE_FTP) ||
        !Acquire()) {
        return 0;
    }
    const int result = RunRequest(request);
    Release();
    return result;
}

namespace {

struct RequestRun
{
    const Api& api;
    const HttpRequest& description;
    HINTERNET request;
};

int Tell(const RequestRun& run, int code, void* argument, int answerWithout)
{
    return Ask(run.description.callback, run.description.userValue, code, argument, answerWithout);
}

int TellNumber(const RequestRun& run, int code, ULONGLONG number)
{
    return Tell(run, code, &number, 1);
}

int WriteAll(const RequestRun& run, const BYTE* data, DWORD length)
{
    DWORD written = 0;
    return !length ||
           (run.api.internetWriteFile(run.request, data, length, &written) && written == length);
}

// Sends the multipart body: the first part with the request, the others
// written after it. The send's result is checked before any write: after a
// failed send some WinINet versions crash inside InternetWriteFile.
int SendParts(const RequestRun& run)
{
    const HttpRequest& description = run.description;
    INTERNET_BUFFERSW* first = &description.bodyParts->buffers;
    if (!run.api.httpSendRequestEx(run.request, first, nullptr, kSendExFlags, 0)) {
        return 0;
    }
    ULONGLONG sent = first->dwBufferLength;
    if (!TellNumber(run, HTTP_CB_SENT, sent)) {
        return 0;
    }
    const bool whole = !description.callback && !description.uploadRate;
    RateLimiter limiter(description.uploadRate);
    for (const MultipartPart* part = description.bodyParts->next; part; part = part->next) {
        const BYTE* data = static_cast<const BYTE*>(part->buffers.lpvBuffer);
        const DWORD length = part->buffers.dwBufferLength;
        for (DWORD offset = 0; offset < length;) {
            const DWORD piece =
                whole || length - offset < kUploadPiece ? length - offset : kUploadPiece;
            if (!WriteAll(run, data + offset, piece)) {
                return 0;
            }
            offset += piece;
            sent += piece;
            if (!whole) {
                limiter.AfterChunk(piece);
                if (!TellNumber(run, HTTP_CB_SENT, sent)) {
                    return 0;
                }
            }
        }
    }
    return run.api.httpEndRequest(run.request, nullptr, kEndRequestFlags, 0);
}

int SendPlain(const RequestRun& run)
{
    const HttpRequest& description = run.description;
    return run.api.httpSendRequest(run.request, description.headers, description.headerLength,
                                   const_cast<void*>(description.optionalData),
                                   description.optionalLength);
}

// After a 407: the credentials prompt and, when confirmed, one more send
// (and one without a client certificate when the server asks for one).
int RetryWithProxyCredentials(const RequestRun& run)
{
    if (!ConfirmProxyCredentials(run.api, run.description.ownerWindow, run.request)) {
        return 1;
    }
    if (SendPlain(run)) {
        return 1;
    }
    if (GetLastError() != ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED) {
        return 0;
    }
    run.api.internetSetOption(run.request, INTERNET_OPTION_SECURITY_SELECT_CLIENT_CERT, nullptr, 0);
    return SendPlain(run);
}

int OfferCookies(const RequestRun& run)
{
    if (!run.description.callback) {
        return 1;
    }
    DWORD index = 0;
    for (;;) {
        wchar_t cookie[kCookieBufferBytes / sizeof(wchar_t)];
        const DWORD previous = index;
        if (!QueryText(run.api, run.request, HTTP_QUERY_SET_COOKIE, cookie, sizeof(cookie),
                       &index)) {
            return 1;
        }
        if (!Tell(run, HTTP_CB_SET_COOKIE, cookie, 1)) {
            return 0;
        }
        if (index == previous) {
            return 1;
        }
    }
}

// Sends an HTTP request and reads the status, content length and cookies.
int SendHttp(const RequestRun& run)
{
    const HttpRequest& description = run.description;
    if (!(description.bodyParts ? SendParts(run) : SendPlain(run))) {
        return 0;
    }
    DWORD status = 0;
    if (QueryNumber(run.api, run.request, HTTP_QUERY_STATUS_CODE, &status) &&
        status == HTTP_STATUS_PROXY_AUTH_REQ) {
        if (!RetryWithProxyCredentials(run)) {
            return 0;
        }
        QueryNumber(run.api, run.request, HTTP_QUERY_STATUS_CODE, &status);
    }
    if (status && description.statusOut) {
        *description.statusOut = status;
    }
    DWORD contentLength = 0;
    QueryNumber(run.api, run.request, HTTP_QUERY_CONTENT_LENGTH, &contentLength);
    return TellNumber(run, HTTP_CB_CONTENT_LENGTH, contentLength) && OfferCookies(run);
}

// Where the body goes: a file, a memory block or the response text.
struct BodySink
{
    FileObject* file;
    HttpMemoryBlock* block;
    WideString* text;

    int Take(const BYTE* bytes, DWORD count) const
    {
        if (file) {
            return file->Write(count, bytes);
        }
        if (block) {
            return block->Append(bytes, count);
        }
        return !text || AppendBytesWidened(*text, bytes, count);
    }
};

int ReceiveBody(const RequestRun& run, const BodySink& sink)
{
    ScopedHeapMemory memory;
    BYTE* buffer = AllocateBuffer(memory, kTextBufferSize);
    if (!buffer) {
        return 0;
    }
    const HttpRequest& description = run.description;
    RateLimiter limiter(description.downloadRate);
    ULONGLONG received = 0;
    int success = 0;
    DWORD got = 0;
    while (run.api.internetReadFile(run.request, buffer,
                                    TextChunkSize(description.byteLimit, received), &got)) {
        success = 1;
        if (!got) {
            break;
        }
        if (!sink.Take(buffer, got)) {
            return 0;
        }
        received += got;
        limiter.AfterChunk(got);
        if (!TellNumber(run, HTTP_CB_RECEIVED, received) ||
            (description.byteLimit && received >= description.byteLimit)) {
            break;
        }
    }
    return success;
}

HINTERNET OpenHttpRequest(const Api& api, const HttpRequest& description, HINTERNET connection)
{
    const wchar_t* object = description.object;
    const int allowCookies = Ask(description.callback, description.userValue, HTTP_CB_COOKIES,
                                 const_cast<wchar_t*>(object), 1) == 1;
    const int allowRedirects = Ask(description.callback, description.userValue, HTTP_CB_REDIRECT,
                                   const_cast<wchar_t*>(object), 1) != 0;
    const wchar_t* anything[] = {L"*/*", nullptr};
    // The certificate checks stay as WinINet sets them, revocation included:
    // a transfer that cannot be trusted fails rather than goes on weaker.
    return api.httpOpenRequest(
        connection, description.verb, object, nullptr, nullptr,
        description.acceptTypes ? description.acceptTypes : anything,
        RequestFlags(allowCookies, allowRedirects, description.port, description.secure), 0);
}

void SetTextOption(const Api& api, HINTERNET handle, DWORD option, const wchar_t* text)
{
    if (text) {
        api.internetSetOption(handle, option, const_cast<wchar_t*>(text),
                              static_cast<DWORD>(wcslen(text)));
    }
}

} // namespace

namespace {

// Where the callback wants the body: a file (named by the response text,
// created now), a memory block, or else the response text. 0 when the file
// cannot be created.
int ChooseBodySink(const HttpRequest& description, FileObject& file, HttpMemoryBlock*& block)
{
    int toFile = 0;
    Ask(description.callback, description.userValue, HTTP_CB_FILE_SINK, &toFile, 0);
    Ask(description.callback, description.userValue, HTTP_CB_MEMORY_SINK, &block, 0);
    return toFile != 1 ||
           (description.responseText &&
            file.Open(description.responseText->Data(), FILE_MODE_CREATE, FILE_FLAG_SEQUENTIAL_SCAN,
                      FILE_SHARE_READ | FILE_SHARE_WRITE));
}

// The callback's say on the open connection: ending the browser session,
// the proxy's credentials, and a veto once it knows the body's size.
int PrepareConnection(const Api& api, const HttpRequest& description, HINTERNET connection)
{
    int endSession = 0;
    if (Ask(description.callback, description.userValue, HTTP_CB_END_SESSION, &endSession, 0) ==
            1 &&
        endSession == 1) {
        api.internetSetOption(nullptr, INTERNET_OPTION_END_BROWSER_SESSION, nullptr, 0);
    }
    SetTextOption(api, connection, INTERNET_OPTION_PROXY_USERNAME, description.proxyUser);
    SetTextOption(api, connection, INTERNET_OPTION_PROXY_PASSWORD, description.proxyPassword);
    ULONGLONG total = description.bodyParts ? description.bodyParts->buffers.dwBufferTotal : 0;
    return Ask(description.callback, description.userValue, HTTP_CB_TOTAL_SIZE, &total, 1);
}

HINTERNET OpenRequest(const Api& api, const HttpRequest& description, HINTERNET connection)
{
    if (description.service == INTERNET_SERVICE_HTTP) {
        return OpenHttpRequest(api, description, connection);
    }
    return api.ftpOpenFile(connection, description.object, GENERIC_READ,
                           FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_RELOAD, 0);
}

// Sends an HTTP request (FTP has nothing to send) and reads the body.
int Exchange(const RequestRun& run, const BodySink& sink)
{
    if (run.description.service == INTERNET_SERVICE_HTTP) {
        HttpHeaderAccess access{run.api.httpAddRequestHeaders, run.request};
        if (!Tell(run, HTTP_CB_ADD_HEADERS, &access, 1) || !SendHttp(run)) {
            return 0;
        }
    }
    const int result = ReceiveBody(run, sink);
    Tell(run, HTTP_CB_END, nullptr, 1);
    return result;
}

} // namespace

int HttpClient::RunRequest(const HttpRequest& description)
{
    const Api& api = *api_;
    FileObject sinkFile;
    HttpMemoryBlock* block = nullptr;
    if (!ChooseBodySink(description, sinkFile, block)) {
        return 0;
    }
    Session session(*this, description.agent, description.proxy);
    if (!session) {
        return 0;
    }
    SetConnectTimeout(api, session.Get(), description.connectTimeout);
    InternetHandle connection(api);
    connection.Reset(api.internetConnect(session.Get(), description.host, description.port,
                                         description.user, description.password,
                                         description.service, 0, 0));
    if (!connection || !PrepareConnection(api, description, connection.Get())) {
        return 0;
    }
    InternetHandle request(api);
    request.Reset(OpenRequest(api, description, connection.Get()));
    if (!request) {
        return 0;
    }
    const BodySink sink{sinkFile.IsOpen() ? &sinkFile : nullptr, block, description.responseText};
    return Exchange(RequestRun{api, description, request.Get()}, sink);
}

MultipartPart* HttpClient::AppendPart()
{
    MultipartPart* part = new (std::nothrow) MultipartPart();
    if (!part) {
        return nullptr;
    }
    MultipartPart** link = &parts_;
    MultipartPart* last = nullptr;
    while (*link) {
        last = *link;
        link = &last->next;
    }
    *link = part;
    if (last) {
        last->buffers.Next = &part->buffers;
    }
    return part;
}

// Appends a part whose data is the text in the ANSI code page.
int HttpClient::AppendTextPart(const WideString& text)
{
    MultipartPart* part = AppendPart();
    if (!part) {
        return 0;
    }
    const char* narrow = part->text.Assign(text) ? part->text.ToNarrow() : nullptr;
    part->buffers.lpvBuffer = const_cast<char*>(narrow);
    part->buffers.dwBufferLength = narrow ? static_cast<DWORD>(strlen(narrow)) : 0;
    return narrow ? 1 : 0;
}

int HttpClient::AddTextField(const wchar_t* name, const wchar_t* value)
{
    WideString text;
    return name && value && Format(text, kTextPart, name, value) && AppendTextPart(text);
}

int HttpClient::AddFileField(const wchar_t* name, const wchar_t* path)
{
    WideString header;
    if (!name || !path || !Format(header, kFileHeaderPart, name, FileNameOfPath(path)) ||
        !AppendTextPart(header)) {
        return 0;
    }
    // A file that cannot be read leaves an empty file part, so the body
    // stays well formed.
    int opened = 0;
    MultipartPart* filePart = AppendPart();
    if (filePart && filePart->file.Open(path, FILE_MODE_READ, FILE_ATTRIBUTE_NORMAL,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE)) {
        const ULONGLONG size = filePart->file.GetSize();
        void* view = size && size <= 0x7FFFFFFF ? filePart->file.Map(0, 0) : nullptr;
        if (view) {
            filePart->buffers.lpvBuffer = view;
            filePart->buffers.dwBufferLength = static_cast<DWORD>(size);
        }
        opened = !size || view;
    }
    WideString end(kFileEndPart);
    return AppendTextPart(end) && opened;
}

int HttpClient::PostMultipart(const HttpRequest& request)
{
    WideString closing(kClosingPart);
    WideString contentType;
    if (!AppendTextPart(closing) ||
        !Format(contentType, L"Content-Type: multipart/form-data; boundary=%s", kBoundary)) {
        FreeParts();
        return 0;
    }
    ULONGLONG total = 0;
    for (const MultipartPart* part = parts_; part; part = part->next) {
        total += part->buffers.dwBufferLength;
    }
    if (total > 0xFFFFFFFFu) {
        FreeParts();
        return 0;
    }
    for (MultipartPart* part = parts_; part; part = part->next) {
        part->buffers.dwBufferTotal = static_cast<DWORD>(total);
    }
    parts_->buffers.lpcszHeader = contentType.Data();
    parts_->buffers.dwHeadersLength = contentType.Length();
    parts_->buffers.dwHeadersTotal = contentType.Length();
    HttpRequest post = request;
    post.verb = L"POST";
    post.headers = nullptr;
    post.headerLength = static_cast<DWORD>(-1);
    post.optionalData = nullptr;
    post.optionalLength = 0;
    post.bodyParts = parts_;
    const int result = Request(post);
    FreeParts();
    return result;
}

void HttpClient::FreeParts()
{
    while (parts_) {
        MultipartPart* next = parts_->next;
        delete parts_;
        parts_ = next;
    }
}
