#include "sensors/SensorRecorder.h"

#include "sensors/RecordingFormat.h"
#include "sensors/SensorList.h"
#include "system/Files.h"

#include <new>

namespace {

// How far local time is ahead of UTC now, in minutes. Reports are of the
// moment, so the offset in force now is theirs: converting through file
// times costs a fraction of a microsecond, the time zone's rules for the
// given day (SystemTimeToTzSpecificLocalTime) about 7 under Wine, for every
// report.
int LocalOffsetMinutes(const SYSTEMTIME& utc)
{
    FILETIME utcFile;
    FILETIME localFile;
    if (!SystemTimeToFileTime(&utc, &utcFile) || !FileTimeToLocalFileTime(&utcFile, &localFile)) {
        return 0;
    }
    ULARGE_INTEGER from;
    from.LowPart = utcFile.dwLowDateTime;
    from.HighPart = utcFile.dwHighDateTime;
    ULARGE_INTEGER to;
    to.LowPart = localFile.dwLowDateTime;
    to.HighPart = localFile.dwHighDateTime;
    const LONGLONG steps = static_cast<LONGLONG>(to.QuadPart - from.QuadPart);
    return static_cast<int>(steps / 600000000);
}

// The report's own time (the Sensor API gives it in UTC) in local time with
// its offset; the time of arrival when the report has none or an
// impossible one.
RecordTime ReportTime(ISensorDataReport* report)
{
    SYSTEMTIME utc = {};
    RecordTime time = {};
    ReportUtcTime(report, utc);
    if (ToRecordTime(utc, LocalOffsetMinutes(utc), time)) {
        return time;
    }
    GetSystemTime(&utc);
    if (!ToRecordTime(utc, LocalOffsetMinutes(utc), time)) {
        time.local = utc;
        time.offsetMinutes = 0;
    }
    return time;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", or empty when the sensor gives
// no id.
void SensorIdText(ISensor* sensor, wchar_t (&text)[40])
{
    text[0] = L'\0';
    SENSOR_ID id;
    if (!sensor || FAILED(sensor->GetID(&id)) || !StringFromGUID2(id, text, 40)) {
        text[0] = L'\0';
    }
}

// The rows of one report; 0 when memory ran out.
int FormatReportRows(const SensorEntry& entry, ISensorDataReport* report, const LockedList& fields,
                     std::string& rows, unsigned& count)
{
    wchar_t id[40];
    SensorIdText(entry.Sensor(), id);
    std::string columns;
    if (!FormatReportColumns(ReportTime(report), entry.Name().Data(), id, columns)) {
        return 0;
    }
    for (const ListNode* node = fields.First(); node; node = node->next) {
        const auto* field = static_cast<const SensorField*>(node);
        if (!AppendRecordRow(rows, columns, field->name.Data(), field->valueText.Data())) {
            return 0;
        }
        ++count;
    }
    return 1;
}

} // namespace

// The state one recording's writer shares with the recorder: the queue,
// the file and what was written. Reference counted: the recorder and the
// writer thread each hold one, and Capture one while it queues.
class SensorRecorder::Session
{
public:
    Session(HWND failureWindow, UINT failureMessage, LPARAM recording)
        : failureWindow_(failureWindow), failureMessage_(failureMessage), recording_(recording)
    {
        lock_.Init();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void AddRef() { InterlockedIncrement(&references_); }
    void Release()
    {
        if (InterlockedDecrement(&references_) == 0) {
            delete this;
        }
    }

    // Creates the file and the stop event and queues the header. 1, or 0
    // with the system's error code in *error.
    int Open(const wchar_t* path, DWORD* error);
    // Queues the rows of one report (formatted 0: they could not be made).
    void Take(const std::string& rows, unsigned count, bool formatted);
    bool IsTaking() const;
    // Takes no more reports and tells the writer to finish.
    void EndTaking();
    unsigned long long Rows() const;
    DWORD Failure() const;
    // Once the writer has ended.
    void CloseFile() { file_.Reset(); }

    // The writer thread's routine; releases the writer's reference.
    static DWORD WINAPI WriterEntry(void* session);

private:
    ~Session() = default;
    void WriteUntilStopped();
    // Writes what is queued; 0 with failure_ set when a write failed.
    int WritePending();
    int WriteAll(const std::string& bytes);
    void EndAfterFailure(DWORD error);

    volatile LONG references_ = 1;
    mutable CriticalSection lock_;
    // Under lock_: the text waiting for the writer, whether reports are
    // taken, the error that ended the recording and the rows taken.
    std::string pending_;
    bool taking_ = true;
    DWORD failure_ = 0;
    unsigned long long rows_ = 0;

    ScopedHandle file_;
    Event stop_;
    // Bytes on disk that end after a whole row.
    unsigned long long written_ = 0;
    // The writer's batch; keeps its buffer from one batch to the next.
    std::string writing_;
    const HWND failureWindow_;
    const UINT failureMessage_;
    const LPARAM recording_;
};

int SensorRecorder::Session::Open(const wchar_t* path, DWORD* error)
{
    // Readable by others while it grows, so that it can be looked at.
    file_.Reset(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_ || !stop_.Create(1, 0)) {
        *error = GetLastError();
        return 0;
    }
    if (!AppendBytes(pending_, kRecordingStart)) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    return 1;
}

void SensorRecorder::Session::Take(const std::string& rows, unsigned count, bool formatted)
{
    ScopedLock lock(lock_);
    if (!taking_) {
        return;
    }
    if (!formatted || pending_.size() > kRecordingQueueLimit ||
        !AppendBytes(pending_, rows.data(), rows.size())) {
        // The writer ends the recording with this once the queue is out.
        taking_ = false;
        failure_ = ERROR_NOT_ENOUGH_MEMORY;
        return;
    }
    rows_ += count;
}

bool SensorRecorder::Session::IsTaking() const
{
    ScopedLock lock(lock_);
    return taking_;
}

void SensorRecorder::Session::EndTaking()
{
    {
        ScopedLock lock(lock_);
        taking_ = false;
    }
    stop_.Set();
}

unsigned long long SensorRecorder::Session::Rows() const
{
    ScopedLock lock(lock_);
    return rows_;
}

DWORD SensorRecorder::Session::Failure() const
{
    ScopedLock lock(lock_);
    return failure_;
}

DWORD WINAPI SensorRecorder::Session::WriterEntry(void* session)
{
    Session* self = static_cast<Session*>(session);
    self->WriteUntilStopped();
    self->Release();
    return 0;
}

void SensorRecorder::Session::WriteUntilStopped()
{
    for (;;) {
        const DWORD waited = WaitForSingleObject(stop_.Handle(), kRecordingFlushMs);
        if (!WritePending()) {
            return;
        }
        if (waited != WAIT_TIMEOUT) {
            // A drive that is about to be removed has the whole file.
            FlushFileBuffers(file_.Get());
            return;
        }
    }
}

int SensorRecorder::Session::WritePending()
{
    DWORD failure;
    {
        ScopedLock lock(lock_);
        writing_.swap(pending_);
        failure = failure_;
    }
    const int written = writing_.empty() || WriteAll(writing_);
    writing_.clear();
    if (!written) {
        return 0;
    }
    if (failure) {
        EndAfterFailure(failure);
        return 0;
    }
    return 1;
}

int SensorRecorder::Session::WriteAll(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD piece = static_cast<DWORD>(
            bytes.size() - done < FILE_WRITE_PIECE ? bytes.size() - done : FILE_WRITE_PIECE);
        DWORD wrote = 0;
        if (!WriteFile(file_.Get(), bytes.data() + done, piece, &wrote, nullptr) || !wrote) {
            const DWORD error = GetLastError();
            EndAfterFailure(error ? error : ERROR_WRITE_FAULT);
            return 0;
        }
        done += wrote;
    }
    written_ += bytes.size();
    return 1;
}

// Cuts off what the failed write left of its batch: the file ends after the
// last whole row. (A pipe or a drive that is gone cannot be cut; their
// failure stays.)
void SensorRecorder::Session::EndAfterFailure(DWORD error)
{
    {
        ScopedLock lock(lock_);
        taking_ = false;
        failure_ = error;
        pending_.clear();
    }
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(written_);
    if (SetFilePointerEx(file_.Get(), end, nullptr, FILE_BEGIN)) {
        SetEndOfFile(file_.Get());
    }
    PostMessageW(failureWindow_, failureMessage_, error, recording_);
}

SensorRecorder::SensorRecorder()
{
    sessionLock_.Init();
}

SensorRecorder::~SensorRecorder()
{
    Stop();
}

int SensorRecorder::Start(const wchar_t* path, HWND failureWindow, UINT failureMessage,
                          DWORD* error)
{
    if (writer_) {
        *error = ERROR_BUSY;
        return 0;
    }
    Session* session = new (std::nothrow) Session(failureWindow, failureMessage, recording_ + 1);
    if (!session) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    if (!session->Open(path, error)) {
        session->Release();
        return 0;
    }
    // The writer's own reference.
    session->AddRef();
    writer_.Reset(CreateThread(nullptr, 0, Session::WriterEntry, session, 0, nullptr));
    if (!writer_) {
        *error = GetLastError();
        session->Release();
        session->Release();
        return 0;
    }
    ++recording_;
    lastRows_ = 0;
    ScopedLock lock(sessionLock_);
    session_ = session;
    return 1;
}

// The window waits for a slow writer a moment only: a target that hangs
// keeps the writer, never the window.
DWORD SensorRecorder::Stop()
{
    if (!writer_) {
        return 0;
    }
    Session* session;
    {
        ScopedLock lock(sessionLock_);
        session = session_;
        session_ = nullptr;
    }
    session->EndTaking();
    const bool finished = WaitForSingleObject(writer_.Get(), kRecordingStopWaitMs) == WAIT_OBJECT_0;
    writer_.Reset();
    lastRows_ = session->Rows();
    DWORD failure = kRecordingUnfinished;
    if (finished) {
        failure = session->Failure();
        session->CloseFile();
    }
    session->Release();
    return failure;
}

bool SensorRecorder::IsRecording() const
{
    return writer_.IsValid();
}

unsigned long long SensorRecorder::RowsTaken() const
{
    if (Session* session = ShareSession()) {
        const unsigned long long rows = session->Rows();
        session->Release();
        return rows;
    }
    return lastRows_;
}

SensorRecorder::Session* SensorRecorder::ShareSession() const
{
    ScopedLock lock(sessionLock_);
    if (session_) {
        session_->AddRef();
    }
    return session_;
}

void SensorRecorder::Observe(const SensorEntry& entry, ISensorDataReport* report,
                             const LockedList& fields, void* context)
{
    static_cast<SensorRecorder*>(context)->Capture(entry, report, fields);
}

// The text is made before the session's lock is taken; under it, the text
// is only appended to the queue, so reports of other sensors hardly wait.
void SensorRecorder::Capture(const SensorEntry& entry, ISensorDataReport* report,
                             const LockedList& fields)
{
    Session* session = ShareSession();
    if (!session) {
        return;
    }
    if (session->IsTaking()) {
        std::string rows;
        unsigned count = 0;
        const int formatted = FormatReportRows(entry, report, fields, rows, count);
        session->Take(rows, count, formatted != 0);
    }
    session->Release();
}
