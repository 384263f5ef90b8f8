#include <doctest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "CrashTestSupport.h"
#include "ReportDialogDriver.h"
#include "ReportServer.h"
#include "TestText.h"
#include "TrustedTestRoot.h"
#include "base/ScopedHandle.h"
#include "crash/CrashReporter.h"
#include "crash/ReportUpload.h"
#include "system/MachineId.h"

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

// Report files of the test's own making: a dump with every byte value and
// a text report.
struct ReportFiles
{
    TestFolder folder;
    std::wstring dump;
    std::wstring text = folder.Path() + L"Tessel_Debug.txt";
    std::string dumpBytes;
    std::string textBytes = "Access Violation [0xC0000005] at 0x00000000 in Thread 7.\r\n";

    explicit ReportFiles(bool withDump = true)
    {
        REQUIRE(WriteWholeFile(text, textBytes));
        if (withDump) {
            dump = folder.Path() + L"Tessel_Debug.dmp";
            for (int i = 0; i < 70000; ++i)
                dumpBytes += static_cast<char>((i * 7) & 0xFF);
            REQUIRE(WriteWholeFile(dump, dumpBytes));
        }
    }
    // How the report server lists the text report it received.
    std::string TextFileLine() const
    {
        return "t=Tessel_Debug.txt=" + std::to_string(textBytes.size()) + "=0";
    }
    // Nothing of the report is lost: both files are still there, unchanged.
    bool Intact() const
    {
        return ReadWholeFile(text) == textBytes && ReadWholeFile(dump) == dumpBytes;
    }
};

// Submits on this thread while a driver works the dialog from another;
// answers SubmitProblemReport's result, or -1 when no dialog showed.
int Submit(const std::wstring& host, const ReportFiles& files, std::function<void(HWND)> action)
{
    CrashSettings settings;
    settings.iconId = 101;
    settings.host.Assign(host.c_str());
    settings.path.Assign(L"/kestrel/report.php");
    ReportDialogDriver driver(L"Tessel", std::move(action)); // the test program's product name
    const int result = SubmitProblemReport(settings, files.dump.c_str(), files.text.c_str());
    REQUIRE_MESSAGE(driver.Join(), "the driver thread did not end");
    return driver.Found() ? result : -1;
}

void PressSend(HWND dialog)
{
    Press(dialog, IDC_REPORT_SEND);
}

std::wstring SecureHost(const HttpTestServer& server)
{
    return L"https://127.0.0.1:" + std::to_wstring(server.Port());
}

} // namespace

TEST_CASE("the host setting: scheme, name and port")
{
    struct Good
    {
        const wchar_t* setting;
        const wchar_t* host;
        WORD port;
        bool secure;
    };
    for (const Good& good : {Good{L"127.0.0.1:18080", L"127.0.0.1", 18080, false},
                             Good{L"report.example.com", L"report.example.com", 80, false},
                             Good{L"HTTP://report.example.com", L"report.example.com", 80, false},
                             Good{L"https://report.example.com", L"report.example.com", 443, true},
                             Good{L"Https://127.0.0.1:8443", L"127.0.0.1", 8443, true}}) {
        CAPTURE(std::wstring(good.setting));
        WideString host;
        WORD port = 1;
        bool secure = !good.secure;
        CHECK(SplitReportHost(good.setting, host, &port, &secure));
        CHECK(std::wstring(host.Data()) == good.host);
        CHECK(port == good.port);
        CHECK(secure == good.secure);
    }
    WideString host(L"untouched");
    WORD port = 1;
    bool secure = true;
    for (const wchar_t* bad :
         {L"", L":80", L"host:", L"host:0", L"host:65536", L"host:8a", L"host:99999999999",
          L"https://", L"https://:443", L"https://host/kestrel", L"ftp://host", L"host?x=1",
          L"user@host", static_cast<const wchar_t*>(nullptr)})
        CHECK_FALSE(SplitReportHost(bad, host, &port, &secure));
    CHECK(std::wstring(host.Data()) == L"untouched");
    CHECK(port == 1);
    CHECK(secure);
}

TEST_CASE("no report server, not sending, a server that answers 500 or none: nothing is lost")
{
    ReportServer server;
    REQUIRE(server.IsRunning());
    ReportFiles files;
    CrashSettings settings;
    // No dialog: it would block here until someone closed it. 1 lets the
    // system's own error handling follow.
    CHECK(SubmitProblemReport(settings, files.dump.c_str(), files.text.c_str()) == 1);

    // Not sending ends the process quietly: 0. (Escape and the close box
    // answer as "Don't send" does: the dialog's own tests.)
    CHECK(Submit(server.Host(), files, [](HWND dialog) {
              SetText(dialog, IDC_REPORT_DESCRIPTION, L"typed but not sent");
              Press(dialog, IDC_REPORT_DONT_SEND);
          }) == 0);
    Sleep(200);
    CHECK(server.Requests().empty());

    ReportServer failing("php500");
    REQUIRE(failing.IsRunning());
    CHECK(Submit(failing.Host(), files, PressSend) == 0);
    CHECK(failing.Requests().size() == 1);
    const std::wstring unreachable = L"127.0.0.1:" + std::to_wstring(UnusedPort());
    CHECK(Submit(unreachable, files, PressSend) == 0);
    CHECK(files.Intact());
}

TEST_CASE("sending empty fields, then typed texts in the ANSI code page without a dump")
{
    ReportServer server;
    REQUIRE(server.IsRunning());
    ReportFiles files;
    CHECK(Submit(server.Host(), files, PressSend) == 0);
    REQUIRE(server.WaitForRequests(1, 5000));
    CHECK(server.Requests()[0].find("POST /kestrel/report.php multipart/form-data") == 0);
    // The report's machine id: its form is the machine id tests' own.
    WideString machineId;
    MachineId(MACHINE_ID_REPORT, machineId);
    const Fields expected = {
        {"a", "r"}, {"p", "Tessel"}, {"s", ""}, {"v", "1.00"}, {"g", Narrow(machineId.Data())},
        {"e", ""},  {"x", ""}};
    CHECK(server.Fields() == expected);
    CHECK(server.Files() ==
          std::vector<std::string>{"d=Tessel_Debug.dmp=70000=0", files.TextFileLine()});
    CHECK(server.FileContent("d") == files.dumpBytes);
    CHECK(server.FileContent("t") == files.textBytes);

    ReportFiles textOnly(false);
    const std::wstring description = L"Gr\x00FC\x00DF"
                                     L"e \x00E9t\x00E9 \x6F22 \x20AC";
    CHECK(Submit(server.Host(), textOnly, [&](HWND dialog) {
              SetText(dialog, IDC_REPORT_DESCRIPTION, description.c_str());
              SetText(dialog, IDC_REPORT_EMAIL, L"user@example.com");
              PressSend(dialog);
          }) == 0);
    REQUIRE(server.WaitForRequests(2, 5000));
    const Fields fields = server.Fields();
    REQUIRE(fields.size() == 14);
    // The description arrives in the machine's ANSI code page (characters
    // outside it replaced by that conversion), not as UTF-8.
    CHECK(fields[13].second == Narrow(description));
    if (GetACP() != CP_UTF8)
        CHECK(fields[13].second != Narrow(description, CP_UTF8));
    CHECK(fields[12].second == "user@example.com");
    CHECK(fields[11].second == fields[4].second); // the same machine id on every report
    CHECK(server.Files().back() == textOnly.TextFileLine());
}

TEST_CASE("a report to an https host goes over TLS, and only to a trusted server")
{
    HttpTestServer* server = ThankingHttpsServer();
    REQUIRE_MESSAGE(server, "no https test server, or its CA could not be trusted");
    ReportFiles files;
    CHECK(Submit(SecureHost(*server), files, PressSend) == 0);
    const std::vector<RecordedRequest> requests = server->Requests();
    REQUIRE(requests.size() == 1);
    CHECK(requests[0].method == "POST");
    CHECK(requests[0].path == "/kestrel/report.php");
    std::vector<MultipartField> fields;
    REQUIRE(server->MultipartFields(0, fields));
    REQUIRE(fields.size() == 9);
    CHECK(fields[7].filename == "Tessel_Debug.dmp");
    CHECK(fields[7].content == files.dumpBytes);
    CHECK(fields[8].content == files.textBytes);

    // A certificate that cannot be trusted: the report is not sent, over
    // TLS or otherwise, and stays where it is.
    for (const char* certificate : {TestCertificate::kSelfSigned, TestCertificate::kWrongName}) {
        CAPTURE(certificate);
        REQUIRE(ThankingHttpsServer() == server);
        REQUIRE(server->Present(certificate));
        CHECK(Submit(SecureHost(*server), files, PressSend) == 0);
        CHECK(server->Requests().empty());
        CHECK(files.Intact());
    }
    REQUIRE(server->Clear());
}

TEST_CASE("a report does not follow a redirect")
{
    HttpTestServer* server = SharedHttpsServer();
    REQUIRE(server);
    ReportServer plain;
    REQUIRE(plain.IsRunning());
    REQUIRE(server->Clear());
    ScriptedAnswer elsewhere;
    elsewhere.status = 307;
    elsewhere.headers.push_back("Location: http://127.0.0.1:" + std::to_string(plain.Port()) +
                                "/kestrel/report.php");
    elsewhere.times = 0;
    REQUIRE(server->Answer(elsewhere));
    ReportFiles files;
    CHECK(Submit(SecureHost(*server), files, PressSend) == 0);
    CHECK(server->Requests().size() == 1);
    Sleep(200);
    CHECK(plain.Requests().empty());
    REQUIRE(server->Clear());
}
