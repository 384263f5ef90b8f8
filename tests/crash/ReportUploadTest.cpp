#include <doctest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "ReportDialogDriver.h"
#include "ReportServer.h"
#include "base/ScopedHandle.h"
#include "crash/CrashReporter.h"
#include "crash/ReportUpload.h"
#include "system/MachineId.h"

namespace {

const wchar_t kTitle[] = L"Tessel"; // the test program's own version block

using Fields = std::vector<std::pair<std::string, std::string>>;

std::string Narrow(const std::wstring& text, UINT codePage = CP_ACP)
{
    const int size =
        WideCharToMultiByte(codePage, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, text.c_str(), -1, &bytes[0], size, nullptr, nullptr);
    bytes.resize(static_cast<size_t>(size) - 1);
    return bytes;
}

std::string MachineIdText(BYTE purpose)
{
    WideString text;
    MachineId(purpose, text);
    return Narrow(text.Data());
}

// Two report files of the test's own making, with every byte value.
struct ReportFiles
{
    std::wstring folder;
    std::wstring dump;
    std::wstring text;
    std::string dumpBytes;
    std::string textBytes;

    explicit ReportFiles(bool withDump = true)
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder = std::wstring(temp) + L"tessel-upload-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder.c_str(), nullptr);
        text = folder + L"\\Tessel_Debug.txt";
        textBytes = "Access Violation [0xC0000005] at 0x00000000 in Thread 7.\r\n";
        Write(text, textBytes);
        if (withDump) {
            dump = folder + L"\\Tessel_Debug.dmp";
            for (int i = 0; i < 70000; ++i)
                dumpBytes += static_cast<char>((i * 7) & 0xFF);
            Write(dump, dumpBytes);
        }
    }
    ~ReportFiles()
    {
        DeleteFileW(text.c_str());
        if (!dump.empty())
            DeleteFileW(dump.c_str());
        RemoveDirectoryW(folder.c_str());
    }
    static void Write(const std::wstring& path, const std::string& bytes)
    {
        ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    // How the report server lists the text report it received.
    std::string TextFileLine() const
    {
        return "t=Tessel_Debug.txt=" + std::to_string(textBytes.size()) + "=0";
    }
    // Nothing of the report is lost: both files are still there, unchanged.
    bool Intact() const
    {
        return ReadWholeFile(text) == textBytes &&
               (dump.empty() || ReadWholeFile(dump) == dumpBytes);
    }
};

struct Submission
{
    int result = -1;
    bool dialogFound = false;
};

// Submits on this thread while a driver works the dialog from another.
Submission Submit(const std::wstring& host, const ReportFiles& files,
                  std::function<void(HWND)> action)
{
    CrashSettings settings;
    settings.iconId = 101;
    settings.host.Assign(host.c_str());
    settings.path.Assign(L"/kestrel/report.php");
    Submission submission;
    ReportDialogDriver driver(kTitle, std::move(action));
    submission.result = SubmitProblemReport(settings, files.dump.c_str(), files.text.c_str());
    REQUIRE_MESSAGE(driver.Join(), "the driver thread did not end");
    submission.dialogFound = driver.Found();
    return submission;
}

void PressSend(HWND dialog)
{
    SendMessageW(GetDlgItem(dialog, IDC_REPORT_SEND), BM_CLICK, 0, 0);
}

void TypeInto(HWND dialog, int id, const wchar_t* text)
{
    SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

} // namespace

TEST_CASE("the host setting with and without a port")
{
    WideString host(L"untouched");
    WORD port = 1;
    CHECK(SplitReportHost(L"report.example.com", host, &port));
    CHECK(std::wstring(host.Data()) == L"report.example.com");
    CHECK(port == 80);
    CHECK(SplitReportHost(L"127.0.0.1:18080", host, &port));
    CHECK(std::wstring(host.Data()) == L"127.0.0.1");
    CHECK(port == 18080);
    host.Assign(L"untouched");
    port = 1;
    for (const wchar_t* bad : {L"", L":80", L"host:", L"host:0", L"host:65536", L"host:8a",
                               L"host:99999999999", static_cast<const wchar_t*>(nullptr)}) {
        CHECK_FALSE(SplitReportHost(bad, host, &port));
    }
    CHECK(std::wstring(host.Data()) == L"untouched");
    CHECK(port == 1);
}

TEST_CASE("no report server: no dialog, no traffic, the system's handling follows")
{
    ReportServer server;
    REQUIRE(server.IsRunning());
    ReportFiles files;
    CrashSettings settings;
    settings.path.Assign(L"/kestrel/report.php");
    // A dialog would block here until someone closed it.
    CHECK(SubmitProblemReport(settings, files.dump.c_str(), files.text.c_str()) == 1);
    CHECK_FALSE(FindWindowW(L"#32770", kTitle));
    CHECK(server.Requests().empty());
    CHECK(files.Intact());
}

TEST_CASE("not sending: no traffic, and the process ends quietly")
{
    ReportServer server;
    REQUIRE(server.IsRunning());
    ReportFiles files;
    const std::function<void(HWND)> ways[] = {
        [](HWND dialog) { SendMessageW(GetDlgItem(dialog, IDC_REPORT_DONT_SEND), BM_CLICK, 0, 0); },
        [](HWND dialog) {
            TypeInto(dialog, IDC_REPORT_DESCRIPTION, L"typed but not sent");
            PostMessageW(GetDlgItem(dialog, IDC_REPORT_DESCRIPTION), WM_KEYDOWN, VK_ESCAPE, 1);
        },
        [](HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); },
    };
    for (const auto& way : ways) {
        const Submission submission = Submit(server.Host(), files, way);
        CHECK(submission.dialogFound);
        CHECK(submission.result == 0);
    }
    Sleep(200);
    CHECK(server.Requests().empty());
    CHECK(files.Intact());
}

TEST_CASE("sending with empty fields")
{
    ReportServer server;
    REQUIRE(server.IsRunning());
    ReportFiles files;
    const Submission submission = Submit(server.Host(), files, PressSend);
    CHECK(submission.dialogFound);
    CHECK(submission.result == 0);
    REQUIRE(server.WaitForRequests(1, 5000));
    const std::vector<std::string> requests = server.Requests();
    CHECK(requests.size() == 1);
    CHECK(requests[0].find("POST /kestrel/report.php multipart/form-data") == 0);

    const Fields expected = {{"a", "r"},
                             {"p", "Tessel"},
                             {"s", ""},
                             {"v", "1.00"},
                             {"g", MachineIdText(MACHINE_ID_REPORT)},
                             {"e", ""},
                             {"x", ""}};
    CHECK(server.Fields() == expected);
    CHECK(server.Files() ==
          std::vector<std::string>{"d=Tessel_Debug.dmp=70000=0", files.TextFileLine()});
    CHECK(server.FileContent("d") == files.dumpBytes);
    CHECK(server.FileContent("t") == files.textBytes);
    CHECK(files.Intact());
}

TEST_CASE("typed texts, the ANSI code page and the machine id on every report")
{
    ReportServer server;
    REQUIRE(server.IsRunning());
    ReportFiles files(false);
    const std::wstring description = L"Gr\x00FC\x00DF"
                                     L"e \x00E9t\x00E9 \x6F22 \x20AC";
    for (int round = 0; round < 2; ++round) {
        const Submission submission = Submit(server.Host(), files, [&](HWND dialog) {
            TypeInto(dialog, IDC_REPORT_DESCRIPTION, description.c_str());
            TypeInto(dialog, IDC_REPORT_EMAIL, L"user@example.com");
            PressSend(dialog);
        });
        CHECK(submission.result == 0);
    }
    REQUIRE(server.WaitForRequests(2, 5000));
    const Fields fields = server.Fields();
    REQUIRE(fields.size() == 14);
    // The description arrives converted to the machine's ANSI code page
    // (characters outside it replaced by that conversion), not as UTF-8.
    CHECK(fields[6].first == "x");
    CHECK(fields[6].second == Narrow(description));
    if (GetACP() != CP_UTF8)
        CHECK(fields[6].second != Narrow(description, CP_UTF8));
    CHECK(fields[5].second == "user@example.com");

    // The same id on every report; only purpose and check byte (the last
    // group) set it apart from the update request's.
    const std::string first = fields[4].second;
    CHECK(fields[11].second == first);
    const std::string update = MachineIdText(MACHINE_ID_UPDATE);
    REQUIRE(first.size() == 19);
    CHECK(first.substr(0, 15) == update.substr(0, 15));
    CHECK(first.substr(17) == "02");
    CHECK(update.substr(17) == "04");
    CHECK(first.substr(15, 2) != update.substr(15, 2));

    // Without a dump the "d" part is still announced, empty, and the text
    // report arrives.
    const std::vector<std::string> sent = server.Files();
    REQUIRE(sent.size() >= 2);
    CHECK(sent.back() == files.TextFileLine());
}

TEST_CASE("a failing report server loses nothing and does not hold the crash")
{
    struct Case
    {
        const char* mode;
        bool listening;
    };
    // A server that never answers is the end-to-end test's: it takes the
    // upload's whole idle limit.
    const Case cases[] = {{"php500", true}, {"none", false}};
    for (const Case& serverCase : cases) {
        CAPTURE(serverCase.mode);
        ReportFiles files;
        std::unique_ptr<ReportServer> server;
        std::wstring host = L"127.0.0.1:" + std::to_wstring(UnusedPort());
        if (serverCase.listening) {
            server.reset(new ReportServer(serverCase.mode));
            REQUIRE(server->IsRunning());
            host = server->Host();
        }
        const Submission submission = Submit(host, files, PressSend);
        CHECK(submission.dialogFound);
        CHECK(submission.result == 0);
        CHECK(files.Intact());
        if (server)
            CHECK(server->Requests().size() == 1);
    }
}
