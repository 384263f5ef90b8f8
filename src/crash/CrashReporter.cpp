#include "crash/CrashReporter.h"

#include <string.h>

#include <exception>

#include "base/DynamicLibrary.h"
#include "crash/CrashDump.h"
#include "crash/NarrowText.h"
#include "crash/ReportUpload.h"
#include "system/ModuleVersion.h"
#include "system/OsVersion.h"
#include "crash/ProcessorInfo.h"
#include "system/Wow64.h"

namespace {

CrashReporter* gInstalled = nullptr;
// Set by the first crash and never cleared.
volatile LONG gCrashSeen = 0;

constexpr DWORD kTempFolderRoom = 520;
constexpr size_t kReportNameRoom = kReportBaseRoom + 16;

// The code an uncaught C++ exception raises in MSVC builds.
constexpr DWORD kCppExceptionCode = 0xE06D7363;

std::terminate_handler gPreviousTerminate = nullptr;

// Runtimes whose uncaught exceptions end in std::terminate (MinGW's) would
// otherwise abort without a report: turn that into the exception an MSVC
// build raises, which reaches the crash filter.
void RaiseUncaughtCppException()
{
    RaiseException(kCppExceptionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

LONG WINAPI CrashFilter(EXCEPTION_POINTERS* pointers)
{
    CrashReporter* reporter = gInstalled;
    return reporter ? reporter->HandleCrash(pointers) : EXCEPTION_CONTINUE_SEARCH;
}

// Registers the report files with Windows error reporting, where the
// system offers it, so that they travel with the system's own report.
class ErrorReportingFiles
{
public:
    ErrorReportingFiles() : kernel32_(L"kernel32.dll") {}

    void Register(const wchar_t* path)
    {
        if (!looked_) {
            looked_ = true;
            register_ = kernel32_.Symbol<RegisterFunction>("WerRegisterFile");
        }
        if (register_) {
            register_(path, kOtherFileType, kAnyMode);
        }
    }

private:
    using RegisterFunction = HRESULT(WINAPI*)(const wchar_t*, int, DWORD);
    static constexpr int kOtherFileType = 2;
    static constexpr DWORD kAnyMode = 2;

    DynamicLibrary kernel32_;
    bool looked_ = false;
    RegisterFunction register_ = nullptr;
};

HANDLE CreateReportFile(const wchar_t* name)
{
    return CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Creates the file under the primary base, else under the fallback base.
// name receives the name used, or the fallback name when neither worked.
HANDLE CreateReportFile(const wchar_t* primary, const wchar_t* fallback, bool dump, wchar_t* name)
{
    if (ReportFileName(primary, dump, name, kReportNameRoom)) {
        HANDLE file = CreateReportFile(name);
        if (file != INVALID_HANDLE_VALUE) {
            return file;
        }
    }
    if (!ReportFileName(fallback, dump, name, kReportNameRoom)) {
        name[0] = 0;
        return nullptr;
    }
    HANDLE file = CreateReportFile(name);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

void WriteText(HANDLE file, const char* text)
{
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}

struct VersionFacts
{
    OSVERSIONINFOA version;
    bool nt;
};

VersionFacts ReadVersionFacts()
{
    VersionFacts facts;
    memset(&facts.version, 0, sizeof(facts.version));
    facts.version.dwOSVersionInfoSize = sizeof(facts.version);
    if (!GetVersionExA(&facts.version)) {
        memset(&facts.version, 0, sizeof(facts.version));
    }
    facts.nt = facts.version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    return facts;
}

void WriteException(HANDLE file, const EXCEPTION_POINTERS& pointers, DWORD crashingThread, bool nt)
{
    char text[1024];
    const EXCEPTION_RECORD* record = pointers.ExceptionRecord;
    if (record) {
        FormatExceptionLine(record->ExceptionCode,
                            reinterpret_cast<ULONG_PTR>(record->ExceptionAddress), crashingThread,
                            nt, text, sizeof(text));
        WriteText(file, text);
        if (FormatAccessLine(*record, text, sizeof(text))) {
            WriteText(file, text);
        }
    }
    if (pointers.ContextRecord) {
        FormatRegisters(*pointers.ContextRecord, text, sizeof(text));
        WriteText(file, text);
    }
}

void WriteProcessors(HANDLE file)
{
    ProcessorInfo processors;
    WideString name;
    WideString vendor;
    WideString identifier;
    DWORD megahertz = 0;
    for (unsigned index = 0; processors.Get(index, &name, &vendor, &identifier, &megahertz);
         ++index) {
        name.TrimLeft();
        WideString line(1024);
        Format(line, L"\r\n%s %s %s %u Mhz", name.Data(), vendor.Data(), identifier.Data(),
               megahertz);
        const char* narrow = line.ToNarrow();
        WriteText(file, narrow ? narrow : "");
    }
}

void WriteSystem(HANDLE file, const VersionFacts& facts)
{
    const OsVersionCode code = GetOsDetails();
    wchar_t description[OS_DESCRIPTION_CAPACITY];
    description[0] = 0;
    WideString os(DescribeOs(OsKernelWord(code), OsDetailWord(code), description));
    const char* osText = os.ToNarrow();
    const OSVERSIONINFOA& v = facts.version;
    const DWORD build = facts.nt ? v.dwBuildNumber : (v.dwBuildNumber & 0xFFFF);
    char text[1024];
    FormatNarrow(text, sizeof(text), "\r\n%s [%u.%u] Build %u %s\r\n", osText ? osText : "",
                 v.dwMajorVersion, v.dwMinorVersion, build, v.szCSDVersion);
    WriteText(file, text);
    FormatBuildLine(IsWow64(nullptr) == 1, text, sizeof(text));
    WriteText(file, text);
}

void WriteModules(HANDLE file, LockedListOf<ModuleRecord>& modules)
{
    if (!modules.First()) {
        return;
    }
    WriteText(file, "\r\nModuleList:\r\n    Size TimeStamp                      CheckSum   "
                    "ImageBase  Versions\r\n");
    char text[2 * MAX_PATH + 256];
    while (ModuleRecord* module = modules.First()) {
        FormatModuleLine(*module, text, sizeof(text));
        WriteText(file, text);
        modules.Remove(module);
        delete module;
    }
}

void WriteThreads(HANDLE file, LockedListOf<ThreadRecord>& threads, const DebugHelp& debugHelp,
                  bool nt)
{
    if (!threads.First()) {
        return;
    }
    WriteText(file, "\r\nThreadList:\r\nId         StackBase  StackEnd   StartAddress\r\n");
    char symbol[1024];
    char text[1400];
    while (ThreadRecord* thread = threads.First()) {
        if (!debugHelp.DescribeAddress(thread->startAddress, symbol, sizeof(symbol))) {
            symbol[0] = 0;
        }
        FormatThreadLine(*thread, symbol, nt, text, sizeof(text));
        WriteText(file, text);
        threads.Remove(thread);
        delete thread;
    }
}

void WriteReportText(HANDLE file, EXCEPTION_POINTERS* pointers, DWORD crashingThread,
                     DumpLists& lists, const DebugHelp& debugHelp)
{
    const VersionFacts facts = ReadVersionFacts();
    if (pointers) {
        WriteException(file, *pointers, crashingThread, facts.nt);
    }
    WriteProcessors(file);
    WriteSystem(file, facts);
    if (pointers && pointers->ContextRecord && debugHelp.IsBound()) {
        WriteText(file, "\r\nStack:\r\n");
        debugHelp.WalkStack(pointers->ContextRecord, file);
    }
    WriteModules(file, lists.modules);
    WriteThreads(file, lists.threads, debugHelp, facts.nt);
}

DWORD WINAPI ReportThreadRoutine(void* argument)
{
    return static_cast<CrashReporter*>(argument)->ServeReport();
}

bool IsStackOverflow(const EXCEPTION_POINTERS* pointers)
{
    return pointers && pointers->ExceptionRecord &&
           pointers->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW;
}

} // namespace

CrashReporter::CrashReporter()
    : reportStart_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      reportDone_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      reportEnd_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

CrashReporter::~CrashReporter()
{
    InstallCrashFilter(0);
}

void CrashReporter::InstallCrashFilter(int enable)
{
    if (enable == 1) {
        StartReportThread();
        LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(CrashFilter);
        if (gInstalled != this) {
            previousFilter_ = previous == CrashFilter ? nullptr : previous;
        }
        gInstalled = this;
        std::terminate_handler previousTerminate = std::set_terminate(RaiseUncaughtCppException);
        if (previousTerminate != RaiseUncaughtCppException) {
            gPreviousTerminate = previousTerminate;
        }
        return;
    }
    if (gInstalled == this) {
        SetUnhandledExceptionFilter(previousFilter_);
        gInstalled = nullptr;
        if (std::get_terminate() == RaiseUncaughtCppException) {
            std::set_terminate(gPreviousTerminate);
        }
    }
    EndReportThread();
}

void CrashReporter::StartReportThread()
{
    if (reportThread_ || !reportStart_ || !reportDone_ || !reportEnd_) {
        return;
    }
    ResetEvent(reportEnd_.Get());
    reportThread_.Reset(CreateThread(nullptr, 0, ReportThreadRoutine, this, 0, nullptr));
}

void CrashReporter::EndReportThread()
{
    if (!reportThread_) {
        return;
    }
    SetEvent(reportEnd_.Get());
    // A report under way runs to its end. The handle is signalled also when
    // the process's end has taken the thread already.
    WaitForSingleObject(reportThread_.Get(), INFINITE);
    reportThread_.Reset();
}

DWORD CrashReporter::ServeReport()
{
    HANDLE events[] = {reportStart_.Get(), reportEnd_.Get()};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
        return 0;
    }
    ReportThreadMark mark;
    // From here on a fault of the crashing thread waits for this report.
    ForgetReportThread(job_.crashingThread);
    job_.result = WriteReportFor(job_.pointers, job_.crashingThread);
    SetEvent(reportDone_.Get());
    return 1;
}

void CrashReporter::Configure(int iconId, const wchar_t* host, const wchar_t* path,
                              const wchar_t* product, const wchar_t* extra)
{
    settings_.iconId = iconId;
    settings_.host.Assign(host ? host : L"");
    settings_.path.Assign(path ? path : L"");
    settings_.product.Assign(L"");
    if (product) {
        settings_.product.Assign(product);
    } else {
        ReadVersionString(settings_.product, L"InternalName");
    }
    settings_.extra.Assign(extra ? extra : L"");
}

LONG CrashReporter::HandleCrash(EXCEPTION_POINTERS* pointers)
{
    if (InterlockedCompareExchange(&gCrashSeen, 1, 0) != 0) {
        return HandleRepeatedCrash();
    }
    // Until the report thread has the crash, a second fault here must go
    // to the system: waiting for the report would wait for this thread.
    const DWORD crashingThread = GetCurrentThreadId();
    RememberReportThread(crashingThread);
    BeforeReportStarts();
    // The report runs on the thread made for it at installation: the
    // crashing thread may have almost no stack left, so it only signals and
    // waits. Only without that thread does the report run here. Meanwhile
    // the crashing thread runs none of its own window code again: what
    // failed once would likely fail again, and a crash nested in this filter
    // ends the process at once, before the report is written.
    job_.pointers = pointers;
    job_.crashingThread = crashingThread;
    job_.result = 1;
    const bool stackExhausted = IsStackOverflow(pointers);
    if (reportThread_ && SetEvent(reportStart_.Get())) {
        WaitForReport(reportDone_.Get(), reportThread_.Get(), stackExhausted);
    } else {
        job_.result = WriteReportFor(pointers, crashingThread);
        SetEvent(reportDone_.Get());
    }
    // On an exhausted stack the system's own handling cannot run (it
    // overflows again and the process hangs): the process ends here.
    if (job_.result == 1 && !stackExhausted) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    return EXCEPTION_EXECUTE_HANDLER;
}

// Another crash after the first: from the report's own threads it goes to
// the system at once; any other thread, also the first crashing thread
// when a message it dispatches while waiting crashes again, waits until the
// first report is complete, so that the system's handling cannot cut it
// short. The wait is bounded: a thread that faulted while holding a lock
// the report needs (the loader lock in a DllMain, the heap's lock) would
// otherwise wait for a report that waits for it, and the process would hang
// with neither a report nor the system's handling. It also ends when the
// report thread has gone.
LONG CrashReporter::HandleRepeatedCrash()
{
    if (!IsReportThread(GetCurrentThreadId())) {
        const HANDLE ends[] = {reportDone_.Get(), reportThread_.Get()};
        WaitForMultipleObjects(ends[1] ? 2 : 1, ends, FALSE, kRepeatedCrashWaitMs);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

int CrashReporter::WriteCrashReport(EXCEPTION_POINTERS* pointers)
{
    return WriteReportFor(pointers, GetCurrentThreadId());
}

int CrashReporter::WriteReportFor(EXCEPTION_POINTERS* pointers, DWORD crashingThread)
{
    wchar_t temp[kTempFolderRoom];
    DWORD tempLength = GetTempPathW(kTempFolderRoom, temp);
    if (tempLength == 0 || tempLength >= kTempFolderRoom) {
        temp[0] = 0;
    }
    wchar_t program[MAX_PATH];
    DWORD programLength = GetModuleFileNameW(nullptr, program, MAX_PATH);
    const bool haveProgram = programLength > 0 && programLength < MAX_PATH;
    wchar_t primary[kReportBaseRoom];
    wchar_t fallback[kReportBaseRoom];
    ReportBases(haveProgram ? program : nullptr, temp, primary, fallback);

    ErrorReportingFiles errorReporting;
    DumpLists lists;
    wchar_t dumpName[kReportNameRoom] = L"";
    if (debugHelp_.Load()) {
        ScopedHandle dump(CreateReportFile(primary, fallback, true, dumpName));
        if (dump) {
            errorReporting.Register(dumpName);
            WriteMinidump(debugHelp_, dump.Get(), pointers, crashingThread, lists);
        }
    }
    wchar_t textName[kReportNameRoom];
    {
        ScopedHandle text(CreateReportFile(primary, fallback, false, textName));
        if (text) {
            errorReporting.Register(textName);
            WriteReportText(text.Get(), pointers, crashingThread, lists, debugHelp_);
        }
    }
    const int result = SubmitProblemReport(settings_, dumpName, textName);
    debugHelp_.Unload();
    return result;
}

int ConfigureCrashReporter(int iconId, const wchar_t* host, const wchar_t* path,
                           const wchar_t* product, const wchar_t* extra)
{
    if (!gInstalled) {
        return 0;
    }
    gInstalled->Configure(iconId, host, path, product, extra);
    return 1;
}
