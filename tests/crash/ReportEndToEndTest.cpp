#include <doctest.h>

#include <windows.h>

#include <string>

#include "BuildConfig.h"
#include "CrashTestSupport.h"
#include "ReportDialogDriver.h"
#include "ReportServer.h"
#include "TrustedTestRoot.h"
#include "base/ScopedHandle.h"
#include "crash/ReportUpload.h"

namespace {

constexpr DWORD kAccessViolation = 0xC0000005;
// Longer than the upload's idle limits for a server that never answers;
// only a hang takes this long.
constexpr DWORD kProcessEndLimitMs = 120000;

// A started program, ended by force if a test leaves it running; its crash
// report files are removed with it.
struct Program
{
    std::wstring path;
    ScopedHandle process;

    Program(const std::wstring& program, const std::wstring& arguments) : path(program)
    {
        DeleteReports();
        std::wstring commandLine = L"\"" + path + L"\" " + arguments;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &info)) {
            CloseHandle(info.hThread);
            process.Reset(info.hProcess);
        }
    }
    ~Program()
    {
        if (process && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(process.Get(), 1);
            WaitForSingleObject(process.Get(), 5000);
        }
        DeleteReports();
    }
    std::wstring Report(const wchar_t* suffix) const
    {
        return path.substr(0, path.rfind(L'.')) + suffix;
    }
    void DeleteReports() const
    {
        DeleteFileW(Report(L"_Debug.txt").c_str());
        DeleteFileW(Report(L"_Debug.dmp").c_str());
    }
    // The exit code once it ended within the limit; STILL_ACTIVE otherwise.
    DWORD WaitForEnd() const
    {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(process.Get(), kProcessEndLimitMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.Get(), &code);
        return code;
    }
};

void SendAfterTyping(HWND dialog)
{
    SendMessageW(GetDlgItem(dialog, IDC_REPORT_DESCRIPTION), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(L"pressed Refresh"));
    SendMessageW(GetDlgItem(dialog, IDC_REPORT_SEND), BM_CLICK, 0, 0);
}

// Works the dialog of the crashed program (titled with the product name
// of its version block) and checks that the program ended as the filter
// decides after a report: quietly, with the exception's code.
void SendAndWaitForEnd(const Program& program)
{
    ReportDialogDriver driver(L"Tessel", SendAfterTyping);
    CHECK(driver.Join());
    REQUIRE_MESSAGE(driver.Found(), "no problem report dialog appeared");
    CHECK_MESSAGE(program.WaitForEnd() == kAccessViolation, "the crashed program did not end");
}

void CheckReceivedReport(const ReportServer& server, const Program& program)
{
    REQUIRE(server.WaitForRequests(1, 5000));
    const auto fields = server.Fields();
    REQUIRE(fields.size() == 7);
    CHECK(fields[6] == std::make_pair(std::string("x"), std::string("pressed Refresh")));
    const std::string text = ReadWholeFile(program.Report(L"_Debug.txt"));
    CHECK(text.find("Access Violation") == 0);
    CHECK(server.FileContent("t") == text);
    CHECK(server.FileContent("d") == ReadWholeFile(program.Report(L"_Debug.dmp")));
    CHECK(server.FileContent("d").substr(0, 4) == "MDMP");
}

HWND FindWindowOf(const Program& program)
{
    const DWORD id = GetProcessId(program.process.Get());
    for (int round = 0; round < 500; ++round) {
        for (HWND window = FindWindowW(L"#32770", nullptr); window;
             window = FindWindowExW(nullptr, window, L"#32770", nullptr)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == id && IsWindowVisible(window))
                return window;
        }
        Sleep(20);
    }
    return nullptr;
}

} // namespace

TEST_CASE("a crashed program shows the dialog, sends the report and ends")
{
    SUBCASE("a report server that answers")
    {
        ReportServer server;
        REQUIRE(server.IsRunning());
        Program child(ProgramFolder() + L"report_child.exe", server.Host());
        REQUIRE(child.process.IsValid());
        SendAndWaitForEnd(child);
        CheckReceivedReport(server, child);
    }
    SUBCASE("a report server that never answers does not keep it alive")
    {
        ReportServer server("silent");
        REQUIRE(server.IsRunning());
        Program child(ProgramFolder() + L"report_child.exe", server.Host());
        REQUIRE(child.process.IsValid());
        SendAndWaitForEnd(child);
        CHECK(server.Requests().size() == 1);
        CHECK(ReadWholeFile(child.Report(L"_Debug.txt")).find("Access Violation") == 0);
    }
}

TEST_CASE("a crash of Tessel.exe reaches the report server of its build")
{
    WideString host;
    WORD port = 0;
    REQUIRE(SplitReportHost(TESSEL_REPORT_HOST, host, &port));
    if (wcscmp(host.Data(), L"127.0.0.1") != 0) {
        MESSAGE("Tessel.exe reports to " << TESSEL_REPORT_HOST
                                         << "; the test command builds it for 127.0.0.1");
        return;
    }
    ReportServer server("php", port);
    REQUIRE_MESSAGE(server.IsRunning(), "no report server on the build's port");
    Program tessel(ProgramFolder() + L"..\\Tessel.exe", L"");
    REQUIRE(tessel.process.IsValid());
    REQUIRE_MESSAGE(FindWindowOf(tessel), "Tessel's main window did not appear");
    // Crashed from outside: a thread started in it at a system function
    // that writes to its argument, with an address that is not a pointer.
    const auto writeThrough = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemInfo")));
    ScopedHandle thread(CreateRemoteThread(tessel.process.Get(), nullptr, 0, writeThrough,
                                           reinterpret_cast<void*>(0x10), 0, nullptr));
    REQUIRE(thread.IsValid());
    SendAndWaitForEnd(tessel);
    CheckReceivedReport(server, tessel);
}

TEST_CASE("a crash in a folder beyond Latin-1 reaches an https report server byte for byte")
{
    HttpTestServer* server = ThankingHttpsServer();
    REQUIRE_MESSAGE(server, "no https test server, or its CA could not be trusted");
    TestFolder folder(L"\u0416\u0443\u043a \u20ac");
    const std::wstring path = folder.Path() + L"report_child.exe";
    REQUIRE(CopyFileW((ProgramFolder() + L"report_child.exe").c_str(), path.c_str(), FALSE));

    Program child(path, L"https://127.0.0.1:" + std::to_wstring(server->Port()));
    REQUIRE(child.process.IsValid());
    SendAndWaitForEnd(child);
    const std::string text = ReadWholeFile(child.Report(L"_Debug.txt"));
    CHECK(Contains(text, " - " + Ansi(path) + "\r\n"));
    const std::vector<RecordedRequest> requests = server->Requests();
    REQUIRE(requests.size() == 1);
    std::vector<MultipartField> fields;
    REQUIRE(server->MultipartFields(0, fields));
    std::string sentText, sentDump;
    for (const MultipartField& field : fields) {
        if (field.name == "t")
            sentText = field.content;
        if (field.name == "d")
            sentDump = field.content;
    }
    CHECK(sentText == text);
    CHECK(sentDump == ReadWholeFile(child.Report(L"_Debug.dmp")));
    CHECK(sentDump.substr(0, 4) == "MDMP");
    REQUIRE(server->Clear());
}
