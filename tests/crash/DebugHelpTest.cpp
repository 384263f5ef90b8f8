#include <doctest.h>

#include <string>

#include "crash/CrashReporter.h"
#include "crash/DebugHelp.h"
#include "CrashTestFiles.h"

#if defined(_MSC_VER)
#define NOT_INLINED __declspec(noinline)
#else
#define NOT_INLINED __attribute__((noinline))
#endif

namespace {

NOT_INLINED void CaptureHere(CONTEXT& context)
{
    RtlCaptureContext(&context);
}

NOT_INLINED void OuterCaller(CONTEXT& context)
{
    CaptureHere(context);
    // Keeps this frame from becoming a jump.
    static volatile int calls = 0;
    calls = calls + 1;
}

std::string WalkToText(const DebugHelp& debugHelp, const CONTEXT& context)
{
    TestFolder folder;
    const std::wstring path = folder.Path() + L"stack.txt";
    {
        ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        REQUIRE(file);
        debugHelp.WalkStack(&context, file.Get());
    }
    return ReadWholeFile(path);
}

} // namespace

TEST_CASE("debug help binds, walks a stack and names addresses")
{
    DebugHelp debugHelp;
    CHECK_FALSE(debugHelp.IsBound());
    char text[600] = "untouched";
    CHECK(debugHelp.DescribeAddress(reinterpret_cast<ULONG_PTR>(&CaptureHere), text,
                                    sizeof(text)) == 0);
    CHECK(std::string(text) == "untouched");

    REQUIRE(debugHelp.Load() == 1);
    const bool hasWriter = debugHelp.MiniDumpWriter() != nullptr;
    const bool hasQuery = debugHelp.QueryThread() != nullptr;
    CHECK(hasWriter);
    CHECK(hasQuery);

    // Own functions by name, with an offset only when asked.
    {
        const DWORD64 address = reinterpret_cast<ULONG_PTR>(&OuterCaller);
        REQUIRE(debugHelp.DescribeAddress(address, text, sizeof(text)) == 1);
        CHECK(std::string(text).find("OuterCaller") != std::string::npos);
        DWORD64 displacement = 99;
        REQUIRE(debugHelp.DescribeAddress(address + 3, text, sizeof(text), &displacement) == 1);
        CHECK(displacement == 3);
        CHECK(std::string(text).find("OuterCaller - Offset: 0x3") != std::string::npos);
    }

    // Module of an address.
    {
        char name[MAX_PATH] = "";
        DWORD64 base = 0;
        const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
        const DWORD64 inside =
            reinterpret_cast<ULONG_PTR>(GetProcAddress(kernel32, "GetCurrentProcessId"));
        REQUIRE(debugHelp.DescribeModule(inside, name, sizeof(name), &base) == 1);
        CHECK(base == reinterpret_cast<ULONG_PTR>(kernel32));
        CHECK(std::string(name).find("kernel32") != std::string::npos);
        // Nothing is mapped at 16: unknown.
        CHECK(debugHelp.DescribeModule(16, name, sizeof(name), &base) == 0);
        CHECK(debugHelp.DescribeAddress(16, text, sizeof(text)) == 0);
    }

    // A captured context walks out to main with source lines.
    {
        CONTEXT context = {};
        OuterCaller(context);
        const std::string stack = WalkToText(debugHelp, context);
        CAPTURE(stack);
        const size_t main = stack.find("\r\nmain(0x");
        REQUIRE(main != std::string::npos);
        CHECK(stack.find(" - Line ", main) < stack.find("\r\n", main + 2));
        CHECK(stack.find("\r\n", stack.size() - 2) == stack.size() - 2);
    }

    debugHelp.Unload();
    CHECK_FALSE(debugHelp.IsBound());
    const bool writerGone = debugHelp.MiniDumpWriter() == nullptr;
    const bool queryGone = debugHelp.QueryThread() == nullptr;
    CHECK(writerGone);
    CHECK(queryGone);
    // Not bound: no walk, no text.
    CONTEXT context = {};
    OuterCaller(context);
    CHECK(WalkToText(debugHelp, context).empty());
}

TEST_CASE("a report without an exception has no exception, register or stack pieces")
{
    CrashReporter reporter;
    reporter.Configure(101, L"", L"/kestrel/report.php", nullptr, nullptr);
    wchar_t program[MAX_PATH];
    REQUIRE(GetModuleFileNameW(nullptr, program, MAX_PATH) > 0);
    std::wstring base = program;
    base = base.substr(0, base.rfind(L'.'));
    RemovedAtEnd text(base + L"_Debug.txt");
    RemovedAtEnd dump(base + L"_Debug.dmp");

    // No report server: the system's own handling should follow.
    CHECK(reporter.WriteCrashReport(nullptr) == 1);

    const std::string report = ReadWholeFile(text.Path());
    REQUIRE(!report.empty());
    CHECK(report.find(" in Thread ") == std::string::npos);
    CHECK(report.find("Stack:") == std::string::npos);
    CHECK(report.rfind("\r\n", 0) == 0);
    CHECK(report.find(" Mhz") != std::string::npos);
    CHECK(report.find("] Build ") != std::string::npos);
    CHECK(report.find(" Unicode\r\n") != std::string::npos);
    CHECK(report.find("\r\nModuleList:\r\n") != std::string::npos);
    CHECK(report.find("\r\nThreadList:\r\n") != std::string::npos);
    CHECK(ReadWholeFile(dump.Path()).rfind("MDMP", 0) == 0);
}
