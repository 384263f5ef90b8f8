#include <doctest.h>

#include <string>
#include <vector>

#include "DialogAnswerer.h"
#include "HttpTestServer.h"
#include "TestText.h"
#include "TestWindow.h"
#include "TrustedTestRoot.h"
#include "UpdateTestFiles.h"
#include "net/HttpClient.h"
#include "update/UpdateInstaller.h"

using namespace update_test;

namespace {

ScriptedAnswer Redirect(const std::string& path, const std::wstring& location)
{
    ScriptedAnswer answer = Scripted(302, "", 0, path);
    answer.headers = {"Location: " + Narrow(location)};
    return answer;
}

ScriptedAnswer Body(const std::string& path, const std::string& body)
{
    return Scripted(200, body, 0, path);
}

// The update check's request for the address, through the proxy when one
// is given.
GetTextRequest CheckRequest(const std::wstring& url, const wchar_t* proxy = nullptr)
{
    GetTextRequest request;
    request.url = url.c_str();
    request.agent = L"AutoUpdate";
    request.proxy = proxy;
    request.callback = UpdateTrafficPolicy;
    return request;
}

int CheckFor(HttpClient& client, const std::wstring& url, WideString& text)
{
    return client.GetText(CheckRequest(url), text);
}

// The shared https server, emptied now and again when the test ends.
struct SecureServer
{
    HttpTestServer* server = SharedHttpsServer();
    SecureServer()
    {
        REQUIRE_MESSAGE(server, "no https test server, or its CA could not be trusted");
        REQUIRE(server->Clear());
    }
    ~SecureServer()
    {
        if (server)
            server->Clear();
    }
    HttpTestServer* operator->() const { return server; }
};

} // namespace

TEST_CASE("Update traffic follows redirects by hand, within https and at most five")
{
    SecureServer secure;
    HttpTestServer plain;
    REQUIRE(plain.IsRunning());
    REQUIRE(plain.Answer(Body("/clear", "in the clear")));
    REQUIRE(plain.Answer(Redirect("/back", secure->Url(L"/final"))));
    REQUIRE(secure->Answer(Body("/final", "signed answer")));
    HttpClient client;
    WideString text;
    TempFolder folder{L"tessel-redirects"};
    const std::wstring target = folder / L"Tessel_new.exe";
    auto download = [&](const std::wstring& url) {
        return DownloadUpdateFile(client, url.c_str(), target.c_str());
    };

    SUBCASE("an https chain, absolute and relative, ends at its body")
    {
        REQUIRE(secure->Answer(Redirect("/one", secure->Url(L"/two"))));
        REQUIRE(secure->Answer(Redirect("/two", L"/final")));
        CHECK(CheckFor(client, secure->Url(L"/one"), text) == 1);
        CHECK(Narrow(text.Data()) == "signed answer");
        CHECK(download(secure->Url(L"/one")) == 1);
        CHECK(ReadWholeFile(target) == "signed answer");
    }
    SUBCASE("a chain through plain http fails before the plain request")
    {
        REQUIRE(secure->Answer(Redirect("/one", plain.Url(L"/back"))));
        REQUIRE(secure->Answer(Redirect("/two", plain.Url(L"/clear"))));
        for (const wchar_t* start : {L"/one", L"/two"}) {
            CHECK(CheckFor(client, secure->Url(start), text) == 0);
            CHECK(text.IsEmpty());
            CHECK(download(secure->Url(start)) == 0);
            CHECK_FALSE(Exists(target));
        }
        CHECK(plain.Requests().empty());
        CHECK(secure->RequestsFor("/final") == 0);
    }
    SUBCASE("five redirects are followed, a sixth is not")
    {
        for (int hop = 1; hop <= 6; ++hop) {
            const std::string from = "/hop" + std::to_string(hop);
            const std::wstring to = hop == 6 ? L"/final" : L"/hop" + std::to_wstring(hop + 1);
            REQUIRE(secure->Answer(Redirect(from, to)));
        }
        CHECK(CheckFor(client, secure->Url(L"/hop2"), text) == 1);
        CHECK(CheckFor(client, secure->Url(L"/hop1"), text) == 0);
        CHECK(download(secure->Url(L"/hop1")) == 0);
        CHECK_FALSE(Exists(target));
    }
}

// Wine's WinINet sends no cookie back to 127.0.0.1 even when cookies are
// allowed, so there this shows only that nothing is sent; on Windows the
// same transfers with cookies allowed send it back.
TEST_CASE("Update traffic neither sends nor stores cookies")
{
    SecureServer secure;
    ScriptedAnswer first = Body("/cookie", "first");
    first.times = 1;
    first.headers = {"Set-Cookie: tesselid=tracked"};
    REQUIRE(secure->Answer(first));
    REQUIRE(secure->Answer(Body("/cookie", "again")));
    HttpClient client;
    WideString text;
    const std::wstring url = secure->Url(L"/cookie");
    TempFolder folder{L"tessel-cookies"};
    REQUIRE(CheckFor(client, url, text));
    REQUIRE(CheckFor(client, url, text));
    DownloadOptions options;
    options.callback = UpdateTrafficPolicy;
    REQUIRE(client.DownloadToFile(url.c_str(), (folder / L"f.bin").c_str(), options));
    const std::vector<RecordedRequest> requests = secure->Requests();
    REQUIRE(requests.size() == 3);
    CHECK(requests[1].Header("Cookie").empty());
    CHECK(requests[2].Header("Cookie").empty());
}

TEST_CASE("A 407 during the background check fails without a prompt")
{
    HttpTestServer proxy;
    REQUIRE(proxy.IsRunning());
    ScriptedAnswer challenge = Scripted(407, "who are you?", 0);
    challenge.headers = {"Proxy-Authenticate: Basic realm=\"tessel\""};
    REQUIRE(proxy.Answer(challenge));
    TestWindow owner(L"TesselProxyOwner", &DefWindowProcW, {0, 0, 100, 100});
    SetForegroundWindow(owner.Handle());
    // A prompt that still appears is cancelled, so the check ends either way.
    DialogAnswerer answerer({IDCANCEL, IDCANCEL});
    HttpClient client;
    WideString text;
    const std::wstring address = L"127.0.0.1:" + std::to_wstring(proxy.Port());
    const std::wstring url = L"http://update.example.invalid/data/update.php";
    CHECK(client.GetText(CheckRequest(url, address.c_str()), text) == 0);
    CHECK(answerer.Dialogs().empty());
    CHECK(proxy.Requests().size() == 1);
}

TEST_CASE("A download is bounded by its size: the announced length and the bytes that arrive")
{
    SecureServer secure;
    const std::string body = "0123456789";
    ScriptedAnswer unannounced = Body("/unannounced", body);
    unannounced.length = ScriptedAnswer::kNoLength;
    REQUIRE(secure->Answer(Body("/honest", body)));
    REQUIRE(secure->Answer(unannounced));
    HttpClient client;
    TempFolder folder{L"tessel-bounds"};
    const std::wstring target = folder / L"Tessel_new.exe";
    auto download = [&](const wchar_t* path, ULONGLONG size) {
        return DownloadUpdateFile(client, secure->Url(path).c_str(), target.c_str(), size);
    };

    CHECK(download(L"/honest", 10) == 1);
    CHECK(ReadWholeFile(target) == body);
    CHECK(download(L"/unannounced", 10) == 1);
    // An announced length other than the size is refused before any file
    // is made; so is a body that runs on beyond it, or stops short.
    REQUIRE(DeleteFileW(target.c_str()));
    for (ULONGLONG size : {9ULL, 11ULL}) {
        CAPTURE(size);
        CHECK(download(L"/honest", size) == 0);
        CHECK_FALSE(Exists(target));
        CHECK(download(L"/unannounced", size) == 0);
        CHECK_FALSE(Exists(target));
    }

    // The bytes beyond the bound never reach the disk: a callback that
    // keeps a failed file shows what was written.
    DownloadOptions options;
    options.maximumSize = 4;
    options.callback = [](int code, void* argument, void*) {
        if (code == DOWNLOAD_CB_FAILED)
            static_cast<DownloadFailure*>(argument)->deleteFile = 0;
        return 1;
    };
    CHECK(client.DownloadToFile(secure->Url(L"/unannounced").c_str(), target.c_str(), options) ==
          0);
    CHECK(ReadWholeFile(target).size() <= 4);
    DeleteFileW(target.c_str());
    CHECK(client.DownloadToFile(secure->Url(L"/honest").c_str(), target.c_str(), options) == 0);
    CHECK(ReadWholeFile(target) == "<missing>");
}
