#include <doctest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "HttpTestServer.h"
#include "update/HttpClient.h"

namespace {

const char kPartLine[] = "-------------------------------1234567890123";

std::wstring TempPath(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadFileBytes(const std::wstring& path)
{
    std::string bytes;
    FileObject file;
    if (file.Open(path.c_str(), FILE_MODE_READ)) {
        bytes.resize(static_cast<size_t>(file.GetSize()));
        DWORD read = 0;
        if (!bytes.empty()) {
            ReadFile(file.Handle(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
        }
        bytes.resize(read);
    }
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    FileObject file;
    REQUIRE(file.Open(path.c_str(), FILE_MODE_CREATE));
    REQUIRE(file.Write(static_cast<DWORD>(bytes.size()), bytes.data()));
}

// A download target that is removed again, also when a check fails.
class TempFile
{
public:
    explicit TempFile(const wchar_t* name) : path_(TempPath(name)) { DeleteFileW(path_.c_str()); }
    ~TempFile() { DeleteFileW(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const wchar_t* Path() const { return path_.c_str(); }
    bool Exists() const { return FileExists(path_); }
    std::string Bytes() const { return ReadFileBytes(path_); }

private:
    std::wstring path_;
};

std::string EveryByte(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i * 7 % 256);
    }
    return bytes;
}

std::string Narrow(const WideString& text)
{
    std::string bytes;
    for (unsigned i = 0; i < text.Length(); ++i) {
        bytes += static_cast<char>(text.Data()[i] & 0xFF);
    }
    return bytes;
}

ScriptedAnswer Answer(int status, const std::string& body)
{
    ScriptedAnswer answer;
    answer.status = status;
    answer.body = body;
    return answer;
}

int Download(HttpClient& client, HttpTestServer& server, const TempFile& target,
             DWORD* status = nullptr, HttpCallback callback = nullptr, void* user = nullptr,
             ULONGLONG limit = 0)
{
    return client.DownloadToFile(server.Url(L"/file").c_str(), L"AutoUpdate", target.Path(), limit,
                                 callback, user, L"Accept: */*\r\n\r\n", static_cast<DWORD>(-1),
                                 status, static_cast<DWORD>(-1), 0, nullptr);
}

HttpRequest RequestTo(HttpTestServer& server, const wchar_t* object)
{
    HttpRequest request;
    request.host = L"127.0.0.1";
    request.object = object;
    request.port = server.Port();
    request.verb = L"GET";
    return request;
}

// Records what the transfers offer; answers 1 unless told otherwise.
struct CallbackLog
{
    std::vector<int> codes;
    std::map<int, ULONGLONG> numbers;
    std::map<int, std::wstring> texts;
    std::vector<std::wstring> cookies;
    int refuse = -1;         // code answered with 0
    std::wstring renameTo;   // download codes 0 and 1 change the target to it
    int keepPartialFile = 0; // download code 3 clears the delete flag
    int fileSink = 0;        // request code 10
    HttpMemoryBlock* block = nullptr;
    const wchar_t* extraHeader = nullptr;
    bool download = false;

    int Offer(int code, void* argument)
    {
        codes.push_back(code);
        if (download) {
            OfferDownload(code, argument);
        } else {
            OfferRequest(code, argument);
        }
        return code == refuse ? 0 : 1;
    }

    void OfferDownload(int code, void* argument)
    {
        if (code == DOWNLOAD_CB_DISPOSITION || code == DOWNLOAD_CB_CONTENT_TYPE) {
            DownloadHeaderOffer* offer = static_cast<DownloadHeaderOffer*>(argument);
            texts[code] = offer->header;
            if (!renameTo.empty()) {
                offer->targetPath->Assign(renameTo.c_str());
            }
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
        switch (code) {
        case HTTP_CB_TOTAL_SIZE:
        case HTTP_CB_SENT:
        case HTTP_CB_CONTENT_LENGTH:
        case HTTP_CB_RECEIVED:
            numbers[code] = *static_cast<ULONGLONG*>(argument);
            break;
        case HTTP_CB_SET_COOKIE:
            cookies.push_back(static_cast<const wchar_t*>(argument));
            break;
        case HTTP_CB_FILE_SINK:
            *static_cast<int*>(argument) = fileSink;
            break;
        case HTTP_CB_MEMORY_SINK:
            *static_cast<HttpMemoryBlock**>(argument) = block;
            break;
        case HTTP_CB_ADD_HEADERS:
            if (extraHeader) {
                HttpHeaderAccess* access = static_cast<HttpHeaderAccess*>(argument);
                access->addHeaders(access->request, extraHeader, static_cast<DWORD>(-1),
                                   HTTP_ADDREQ_FLAG_ADD);
            }
            break;
        default:
            break;
        }
    }
};

int LogCallback(int code, void* argument, void* user)
{
    return static_cast<CallbackLog*>(user)->Offer(code, argument);
}

} // namespace

TEST_CASE("Transfer decisions: flags, chunk sizes, rate limit, file names")
{
    CHECK(IsSecureUrl(L"HTTPS://example.com/") == 1);
    CHECK(IsSecureUrl(L"https:/") == 0);
    CHECK(IsSecureUrl(L"http://example.com/") == 0);
    CHECK(GetTextFlags(L"HTTPS://example.com/", 0) == 0x84880B00);
    CHECK(GetTextFlags(L"http://example.com/", 0) == 0x84080B00);
    CHECK(GetTextFlags(L"http://example.com/", 1) == 0x84000B00);
    CHECK(DownloadFlags(0) == 0x8408CB00);
    CHECK(DownloadFlags(1) == 0x8400CB00);
    CHECK(RequestFlags(1, 1, 80) == 0x84000300);
    CHECK(RequestFlags(0, 0, 443) == 0x84A80300);

    CHECK(TextChunkSize(0, 123) == 65537);
    CHECK(TextChunkSize(10, 0) == 10);
    CHECK(TextChunkSize(65536, 0) == 65536);
    CHECK(TextChunkSize(65537, 0) == 65537);
    CHECK(TextChunkSize(200000, 199999) == 1);
    CHECK(DownloadChunkSize(0, 5000) == 1024);
    CHECK(DownloadChunkSize(5000, 4500) == 500);
    CHECK(DownloadChunkSize(5000, 0) == 1024);

    CHECK(RateLimitSleep(2048, 0, 0) == 0);
    CHECK(RateLimitSleep(2048, 1, 0) == 2000);
    CHECK(RateLimitSleep(2048, 1, 1500) == 500);
    CHECK(RateLimitSleep(2048, 1, 5000) == 0);
    CHECK(RateLimitSleep(65536, 1, 0) == 64000);
    CHECK(RateLimitSleep(1ULL << 40, 1, 0) == INFINITE - 1);

    CHECK(wcscmp(FileNameOfPath(L"C:\\a/b\\report.txt"), L"report.txt") == 0);
    CHECK(wcscmp(FileNameOfPath(L"plain"), L"plain") == 0);
    CHECK(wcscmp(FileNameOfPath(L"folder\\"), L"") == 0);

    CHECK(DownloadComplete(0, 0, 1, 100, 100) == 1);
    CHECK(DownloadComplete(0, 0, 1, 100, 99) == 0);
    CHECK(DownloadComplete(0, 0, 0, 0, 5) == 1);
    CHECK(DownloadComplete(1, 0, 0, 0, 5) == 0);
    CHECK(DownloadComplete(0, 1, 0, 0, 5) == 0);

    WideString text(L"x");
    const BYTE bytes[] = {0x00, 0x7F, 0x80, 0xFF};
    REQUIRE(AppendBytesWidened(text, bytes, 4));
    CHECK(text.Length() == 5);
    CHECK(text.Data()[1] == 0);
    CHECK(text.Data()[3] == 0x80);
    CHECK(text.Data()[4] == 0xFF);
}

TEST_CASE("Acquire and Release nest; the library goes with the last Release")
{
    HttpClient client;
    CHECK(client.Release() == 0);
    REQUIRE(client.Acquire());
    REQUIRE(client.Acquire());
    CHECK(GetModuleHandleW(L"wininet.dll") != nullptr);
    CHECK(client.Release() == 1);
    CHECK(GetModuleHandleW(L"wininet.dll") != nullptr);
    CHECK(client.Release() == 1);
    CHECK(client.Release() == 0);
}

TEST_CASE("Empty and missing answers")
{
    HttpTestServer server;
    REQUIRE(server.IsRunning());
    HttpClient client;
    TempFile target(L"tessel-empty.bin");
    WideString text(L"stale");

    SUBCASE("a 200 with an empty body")
    {
        ScriptedAnswer answer = Answer(200, "");
        answer.times = 0;
        REQUIRE(server.Answer(answer));
        CHECK(client.GetText(server.Url(L"/").c_str(), L"AutoUpdate", text, 0, nullptr, nullptr,
                             nullptr) == 0);
        CHECK(text.IsEmpty());
        CHECK(Download(client, server, target) == 0);
        CHECK_FALSE(target.Exists());
        HttpRequest request = RequestTo(server, L"/empty");
        WideString body;
        request.responseText = &body;
        CHECK(client.Request(request) == 1);
        CHECK(body.IsEmpty());
    }
    SUBCASE("a 404")
    {
        ScriptedAnswer answer = Answer(404, "not here");
        answer.times = 0;
        REQUIRE(server.Answer(answer));
        CHECK(client.GetText(server.Url(L"/").c_str(), L"AutoUpdate", text, 0, nullptr, nullptr,
                             nullptr) == 0);
        CHECK(text.IsEmpty());
        DWORD status = 0;
        CHECK(Download(client, server, target, &status) == 0);
        CHECK(status == 404);
        CHECK_FALSE(target.Exists());

        WriteFileBytes(target.Path(), "previous version");
        CHECK(Download(client, server, target, &status) == 0);
        CHECK(target.Bytes() == "previous version");
    }
    SUBCASE("no server at all")
    {
        DWORD status = 0;
        CHECK(client.DownloadToFile(L"http://127.0.0.1:1/file", nullptr, target.Path(), 0, nullptr,
                                    nullptr, nullptr, 0, &status, 2000, 0, nullptr) == 0);
        CHECK_FALSE(target.Exists());
        CHECK(client.GetText(L"http://127.0.0.1:1/", nullptr, text, 0, nullptr, nullptr, nullptr) ==
              0);
    }
}

TEST_CASE("GetText: a large body arrives whole, byte for byte")
{
    HttpTestServer server;
    REQUIRE(server.IsRunning());
    const std::string body = EveryByte(200 * 1024);
    ScriptedAnswer answer = Answer(200, body);
    answer.times = 0;
    answer.headers = {"Content-Type: text/xml"};
    REQUIRE(server.Answer(answer));
    HttpClient client;
    WideString text;

    REQUIRE(client.GetText(server.Url(L"/check?v=1").c_str(), L"AutoUpdate", text, 0, L"", nullptr,
                           nullptr) == 1);
    CHECK(text.Length() == body.size());
    CHECK(Narrow(text) == body);
    CHECK(text.Data()[0x80 * 183 % 256] == static_cast<wchar_t>(body[0x80 * 183 % 256] & 0xFF));

    SUBCASE("a byte limit of 10 gives the first 10 bytes")
    {
        REQUIRE(client.GetText(server.Url(L"/").c_str(), L"AutoUpdate", text, 10, nullptr, nullptr,
                               nullptr) == 1);
        CHECK(Narrow(text) == body.substr(0, 10));
    }
    SUBCASE("the request is a plain GET with the agent and no cookies")
    {
        const auto requests = server.Requests();
        REQUIRE(requests.size() == 1);
        CHECK(requests[0].method == "GET");
        CHECK(requests[0].target == "/check?v=1");
        CHECK(requests[0].Header("User-Agent") == "AutoUpdate");
        CHECK(requests[0].Header("Accept") == "*/*");
    }
}

TEST_CASE("DownloadToFile keeps only complete files")
{
    HttpTestServer server;
    REQUIRE(server.IsRunning());
    HttpClient client;
    TempFile target(L"tessel-download.bin");
    const std::string body = EveryByte(50000);
    ScriptedAnswer answer = Answer(200, body);

    SUBCASE("the whole body, in slow chunks")
    {
        answer.chunkSize = 7000;
        answer.chunkDelayMs = 20;
        REQUIRE(server.Answer(answer));
        CHECK(Download(client, server, target) == 1);
        CHECK(target.Bytes() == body);
    }
    SUBCASE("no announced length and a clean end")
    {
        answer.length = ScriptedAnswer::kNoLength;
        REQUIRE(server.Answer(answer));
        CHECK(Download(client, server, target) == 1);
        CHECK(target.Bytes() == body);
    }
    SUBCASE("a reset in the middle leaves no file")
    {
        answer.resetAfter = 20000;
        REQUIRE(server.Answer(answer));
        CHECK(Download(client, server, target) == 0);
        CHECK_FALSE(target.Exists());
    }
    SUBCASE("an answer that ends before its announced length leaves no file")
    {
        answer.length = 90000;
        REQUIRE(server.Answer(answer));
        CHECK(Download(client, server, target) == 0);
        CHECK_FALSE(target.Exists());
    }
    SUBCASE("an answer longer than the byte limit is not taken for the whole")
    {
        answer.times = 2;
        REQUIRE(server.Answer(answer));
        CHECK(Download(client, server, target, nullptr, nullptr, nullptr, 1000) == 0);
        CHECK_FALSE(target.Exists());
        answer.length = ScriptedAnswer::kNoLength;
        answer.times = 1;
        REQUIRE(server.Answer(answer));
        CHECK(Download(client, server, target, nullptr, nullptr, nullptr, 1000) == 0);
        CHECK_FALSE(target.Exists());
        CHECK(Download(client, server, target, nullptr, nullptr, nullptr, 50000) == 1);
        CHECK(target.Bytes() == body);
    }
    SUBCASE("the callback sees the headers, renames the target and may keep a partial file")
    {
        TempFile renamed(L"tessel-renamed.bin");
        answer.headers = {"Content-Disposition: attachment; filename=\"Tessel.exe\"",
                          "Content-Type: application/x-msdownload"};
        REQUIRE(server.Answer(answer));
        CallbackLog log;
        log.download = true;
        log.renameTo = renamed.Path();
        CHECK(Download(client, server, target, nullptr, &LogCallback, &log) == 1);
        CHECK(log.texts[DOWNLOAD_CB_DISPOSITION] == L"attachment; filename=\"Tessel.exe\"");
        CHECK(log.texts[DOWNLOAD_CB_CONTENT_TYPE] == L"application/x-msdownload");
        CHECK(log.texts[DOWNLOAD_CB_FINAL_URL] == server.Url(L"/file"));
        CHECK(log.numbers[DOWNLOAD_CB_LENGTH] == body.size());
        CHECK(log.numbers[DOWNLOAD_CB_WRITTEN] == body.size());
        CHECK(log.codes.front() == DOWNLOAD_CB_COOKIES);
        CHECK(log.codes.back() == DOWNLOAD_CB_DONE);
        CHECK_FALSE(target.Exists());
        CHECK(renamed.Bytes() == body);

        answer.headers.clear();
        answer.resetAfter = 3000;
        REQUIRE(server.Answer(answer));
        log.renameTo.clear();
        log.keepPartialFile = 1;
        log.codes.clear();
        CHECK(Download(client, server, target, nullptr, &LogCallback, &log) == 0);
        CHECK(log.codes.back() == DOWNLOAD_CB_FAILED);
        CHECK(target.Exists());
    }
    SUBCASE("a callback that stops the transfer fails it and the file goes")
    {
        REQUIRE(server.Answer(answer));
        CallbackLog log;
        log.download = true;
        log.refuse = DOWNLOAD_CB_WRITTEN;
        CHECK(Download(client, server, target, nullptr, &LogCallback, &log) == 0);
        CHECK_FALSE(target.Exists());
    }
    SUBCASE("a header value longer than any buffer fails the transfer")
    {
        answer.headers = {"Content-Disposition: attachment; filename=\"" + std::string(3000, 'n') +
                          "\""};
        REQUIRE(server.Answer(answer));
        CHECK(Download(client, server, target) == 0);
        CHECK_FALSE(target.Exists());
    }
    SUBCASE("resuming appends to the file")
    {
        WriteFileBytes(target.Path(), "head:");
        answer.status = 206;
        REQUIRE(server.Answer(answer));
        CallbackLog log;
        log.download = true;
        struct Resume
        {
            static int Callback(int code, void* argument, void*)
            {
                if (code == DOWNLOAD_CB_RESUME) {
                    *static_cast<int*>(argument) = 1;
                }
                return 1;
            }
        };
        CHECK(Download(client, server, target, nullptr, &Resume::Callback, nullptr) == 1);
        CHECK(target.Bytes() == "head:" + body);
    }
}

TEST_CASE("Request: sinks, cookies, headers, status and the callback's veto")
{
    HttpTestServer server;
    REQUIRE(server.IsRunning());
    HttpClient client;
    const std::string body = EveryByte(70000);
    ScriptedAnswer answer = Answer(201, body);
    answer.headers = {"Set-Cookie: first=1; path=/", "Set-Cookie: second=2"};
    REQUIRE(server.Answer(answer));
    CallbackLog log;
    HttpRequest request = RequestTo(server, L"/api?x=1");
    request.callback = &LogCallback;
    request.userValue = &log;
    DWORD status = 0;
    request.statusOut = &status;
    WideString text;
    request.responseText = &text;

    SUBCASE("the response text")
    {
        log.extraHeader = L"X-Tessel: yes\r\n";
        CHECK(client.Request(request) == 1);
        CHECK(status == 201);
        CHECK(Narrow(text) == body);
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
        CHECK(std::string(reinterpret_cast<const char*>(block.Data()),
                          static_cast<size_t>(block.Size())) == body);
        CHECK(text.IsEmpty());
    }
    SUBCASE("the file, with a byte limit")
    {
        TempFile sink(L"tessel-sink.bin");
        text.Assign(sink.Path());
        log.fileSink = 1;
        request.byteLimit = 10;
        CHECK(client.Request(request) == 1);
        CHECK(sink.Bytes() == body.substr(0, 10));
    }
    SUBCASE("a refused total size sends nothing")
    {
        log.refuse = HTTP_CB_TOTAL_SIZE;
        CHECK(client.Request(request) == 0);
        CHECK(server.Requests().empty());
    }
    SUBCASE("a long cookie arrives whole")
    {
        // Wine's WinINet cuts header lines at about 4 KB, below the buffer.
        REQUIRE(server.Clear());
        answer.headers = {"Set-Cookie: big=" + std::string(4000, 'c')};
        REQUIRE(server.Answer(answer));
        CHECK(client.Request(request) == 1);
        REQUIRE(log.cookies.size() == 1);
        CHECK(log.cookies[0] == L"big=" + std::wstring(4000, L'c'));
    }
    SUBCASE("an unknown service opens nothing")
    {
        request.service = 2;
        CHECK(client.Request(request) == 0);
        CHECK(log.codes.empty());
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
    HttpRequest request;
    request.host = L"127.0.0.1";
    request.port = server.Port();
    request.service = INTERNET_SERVICE_FTP;
    request.object = L"update.bin";
    request.user = L"tessel";
    request.password = L"secret";
    request.callback = &LogCallback;
    request.userValue = &log;
    CHECK(client.Request(request) == 1);
    CHECK(std::string(reinterpret_cast<const char*>(block.Data()),
                      static_cast<size_t>(block.Size())) == content);

    request.object = L"missing.bin";
    CHECK(client.Request(request) == 0);
}

TEST_CASE("A multipart post is byte-exact and the server reads it back")
{
    HttpTestServer server;
    REQUIRE(server.IsRunning());
    REQUIRE(server.Answer(Answer(200, "thanks")));
    TempFile dump(L"tessel-report.dmp");
    const std::string fileBytes = EveryByte(150000);
    WriteFileBytes(dump.Path(), fileBytes);

    HttpClient client;
    REQUIRE(client.AddTextField(L"a", L"r"));
    REQUIRE(client.AddFileField(L"d", dump.Path()));
    CallbackLog log;
    HttpRequest request = RequestTo(server, L"/kestrel/report.php");
    request.verb = L"PUT";
    request.headers = L"X-Ignored: 1\r\n";
    request.callback = &LogCallback;
    request.userValue = &log;
    WideString answerText;
    request.responseText = &answerText;
    REQUIRE(client.PostMultipart(request) == 1);
    CHECK(Narrow(answerText) == "thanks");

    const std::string line = kPartLine;
    const std::string expected =
        line + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nr\r\n" + line +
        "\r\nContent-Disposition: form-data; name=\"d\"; filename=\"tessel-report.dmp\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n" +
        fileBytes + "\r\n" + line + "--\r\n";
    const auto requests = server.Requests();
    REQUIRE(requests.size() == 1);
    CHECK(requests[0].method == "POST");
    CHECK(requests[0].Header("Content-Type") ==
          "multipart/form-data; boundary=-----------------------------1234567890123");
    CHECK(requests[0].Header("X-Ignored").empty());
    CHECK(requests[0].Header("Content-Length") == std::to_string(expected.size()));
    CHECK(requests[0].body.size() == expected.size());
    CHECK(requests[0].body == expected);
    CHECK(log.numbers[HTTP_CB_TOTAL_SIZE] == expected.size());
    CHECK(log.numbers[HTTP_CB_SENT] == expected.size());

    std::vector<MultipartField> fields;
    REQUIRE(server.MultipartFields(0, fields));
    REQUIRE(fields.size() == 2);
    CHECK(fields[0].name == "a");
    CHECK(fields[0].content == "r");
    CHECK(fields[1].name == "d");
    CHECK(fields[1].filename == "tessel-report.dmp");
    CHECK(fields[1].content == fileBytes);

    SUBCASE("the parts are gone after the post")
    {
        REQUIRE(server.Answer(Answer(200, "")));
        REQUIRE(client.PostMultipart(request) == 1);
        CHECK(server.Requests()[1].body == line + "--\r\n");
    }
}

TEST_CASE("A multipart post with a missing file and non-ASCII text stays well formed")
{
    HttpTestServer server;
    REQUIRE(server.IsRunning());
    REQUIRE(server.Answer(Answer(200, "")));
    HttpClient client;
    const wchar_t description[] = L"caf\x00E9 \x20AC";
    REQUIRE(client.AddTextField(L"x", description));
    CHECK(client.AddFileField(L"d", L"C:\\no such folder\\missing.dmp") == 0);
    REQUIRE(client.AddTextField(L"e", L""));
    HttpRequest request = RequestTo(server, L"/kestrel/report.php");
    REQUIRE(client.PostMultipart(request) == 1);

    char ansi[32] = {};
    WideCharToMultiByte(CP_ACP, 0, description, -1, ansi, sizeof(ansi), nullptr, nullptr);
    std::vector<MultipartField> fields;
    REQUIRE(server.MultipartFields(0, fields));
    REQUIRE(fields.size() == 3);
    CHECK(fields[0].content == ansi);
    CHECK(fields[1].name == "d");
    CHECK(fields[1].filename == "missing.dmp");
    CHECK(fields[1].content.empty());
    CHECK(fields[2].name == "e");
    CHECK(fields[2].content.empty());
}

TEST_CASE("Hostile answers give a failure and nothing else")
{
    HttpTestServer server;
    REQUIRE(server.IsRunning());
    HttpClient client;
    WideString text;
    const std::wstring url = server.Url(L"/check");
    ScriptedAnswer answer = Answer(200, EveryByte(30000));

    SUBCASE("an answer that ends before its announced length")
    {
        answer.length = 60000;
        REQUIRE(server.Answer(answer));
        CHECK(client.GetText(url.c_str(), nullptr, text, 0, nullptr, nullptr, nullptr) == 0);
        CHECK(text.IsEmpty());
    }
    SUBCASE("a reset in the middle")
    {
        answer.resetAfter = 10000;
        REQUIRE(server.Answer(answer));
        CHECK(client.GetText(url.c_str(), nullptr, text, 0, nullptr, nullptr, nullptr) == 0);
        CHECK(text.IsEmpty());
    }
    SUBCASE("an answer far longer than the limit is read up to the limit")
    {
        answer.body = std::string(10 * 1024 * 1024, 'x');
        REQUIRE(server.Answer(answer));
        CHECK(client.GetText(url.c_str(), nullptr, text, 4096, nullptr, nullptr, nullptr) == 1);
        CHECK(text.Length() == 4096);
    }
}
