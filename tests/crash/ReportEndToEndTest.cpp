#include <doctest.h>

#include <windows.h>
#include <dbghelp.h>
#include <tlhelp32.h>

#include <map>
#include <string>

#include "BuildConfig.h"
#include "CrashTestSupport.h"
#include "ReportDialogDriver.h"
#include "ReportServer.h"
#include "TrustedTestRoot.h"
#include "base/DynamicLibrary.h"
#include "base/ScopedHandle.h"
#include "crash/ReportUpload.h"

namespace {

constexpr DWORD kAccessViolation = 0xC0000005;
// Longer than the upload's idle limits for a server that never answers;
// only a hang takes this long.
constexpr DWORD kProcessEndLimitMs = 120000;

// Works the dialog of the crashed program (titled with the product name
// of its version block) and checks that the program ended as the filter
// decides after a report: quietly, with the exception's code.
void SendAndWaitForEnd(ProgramCopy& program)
{
    ReportDialogDriver driver(L"Tessel", [](HWND dialog) {
        SetText(dialog, IDC_REPORT_DESCRIPTION, L"pressed Refresh");
        Press(dialog, IDC_REPORT_SEND);
    });
    CHECK(driver.Join());
    REQUIRE_MESSAGE(driver.Found(), "no problem report dialog appeared");
    CHECK_MESSAGE(program.WaitForEnd(kProcessEndLimitMs), "the crashed program did not end");
    CHECK(program.ExitCode() == kAccessViolation);
}

// What arrived is the crashed program's report, byte for byte.
void CheckSentReport(const std::string& sentText, const std::string& sentDump,
                     const ProgramCopy& program)
{
    const std::string text = ReadWholeFile(program.Report(L"_Debug.txt"));
    CHECK(StartsWith(text, "Access Violation"));
    CHECK(sentText == text);
    CHECK(sentDump == ReadWholeFile(program.Report(L"_Debug.dmp")));
    CHECK(StartsWith(sentDump, "MDMP"));
}

// The address of a function of the program running in another process,
// found through the program file's own debug information.
DWORD64 RemoteFunction(HANDLE process, DWORD processId, const std::wstring& program,
                       const char* name)
{
    MODULEENTRY32W module = {};
    module.dwSize = sizeof(module);
    ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId));
    if (!snapshot || !Module32FirstW(snapshot.Get(), &module))
        return 0;
    DynamicLibrary dbghelp(L"dbghelp.dll");
    auto initialize = dbghelp.Symbol<decltype(&::SymInitialize)>("SymInitialize");
    auto load = dbghelp.Symbol<decltype(&::SymLoadModuleExW)>("SymLoadModuleExW");
    auto find = dbghelp.Symbol<decltype(&::SymFromName)>("SymFromName");
    auto cleanup = dbghelp.Symbol<decltype(&::SymCleanup)>("SymCleanup");
    if (!initialize || !load || !find || !cleanup || !initialize(process, nullptr, FALSE))
        return 0;
    union
    {
        SYMBOL_INFO info;
        char room[sizeof(SYMBOL_INFO) + 256];
    } symbol = {};
    symbol.info.SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol.info.MaxNameLen = 256;
    const DWORD64 base = reinterpret_cast<ULONG_PTR>(module.modBaseAddr);
    DWORD64 address = 0;
    if (load(process, nullptr, program.c_str(), nullptr, base, module.modBaseSize, nullptr, 0) &&
        find(process, name, &symbol.info)) {
        address = symbol.info.Address;
    }
    cleanup(process);
    return address;
}

} // namespace

// The whole way of a report that arrives: Tessel.exe's crash below.
TEST_CASE("a crashed program whose report server never answers still ends")
{
    ReportServer server("silent");
    REQUIRE(server.IsRunning());
    ProgramCopy child(L"report_child.exe", L"report_child.exe");
    REQUIRE(child.Start(server.Host()));
    SendAndWaitForEnd(child);
    CHECK(server.Requests().size() == 1);
    CHECK(ReadWholeFile(child.Report(L"_Debug.txt")).find("Access Violation") == 0);
}

// Tessel is crashed from outside: a thread started in it at one of its own
// text functions, with an argument that is not a pointer, reads address 0x10.
TEST_CASE("a crash of Tessel.exe names its function and reaches the report server of its build")
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
    ProgramCopy tessel(L"..\\Tessel.exe", L"Tessel.exe");
    REQUIRE(tessel.Start(L""));
    REQUIRE_MESSAGE(tessel.WaitForWindow(), "Tessel's main window did not appear");
    const DWORD64 function =
        RemoteFunction(tessel.Process(), tessel.ProcessId(), tessel.path, "FlattenLines");
    REQUIRE_MESSAGE(function != 0, "FlattenLines not found in Tessel.exe");
    ScopedHandle thread(CreateRemoteThread(
        tessel.Process(), nullptr, 0,
        reinterpret_cast<LPTHREAD_START_ROUTINE>(static_cast<ULONG_PTR>(function)),
        reinterpret_cast<void*>(static_cast<ULONG_PTR>(0x10)), 0, nullptr));
    REQUIRE(thread.IsValid());
    SendAndWaitForEnd(tessel);
    REQUIRE(server.WaitForRequests(1, 5000));
    const auto fields = server.Fields();
    REQUIRE(fields.size() == 7);
    CHECK(fields[6] == std::make_pair(std::string("x"), std::string("pressed Refresh")));
    CheckSentReport(server.FileContent("t"), server.FileContent("d"), tessel);

    const std::string report = ReadWholeFile(tessel.Report(L"_Debug.txt"));
    CHECK(Contains(report, "\r\nRead from location 0x00000010.\r\n"));
    const std::vector<std::string> stack = Section(report, "Stack:", 0);
    REQUIRE(!stack.empty());
    CHECK(StartsWith(stack[0], "FlattenLines("));
    CHECK(Contains(stack[0], " - Line "));
}

TEST_CASE("a crash in a folder beyond Latin-1 reaches an https report server byte for byte")
{
    HttpTestServer* server = ThankingHttpsServer();
    REQUIRE_MESSAGE(server, "no https test server, or its CA could not be trusted");
    ProgramCopy child(L"report_child.exe", L"report_child.exe", L"\u0416\u0443\u043a \u20ac");
    REQUIRE(child.Start(L"https://127.0.0.1:" + std::to_wstring(server->Port())));
    SendAndWaitForEnd(child);
    const std::string text = ReadWholeFile(child.Report(L"_Debug.txt"));
    CHECK(Contains(text, " - " + Narrow(child.path) + "\r\n"));
    // Every module has its line, and each ends where the next begins.
    const std::vector<std::string> modules = Section(text, "ModuleList:");
    CHECK(modules.size() > 5);
    for (const std::string& line : modules)
        CHECK(Contains(line, " - "));
    REQUIRE(server->Requests().size() == 1);
    std::vector<MultipartField> fields;
    REQUIRE(server->MultipartFields(0, fields));
    std::map<std::string, std::string> sent;
    for (const MultipartField& field : fields)
        sent[field.name] = field.content;
    CheckSentReport(sent["t"], sent["d"], child);
    REQUIRE(server->Clear());
}
