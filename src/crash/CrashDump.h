#pragma once

#include <windows.h>

#include "base/LockedList.h"
#include "crash/CrashReport.h"
#include "crash/DebugHelp.h"
#include "system/WorkerThread.h"

// The modules and threads that the minidump writer reports, in its order;
// the text report prints and frees them.
struct DumpLists
{
    LockedListOf<ModuleRecord> modules;
    LockedListOf<ThreadRecord> threads;
    DebugHelp::QueryThreadFunction queryThread = nullptr;
};

// Writes a normal minidump of the process into the file on a worker thread
// and waits for it, dispatching the calling thread's messages meanwhile.
// pointers may be null; crashingThread is the thread that raised them.
// 1 when the writer succeeded.
int WriteMinidump(const DebugHelp& debugHelp, HANDLE file, EXCEPTION_POINTERS* pointers,
                  DWORD crashingThread, DumpLists& lists);

// Fills a thread record: id, stack bounds, name and start address. thread
// may be null (the record then looks the thread up by id).
void DescribeThread(DWORD id, HANDLE thread, DWORD64 stackBase, DWORD64 stackEnd,
                    DebugHelp::QueryThreadFunction queryThread, ThreadRecord& record);

// Runs routine(argument) on a new thread and waits until it ends,
// dispatching the calling thread's messages meanwhile. 0 when no thread
// could be started.
int RunOnWorker(WorkerRoutine routine, void* argument);

// Waits until done is signalled or the reporting thread (null: none) has
// ended. With stackExhausted nothing but a wait for done runs; otherwise
// messages that other threads send are answered, so that they do not
// block, and nothing else of the thread's runs again.
void WaitForReport(HANDLE done, HANDLE reporter, bool stackExhausted);

// Threads of the crash reporter's own: a crash on one of them is not
// reported again and never waits for the report. Ids are taken back when
// the thread's part ends, since the system gives them to new threads.
void RememberReportThread(DWORD id);
void ForgetReportThread(DWORD id);
bool IsReportThread(DWORD id);

// Marks the calling thread as a report thread for the mark's life.
class ReportThreadMark
{
public:
    ReportThreadMark() : id_(GetCurrentThreadId()) { RememberReportThread(id_); }
    ~ReportThreadMark() { ForgetReportThread(id_); }
    ReportThreadMark(const ReportThreadMark&) = delete;
    ReportThreadMark& operator=(const ReportThreadMark&) = delete;

private:
    DWORD id_;
};
