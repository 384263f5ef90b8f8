#include <doctest.h>

#include <windows.h>

#include <string>

#include "BuildConfig.h"
#include "ReportDialogDriver.h"
#include "ReportServer.h"
#include "base/ScopedHandle.h"
#include "crash/ReportUpload.h"

namespace {

constexpr DWORD kAccessViolation = 0xC0000005;
// Longer than the HTTP client's own limits for a server that never
// answers; only a hang takes this long.
constexpr DWORD kProcessEndLimitMs = 120000;

std::wstring TestFolder()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    *wcsrchr(path, L'\\') = L'\0';
    return path;
}

// A started program, ended by force if a test leaves it running.
struct Program
{
    ScopedHandle process;
    DWORD id = 0;

    Program(const std::wstring& path, const std::wstring& arguments)
    {
        std::wstring commandLine = L"\"" + path + L"\" " + arguments;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &info)) {
            CloseHandle(info.hThread);
            process.Reset(info.hProcess);
            id = info.dwProcessId;
        }
    }
    ~Program()
    {
        if (process && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(process.Get(), 1);
            WaitForSingleObject(process.Get(), 5000);
        }
    }
    // The exit code once it ended within the limit; STILL_ACTIVE otherwise.
    DWORD WaitForEnd(DWORD milliseconds) const
    {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(process.Get(), milliseconds) == WAIT_OBJECT_0)
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

// The field value the server received; empty when missing.
std::string FieldOf(const ReportServer& server, const char* name)
{
    for (const auto& field : server.Fields())
        if (field.first == name)
            return field.second;
    return std::string();
}

// Crashes a running program from outside: a thread started in it at
// address 0 faults at once.
bool CrashFromOutside(const Program& program)
{
    ScopedHandle thread(
        CreateRemoteThread(program.process.Get(), nullptr, 0, nullptr, nullptr, 0, nullptr));
    return thread.IsValid();
}

HWND FindMainWindowOf(DWORD processId)
{
    for (int round = 0; round < 500; ++round) {
        for (HWND window = FindWindowW(L"#32770", nullptr); window;
             window = FindWindowExW(nullptr, window, L"#32770", nullptr)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == processId && IsWindowVisible(window))
                return window;
        }
        Sleep(20);
    }
    return nullptr;
}

} // namespace

TEST_CASE("a crashed program shows the dialog, sends the report and ends")
{
    ReportServer server;
    REQUIRE(server.IsRunning());
    const std::wstring folder = TestFolder();
    const std::wstring dumpPath = folder + L"\\report_child_Debug.dmp";
    const std::wstring textPath = folder + L"\\report_child_Debug.txt";
    DeleteFileW(dumpPath.c_str());
    DeleteFileW(textPath.c_str());

    Program child(folder + L"\\report_child.exe", server.Host());
    REQUIRE(child.process.IsValid());
    ReportDialogDriver driver(L"Tessel", SendAfterTyping);
    CHECK(driver.Join());
    REQUIRE_MESSAGE(driver.Found(), "no problem report dialog appeared");
    CHECK(child.WaitForEnd(kProcessEndLimitMs) == kAccessViolation);

    REQUIRE(server.WaitForRequests(1, 5000));
    CHECK(FieldOf(server, "x") == "pressed Refresh");
    CHECK(FieldOf(server, "a") == "r");
    const std::string text = ReadWholeFile(textPath);
    CHECK(text.find("Access Violation") == 0);
    CHECK(server.FileContent("t") == text);
    CHECK(server.FileContent("d") == ReadWholeFile(dumpPath));
    CHECK(server.FileContent("d").substr(0, 4) == "MDMP");
    DeleteFileW(dumpPath.c_str());
    DeleteFileW(textPath.c_str());
}

TEST_CASE("a report server that never answers does not keep the crashed program alive")
{
    ReportServer server("silent");
    REQUIRE(server.IsRunning());
    const std::wstring folder = TestFolder();
    Program child(folder + L"\\report_child.exe", server.Host());
    REQUIRE(child.process.IsValid());
    ReportDialogDriver driver(L"Tessel", SendAfterTyping);
    CHECK(driver.Join());
    REQUIRE(driver.Found());
    CHECK_MESSAGE(child.WaitForEnd(kProcessEndLimitMs) == kAccessViolation,
                  "the crashed program did not end");
    CHECK(server.Requests().size() == 1);
    // Nothing of the report is lost.
    CHECK(ReadWholeFile(folder + L"\\report_child_Debug.txt").find("Access Violation") == 0);
    DeleteFileW((folder + L"\\report_child_Debug.dmp").c_str());
    DeleteFileW((folder + L"\\report_child_Debug.txt").c_str());
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
    const std::wstring folder = TestFolder();
    const std::wstring exe = folder.substr(0, folder.rfind(L'\\')) + L"\\Tessel.exe";
    Program tessel(exe, L"");
    REQUIRE(tessel.process.IsValid());
    REQUIRE_MESSAGE(FindMainWindowOf(tessel.id), "Tessel's main window did not appear");

    ReportDialogDriver driver(L"Tessel", SendAfterTyping);
    REQUIRE(CrashFromOutside(tessel));
    CHECK(driver.Join());
    REQUIRE_MESSAGE(driver.Found(), "no problem report dialog appeared");
    CHECK(tessel.WaitForEnd(kProcessEndLimitMs) == kAccessViolation);
    REQUIRE(server.WaitForRequests(1, 5000));
    CHECK(FieldOf(server, "p") == "Tessel");
    CHECK(FieldOf(server, "x") == "pressed Refresh");
    const std::wstring base = exe.substr(0, exe.rfind(L'.'));
    CHECK(server.FileContent("t") == ReadWholeFile(base + L"_Debug.txt"));
    CHECK(server.FileContent("t").find("Access Violation") == 0);
    DeleteFileW((base + L"_Debug.txt").c_str());
    DeleteFileW((base + L"_Debug.dmp").c_str());
}
