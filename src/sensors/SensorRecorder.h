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
    static DWORD WINAPI WriterEntry(void* self);
    void WriteUntilStopped();
    // Writes what is queued; 0 with failure_ set when a write failed.
    int WritePending();
    int WriteAll(const std::string& bytes);
    bool IsTaking() const;
    void EndAfterFailure(DWORD error);

    mutable CriticalSection lock_;
    // Under lock_: the text waiting for the writer, and whether reports are
    // taken.
    std::string pending_;
    bool taking_ = false;
    DWORD failure_ = 0;
    unsigned long long rows_ = 0;

    ScopedHandle file_;
    ScopedHandle writer_;
    Event stop_;
    // Bytes on disk that end after a whole row.
    unsigned long long written_ = 0;
    // The writer's batch; keeps its buffer from one batch to the next.
    std::string writing_;
    HWND failureWindow_ = nullptr;
    UINT failureMessage_ = 0;
    LPARAM recording_ = 0;
};

// How often the writer puts the queue on disk, in milliseconds.
constexpr DWORD kRecordingFlushMs = 100;
// The most text the queue holds; a disk slower than the sensors for this
// long ends the recording with ERROR_NOT_ENOUGH_MEMORY instead of losing
// reports silently.
constexpr size_t kRecordingQueueLimit = 64u * 1024u * 1024u;
