#include <doctest.h>

#include <windows.h>
#include <dbghelp.h>
#include <stdlib.h>

#include <algorithm>

#include "CrashTestSupport.h"
#include "base/DynamicLibrary.h"
#include "crash/CrashReporter.h"

namespace {

const bool kWideBuild = sizeof(void*) == 8;

// One crash of the child program, copied into a folder of its own so that
// its reports land there.
struct ChildCrash
{
    ProgramCopy copy;
    DWORD mainThread = 0;
    std::string report;
    std::vector<std::string> lines;

    explicit ChildCrash(const wchar_t* kind, const std::wstring& name = L"crash_child",
                        bool blockPrimary = false)
        : copy(L"crash_child.exe", name + L".exe")
    {
        if (blockPrimary) {
            // Folders in the way: neither report file can be created here.
            CreateDirectoryW(copy.Report(L"_Debug.txt").c_str(), nullptr);
            CreateDirectoryW(copy.Report(L"_Debug.dmp").c_str(), nullptr);
        }
        REQUIRE(copy.Start(kind));
        mainThread = copy.MainThread();
        REQUIRE_MESSAGE(copy.WaitForEnd(60000), "the crashing child did not end");
        report = ReadWholeFile(copy.Report(L"_Debug.txt"));
        lines = Lines(report);
        REQUIRE_MESSAGE((blockPrimary || lines.size() > 2), "no text report");
    }
    std::string OnMainThread() const { return " in Thread " + std::to_string(mainThread) + "."; }
};

DWORD64 Hex(const std::string& text, size_t at)
{
    return strtoull(text.c_str() + at, nullptr, 16);
}

// The minidump's exception stream, read with the platform's own reader.
bool ReadExceptionStream(const std::wstring& path, MINIDUMP_EXCEPTION_STREAM& stream,
                         DWORD64& programCounter)
{
    DynamicLibrary dbghelp(L"dbghelp.dll");
    auto read = dbghelp.Symbol<decltype(&::MiniDumpReadDumpStream)>("MiniDumpReadDumpStream");
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ScopedHandle mapping(
        file ? CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr) : nullptr);
    BYTE* view = static_cast<BYTE*>(mapping ? MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0)
                                            : nullptr);
    PMINIDUMP_DIRECTORY entry = nullptr;
    void* data = nullptr;
    ULONG size = 0;
    const bool found =
        read && view && read(view, ExceptionStream, &entry, &data, &size) && size >= sizeof(stream);
    if (found) {
        memcpy(&stream, data, sizeof(stream));
        CONTEXT context;
        memcpy(&context, view + stream.ThreadContext.Rva, sizeof(context));
#if defined(_M_IX86) || defined(__i386__)
        programCounter = context.Eip;
#else
        programCounter = context.Rip;
#endif
    }
    if (view)
        UnmapViewOfFile(view);
    return found;
}

} // namespace

TEST_CASE("a write to address 0: the whole report and a valid minidump")
{
    ChildCrash crash(L"write");
    const std::vector<std::string>& lines = crash.lines;
    CHECK(StartsWith(lines[0], "Access Violation [0xC0000005] at 0x"));
    CHECK(EndsWith(lines[0], crash.OnMainThread()));
    CHECK(lines[1] == "Write to location 0x00000000.");
    CHECK(StartsWith(lines[3], kWideBuild ? "RAX=0x" : "EAX=0x"));
    CHECK(Contains(crash.report, kWideBuild ? "\r\nx64 Unicode\r\n" : " Unicode\r\n"));

    // The stack names the crashing function and its caller, with lines.
    const std::vector<std::string> stack = Section(crash.report, "Stack:", 0);
    REQUIRE(stack.size() >= 2);
    CHECK(StartsWith(stack[0], "CrashByWritingToZero(0x"));
    CHECK(Contains(stack[0], ") - Line "));
    CHECK(EndsWith(stack[0], "CrashChild.cpp"));
    CHECK(StartsWith(stack[1], "wmain(0x"));

    // The program's module line carries its image size and link time.
    CHECK(Contains(crash.report, "\r\nModuleList:\r\n    Size TimeStamp                      "
                                 "CheckSum   ImageBase  Versions\r\n"));
    const std::string image = ReadWholeFile(crash.copy.path);
    IMAGE_NT_HEADERS headers;
    memcpy(&headers, image.data() + *reinterpret_cast<const LONG*>(image.data() + 0x3C),
           sizeof(headers));
    std::string line;
    for (const std::string& module : Section(crash.report, "ModuleList:"))
        line = EndsWith(module, " - " + Narrow(crash.copy.path)) ? module : line;
    REQUIRE(!line.empty());
    CHECK(strtoul(line.c_str(), nullptr, 10) == headers.OptionalHeader.SizeOfImage);
    CHECK(Hex(line, 11) == headers.FileHeader.TimeDateStamp);

    // Each thread's own information block gives its name, and its start
    // address names the thread routine.
    CHECK(Contains(crash.report, "\r\nThreadList:\r\nId         StackBase  StackEnd   "
                                 "StartAddress\r\n"));
    const std::vector<std::string> threads = Section(crash.report, "ThreadList:");
    const auto mainLine =
        std::find_if(threads.begin(), threads.end(), [&](const std::string& line) {
            return strtoul(line.c_str(), nullptr, 10) == crash.mainThread;
        });
    REQUIRE(mainLine != threads.end());
    CHECK(mainLine->substr(8, 5) == "   0x");
    char* stackEnd = nullptr;
    const DWORD64 stackBase = strtoull(mainLine->c_str() + 8, &stackEnd, 16);
    CHECK(stackBase != strtoull(stackEnd, nullptr, 16));
    CHECK(std::any_of(threads.begin(), threads.end(), [](const std::string& line) {
        return EndsWith(line, " NamedIdleThread tessel-named-worker");
    }));

    // The dump's exception stream: the crashing thread, its code and address.
    MINIDUMP_EXCEPTION_STREAM stream = {};
    DWORD64 programCounter = 0;
    REQUIRE(ReadExceptionStream(crash.copy.Report(L"_Debug.dmp"), stream, programCounter));
    const DWORD64 address = Hex(lines[0], lines[0].find(" at 0x") + 4);
    CHECK(stream.ThreadId == crash.mainThread);
    CHECK(stream.ExceptionRecord.ExceptionCode == 0xC0000005);
    CHECK(stream.ExceptionRecord.ExceptionAddress == address);
    CHECK(programCounter == address);
}

TEST_CASE("each kind of exception is named on the thread that raised it")
{
    const char* const violation = "Access Violation [0xC0000005] at 0x";
    const char* const readAt10 = "Read from location 0x00000010.";
    const struct
    {
        const wchar_t* kind;
        const char* start;
        const char* second;
        const char* caller; // of the crashing function, for a crash off the main thread
    } kinds[] = {
        {L"read", violation, readAt10, nullptr},
        {L"divide", "Integer Divide by Zero [0xC0000094] at 0x", "", nullptr},
        {L"cpp", "Microsoft C++ Exception [0xE06D7363] at 0x", "", nullptr},
        {L"unknown", "Exception [0x2BADC0DE] at 0x", "", nullptr},
        // Waiting for this thread: a message that would crash it again (the
        // report must not be cut short) and a quit message.
        {L"again", violation, readAt10, nullptr},
        {L"worker", violation, "Write to location 0x00000000.", "CrashingThread("},
    };
    for (const auto& kind : kinds) {
        CAPTURE(Narrow(kind.kind));
        ChildCrash crash(kind.kind);
        CHECK(StartsWith(crash.lines[0], kind.start));
        CHECK(EndsWith(crash.lines[0], crash.OnMainThread()) == !kind.caller);
        CHECK(crash.lines[1] == kind.second);
        CHECK(!Section(crash.report, "ThreadList:").empty());
        if (kind.caller)
            CHECK(StartsWith(Section(crash.report, "Stack:", 0).at(1), kind.caller));
    }
}

TEST_CASE("a stack overflow still gets its whole report")
{
    if (kWideBuild && RunningUnderWine()) {
        // Wine's 64-bit exception dispatch overflows the last stack page
        // itself before any handler runs.
        MESSAGE("a stack overflow reaches no handler in 64-bit Wine");
        return;
    }
    ChildCrash crash(L"overflow");
    CHECK(StartsWith(crash.lines[0], "Stack Overflow [0xC00000FD] at 0x"));
    // The walk ends where the recursion repeats the same frame.
    const std::vector<std::string> stack = Section(crash.report, "Stack:", 0);
    REQUIRE(stack.size() == 2);
    CHECK(StartsWith(stack[1], "CrashByRecursing("));
    CHECK(!Section(crash.report, "ThreadList:").empty());
    CHECK(update_test::Exists(crash.copy.Report(L"_Debug.dmp")));
}

TEST_CASE("a second fault while the first crash is taken ends the process")
{
    // "twice": a second fault before the report thread has the crash waited
    // for a report that only the faulting thread could start. "dllmain": a
    // second thread faults inside a DllMain, holding the loader lock that
    // the report needs. Waiting without a bound, the child hung.
    const struct
    {
        const wchar_t* kind;
        DWORD waitMs;
    } kinds[] = {{L"twice", 20000}, {L"dllmain", kRepeatedCrashWaitMs + 15000}};
    for (const auto& kind : kinds) {
        CAPTURE(Narrow(kind.kind));
        ProgramCopy copy(L"crash_child.exe", L"crash_child.exe");
        REQUIRE(copy.CopyBeside(L"faulting_library.dll", L"faulting_library.dll"));
        REQUIRE(copy.Start(kind.kind));
        CHECK_MESSAGE(copy.WaitForEnd(kind.waitMs), "the child hung after its second fault");
    }
}

TEST_CASE("two threads crashing at once give one complete report")
{
    ChildCrash crash(L"two");
    CHECK(crash.report.find("Access Violation [") == crash.report.rfind("Access Violation ["));
    // The report ran to its end: the thread list closes it, with the
    // second crashing thread still waiting in it.
    const std::vector<std::string> threads = Section(crash.report, "ThreadList:");
    CHECK(std::count_if(threads.begin(), threads.end(), [](const std::string& line) {
              return Contains(line, " CrashingThread ");
          }) == 2);
    CHECK(EndsWith(crash.report, " \r\n"));
}

TEST_CASE("where the program's folder takes no reports, they go to the temporary folder")
{
    const std::wstring name = L"crash_child_" + std::to_wstring(GetCurrentProcessId());
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring report = std::wstring(temp) + name + L"_Debug.txt";
    const std::wstring dump = std::wstring(temp) + name + L"_Debug.dmp";
    DeleteFileW(report.c_str());
    DeleteFileW(dump.c_str());
    ChildCrash(L"write", name, true);
    const std::string reportText = ReadWholeFile(report);
    const std::string dumpBytes = ReadWholeFile(dump);
    DeleteFileW(report.c_str());
    DeleteFileW(dump.c_str());
    CHECK(StartsWith(reportText, "Access Violation [0xC0000005] at 0x"));
    CHECK(StartsWith(dumpBytes, "MDMP"));
}

TEST_CASE("without dbghelp: a text report with no stack, no lists and no dump")
{
    if (!RunningUnderWine()) {
        MESSAGE("dbghelp can be made unloadable only under Wine");
        return;
    }
    const std::wstring name = L"crash_child_nodbghelp_" + std::to_wstring(GetCurrentProcessId());
    const AtScopeEnd noDbghelp = WineDllOverrides(name + L".exe", {L"dbghelp"}, L"");
    ChildCrash crash(L"write", name);
    CHECK(StartsWith(crash.lines[0], "Access Violation [0xC0000005] at 0x"));
    CHECK(Contains(crash.report, kWideBuild ? "\r\nRDX=0x" : "\r\nEDX=0x"));
    CHECK(Contains(crash.report, "] Build "));
    CHECK_FALSE(Contains(crash.report, "Stack:"));
    CHECK_FALSE(Contains(crash.report, "ModuleList:"));
    CHECK_FALSE(Contains(crash.report, "ThreadList:"));
    CHECK_FALSE(update_test::Exists(crash.copy.Report(L"_Debug.dmp")));
}
