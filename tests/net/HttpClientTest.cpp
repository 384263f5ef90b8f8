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

const DWORD kNoTimeout = static_cast<DWORD>(-1);
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
            access->addHeaders(access->request, extraHeader, kNoTimeout, HTTP_ADDREQ_FLAG_ADD);
        }
    }
};

int Download(HttpClient& client, HttpTestServer& server, const std::wstring& target,
             CallbackLog* log = nullptr, ULONGLONG limit = 0, DWORD* status = nullptr)
{
    DownloadOptions options;
    options.agent = L"AutoUpdate";
    options.byteLimit = limit;
    options.callback = log ? &CallbackLog::Callback : nullptr;
    options.userValue = log;
    options.headers = L"Accept: */*\r\n\r\n";
    options.statusOut = status;
    return client.DownloadToFile(server.Url(L"/file").c_str(), target.c_str(), options);
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

TEST_CASE_FIXTURE(Transfer, "Empty, missing and unreachable answers")
{
    WideString text(L"stale");

    SUBCASE("a 200 with an empty body")
    {
        REQUIRE(server.Answer(Scripted(200, "", 0)));
        CHECK(GetText(client, server.Url(L"/"), text) == 0);
        CHECK(text.IsEmpty());
        CHECK(Download(client, server, target) == 0);
        CHECK_FALSE(Exists(target));
        HttpRequest request = RequestTo(server, L"/empty");
        request.responseText = &text;
        CHECK(client.Request(request) == 1);
    }
    SUBCASE("a 404 creates no file and leaves an existing one alone")
    {
        REQUIRE(server.Answer(Scripted(404, "not here", 0)));
        CHECK(GetText(client, server.Url(L"/"), text) == 0);
        CHECK(text.IsEmpty());
        DWORD status = 0;
        CHECK(Download(client, server, target, nullptr, 0, &status) == 0);
        CHECK(status == 404);
        CHECK_FALSE(Exists(target));
        REQUIRE(WriteWholeFile(target, "previous version"));
        CHECK(Download(client, server, target, nullptr, 0, &status) == 0);
        CHECK(ReadWholeFile(target) == "previous version");
    }
    SUBCASE("nobody listening")
    {
        DownloadOptions options;
        options.headerLength = 0;
        options.connectTimeout = 2000;
        CHECK(client.DownloadToFile(L"http://127.0.0.1:1/file", target.c_str(), options) == 0);
        CHECK_FALSE(Exists(target));
        CHECK(GetText(client, L"http://127.0.0.1:1/", text) == 0);
    }
}

TEST_CASE_FIXTURE(Transfer, "GetText: a large body arrives whole, byte for byte, or up to a limit")
{
    const std::string body = EveryByte(200 * 1024);
    REQUIRE(server.Answer(Scripted(200, body, 0)));
    WideString text;

    REQUIRE(GetText(client, server.Url(L"/"), text) == 1);
    REQUIRE(text.Length() == body.size());
    size_t widenedAsIs = 0;
    for (size_t i = 0; i < body.size(); ++i) {
        widenedAsIs += text.Data()[i] == static_cast<unsigned char>(body[i]);
    }
    CHECK(widenedAsIs == body.size());
    REQUIRE(GetText(client, server.Url(L"/"), text, 10) == 1);
    CHECK(LowBytes(text.Data(), text.Length()) == body.substr(0, 10));
}

TEST_CASE_FIXTURE(Transfer, "DownloadToFile keeps only complete files")
{
    const std::string body = EveryByte(50000);
    ScriptedAnswer answer = Scripted(200, body);
    CallbackLog log;
    log.download = true;

    SUBCASE("the whole body, in slow chunks or with no announced length")
    {
        ScriptedAnswer slow = answer;
        slow.chunkSize = 7000;
        slow.chunkDelayMs = 20;
        ScriptedAnswer unannounced = answer;
        unannounced.length = ScriptedAnswer::kNoLength;
        for (const ScriptedAnswer& whole : {slow, unannounced}) {
            REQUIRE(server.Answer(whole));
            CHECK(Download(client, server, target) == 1);
            CHECK(ReadWholeFile(target) == body);
        }
    }
    SUBCASE("a reset in the middle, or an end before the announced length, fails GetText and "
            "leaves no file")
    {
        // The pause lets the client take the headers and the first bytes
        // before the reset, which discards whatever it has not read.
        ScriptedAnswer reset = answer;
        reset.resetAfter = reset.chunkSize = 20000;
        reset.chunkDelayMs = 300;
        ScriptedAnswer endsEarly = answer;
        endsEarly.length = 90000;
        for (ScriptedAnswer cut : {reset, endsEarly}) {
            CAPTURE(cut.length);
            cut.times = 2;
            REQUIRE(server.Answer(cut));
            WideString text;
            CHECK(GetText(client, server.Url(L"/"), text) == 0);
            CHECK(text.IsEmpty());
            CHECK(Download(client, server, target) == 0);
            CHECK_FALSE(Exists(target));
        }
    }
    SUBCASE("an answer longer than the byte limit is not taken for the whole")
    {
        answer.times = 2;
        REQUIRE(server.Answer(answer));
        CHECK(Download(client, server, target, nullptr, 1000) == 0);
        CHECK(Download(client, server, target, nullptr, 50000) == 1);
        CHECK(ReadWholeFile(target) == body);
        answer.length = ScriptedAnswer::kNoLength;
        REQUIRE(server.Answer(answer));
        CHECK(Download(client, server, target, nullptr, 1000) == 0);
        CHECK_FALSE(Exists(target));
    }
    SUBCASE("the callback sees the headers, renames the target, may keep a partial file")
    {
        const std::wstring renamed = folder / L"renamed.bin";
        answer.headers = {"Content-Disposition: attachment; filename=\"Tessel.exe\"",
                          "Content-Type: application/x-msdownload"};
        REQUIRE(server.Answer(answer));
        log.renameTo = renamed;
        CHECK(Download(client, server, target, &log) == 1);
        CHECK(log.texts[DOWNLOAD_CB_DISPOSITION] == L"attachment; filename=\"Tessel.exe\"");
        CHECK(log.texts[DOWNLOAD_CB_CONTENT_TYPE] == L"application/x-msdownload");
        CHECK(log.texts[DOWNLOAD_CB_FINAL_URL] == server.Url(L"/file"));
        CHECK(log.numbers[DOWNLOAD_CB_LENGTH] == body.size());
        CHECK(log.numbers[DOWNLOAD_CB_WRITTEN] == body.size());
        CHECK(log.codes.back() == DOWNLOAD_CB_DONE);
        CHECK_FALSE(Exists(target));
        CHECK(ReadWholeFile(renamed) == body);

        answer.headers.clear();
        answer.length = 90000;
        REQUIRE(server.Answer(answer));
        log.renameTo.clear();
        log.keepPartialFile = 1;
        CHECK(Download(client, server, target, &log) == 0);
        CHECK(log.codes.back() == DOWNLOAD_CB_FAILED);
        CHECK(ReadWholeFile(target) == body);
    }
    SUBCASE("a callback that stops the transfer fails it and the file goes")
    {
        REQUIRE(server.Answer(answer));
        log.refuse = DOWNLOAD_CB_WRITTEN;
        CHECK(Download(client, server, target, &log) == 0);
        CHECK_FALSE(Exists(target));
    }
    SUBCASE("a header value longer than its buffer counts as absent")
    {
        answer.headers = {"Content-Disposition: attachment; filename=\"" + std::string(3000, 'n') +
                              "\"",
                          "Content-Type: application/" + std::string(3000, 't')};
        REQUIRE(server.Answer(answer));
        CHECK(Download(client, server, target, &log) == 1);
        CHECK(log.texts.count(DOWNLOAD_CB_DISPOSITION) == 0);
        CHECK(log.texts.count(DOWNLOAD_CB_CONTENT_TYPE) == 0);
        CHECK(ReadWholeFile(target) == body);
    }
    SUBCASE("resuming appends to the file")
    {
        REQUIRE(WriteWholeFile(target, "head:"));
        answer.status = 206;
        REQUIRE(server.Answer(answer));
        log.resume = 1;
        CHECK(Download(client, server, target, &log) == 1);
        CHECK(ReadWholeFile(target) == "head:" + body);
    }
    SUBCASE("a target that cannot be created")
    {
        REQUIRE(server.Answer(answer));
        DWORD status = 0;
        CHECK(Download(client, server, kMissingFolder, nullptr, 0, &status) == 0);
        CHECK(status == HTTP_STATUS_FILE_ERROR);
    }
}

TEST_CASE_FIXTURE(Transfer, "Request: sinks, cookies, headers, status and the callback's veto")
{
    const std::string body = EveryByte(70000);
    ScriptedAnswer answer = Scripted(201, body);
    answer.headers = {"Set-Cookie: first=1; path=/", "Set-Cookie: second=2"};
    REQUIRE(server.Answer(answer));
    CallbackLog log;
    HttpRequest request = RequestTo(server, L"/api?x=1", &log);
    DWORD status = 0;
    request.statusOut = &status;
    WideString text;
    request.responseText = &text;

    SUBCASE("the response text")
    {
        log.extraHeader = L"X-Tessel: yes\r\n";
        CHECK(client.Request(request) == 1);
        CHECK(status == 201);
        CHECK(LowBytes(text.Data(), text.Length()) == body);
        CHECK(log.cookies == std::vector<std::wstring>{L"first=1; path=/", L"second=2"});
        CHECK(log.numbers[HTTP_CB_CONTENT_LENGTH] == body.size());
        CHECK(log.numbers[HTTP_CB_RECEIVED] == body.size());
        CHECK(log.codes.back() == HTTP_CB_END);
        const auto requests = server.Requests();
        REQUIRE(requests.size() == 1);
        CHECK(requests[0].target == "/api?x=1");
        CHECK(requests[0].Header("X-Tessel") == "yes");
    }
    SUBCASE("the memory block")
    {
        HttpMemoryBlock block;
        log.block = &block;
        CHECK(client.Request(request) == 1);
        CHECK(Bytes(block) == body);
        CHECK(text.IsEmpty());
    }
    SUBCASE("the file, with a byte limit")
    {
        const std::wstring sink = folder / L"sink.bin";
        text.Assign(sink.c_str());
        log.fileSink = 1;
        request.byteLimit = 10;
        CHECK(client.Request(request) == 1);
        CHECK(ReadWholeFile(sink) == body.substr(0, 10));
    }
    SUBCASE("redirects are followed unless the callback forbids them")
    {
        REQUIRE(server.Clear());
        ScriptedAnswer moved = Scripted(302, "", 2, "/api");
        moved.headers = {"Location: /moved"};
        REQUIRE(server.Answer(moved));
        REQUIRE(server.Answer(Scripted(200, "here", 1, "/moved")));
        CHECK(client.Request(request) == 1);
        CHECK(status == 200);
        CHECK(LowBytes(text.Data(), text.Length()) == "here");
        log.refuse = HTTP_CB_REDIRECT;
        CHECK(client.Request(request) == 1);
        CHECK(status == 302);
    }
    SUBCASE("nothing is sent when the file sink fails, the callback refuses or the service is "
            "unknown")
    {
        text.Assign(kMissingFolder);
        log.fileSink = 1;
        CHECK(client.Request(request) == 0);
        log.fileSink = 0;
        log.refuse = HTTP_CB_TOTAL_SIZE;
        CHECK(client.Request(request) == 0);
        request.service = 2;
        CHECK(client.Request(request) == 0);
        CHECK(server.Requests().empty());
    }
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
    CHECK(LowBytes(answerText.Data(), answerText.Length()) == "thanks");

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
    CHECK(requests[0].Header("Content-Length") == std::to_string(expected.size()));
    CHECK(requests[0].body == expected);
    CHECK(log.numbers[HTTP_CB_TOTAL_SIZE] == expected.size());
    CHECK(log.numbers[HTTP_CB_SENT] == expected.size());

    // The parts went with the post.
    REQUIRE(client.PostMultipart(request) == 1);
    requests = server.Requests();
    REQUIRE(requests.size() == 2);
    CHECK(requests[1].body == line + "--\r\n");

    // A missing file and non-ASCII text still make a well-formed form.
    const wchar_t description[] = L"caf\x00E9 \x20AC";
    REQUIRE(client.AddTextField(L"x", description));
    CHECK(client.AddFileField(L"d", L"C:\\no such folder\\missing.dmp") == 0);
    REQUIRE(client.AddTextField(L"e", L""));
    REQUIRE(client.PostMultipart(request) == 1);
    std::vector<MultipartField> fields;
    REQUIRE(server.MultipartFields(2, fields));
    REQUIRE(fields.size() == 3);
    CHECK(fields[0].content == Narrow(description));
    CHECK(fields[1].filename == "missing.dmp");
    CHECK(fields[1].content.empty());
    CHECK(fields[2].name == "e");
    CHECK(fields[2].content.empty());
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
    CHECK(Download(client, server, target) == 0);
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
    succeeded += Download(client, server, target);
    WideString response;
    HttpRequest request = RequestTo(server, L"/secret");
    request.secure = true;
    request.responseText = &response;
    succeeded += client.Request(request);
    return succeeded;
}

} // namespace

TEST_CASE("HTTPS: only a trusted certificate for this host and time carries a transfer, and "
          "what a redirect brings over plain HTTP is not taken")
{
    HttpTestServer* server = SharedHttpsServer();
    REQUIRE_MESSAGE(server, "no https test server, or its CA could not be trusted");
    REQUIRE(server->Clear());
    TempFolder folder{L"tessel-http"};
    const std::wstring target = folder / L"download.bin";
    REQUIRE(server->Answer(Scripted(200, "over tls", 0)));

    CHECK(SecureTransfers(*server, target) == 3);
    CHECK(ReadWholeFile(target) == "over tls");
    CHECK(server->Requests().size() == 3);

    // The request reaches the server only after the certificate was
    // accepted, so nothing at all arrives here for the others.
    for (const char* certificate : {TestCertificate::kSelfSigned, TestCertificate::kUnknownCa,
                                    TestCertificate::kWrongName, TestCertificate::kExpired}) {
        CAPTURE(certificate);
        REQUIRE(server->Clear());
        REQUIRE(server->Present(certificate));
        REQUIRE(server->Answer(Scripted(200, "over tls", 0)));
        REQUIRE(WriteWholeFile(target, "previous version"));
        CHECK(SecureTransfers(*server, target) == 0);
        CHECK(ReadWholeFile(target) == "previous version");
        CHECK(server->Requests().empty());
    }

    HttpTestServer plain;
    REQUIRE(plain.IsRunning());
    REQUIRE(plain.Answer(Scripted(200, "in the clear", 0)));
    REQUIRE(server->Clear());
    ScriptedAnswer redirect = Scripted(302, "", 0);
    redirect.headers.push_back("Location: " + Narrow(plain.Url(L"/secret")));
    REQUIRE(server->Answer(redirect));
    REQUIRE(DeleteFileW(target.c_str()));
    HttpClient client;
    WideString text;
    CHECK(GetText(client, server->Url(L"/secret"), text) == 0);
    CHECK(text.IsEmpty());
    CHECK(Download(client, *server, target) == 0);
    CHECK_FALSE(Exists(target));
    REQUIRE(server->Clear());
}
