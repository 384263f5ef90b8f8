#include <doctest.h>

#include <string.h>
#include <string>

#include "crash/CrashReport.h"
#include "crash/DebugHelp.h"

namespace {

constexpr bool kWideBuild = sizeof(void*) == 8;

std::string ExceptionLine(DWORD code, DWORD64 address, DWORD thread, bool nt)
{
    char text[256];
    FormatExceptionLine(code, address, thread, nt, text, sizeof(text));
    return text;
}

std::string AccessLine(ULONG_PTR write, ULONG_PTR location, DWORD parameters,
                       DWORD code = EXCEPTION_ACCESS_VIOLATION)
{
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = code;
    record.NumberParameters = parameters;
    record.ExceptionInformation[0] = write;
    record.ExceptionInformation[1] = location;
    char text[128] = "untouched";
    FormatAccessLine(record, text, sizeof(text));
    return text;
}

} // namespace

TEST_CASE("exception names and the exception line")
{
    CHECK(std::string(ExceptionName(0xC0000005)) == "Access Violation");
    CHECK(std::string(ExceptionName(0xE06D7363)) == "Microsoft C++ Exception");
    CHECK(std::string(ExceptionName(0x40010005)) == "Control-C");
    CHECK(std::string(ExceptionName(0xC0000142)) == "DLL Initialization Failed");
    CHECK(std::string(ExceptionName(0xC00000FD)) == "Stack Overflow");
    CHECK(std::string(ExceptionName(0x2BADC0DE)) == "Exception");
    CHECK(std::string(ExceptionName(0)) == "Exception");

    // Decimal thread ids on the NT family, hexadecimal on the DOS-based one.
    CHECK(ExceptionLine(0xC0000094, 0x401234, 272, true) ==
          "Integer Divide by Zero [0xC0000094] at 0x00401234 in Thread 272.\r\n");
    CHECK(ExceptionLine(0xC0000094, 0x401234, 272, false) ==
          "Integer Divide by Zero [0xC0000094] at 0x00401234 in Thread 0x00000110.\r\n");
    if (kWideBuild) {
        // A 64-bit address keeps its high half.
        CHECK(ExceptionLine(0x80000003, 0x7FF612345678ULL, 1, true) ==
              "Breakpoint [0x80000003] at 0x7FF612345678 in Thread 1.\r\n");
    }
}

TEST_CASE("access violation location line")
{
    CHECK(AccessLine(1, 0, 2) == "Write to location 0x00000000.\r\n");
    CHECK(AccessLine(0, 0x10, 2) == "Read from location 0x00000010.\r\n");
    // Execution (8) counts as "not a read".
    CHECK(AccessLine(8, 0x1000, 2) == "Write to location 0x00001000.\r\n");
    // Too few parameters, or another code: no line.
    CHECK(AccessLine(1, 0, 1).empty());
    CHECK(AccessLine(1, 0, 2, 0xC0000006).empty());
}

TEST_CASE("register block and build line")
{
    CONTEXT context = {};
    char text[1024];
#if defined(_M_IX86) || defined(__i386__)
    context.Eax = 1;
    context.SegCs = 0x23;
    context.Eip = 0x401000;
    context.EFlags = 0x246;
    context.Ebx = 2;
    context.SegSs = 0x2B;
    context.Esp = 0x12FF00;
    context.Ebp = 0x12FF40;
    context.Ecx = 3;
    context.SegDs = 0x2B;
    context.Esi = 4;
    context.SegFs = 0x53;
    context.Edx = 5;
    context.SegEs = 0x2B;
    context.Edi = 6;
    context.SegGs = 0x2B;
    FormatRegisters(context, text, sizeof(text));
    CHECK(std::string(text) == "\r\nEAX=0x00000001, CS=0x0023, EIP=0x00401000, Flags=0x00000246\r\n"
                               "EBX=0x00000002, SS=0x002B, ESP=0x0012FF00, EBP=0x0012FF40\r\n"
                               "ECX=0x00000003, DS=0x002B, ESI=0x00000004, FS=0x0053\r\n"
                               "EDX=0x00000005, ES=0x002B, EDI=0x00000006, GS=0x002B\r\n");
    FormatBuildLine(true, text, sizeof(text));
    CHECK(std::string(text) == "x86 WOW64 Unicode\r\n");
    FormatBuildLine(false, text, sizeof(text));
    CHECK(std::string(text) == "x86 Unicode\r\n");
#else
    context.Rax = 1;
    context.Rip = 0x7FF612345678ULL;
    context.R8 = 8;
    context.R15 = 0xFFFFFFFFFFFFFFFFULL;
    context.SegCs = 0x33;
    FormatRegisters(context, text, sizeof(text));
    const std::string registers = text;
    CHECK(registers.rfind("\r\nRAX=0x0000000000000001, CS=0x0033, RIP=0x00007FF612345678, ", 0) ==
          0);
    CHECK(registers.find("\r\nR8=0x0000000000000008, R9=0x0000000000000000, ") !=
          std::string::npos);
    CHECK(registers.find("R15=0xFFFFFFFFFFFFFFFF\r\n") != std::string::npos);
    FormatBuildLine(false, text, sizeof(text));
    CHECK(std::string(text) == "x64 Unicode\r\n");
#endif
}

TEST_CASE("module line")
{
    ModuleRecord module;
    wchar_t path[] = L"C:\\Program Files\\Tessel\\Tessel.exe";
    module.path = new wchar_t[sizeof(path) / sizeof(path[0])];
    memcpy(module.path, path, sizeof(path));
    module.imageSize = 1101824;
    module.timeStamp = 0;
    module.checkSum = 0x128383;
    module.imageBase = 0x400000;
    module.fileVersion[0] = 0x00010002;
    module.fileVersion[1] = 0x00030004;
    module.productVersion[0] = 0x00050006;
    module.productVersion[1] = 0x00070008;
    char date[32];
    char time[32];
    FormatModuleTime(0, date, sizeof(date), time, sizeof(time));
    char text[512];
    FormatModuleLine(module, text, sizeof(text));
    const std::string expected =
        std::string(" 1101824 0x00000000 ") + std::string(10 - strlen(date), ' ') + date + " " +
        std::string(8 - strlen(time), ' ') + time +
        " 0x00128383 0x00400000    1.0002.00003.000004    5.0006.00007.000008"
        " - C:\\Program Files\\Tessel\\Tessel.exe\r\n";
    CHECK(std::string(text) == expected);
}

TEST_CASE("module time is local time in day.month.year")
{
    TIME_ZONE_INFORMATION zone;
    const DWORD kind = GetTimeZoneInformation(&zone);
    // 2023-02-18 22:16:11 UTC.
    const DWORD stamp = 0x63F14E2B;
    FILETIME universal;
    ULARGE_INTEGER ticks;
    ticks.QuadPart = (stamp + 11644473600ULL) * 10000000ULL;
    universal.dwLowDateTime = ticks.LowPart;
    universal.dwHighDateTime = ticks.HighPart;
    FILETIME local;
    SYSTEMTIME parts;
    REQUIRE(FileTimeToLocalFileTime(&universal, &local));
    REQUIRE(FileTimeToSystemTime(&local, &parts));
    char date[32];
    char time[32];
    FormatModuleTime(stamp, date, sizeof(date), time, sizeof(time));
    char expectedDate[32];
    char expectedTime[32];
    sprintf(expectedDate, "%2u.%02u.%04u", parts.wDay, parts.wMonth, parts.wYear);
    sprintf(expectedTime, "%2u:%02u:%02u", parts.wHour, parts.wMinute, parts.wSecond);
    CHECK(std::string(date) == expectedDate);
    CHECK(std::string(time) == expectedTime);
    if (kind == TIME_ZONE_ID_UNKNOWN && zone.Bias == 0) {
        CHECK(std::string(date) == "18.02.2023");
        CHECK(std::string(time) == "22:16:11");
    }
    // A single-digit day and hour are padded with a space.
    FormatModuleTime(0, date, sizeof(date), time, sizeof(time));
    CHECK(strlen(date) == 10);
    CHECK(strlen(time) == 8);
}

TEST_CASE("thread line")
{
    ThreadRecord thread;
    thread.id = 276;
    thread.stackBase = 0x1CBFED8;
    thread.stackEnd = 0x1CC0000;
    thread.startAddress = 0x401610;
    CopyThreadName(thread, "worker");
    char text[512];
    FormatThreadLine(thread, "NamedIdleThread", true, text, sizeof(text));
    CHECK(std::string(text) ==
          "276        0x01CBFED8 0x01CC0000 0x00401610 NamedIdleThread worker\r\n");
    FormatThreadLine(thread, "", false, text, sizeof(text));
    CHECK(std::string(text) == "0x00000114 0x01CBFED8 0x01CC0000 0x00401610  worker\r\n");

    // Names are cut to 99 characters.
    const std::string longName(150, 'n');
    CopyThreadName(thread, longName.c_str());
    CHECK(strlen(thread.name) == 99);
}

TEST_CASE("report file names, primary and fallback")
{
    wchar_t primary[kReportBaseRoom];
    wchar_t fallback[kReportBaseRoom];
    ReportBases(L"C:\\Program Files\\Tessel\\Tessel.exe", L"C:\\Temp\\", primary, fallback);
    CHECK(std::wstring(primary) == L"C:\\Program Files\\Tessel\\Tessel");
    CHECK(std::wstring(fallback) == L"C:\\Temp\\Tessel");

    // Only the file name loses its extension, never a folder.
    ReportBases(L"C:\\v1.2\\tool", L"C:\\T.mp\\", primary, fallback);
    CHECK(std::wstring(primary) == L"C:\\v1.2\\tool");
    CHECK(std::wstring(fallback) == L"C:\\T.mp\\tool");
    ReportBases(L"C:\\app\\my.tool.exe", L"C:\\Temp\\", primary, fallback);
    CHECK(std::wstring(primary) == L"C:\\app\\my.tool");
    CHECK(std::wstring(fallback) == L"C:\\Temp\\my");

    // Unknown program path.
    ReportBases(nullptr, L"C:\\Temp\\", primary, fallback);
    CHECK(std::wstring(primary) == L"MiniDump");
    CHECK(std::wstring(fallback) == L"C:\\Temp\\MiniDump");

    wchar_t name[64];
    CHECK(ReportFileName(L"C:\\Temp\\Tessel", false, name, 64));
    CHECK(std::wstring(name) == L"C:\\Temp\\Tessel_Debug.txt");
    CHECK(ReportFileName(L"C:\\Temp\\Tessel", true, name, 64));
    CHECK(std::wstring(name) == L"C:\\Temp\\Tessel_Debug.dmp");
    // Too long for the buffer: refused, not cut.
    CHECK_FALSE(ReportFileName(L"C:\\Temp\\Tessel", true, name, 24));
}

TEST_CASE("symbol search path")
{
    wchar_t path[1200];
    BuildSymbolPath(L"C:\\app\\", L"srv*C:\\sym", nullptr, L"C:\\windows", path, 1200);
    CHECK(std::wstring(path) == L"C:\\app\\;srv*C:\\sym;C:\\windows");
    BuildSymbolPath(L"", L"", L"", L"", path, 1200);
    CHECK(std::wstring(path).empty());
    BuildSymbolPath(nullptr, nullptr, L"C:\\alt", nullptr, path, 1200);
    CHECK(std::wstring(path) == L"C:\\alt");
}

TEST_CASE("stack line patterns and address texts")
{
    char text[512];
    StackLine frame;
    frame.symbol = "CrashByWritingToZero";
    frame.parameters[0] = 1;
    frame.parameters[3] = 0xABCDEF;
    frame.lineNumber = 30;
    frame.sourceFile = "C:\\src\\Child.cpp";
    FormatStackLine(frame, text, sizeof(text));
    CHECK(std::string(text) == "CrashByWritingToZero(0x1,0x0,0x0,0xABCDEF) - Line 30 in "
                               "C:\\src\\Child.cpp\r\n");

    frame.lineNumber = 0;
    frame.module = "kernel32";
    frame.symbol = "kernel32@0x293E0";
    FormatStackLine(frame, text, sizeof(text));
    CHECK(std::string(text) == "kernel32:kernel32@0x293E0(0x1,0x0,0x0,0xABCDEF)\r\n");

    frame.module = nullptr;
    frame.symbol = "0x0040F000";
    FormatStackLine(frame, text, sizeof(text));
    CHECK(std::string(text) == "0x0040F000(0x1,0x0,0x0,0xABCDEF)\r\n");

    FormatModuleOffset("ntdll", 0x7BC00000, 0x7BC5CA07, text, sizeof(text));
    CHECK(std::string(text) == "ntdll@0x5CA07");
    // Below the base the offset is the address itself; no name: both places.
    FormatModuleOffset("ntdll", 0x7BC00000, 0x1000, text, sizeof(text));
    CHECK(std::string(text) == "ntdll@0x1000");
    FormatModuleOffset("", 0x400000, 0x401000, text, sizeof(text));
    CHECK(std::string(text) == "0x1000@0x1000");

    CHECK(IsSystemCallPage(0x7FFE0300));
    CHECK_FALSE(IsSystemCallPage(0x7FFD0000));
    CHECK_FALSE(IsSystemCallPage(0x7FFF0000));
    if (!kWideBuild) {
        CHECK(DisplayAddress(0xFFFFFFFF80001000ULL) == 0x80001000);
    }
    CHECK(DisplayAddress(0x401000) == 0x401000);
}
