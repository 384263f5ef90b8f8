#include <doctest.h>

#include <windows.h>

#include <algorithm>

#include <map>
#include <string>
#include <vector>

#include "BoundedThread.h"
#include "DialogAnswerer.h"
#include "HttpTestServer.h"
#include "TestText.h"
#include "TestWindow.h"
#include "TrustedTestRoot.h"
#include "UpdateTestFiles.h"
#include "net/HttpClient.h"

using namespace update_test;

namespace {

const wchar_t kMissingFolder[] = L"C:\\no such folder\\file.bin";

std::string EveryByte(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i * 7 % 256);
    }
    return bytes;
}

std::string Bytes(const HttpMemoryBlock& block)
{
    return std::string(reinterpret_cast<const char*>(block.Data()),
                       static_cast<size_t>(block.Size()));
}

// The text's units as bytes; a unit beyond one byte (a byte widened with
// its sign) shows as a marker that no body holds.
std::string TextBytes(const WideString& text)
{
    std::string bytes;
    for (unsigned i = 0; i < text.Length(); ++i) {
        const wchar_t unit = text.Data()[i];
        bytes += unit < 0x100 ? std::string(1, static_cast<char>(unit)) : "<wide unit>";
    }
    return bytes;
}

int GetText(HttpClient& client, const std::wstring& url, WideString& text, ULONGLONG limit = 0)
{
    GetTextRequest request;
    request.url = url.c_str();
    request.agent = L"AutoUpdate";
    request.byteLimit = limit;
    return client.GetText(request, text);
}

// Records what a transfer offers its callback and answers as told.
struct CallbackLog
{
    bool download = false; // which code table applies
    std::vector<int> codes;
    std::map<int, ULONGLONG> numbers;
    std::map<int, std::wstring> texts;
    std::vector<std::wstring> cookies;
    int refuse = -1;
    std::wstring renameTo;
    int keepPartialFile = 0;
    int resume = 0;
    int fileSink = 0;
    HttpMemoryBlock* block = nullptr;
    const wchar_t* extraHeader = nullptr;

    static int Callback(int code, void* argument, void* user)
    {
        CallbackLog& log = *static_cast<CallbackLog*>(user);
        log.codes.push_back(code);
        log.download ? log.OfferDownload(code, argument) : log.OfferRequest(code, argument);
        return code == log.refuse ? 0 : 1;
    }

    void OfferDownload(int code, void* argument)
    {
        if (code == DOWNLOAD_CB_DISPOSITION || code == DOWNLOAD_CB_CONTENT_TYPE) {
            auto* offer = static_cast<DownloadHeaderOffer*>(argument);
            texts[code] = offer->header;
            if (!renameTo.empty()) {
                offer->targetPath->Assign(renameTo.c_str());
            }
        } else if (code == DOWNLOAD_CB_RESUME) {
            *static_cast<int*>(argument) = resume;
        } else if (code == DOWNLOAD_CB_FAILED) {
            static_cast<DownloadFailure*>(argument)->deleteFile = !keepPartialFile;
        } else if (code == DOWNLOAD_CB_LENGTH || code == DOWNLOAD_CB_WRITTEN) {
            numbers[code] = *static_cast<ULONGLONG*>(argument);
        } else if (code == DOWNLOAD_CB_FINAL_URL) {
            texts[code] = static_cast<const wchar_t*>(argument);
        }
    }

    void OfferRequest(int code, void* argument)
    {
        if (code == HTTP_CB_TOTAL_SIZE || code == HTTP_CB_SENT || code == HTTP_CB_CONTENT_LENGTH ||
            code == HTTP_CB_RECEIVED) {
            numbers[code] = *static_cast<ULONGLONG*>(argument);
        } else if (code == HTTP_CB_SET_COOKIE) {
            cookies.push_back(static_cast<const wchar_t*>(argument));
        } else if (code == HTTP_CB_FILE_SINK) {
            *static_cast<int*>(argument) = fileSink;
        } else if (code == HTTP_CB_MEMORY_SINK) {
            *static_cast<HttpMemoryBlock**>(argument) = block;
        } else if (code == HTTP_CB_ADD_HEADERS && extraHeader) {
            auto* access = static_cast<HttpHeaderAccess*>(argument);
            access->addHeaders(access->request, extraHeader, static_cast<DWORD>(-1),
                               HTTP_ADDREQ_FLAG_ADD);
        }
    }
};

int Download(HttpClient& client, const std::wstring& url, const std::wstring& target,
             CallbackLog* log = nullptr, ULONGLONG limit = 0, DWORD* status = nullptr)
{
    DownloadOptions options;
    options.agent = L"AutoUpdate";
    options.byteLimit = limit;
    options.callback = log ? &CallbackLog::Callback : nullptr;
    options.userValue = log;
    options.headers = L"Accept: */*\r\n\r\n";
    options.statusOut = status;
    options.connectTimeout = 2000;
    return client.DownloadToFile(url.c_str(), target.c_str(), options);
}

// A request to the test server (HTTP or FTP), told to the log when given.
template <typename Server>
HttpRequest RequestTo(Server& server, const wchar_t* object, CallbackLog* log = nullptr)
{
    HttpRequest request;
    request.host = L"127.0.0.1";
    request.object = object;
    request.port = server.Port();
    request.verb = L"GET";
    request.callback = log ? &CallbackLog::Callback : nullptr;
    request.userValue = log;
    return request;
}

struct Transfer
{
    HttpTestServer server;
    HttpClient client;
    TempFolder folder{L"tessel-http"};
    const std::wstring target = folder / L"download.bin";

    Transfer() { REQUIRE(server.IsRunning()); }
    // The server's /file into the target.
    int Fetch(CallbackLog* log = nullptr, ULONGLONG limit = 0, DWORD* status = nullptr)
    {
        return Download(client, server.Url(L"/file"), target, log, limit, status);
    }
};

} // namespace

TEST_CASE("Acquire and Release nest")
{
    HttpClient client;
    CHECK(client.Release() == 0);
    REQUIRE(client.Acquire());
    REQUIRE(client.Acquire());
    CHECK(client.Release() == 1);
    CHECK(GetModuleHandleW(L"wininet.dll") != nullptr);
    CHECK(client.Release() == 1);
    CHECK(client.Release() == 0);
}

TEST_CASE_FIXTURE(Transfer, "An empty body, a 404 or nobody listening: no text and no file, and "
                            "a file already there stays as it was")
{
    const struct
    {
        const char* what;
        int status; // 0: nobody listens
        const char* body;
    } cases[] = {{"an empty 200", 200, ""}, {"a 404", 404, "not here"}, {"nobody", 0, ""}};
    for (const auto& row : cases) {
        INFO(std::string(row.what));
        REQUIRE(server.Clear());
        REQUIRE(server.Answer(Scripted(row.status, row.body, 0)));
        const std::wstring url = row.status ? server.Url(L"/file") : L"http://127.0.0.1:1/file";
        WideString text(L"stale");
        CHECK(GetText(client, url, text) == 0);
        CHECK(text.IsEmpty());
        DWORD status = 0;
        CHECK(Download(client, url, target, nullptr, 0, &status) == 0);
        CHECK((status == static_cast<DWORD>(row.status) || !row.status));
        CHECK_FALSE(Exists(target));
        // Only a transfer that fails before the body leaves an old file.
        if (row.status == 200)
            continue;
        REQUIRE(WriteWholeFile(target, "previous version"));
        CHECK(Download(client, url, target) == 0);
        CHECK(ReadWholeFile(target) == "previous version");
        REQUIRE(DeleteFileW(target.c_str()));
    }
    // Request counts an empty body as read.
    HttpRequest request = RequestTo(server, L"/empty");
    WideString text;
    request.responseText = &text;
    REQUIRE(server.Answer(Scripted(200, "", 0)));
    CHECK(client.Request(request) == 1);
}

TEST_CASE_FIXTURE(Transfer, "DownloadToFile keeps only complete files, GetText only whole "
                            "texts, byte for byte")
{
    // Long enough for several of GetText's reads.
    const std::string body = EveryByte(200 * 1024);
    constexpr long long kAuto = ScriptedAnswer::kAutoLength;
    constexpr long long kNone = ScriptedAnswer::kNoLength;
    const struct
    {
        const char* what;
        int status;
        long long length;
        unsigned chunkSize;
        unsigned chunkDelayMs;
        long long resetAfter;
        ULONGLONG limit;    // the download's
        int refuse;         // the download callback's code to refuse
        int resume;         // appends to a file "head:"
        int textResult;     // GetText's, without a limit
        int downloadResult; // a failed download leaves no file
    } cases[] = {
        {"slow chunks", 200, kAuto, 7000, 20, -1, 0, -1, 0, 1, 1},
        {"no announced length", 200, kNone, 0, 0, -1, 0, -1, 0, 1, 1},
        // The pause lets the client take the headers and the first bytes
        // before the reset, which discards whatever it has not read.
        {"a reset in the middle", 200, kAuto, 20000, 300, 20000, 0, -1, 0, 0, 0},
        {"an end before the announced length", 200, 300000, 0, 0, -1, 0, -1, 0, 0, 0},
        {"an announced length beyond the limit", 200, kAuto, 0, 0, -1, 1000, -1, 0, 1, 0},
        {"a body as long as the limit", 200, kAuto, 0, 0, -1, 200 * 1024, -1, 0, 1, 1},
        {"a body that runs on beyond the limit", 200, kNone, 0, 0, -1, 1000, -1, 0, 1, 0},
        {"a callback that stops the writing", 200, kAuto, 0, 0, -1, 0, DOWNLOAD_CB_WRITTEN, 0, 1,
         0},
        {"resumed", 206, kAuto, 0, 0, -1, 0, -1, 1, 1, 1},
    };
    CallbackLog log;
    log.download = true;
    for (const auto& row : cases) {
        INFO(std::string(row.what));
        ScriptedAnswer answer = Scripted(row.status, body, 0);
        answer.length = row.length;
        answer.chunkSize = row.chunkSize;
        answer.chunkDelayMs = row.chunkDelayMs;
        answer.resetAfter = row.resetAfter;
        REQUIRE(server.Clear());
        REQUIRE(server.Answer(answer));
        WideString text;
        CHECK(GetText(client, server.Url(L"/"), text) == row.textResult);
        CHECK((TextBytes(text) == (row.textResult ? body : "")));
        DeleteFileW(target.c_str());
        if (row.resume)
            REQUIRE(WriteWholeFile(target, "head:"));
        log.refuse = row.refuse;
        log.resume = row.resume;
        CHECK(Fetch(&log, row.limit) == row.downloadResult);
        const std::string kept = row.downloadResult ? (row.resume ? "head:" : "") + body : "";
        CHECK((ReadWholeFile(target) == (kept.empty() ? "<missing>" : kept)));
    }
    WideString text;
    REQUIRE(GetText(client, server.Url(L"/"), text, 10) == 1);
    CHECK(TextBytes(text) == body.substr(0, 10));
}

TEST_CASE_FIXTURE(Transfer, "DownloadToFile's callback sees the headers, renames the target and "
                            "may keep a partial file")
{
    const std::string body = EveryByte(50000);
    ScriptedAnswer answer = Scripted(200, body);
    answer.headers = {"Content-Disposition: attachment; filename=\"Tessel.exe\"",
                      "Content-Type: application/x-msdownload"};
    REQUIRE(server.Answer(answer));
    CallbackLog log;
    log.download = true;
    const std::wstring renamed = folder / L"renamed.bin";
    log.renameTo = renamed;
    CHECK(Fetch(&log) == 1);
    CHECK(log.texts == std::map<int, std::wstring>{
                           {DOWNLOAD_CB_DISPOSITION, L"attachment; filename=\"Tessel.exe\""},
                           {DOWNLOAD_CB_CONTENT_TYPE, L"application/x-msdownload"},
                           {DOWNLOAD_CB_FINAL_URL, server.Url(L"/file")}});
    CHECK(log.numbers == std::map<int, ULONGLONG>{{DOWNLOAD_CB_LENGTH, body.size()},
                                                  {DOWNLOAD_CB_WRITTEN, body.size()}});
    CHECK(log.codes.back() == DOWNLOAD_CB_DONE);
    CHECK_FALSE(Exists(target));
    CHECK(ReadWholeFile(renamed) == body);

    // Header values longer than their buffers count as absent.
    answer.headers = {"Content-Disposition: attachment; filename=\"" + std::string(3000, 'n') +
                          "\"",
                      "Content-Type: application/" + std::string(3000, 't')};
    REQUIRE(server.Answer(answer));
    log.texts.clear();
    log.renameTo.clear();
    CHECK(Fetch(&log) == 1);
    CHECK(log.texts.count(DOWNLOAD_CB_DISPOSITION) + log.texts.count(DOWNLOAD_CB_CONTENT_TYPE) ==
          0);
    CHECK(ReadWholeFile(target) == body);

    answer.headers.clear();
    answer.length = 90000;
    REQUIRE(server.Answer(answer));
    log.keepPartialFile = 1;
    CHECK(Fetch(&log) == 0);
    CHECK(log.codes.back() == DOWNLOAD_CB_FAILED);
    CHECK(ReadWholeFile(target) == body);

    REQUIRE(server.Answer(Scripted(200, body)));
    DWORD status = 0;
    CHECK(Download(client, server.Url(L"/file"), kMissingFolder, nullptr, 0, &status) == 0);
    CHECK(status == HTTP_STATUS_FILE_ERROR);
}

TEST_CASE_FIXTURE(Transfer, "Request: sinks, cookies, headers, status and the callback's veto")
{
    const std::string body = EveryByte(70000);
    ScriptedAnswer answer = Scripted(201, body, 0);
    answer.headers = {"Set-Cookie: first=1; path=/", "Set-Cookie: second=2"};
    REQUIRE(server.Answer(answer));
    CallbackLog log;
    log.extraHeader = L"X-Tessel: yes\r\n";
    HttpRequest request = RequestTo(server, L"/api?x=1", &log);
    DWORD status = 0;
    request.statusOut = &status;
    WideString text;
    request.responseText = &text;
    CHECK(client.Request(request) == 1);
    CHECK(status == 201);
    CHECK(TextBytes(text) == body);
    CHECK(log.cookies == std::vector<std::wstring>{L"first=1; path=/", L"second=2"});
    CHECK(log.numbers[HTTP_CB_CONTENT_LENGTH] == body.size());
    CHECK(log.numbers[HTTP_CB_RECEIVED] == body.size());
    CHECK(log.codes.back() == HTTP_CB_END);
    const auto requests = server.Requests();
    REQUIRE(requests.size() == 1);
    CHECK(requests[0].target == "/api?x=1");
    CHECK(requests[0].Header("X-Tessel") == "yes");

    // The memory block takes the body instead of the text.
    HttpMemoryBlock block;
    log.block = &block;
    text.Reset();
    CHECK(client.Request(request) == 1);
    CHECK(Bytes(block) == body);
    CHECK(text.IsEmpty());

    // The file sink, with a byte limit.
    log.block = nullptr;
    const std::wstring sink = folder / L"sink.bin";
    text.Assign(sink.c_str());
    log.fileSink = 1;
    request.byteLimit = 10;
    CHECK(client.Request(request) == 1);
    CHECK(ReadWholeFile(sink) == body.substr(0, 10));

    // Nothing is sent when the file sink fails, the callback refuses or the
    // service is unknown.
    REQUIRE(server.Clear());
    text.Assign(kMissingFolder);
    CHECK(client.Request(request) == 0);
    log.fileSink = 0;
    log.refuse = HTTP_CB_TOTAL_SIZE;
    CHECK(client.Request(request) == 0);
    request.service = 2;
    CHECK(client.Request(request) == 0);
    CHECK(server.Requests().empty());

    // Redirects are followed unless the callback forbids them.
    request.service = INTERNET_SERVICE_HTTP;
    request.byteLimit = 0;
    log.refuse = -1;
    ScriptedAnswer moved = Scripted(302, "", 2, "/api");
    moved.headers = {"Location: /moved"};
    REQUIRE(server.Answer(moved));
    REQUIRE(server.Answer(Scripted(200, "here", 1, "/moved")));
    text.Reset();
    CHECK(client.Request(request) == 1);
    CHECK(status == 200);
    CHECK(TextBytes(text) == "here");
    log.refuse = HTTP_CB_REDIRECT;
    CHECK(client.Request(request) == 1);
    CHECK(status == 302);
}

TEST_CASE("Request over FTP reads the file")
{
    FtpTestServer server;
    REQUIRE(server.IsRunning());
    const std::string content = EveryByte(100000);
    REQUIRE(server.PutFile("update.bin", content));
    HttpClient client;
    HttpMemoryBlock block;
    CallbackLog log;
    log.block = &block;
    HttpRequest request = RequestTo(server, L"update.bin", &log);
    request.service = INTERNET_SERVICE_FTP;
    request.user = L"tessel";
    request.password = L"secret";
    CHECK(client.Request(request) == 1);
    CHECK(Bytes(block) == content);
    request.object = L"missing.bin";
    CHECK(client.Request(request) == 0);
}

TEST_CASE_FIXTURE(Transfer, "A multipart post is byte-exact and the server reads it back")
{
    REQUIRE(server.Answer(Scripted(200, "thanks", 0)));
    const std::wstring dump = folder / L"tessel-report.dmp";
    const std::string fileBytes = EveryByte(150000);
    REQUIRE(WriteWholeFile(dump, fileBytes));

    REQUIRE(client.AddTextField(L"a", L"r"));
    REQUIRE(client.AddFileField(L"d", dump.c_str()));
    CallbackLog log;
    HttpRequest request = RequestTo(server, L"/kestrel/report.php", &log);
    request.headers = L"X-Ignored: 1\r\n";
    WideString answerText;
    request.responseText = &answerText;
    REQUIRE(client.PostMultipart(request) == 1);
    CHECK(TextBytes(answerText) == "thanks");

    const std::string line = "-------------------------------1234567890123";
    const std::string expected =
        line + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nr\r\n" + line +
        "\r\nContent-Disposition: form-data; name=\"d\"; filename=\"tessel-report.dmp\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n" +
        fileBytes + "\r\n" + line + "--\r\n";
    auto requests = server.Requests();
    REQUIRE(requests.size() == 1);
    CHECK(requests[0].method == "POST");
    CHECK(requests[0].Header("Content-Type") ==
          "multipart/form-data; boundary=-----------------------------1234567890123");
    CHECK(requests[0].Header("X-Ignored").empty());
    CHECK(requests[0].body == expected);
    CHECK(log.numbers[HTTP_CB_TOTAL_SIZE] == expected.size());
    CHECK(log.numbers[HTTP_CB_SENT] == expected.size());

    // The parts went with the post.
    REQUIRE(client.PostMultipart(request) == 1);
    requests = server.Requests();
    REQUIRE(requests.size() == 2);
    CHECK(requests[1].body == line + "--\r\n");

    // A missing file still makes a well-formed form. Texts in the ANSI code
    // page and empty ones are the problem report tests' to check.
    CHECK(client.AddFileField(L"d", L"C:\\no such folder\\missing.dmp") == 0);
    REQUIRE(client.AddTextField(L"e", L""));
    REQUIRE(client.PostMultipart(request) == 1);
    std::vector<MultipartField> fields;
    REQUIRE(server.MultipartFields(2, fields));
    REQUIRE(fields.size() == 2);
    CHECK(fields[0].filename == "missing.dmp");
    CHECK(fields[0].content.empty());
    CHECK(fields[1].name == "e");
}

// Wine's credentials dialog needs a proxy name (it crashes without one) and
// an owner window (it shows nothing without one), so the test server plays
// the proxy and a test window is in front.
TEST_CASE_FIXTURE(Transfer, "A 407 asks for proxy credentials and retries once when confirmed")
{
    ScriptedAnswer challenge = Scripted(407, "who are you?", 0);
    challenge.headers = {"Proxy-Authenticate: Basic realm=\"tessel\""};
    REQUIRE(server.Answer(challenge));
    WideString text;
    TestWindow owner(L"TesselProxyOwner", &DefWindowProcW, {0, 0, 100, 100});
    SetForegroundWindow(owner.Handle());
    const std::wstring proxy = L"127.0.0.1:" + std::to_wstring(server.Port());
    const wchar_t url[] = L"http://update.example.invalid/check";
    const std::vector<std::wstring> credentials = {L"tessel", L"secret"};
    GetTextRequest request;
    request.url = url;
    request.proxy = proxy.c_str();

    SUBCASE("cancelled: one dialog, one request")
    {
        DialogAnswerer answerer({IDCANCEL, IDCANCEL});
        CHECK(client.GetText(request, text) == 0);
        CHECK(server.Requests().size() == 1);
        CHECK(answerer.Dialogs().size() == 1);
    }
    SUBCASE("confirmed: tried once more with the credentials")
    {
        DialogAnswerer answerer({IDOK, IDOK}, credentials);
        CHECK(client.GetText(request, text) == 0);
        // WinINet itself may resend with the credentials as well.
        const auto requests = server.Requests();
        REQUIRE(requests.size() >= 2);
        const bool retriedWithCredentials =
            std::any_of(requests.begin() + 1, requests.end(), [](const auto& request) {
                return request.Header("Proxy-Authorization") == "Basic dGVzc2VsOnNlY3JldA==";
            });
        CHECK(retriedWithCredentials);
    }
    SUBCASE("Request sends once more when confirmed")
    {
        DialogAnswerer answerer({IDOK, IDOK}, credentials);
        HttpRequest request;
        request.host = L"update.example.invalid";
        request.object = L"/kestrel/report.php";
        request.proxy = proxy.c_str();
        request.ownerWindow = owner.Handle();
        request.responseText = &text;
        DWORD status = 0;
        request.statusOut = &status;
        CHECK(client.Request(request) == 1);
        CHECK(status == 407);
        CHECK(server.Requests().back().Header("Proxy-Authorization") ==
              "Basic dGVzc2VsOnNlY3JldA==");
        CHECK(answerer.Dialogs().size() == 1);
    }
}

TEST_CASE_FIXTURE(Transfer,
                  "Cancelling from another thread fails the running transfer and refuses new ones")
{
    // Wine's WinINet finishes a read that is under way even when its
    // handles are closed, so the body only dribbles, for a few seconds.
    ScriptedAnswer answer = Scripted(200, std::string(40, 's'), 0);
    answer.chunkSize = 1;
    answer.chunkDelayMs = 100;
    REQUIRE(server.Answer(answer));
    const std::wstring url = server.Url(L"/slow");
    volatile LONG result = -1;
    {
        BoundedThread transfer([&] {
            WideString text;
            InterlockedExchange(&result, GetText(client, url, text));
        });
        for (int waited = 0; server.Requests().empty() && waited < 200; ++waited)
            Sleep(50);
        REQUIRE(server.Requests().size() == 1);
        client.CancelTransfers();
    }
    CHECK(result == 0);

    WideString text;
    CHECK(GetText(client, url, text) == 0);
    CHECK(Fetch() == 0);
    CHECK_FALSE(Exists(target));
    CHECK(server.Requests().size() == 1);
    client.AllowTransfers();
    REQUIRE(server.Clear());
    REQUIRE(server.Answer(Scripted(200, "quick")));
    CHECK(GetText(client, url, text) == 1);
    CHECK(text.Compare(L"quick") == 0);
}

namespace {

// Every transfer of the client against the server, answered always; how
// many of them succeeded.
int SecureTransfers(HttpTestServer& server, const std::wstring& target)
{
    HttpClient client;
    WideString text;
    int succeeded = GetText(client, server.Url(L"/secret"), text);
    succeeded += Download(client, server.Url(L"/file"), target);
    WideString response;
    HttpRequest request = RequestTo(server, L"/secret");
    request.secure = true;
    request.responseText = &response;
    succeeded += client.Request(request);
    return succeeded;
}

} // namespace

// The fixture's own server plays the plain one that a redirect leads to.
TEST_CASE_FIXTURE(Transfer, "HTTPS: only a trusted certificate for this host and time carries a "
                            "transfer, and what a redirect brings over plain HTTP is not taken")
{
    HttpTestServer* secure = SharedHttpsServer();
    REQUIRE_MESSAGE(secure, "no https test server, or its CA could not be trusted");
    REQUIRE(secure->Clear());
    REQUIRE(secure->Answer(Scripted(200, "over tls", 0)));
    CHECK(SecureTransfers(*secure, target) == 3);
    CHECK(ReadWholeFile(target) == "over tls");
    CHECK(secure->Requests().size() == 3);

    // The request reaches the server only after the certificate was
    // accepted, so nothing at all arrives here for the others.
    for (const char* certificate : {TestCertificate::kSelfSigned, TestCertificate::kUnknownCa,
                                    TestCertificate::kWrongName, TestCertificate::kExpired}) {
        CAPTURE(certificate);
        REQUIRE(secure->Clear());
        REQUIRE(secure->Present(certificate));
        REQUIRE(secure->Answer(Scripted(200, "over tls", 0)));
        REQUIRE(WriteWholeFile(target, "previous version"));
        CHECK(SecureTransfers(*secure, target) == 0);
        CHECK(ReadWholeFile(target) == "previous version");
        CHECK(secure->Requests().empty());
    }

    REQUIRE(server.Answer(Scripted(200, "in the clear", 0)));
    REQUIRE(secure->Clear());
    ScriptedAnswer redirect = Scripted(302, "", 0);
    redirect.headers.push_back("Location: " + Narrow(server.Url(L"/secret")));
    REQUIRE(secure->Answer(redirect));
    REQUIRE(DeleteFileW(target.c_str()));
    WideString text;
    CHECK(GetText(client, secure->Url(L"/secret"), text) == 0);
    CHECK(text.IsEmpty());
    CHECK(Download(client, secure->Url(L"/file"), target) == 0);
    CHECK_FALSE(Exists(target));
    REQUIRE(secure->Clear());
}
