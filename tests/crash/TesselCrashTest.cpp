#include <doctest.h>

#include <windows.h>
#include <dbghelp.h>
#include <tlhelp32.h>
#include <string>

#include "CrashTestSupport.h"
#include "ReportDialogDriver.h"
#include "base/DynamicLibrary.h"

namespace {

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

// Tessel is crashed from outside: a thread started in it at one of its own
// text functions, with an argument that is not a pointer, reads address 0x10.
TEST_CASE("Tessel's own crash report names the crashing function")
{
    ProgramCopy tessel(L"..\\Tessel.exe", L"Tessel.exe");
    REQUIRE(tessel.Start(L""));
    REQUIRE_MESSAGE(tessel.child.WaitForWindow(), "Tessel showed no window");

    const DWORD64 function = RemoteFunction(tessel.child.Process(), tessel.child.ProcessId(),
                                            tessel.path, "FlattenLines");
    REQUIRE_MESSAGE(function != 0, "FlattenLines not found in Tessel.exe");
    ScopedHandle thread(CreateRemoteThread(
        tessel.child.Process(), nullptr, 0,
        reinterpret_cast<LPTHREAD_START_ROUTINE>(static_cast<ULONG_PTR>(function)),
        reinterpret_cast<void*>(static_cast<ULONG_PTR>(0x10)), 0, nullptr));
    REQUIRE(thread);
    // Tessel has a report server: its problem report dialog is answered.
    ReportDialogDriver dontSend(L"Tessel",
                                [](HWND dialog) { Press(dialog, IDC_REPORT_DONT_SEND); });
    CHECK(dontSend.Join());
    CHECK(dontSend.Found());
    REQUIRE_MESSAGE(tessel.child.WaitForEnd(60000), "Tessel did not end after its crash");

    const std::string report = ReadWholeFile(tessel.Report(L"_Debug.txt"));
    CHECK(StartsWith(report, "Access Violation [0xC0000005] at 0x"));
    CHECK(Contains(report, "\r\nRead from location 0x00000010.\r\n"));
    const std::vector<std::string> stack = Section(report, "Stack:", 0);
    REQUIRE(!stack.empty());
    CHECK(StartsWith(stack[0], "FlattenLines("));
    CHECK(Contains(stack[0], " - Line "));
    CHECK(FileExists(tessel.Report(L"_Debug.dmp")));
}
