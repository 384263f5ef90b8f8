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

// How the calling thread waits for a worker: dispatching all its messages
// (the pumping wait), answering only messages sent by other threads, or
// with nothing but the wait.
enum class WorkerWait
{
    Pumping,
    SentMessages,
    Plain
};

// Runs routine(argument) on a new thread and waits until it ends. 0 when
// no thread could be started.
int RunOnWorker(WorkerRoutine routine, void* argument, WorkerWait wait);

// Threads of the crash reporter's own: a crash on one of them is not
// reported again and never waits for the report.
void RememberReportThread();
bool IsReportThread(DWORD id);
