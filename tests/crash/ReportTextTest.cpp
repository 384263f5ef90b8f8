#include <doctest.h>

#include <string.h>
#include <string>

#include "CrashTestSupport.h"
#include "crash/CrashReport.h"
#include "crash/DebugHelp.h"

namespace {

// What one of the report's formatters writes after its other arguments.
template <typename Format, typename... Arguments>
std::string Formatted(Format format, const Arguments&... arguments)
{
    char text[1024];
    format(arguments..., text, sizeof(text));
    return text;
}

std::string AccessLine(ULONG_PTR write, DWORD parameters, DWORD code = 0xC0000005)
{
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = code;
    record.NumberParameters = parameters;
    record.ExceptionInformation[0] = write;
    record.ExceptionInformation[1] = 0x10;
    return Formatted(FormatAccessLine, record);
}

} // namespace

TEST_CASE("exception and access lines")
{
    // Decimal thread ids on the NT family, hexadecimal on the DOS-based one.
    CHECK(Formatted(FormatExceptionLine, 0xC0000094, 0x401234, 272, true) ==
          "Integer Divide by Zero [0xC0000094] at 0x00401234 in Thread 272.\r\n");
    CHECK(Formatted(FormatExceptionLine, 0x12345678, 0x401234, 272, false) ==
          "Exception [0x12345678] at 0x00401234 in Thread 0x00000110.\r\n");
    // A 64-bit address keeps its high half.
    CHECK(Formatted(FormatExceptionLine, 0x80000003, 0x7FF612345678ULL, 1, true) ==
          (sizeof(void*) == 8 ? "Breakpoint [0x80000003] at 0x7FF612345678 in Thread 1.\r\n"
                              : "Breakpoint [0x80000003] at 0x12345678 in Thread 1.\r\n"));
    CHECK(AccessLine(1, 2) == "Write to location 0x00000010.\r\n");
    CHECK(AccessLine(0, 2) == "Read from location 0x00000010.\r\n");
    CHECK(AccessLine(1, 1).empty());
    CHECK(AccessLine(1, 2, 0xC0000006).empty());
}

#if defined(_M_IX86) || defined(__i386__)
TEST_CASE("x86 register block")
{
    CONTEXT c = {};
    c.Eax = 1, c.SegCs = 0x23, c.Eip = 0x401000, c.EFlags = 0x246, c.Ebx = 2, c.SegSs = 0x2B;
    c.Esp = 0x12FF00, c.Ebp = 0x12FF40, c.Ecx = 3, c.SegDs = 0x2B, c.Esi = 4, c.SegFs = 0x53;
    c.Edx = 5, c.SegEs = 0x2B, c.Edi = 6, c.SegGs = 0x2B;
    CHECK(Formatted(FormatRegisters, c) ==
          "\r\nEAX=0x00000001, CS=0x0023, EIP=0x00401000, Flags=0x00000246\r\n"
          "EBX=0x00000002, SS=0x002B, ESP=0x0012FF00, EBP=0x0012FF40\r\n"
          "ECX=0x00000003, DS=0x002B, ESI=0x00000004, FS=0x0053\r\n"
          "EDX=0x00000005, ES=0x002B, EDI=0x00000006, GS=0x002B\r\n");
    CHECK(Formatted(FormatBuildLine, true) == "x86 WOW64 Unicode\r\n");
}
#endif

TEST_CASE("module and thread lines")
{
    ModuleRecord module;
    module.path = new wchar_t[32];
    wcscpy(module.path, L"C:\\Tessel\\Tessel.exe");
    module.imageSize = 1101824;
    module.checkSum = 0x128383;
    module.imageBase = 0x400000;
    module.fileVersion[0] = 0x00010002;
    module.fileVersion[1] = 0x00030004;
    module.productVersion[0] = 0x00050006;
    module.productVersion[1] = 0x00070008;
    char date[32];
    char time[32];
    FormatModuleTime(0, date, sizeof(date), time, sizeof(time));
    CHECK(Formatted(FormatModuleLine, module) ==
          std::string(" 1101824 0x00000000 ") + date + " " + time +
              " 0x00128383 0x00400000    1.0002.00003.000004    "
              "5.0006.00007.000008 - C:\\Tessel\\Tessel.exe\r\n");

    ThreadRecord thread;
    thread.id = 276;
    thread.stackBase = 0x1CBFED8;
    thread.stackEnd = 0x1CC0000;
    thread.startAddress = 0x401610;
    CopyThreadName(thread, "worker");
    CHECK(Formatted(FormatThreadLine, thread, "NamedIdleThread", true) ==
          "276        0x01CBFED8 0x01CC0000 0x00401610 NamedIdleThread worker\r\n");
    CHECK(Formatted(FormatThreadLine, thread, "", false) ==
          "0x00000114 0x01CBFED8 0x01CC0000 0x00401610  worker\r\n");
}

TEST_CASE("a module path beyond Latin-1 is written in the code page, and a long one is cut")
{
    ModuleRecord module;
    const std::wstring path = L"C:\\\u0416\u0443\u043a \u20ac\\Tessel.exe";
    module.path = new wchar_t[path.size() + 1];
    wcscpy(module.path, path.c_str());
    CHECK(EndsWith(Formatted(FormatModuleLine, module), " - " + Narrow(path) + "\r\n"));

    // Cut within the path: as much of it as fits, and still the line end.
    char text[120];
    FormatModuleLine(module, text, 120);
    const std::string cut = text;
    CHECK(cut.size() <= 119);
    CHECK(EndsWith(cut, "\r\n"));
    const std::string start = cut.substr(cut.find(" - ") + 3, cut.size() - cut.find(" - ") - 5);
    CHECK(Narrow(path).compare(0, start.size(), start) == 0);
    CHECK_FALSE(start.empty());
    // Room for nothing but the line end.
    FormatModuleLine(module, text, 3);
    CHECK(std::string(text) == "\r\n");
}

TEST_CASE("report file names, primary and fallback")
{
    wchar_t primary[kReportBaseRoom];
    wchar_t fallback[kReportBaseRoom];
    ReportBases(L"C:\\Program Files\\Tessel\\Tessel.exe", L"C:\\Temp\\", primary, fallback);
    CHECK(std::wstring(primary) == L"C:\\Program Files\\Tessel\\Tessel");
    CHECK(std::wstring(fallback) == L"C:\\Temp\\Tessel");
    // Only the file name loses an extension, never a folder.
    ReportBases(L"C:\\v1.2\\tool", L"C:\\T.mp\\", primary, fallback);
    CHECK(std::wstring(primary) == L"C:\\v1.2\\tool");
    CHECK(std::wstring(fallback) == L"C:\\T.mp\\tool");
    ReportBases(nullptr, L"C:\\Temp\\", primary, fallback);
    CHECK(std::wstring(primary) == L"MiniDump");
    CHECK(std::wstring(fallback) == L"C:\\Temp\\MiniDump");

    wchar_t name[64];
    CHECK(ReportFileName(L"C:\\Temp\\Tessel", true, name, 64));
    CHECK(std::wstring(name) == L"C:\\Temp\\Tessel_Debug.dmp");
    // Too long for the buffer: refused, not cut.
    CHECK_FALSE(ReportFileName(L"C:\\Temp\\Tessel", false, name, 24));
}

TEST_CASE("symbol path, stack lines and address texts")
{
    wchar_t path[1200];
    BuildSymbolPath(L"C:\\app\\", L"srv*C:\\sym", nullptr, L"C:\\windows", path, 1200);
    CHECK(std::wstring(path) == L"C:\\app\\;srv*C:\\sym;C:\\windows");
    BuildSymbolPath(L"", nullptr, L"", nullptr, path, 1200);
    CHECK(std::wstring(path).empty());

    StackLine frame;
    frame.symbol = "Crash";
    frame.parameters[0] = 1;
    frame.parameters[3] = 0xABCDEF;
    frame.lineNumber = 30;
    frame.sourceFile = "C:\\src\\Child.cpp";
    CHECK(Formatted(FormatStackLine, frame) ==
          "Crash(0x1,0x0,0x0,0xABCDEF) - Line 30 in C:\\src\\Child.cpp\r\n");
    frame.lineNumber = 0;
    frame.module = "kernel32";
    frame.symbol = "kernel32@0x293E0";
    CHECK(Formatted(FormatStackLine, frame) ==
          "kernel32:kernel32@0x293E0(0x1,0x0,0x0,0xABCDEF)\r\n");

    CHECK(Formatted(FormatModuleOffset, "ntdll", 0x7BC00000, 0x7BC5CA07) == "ntdll@0x5CA07");
    // No name: the offset in both places.
    CHECK(Formatted(FormatModuleOffset, "", 0x400000, 0x401000) == "0x1000@0x1000");
}
