#pragma once

#include "base/LockedList.h"
#include "base/ScopedHandle.h"
#include "system/WorkerThread.h"

#include <windows.h>
#include <sensorsapi.h>

#include <string>

class SensorEntry;

// Writes every data report of every sensor to a CSV file while it records
// (RecordingFormat.h gives the text). Reports are captured on the Sensor
// API's threads, which only turn them into text and queue it; a writer
// thread of the recorder's own puts the queue on disk every
// kRecordingFlushMs, so an event never waits for the disk.
//
// When a write fails (disk full, drive removed), the recording ends: later
// reports are no longer taken, a partly written piece is cut off again so
// that the file ends after a whole row, and the failure window gets the
// failure message once, with the system's error code as wParam and the
// recording's number as lParam. The window then calls Stop.
//
// The queue, the file and the writer's state live in a session that the
// recorder and its writer share, so that a writer held up by its target
// (a network share that hangs, a removed drive) can be left to finish on
// its own while the recorder goes on, or goes.
class SensorRecorder
{
public:
    SensorRecorder();
    ~SensorRecorder();
    SensorRecorder(const SensorRecorder&) = delete;
    SensorRecorder& operator=(const SensorRecorder&) = delete;

    // Creates the file at path (replacing one there) and records into it
    // from now on. 1; or 0 with the system's error code in *error, when the
    // file cannot be created, the writer cannot start or a recording runs.
    int Start(const wchar_t* path, HWND failureWindow, UINT failureMessage, DWORD* error);
    // Ends the recording: what was captured is written and the file closed.
    // Answers the error that ended it early, or 0. Nothing when none runs.
    // Waits at most kRecordingStopWaitMs for the writer: one still held up
    // by its target then finishes on its own, and Stop answers
    // kRecordingUnfinished (the last rows may never reach the file).
    DWORD Stop();
    // True from Start to Stop, also after a failure not yet stopped.
    bool IsRecording() const;
    // The number of the current or last recording, counted from 1; a
    // failure message with another number comes from an earlier one.
    LPARAM RecordingNumber() const { return recording_; }
    // Rows taken into the current or last recording.
    unsigned long long RowsTaken() const;

    // Takes one data report with its fields (any thread).
    void Capture(const SensorEntry& entry, ISensorDataReport* report, const LockedList& fields);
    // A SensorReportObserver; context is the recorder.
    static void Observe(const SensorEntry& entry, ISensorDataReport* report,
                        const LockedList& fields, void* context);

private:
    class Session;

    // The current session with a reference for the caller, or null.
    Session* ShareSession() const;

    // Guards session_, which Capture reads on the event threads.
    mutable CriticalSection sessionLock_;
    Session* session_ = nullptr;
    ScopedHandle writer_;
    unsigned long long lastRows_ = 0;
    LPARAM recording_ = 0;
};

// How often the writer puts the queue on disk, in milliseconds.
constexpr DWORD kRecordingFlushMs = 100;
// The longest Stop waits for the writer to finish, in milliseconds.
constexpr DWORD kRecordingStopWaitMs = 2000;
// Stop's answer when the writer was still held up by its target.
constexpr DWORD kRecordingUnfinished = ERROR_TIMEOUT;
// The most text the queue holds; a disk slower than the sensors for this
// long ends the recording with ERROR_NOT_ENOUGH_MEMORY instead of losing
// reports silently.
constexpr size_t kRecordingQueueLimit = 64u * 1024u * 1024u;
