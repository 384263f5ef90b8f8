#include <doctest.h>

#include "CrashTestSupport.h"
#include "crash/CrashReporter.h"
#include "crash/DebugHelp.h"

namespace {

void NamedFunction()
{
    static volatile int calls = 0;
    calls = calls + 1;
}

DWORD64 AddressOfNamedFunction()
{
    static volatile ULONG_PTR address = reinterpret_cast<ULONG_PTR>(&NamedFunction);
    return address;
}

} // namespace

TEST_CASE("debug help names addresses only while bound")
{
    DebugHelp debugHelp;
    // Not kept in a named constant: its debug information would describe a
    // symbol at the very same address.
    const DWORD64 namedAddress = AddressOfNamedFunction();
    char text[600] = "untouched";
    CHECK(debugHelp.DescribeAddress(namedAddress, text, sizeof(text)) == 0);
    CHECK(std::string(text) == "untouched");

    REQUIRE(debugHelp.Load() == 1);
    const bool entriesBound = debugHelp.MiniDumpWriter() && debugHelp.QueryThread();
    CHECK(entriesBound);
    REQUIRE(debugHelp.DescribeAddress(namedAddress, text, sizeof(text)) == 1);
    CHECK(Contains(text, "NamedFunction"));
    CHECK_FALSE(Contains(text, "Offset"));
    DWORD64 displacement = 0;
    REQUIRE(debugHelp.DescribeAddress(namedAddress + 3, text, sizeof(text), &displacement) == 1);
    CHECK(displacement == 3);
    CHECK(EndsWith(text, "NamedFunction - Offset: 0x3"));

    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const DWORD64 inKernel32 =
        reinterpret_cast<ULONG_PTR>(GetProcAddress(kernel32, "GetCurrentProcessId"));
    DWORD64 base = 0;
    REQUIRE(debugHelp.DescribeModule(inKernel32, text, sizeof(text), &base) == 1);
    CHECK(base == reinterpret_cast<ULONG_PTR>(kernel32));
    CHECK(Contains(text, "kernel32"));
    // Nothing is mapped at 16.
    CHECK(debugHelp.DescribeModule(16, text, sizeof(text), &base) == 0);
    CHECK(debugHelp.DescribeAddress(16, text, sizeof(text)) == 0);

    debugHelp.Unload();
    const bool entriesGone = !debugHelp.MiniDumpWriter() && !debugHelp.QueryThread();
    CHECK(entriesGone);
    CHECK(debugHelp.DescribeAddress(namedAddress, text, sizeof(text)) == 0);
}

TEST_CASE("a report without an exception has no exception, register or stack pieces")
{
    CrashReporter reporter;
    reporter.Configure(101, L"", L"/kestrel/report.php", nullptr, nullptr);
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    const std::wstring base = std::wstring(program).substr(0, wcslen(program) - 4);

    // No report server: the system's own handling should follow.
    CHECK(reporter.WriteCrashReport(nullptr) == 1);
    const std::string report = ReadWholeFile(base + L"_Debug.txt");
    const std::string dump = ReadWholeFile(base + L"_Debug.dmp");
    DeleteFileW((base + L"_Debug.txt").c_str());
    DeleteFileW((base + L"_Debug.dmp").c_str());
    CHECK(StartsWith(report, "\r\n"));
    CHECK_FALSE(Contains(report, " in Thread "));
    CHECK_FALSE(Contains(report, "Stack:"));
    CHECK(Contains(report, " Mhz\r\n"));
    CHECK(Contains(report, "\r\nModuleList:\r\n"));
    CHECK(Contains(report, "\r\nThreadList:\r\n"));
    CHECK(StartsWith(dump, "MDMP"));
}
