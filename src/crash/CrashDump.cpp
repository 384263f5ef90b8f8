#include "crash/CrashDump.h"

#include <new>
#include <stddef.h>
#include <string.h>
#include <wchar.h>

#include "base/ScopedHandle.h"
#include "system/WorkerThread.h"

namespace {

constexpr ULONG kThreadBasicInformation = 0;
constexpr ULONG kThreadStartAddress = 9;

// What NtQueryInformationThread answers for class 0.
struct ThreadBasicInformation
{
    LONG exitStatus;
    void* environmentBlock;
    HANDLE clientProcess;
    HANDLE clientThread;
    ULONG_PTR affinityMask;
    LONG priority;
    LONG basePriority;
};

volatile LONG gReportThreads[8] = {};

struct DumpJob
{
    DebugHelp::MiniDumpWriteDumpFunction writer;
    HANDLE file;
    MINIDUMP_EXCEPTION_INFORMATION* exception;
    MINIDUMP_CALLBACK_INFORMATION* callback;
    BOOL written;
};

DWORD DumpRoutine(void* argument, DWORD)
{
    ReportThreadMark mark;
    DumpJob* job = static_cast<DumpJob*>(argument);
    job->written = job->writer(GetCurrentProcess(), GetCurrentProcessId(), job->file,
                               MiniDumpNormal, job->exception, nullptr, job->callback);
    return 0;
}

void AddModule(LockedListOf<ModuleRecord>& modules, const MINIDUMP_MODULE_CALLBACK& module)
{
    ModuleRecord* record = new (std::nothrow) ModuleRecord;
    if (!record) {
        return;
    }
    size_t length = module.FullPath ? wcslen(module.FullPath) : 0;
    record->path = new (std::nothrow) wchar_t[length + 1];
    if (!record->path) {
        delete record;
        return;
    }
    wmemcpy(record->path, module.FullPath ? module.FullPath : L"", length);
    record->path[length] = 0;
    record->imageBase = DisplayAddress(module.BaseOfImage);
    record->imageSize = module.SizeOfImage;
    record->checkSum = module.CheckSum;
    record->timeStamp = module.TimeDateStamp;
    record->fileVersion[0] = module.VersionInfo.dwFileVersionMS;
    record->fileVersion[1] = module.VersionInfo.dwFileVersionLS;
    record->productVersion[0] = module.VersionInfo.dwProductVersionMS;
    record->productVersion[1] = module.VersionInfo.dwProductVersionLS;
    modules.Append(record);
}

void AddThread(DumpLists& lists, const MINIDUMP_THREAD_CALLBACK& thread)
{
    ThreadRecord* record = new (std::nothrow) ThreadRecord;
    if (!record) {
        return;
    }
    DescribeThread(thread.ThreadId, thread.ThreadHandle, thread.StackBase, thread.StackEnd,
                   lists.queryThread, *record);
    lists.threads.Append(record);
}

BOOL CALLBACK DumpCallback(void* parameter, const PMINIDUMP_CALLBACK_INPUT input,
                           PMINIDUMP_CALLBACK_OUTPUT)
{
    DumpLists* lists = static_cast<DumpLists*>(parameter);
    if (input->CallbackType == ModuleCallback) {
        AddModule(lists->modules, input->Module);
    } else if (input->CallbackType == ThreadCallback) {
        AddThread(*lists, input->Thread);
    }
    return TRUE;
}

// The thread's information block. The native query answers for the thread
// asked about; the selector of its FS register is the older way, kept for
// systems without the query (some answer the caller's own block there).
ULONG_PTR ThreadBlock(HANDLE thread, DebugHelp::QueryThreadFunction query)
{
    ThreadBasicInformation information;
    memset(&information, 0, sizeof(information));
    if (query &&
        query(thread, kThreadBasicInformation, &information, sizeof(information), nullptr) == 0) {
        return reinterpret_cast<ULONG_PTR>(information.environmentBlock);
    }
#if defined(_M_IX86) || defined(__i386__)
    CONTEXT context;
    memset(&context, 0, sizeof(context));
    context.ContextFlags = CONTEXT_SEGMENTS;
    LDT_ENTRY entry;
    if (GetThreadContext(thread, &context) &&
        GetThreadSelectorEntry(thread, context.SegFs, &entry)) {
        return entry.BaseLow | (static_cast<ULONG_PTR>(entry.HighWord.Bytes.BaseMid) << 16) |
               (static_cast<ULONG_PTR>(entry.HighWord.Bytes.BaseHi) << 24);
    }
#endif
    return 0;
}

// The text that the block's arbitrary-user-pointer slot points to, if any.
void ReadThreadName(ULONG_PTR block, ThreadRecord& record)
{
    record.name[0] = 0;
    if (block == 0) {
        return;
    }
    const HANDLE process = GetCurrentProcess();
    const void* slot =
        reinterpret_cast<const void*>(block + offsetof(NT_TIB, ArbitraryUserPointer));
    const char* text = nullptr;
    if (!ReadProcessMemory(process, slot, &text, sizeof(text), nullptr) || !text) {
        return;
    }
    // One character at a time: the text may end just before an unreadable
    // page.
    size_t length = 0;
    while (length + 1 < sizeof(record.name) &&
           ReadProcessMemory(process, text + length, &record.name[length], 1, nullptr) &&
           record.name[length] != 0) {
        ++length;
    }
    record.name[length] = 0;
}

DWORD64 StartAddress(HANDLE thread, DebugHelp::QueryThreadFunction query)
{
    void* start = nullptr;
    if (!query || query(thread, kThreadStartAddress, &start, sizeof(start), nullptr) != 0) {
        return 0;
    }
    return reinterpret_cast<ULONG_PTR>(start);
}

} // namespace

void DescribeThread(DWORD id, HANDLE thread, DWORD64 stackBase, DWORD64 stackEnd,
                    DebugHelp::QueryThreadFunction queryThread, ThreadRecord& record)
{
    record.id = id;
    record.stackBase = stackBase;
    record.stackEnd = stackEnd;
    ScopedHandle opened;
    if (!thread) {
        opened.Reset(OpenThread(THREAD_QUERY_INFORMATION | THREAD_GET_CONTEXT, FALSE, id));
        thread = opened.Get();
    }
    ReadThreadName(thread ? ThreadBlock(thread, queryThread) : 0, record);
    record.startAddress = thread ? StartAddress(thread, queryThread) : 0;
}

int WriteMinidump(const DebugHelp& debugHelp, HANDLE file, EXCEPTION_POINTERS* pointers,
                  DWORD crashingThread, DumpLists& lists)
{
    MINIDUMP_EXCEPTION_INFORMATION exception;
    exception.ThreadId = crashingThread;
    exception.ExceptionPointers = pointers;
    exception.ClientPointers = FALSE;
    lists.queryThread = debugHelp.QueryThread();
    MINIDUMP_CALLBACK_INFORMATION callback;
    callback.CallbackRoutine = DumpCallback;
    callback.CallbackParam = &lists;
    DumpJob job = {debugHelp.MiniDumpWriter(), file, pointers ? &exception : nullptr, &callback,
                   FALSE};
    if (!job.writer || !RunOnWorker(DumpRoutine, &job)) {
        return 0;
    }
    return job.written ? 1 : 0;
}

void RememberReportThread(DWORD id)
{
    for (volatile LONG& slot : gReportThreads) {
        if (InterlockedCompareExchange(&slot, static_cast<LONG>(id), 0) == 0) {
            return;
        }
    }
}

void ForgetReportThread(DWORD id)
{
    for (volatile LONG& slot : gReportThreads) {
        InterlockedCompareExchange(&slot, 0, static_cast<LONG>(id));
    }
}

bool IsReportThread(DWORD id)
{
    if (id == 0) {
        return false;
    }
    for (volatile LONG& slot : gReportThreads) {
        if (static_cast<DWORD>(slot) == id) {
            return true;
        }
    }
    return false;
}

int RunOnWorker(WorkerRoutine routine, void* argument)
{
    WorkerThread worker;
    if (!worker.Start(routine, argument, 0)) {
        return 0;
    }
    // A WM_QUIT in the queue ends the pumping wait early; the work must
    // still be finished before the worker object goes.
    while (!worker.Wait(0) && worker.IsRunning()) {
        Sleep(1);
    }
    return 1;
}

void WaitForReport(HANDLE done, HANDLE reporter, bool stackExhausted)
{
    // On an exhausted stack only the smallest wait fits.
    if (stackExhausted) {
        WaitForSingleObject(done, INFINITE);
        return;
    }
    const HANDLE ends[] = {done, reporter};
    const DWORD count = reporter ? 2 : 1;
    while (MsgWaitForMultipleObjects(count, ends, FALSE, INFINITE, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + count) {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}
