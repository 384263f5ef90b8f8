#include <doctest.h>

#include <windows.h>
#include <dbghelp.h>
#include <string.h>
#include <string>

#include "CrashChild.h"
#include "base/DynamicLibrary.h"

namespace {

constexpr DWORD kChildTime = 60000;
// "MDMP" read as a little-endian number.
constexpr ULONG32 kMinidumpSignature = 0x504D444D;

// One crash of the child program, copied into a folder of its own so that
// its reports land there.
struct ChildCrash
{
    TestFolder folder;
    std::wstring program;
    std::wstring base; // program path without ".exe"
    DWORD mainThread = 0;
    std::string report;

    explicit ChildCrash(const std::wstring& name = L"crash_child")
    {
        program = folder.Path() + name + L".exe";
        base = folder.Path() + name;
        CopyFileW((ProgramFolder() + L"crash_child.exe").c_str(), program.c_str(), FALSE);
    }

    void Run(const wchar_t* kind)
    {
        WatchedChild child;
        REQUIRE_MESSAGE(child.Start(program, kind), "crash_child.exe could not be started");
        mainThread = child.MainThread();
        REQUIRE_MESSAGE(child.WaitForEnd(kChildTime), "the crashing child did not end");
        report = ReadWholeFile(base + L"_Debug.txt");
    }

    std::string FirstLine() const { return report.substr(0, report.find("\r\n")); }
    std::string MainThreadSuffix() const
    {
        return " in Thread " + std::to_string(mainThread) + ".";
    }
};

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The address after " at 0x" in the exception line.
DWORD64 ExceptionAddressOf(const std::string& line)
{
    const size_t at = line.find(" at 0x");
    return at == std::string::npos ? 0 : strtoull(line.c_str() + at + 4, nullptr, 16);
}

std::string StackSection(const std::string& report)
{
    const size_t start = report.find("\r\nStack:\r\n");
    if (start == std::string::npos) {
        return std::string();
    }
    return report.substr(start, report.find("\r\n\r\n", start + 2) - start);
}

// Size of image and link time of a program file of this build's machine.
void ImageFacts(const std::wstring& path, DWORD& size, DWORD& timeStamp)
{
    const std::string image = ReadWholeFile(path);
    REQUIRE(image.size() > 0x200);
    LONG offset = 0;
    memcpy(&offset, image.data() + 0x3C, sizeof(offset));
    IMAGE_NT_HEADERS headers;
    memcpy(&headers, image.data() + offset, sizeof(headers));
    size = headers.OptionalHeader.SizeOfImage;
    timeStamp = headers.FileHeader.TimeDateStamp;
}

// The exception stream of a minidump, read by hand from its directory.
bool FindExceptionStream(const std::string& dump, MINIDUMP_EXCEPTION_STREAM& stream)
{
    MINIDUMP_HEADER header;
    if (dump.size() < sizeof(header)) {
        return false;
    }
    memcpy(&header, dump.data(), sizeof(header));
    if (header.Signature != kMinidumpSignature || header.NumberOfStreams == 0 ||
        header.StreamDirectoryRva + header.NumberOfStreams * sizeof(MINIDUMP_DIRECTORY) >
            dump.size()) {
        return false;
    }
    for (ULONG32 i = 0; i < header.NumberOfStreams; ++i) {
        MINIDUMP_DIRECTORY entry;
        memcpy(&entry, dump.data() + header.StreamDirectoryRva + i * sizeof(entry), sizeof(entry));
        if (entry.StreamType == ExceptionStream &&
            entry.Location.Rva + sizeof(stream) <= dump.size()) {
            memcpy(&stream, dump.data() + entry.Location.Rva, sizeof(stream));
            return true;
        }
    }
    return false;
}

// The same stream through the platform's own reader, on a mapped copy.
bool ReadExceptionStreamWithDbghelp(const std::wstring& path, MINIDUMP_EXCEPTION_STREAM& stream)
{
    DynamicLibrary dbghelp(L"dbghelp.dll");
    auto read = dbghelp.Symbol<decltype(&::MiniDumpReadDumpStream)>("MiniDumpReadDumpStream");
    if (!read) {
        return false;
    }
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ScopedHandle mapping(
        file ? CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr) : nullptr);
    void* view = mapping ? MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (!view) {
        return false;
    }
    PMINIDUMP_DIRECTORY entry = nullptr;
    void* data = nullptr;
    ULONG size = 0;
    const bool found = read(view, ExceptionStream, &entry, &data, &size) && size >= sizeof(stream);
    if (found) {
        memcpy(&stream, data, sizeof(stream));
    }
    UnmapViewOfFile(view);
    return found;
}

DWORD64 ProgramCounterOf(const std::string& dump, const MINIDUMP_LOCATION_DESCRIPTOR& where)
{
    CONTEXT context;
    if (where.DataSize < sizeof(context) || where.Rva + sizeof(context) > dump.size()) {
        return 0;
    }
    memcpy(&context, dump.data() + where.Rva, sizeof(context));
#if defined(_M_IX86) || defined(__i386__)
    return context.Eip;
#else
    return context.Rip;
#endif
}

} // namespace

TEST_CASE("a write to address 0: the whole report and a valid minidump")
{
    ChildCrash crash;
    crash.Run(L"write");
    const std::string& report = crash.report;
    REQUIRE_MESSAGE(!report.empty(), "no text report next to the program");
    const std::string first = crash.FirstLine();
    CHECK(first.rfind("Access Violation [0xC0000005] at 0x", 0) == 0);
    CHECK(EndsWith(first, crash.MainThreadSuffix()));
    CHECK(Lines(report)[1] == "Write to location 0x00000000.");
    CHECK(Lines(report)[2].empty());
    CHECK(Lines(report)[3].rfind(sizeof(void*) == 4 ? "EAX=0x" : "RAX=0x", 0) == 0);
    CHECK(Contains(report, " Mhz\r\n"));
    CHECK(Contains(report, sizeof(void*) == 4 ? " Unicode\r\n" : "\r\nx64 Unicode\r\n"));

    // The stack names the crashing function and its caller with lines.
    {
        const std::string stack = StackSection(report);
        const std::vector<std::string> frames = Lines(stack.substr(10));
        REQUIRE(frames.size() >= 2);
        CHECK(frames[0].rfind("CrashByWritingToZero(0x", 0) == 0);
        CHECK(Contains(frames[0], ") - Line "));
        CHECK(EndsWith(frames[0], "CrashChild.cpp"));
        CHECK(Contains(stack, "\r\nwmain(0x"));
    }

    // Module list: header and the program's own line.
    {
        CHECK(Contains(report, "\r\nModuleList:\r\n    Size TimeStamp                      "
                               "CheckSum   ImageBase  Versions\r\n"));
        std::string own;
        for (const std::string& line : Section(report, "ModuleList:")) {
            if (EndsWith(line, " - " + std::string(crash.program.begin(), crash.program.end()))) {
                own = line;
            }
        }
        REQUIRE_MESSAGE(!own.empty(), "the program is missing from the module list");
        DWORD size = 0;
        DWORD timeStamp = 0;
        ImageFacts(crash.program, size, timeStamp);
        const std::vector<std::string> words = Words(own);
        REQUIRE(words.size() >= 10);
        CHECK(Number(words[0]) == size);
        CHECK(Number(words[1]) == timeStamp);
        CHECK(words[1].size() == 10);
        CHECK(own.size() > 8);
        CHECK(own[8] == ' ');
    }

    // Thread list: ids, stacks, start symbols and the named thread.
    {
        const std::vector<std::string> threads = Section(report, "ThreadList:");
        CHECK(Contains(report, "\r\nThreadList:\r\nId         StackBase  StackEnd   "
                               "StartAddress\r\n"));
        bool sawMain = false;
        bool sawNamed = false;
        for (const std::string& line : threads) {
            const std::vector<std::string> words = Words(line);
            REQUIRE(words.size() >= 4);
            CHECK(line.substr(8, 3) == "   ");
            if (Number(words[0]) == crash.mainThread) {
                sawMain = true;
                CHECK(Number(words[1]) != Number(words[2]));
                CHECK_FALSE(Contains(line, "tessel-named-worker"));
            }
            if (Contains(line, "NamedIdleThread")) {
                sawNamed = true;
                // Each thread's own information block gives its name.
                CHECK(EndsWith(line, " NamedIdleThread tessel-named-worker"));
            }
        }
        CHECK(sawMain);
        CHECK(sawNamed);
    }

    // The minidump holds the exception of the crashing thread.
    {
        const std::wstring dumpPath = crash.base + L"_Debug.dmp";
        const std::string dump = ReadWholeFile(dumpPath);
        MINIDUMP_EXCEPTION_STREAM stream;
        REQUIRE_MESSAGE(FindExceptionStream(dump, stream), "no valid minidump");
        CHECK(stream.ThreadId == crash.mainThread);
        CHECK(stream.ExceptionRecord.ExceptionCode == 0xC0000005);
        CHECK(stream.ExceptionRecord.ExceptionAddress == ExceptionAddressOf(first));
        CHECK(ProgramCounterOf(dump, stream.ThreadContext) == ExceptionAddressOf(first));

        MINIDUMP_EXCEPTION_STREAM readBack;
        if (ReadExceptionStreamWithDbghelp(dumpPath, readBack)) {
            CHECK(readBack.ThreadId == stream.ThreadId);
            CHECK(readBack.ExceptionRecord.ExceptionAddress ==
                  stream.ExceptionRecord.ExceptionAddress);
        } else {
            MESSAGE("MiniDumpReadDumpStream is not offered here");
        }
    }
}

TEST_CASE("each kind of exception is named on the thread that raised it")
{
    struct Kind
    {
        const wchar_t* argument;
        const char* start;
        const char* function; // innermost named frame, or null
    };
    const Kind kinds[] = {
        {L"read", "Access Violation [0xC0000005] at 0x", "CrashByReading"},
        {L"divide", "Integer Divide by Zero [0xC0000094] at 0x", "CrashByDividing"},
        {L"cpp", "Microsoft C++ Exception [0xE06D7363] at 0x", nullptr},
        {L"unknown", "Exception [0x2BADC0DE] at 0x", nullptr},
    };
    for (const Kind& kind : kinds) {
        CAPTURE(std::string(kind.start));
        ChildCrash crash;
        crash.Run(kind.argument);
        const std::string first = crash.FirstLine();
        CHECK(first.rfind(kind.start, 0) == 0);
        CHECK(EndsWith(first, crash.MainThreadSuffix()));
        if (kind.function) {
            CHECK(Contains(StackSection(crash.report), std::string("\r\n") + kind.function + "("));
        }
        if (kind.argument == std::wstring(L"read")) {
            CHECK(Lines(crash.report)[1] == "Read from location 0x00000010.");
        } else {
            CHECK(Lines(crash.report)[1].empty());
        }
    }
}

TEST_CASE("a stack overflow still gets its whole report")
{
    if (sizeof(void*) == 8 && RunningUnderWine()) {
        // Wine's 64-bit exception dispatch overflows the last stack page
        // itself before any handler runs.
        MESSAGE("a stack overflow reaches no handler in 64-bit Wine");
        return;
    }
    ChildCrash crash;
    crash.Run(L"overflow");
    CHECK(crash.FirstLine().rfind("Stack Overflow [0xC00000FD] at 0x", 0) == 0);
    // The walk ends where the recursion repeats the same frame.
    const std::vector<std::string> frames = Lines(StackSection(crash.report).substr(10));
    REQUIRE(frames.size() == 2);
    CHECK(frames[0].rfind("CrashByRecursing(", 0) == 0);
    CHECK(frames[1].rfind("CrashByRecursing(", 0) == 0);
    CHECK(Contains(crash.report, "\r\nThreadList:\r\n"));
    CHECK(FileExists(crash.base + L"_Debug.dmp"));
}

TEST_CASE("messages waiting for the crashing thread do not cut the report short")
{
    ChildCrash crash;
    crash.Run(L"again");
    REQUIRE_MESSAGE(!crash.report.empty(), "no report");
    CHECK(crash.FirstLine().rfind("Access Violation [0xC0000005] at 0x", 0) == 0);
    CHECK(Lines(crash.report)[1] == "Read from location 0x00000010.");
    CHECK(Section(crash.report, "ThreadList:").size() > 1);
    CHECK(FileExists(crash.base + L"_Debug.dmp"));
}

TEST_CASE("crashes on other threads")
{
    SUBCASE("a worker thread's crash names the worker")
    {
        ChildCrash crash;
        crash.Run(L"worker");
        const std::string first = crash.FirstLine();
        CHECK(first.rfind("Access Violation [0xC0000005] at 0x", 0) == 0);
        CHECK_FALSE(EndsWith(first, crash.MainThreadSuffix()));
        CHECK(Contains(StackSection(crash.report), "\r\nCrashingThread("));
    }

    SUBCASE("two threads crashing at once give one complete report")
    {
        ChildCrash crash;
        crash.Run(L"two");
        const std::string& report = crash.report;
        size_t exceptionLines = 0;
        for (size_t at = 0; (at = report.find("Access Violation [", at)) != std::string::npos;
             ++at) {
            ++exceptionLines;
        }
        CHECK(exceptionLines == 1);
        CHECK(Section(report, "ModuleList:").size() > 1);
        // The report ran to its end: the thread list closes it, with the
        // second crashing thread still waiting in it.
        const std::vector<std::string> threads = Section(report, "ThreadList:");
        CHECK(threads.size() >= 4);
        CHECK(EndsWith(report, "\r\n"));
        size_t crashing = 0;
        for (const std::string& line : threads) {
            crashing += Contains(line, " CrashingThread ") ? 1 : 0;
        }
        CHECK(crashing == 2);
    }
}

TEST_CASE("where the program's folder takes no reports, they go to the temporary folder")
{
    const std::wstring name = L"crash_child_" + std::to_wstring(GetCurrentProcessId());
    ChildCrash crash(name);
    // Folders in the way of both report files: neither can be created there.
    CreateDirectoryW((crash.base + L"_Debug.txt").c_str(), nullptr);
    CreateDirectoryW((crash.base + L"_Debug.dmp").c_str(), nullptr);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    RemovedAtEnd text(std::wstring(temp) + name + L"_Debug.txt");
    RemovedAtEnd dump(std::wstring(temp) + name + L"_Debug.dmp");

    crash.Run(L"write");
    const std::string report = ReadWholeFile(text.Path());
    CHECK(report.rfind("Access Violation [0xC0000005] at 0x", 0) == 0);
    CHECK(ReadWholeFile(dump.Path()).rfind("MDMP", 0) == 0);
}

TEST_CASE("without dbghelp: a text report with no stack, no lists and no dump")
{
    if (!RunningUnderWine()) {
        MESSAGE("dbghelp can be made unloadable only under Wine");
        return;
    }
    const std::wstring name = L"crash_child_nodbghelp_" + std::to_wstring(GetCurrentProcessId());
    WineDllDisabled noDbghelp(name + L".exe", L"dbghelp");
    ChildCrash crash(name);
    crash.Run(L"write");
    const std::string& report = crash.report;
    CHECK(report.rfind("Access Violation [0xC0000005] at 0x", 0) == 0);
    CHECK(Contains(report, sizeof(void*) == 4 ? "\r\nEDX=0x" : "\r\nRDX=0x"));
    CHECK(Contains(report, "] Build "));
    CHECK_FALSE(Contains(report, "Stack:"));
    CHECK_FALSE(Contains(report, "ModuleList:"));
    CHECK_FALSE(Contains(report, "ThreadList:"));
    CHECK_FALSE(FileExists(crash.base + L"_Debug.dmp"));
}
