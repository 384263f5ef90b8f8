#include "sensors/SensorRecorder.h"

#include "sensors/RecordingFormat.h"
#include "sensors/SensorList.h"
#include "system/Files.h"

namespace {

// The report's own time (the Sensor API gives it in UTC) in local time; the
// time of arrival when the report has none or an impossible one. Reports
// are of the moment, so the offset in force now is theirs: converting
// through file times costs a fraction of a microsecond, the time zone's
// rules for the given day (SystemTimeToTzSpecificLocalTime) about 7 under
// Wine, for every report.
SYSTEMTIME ReportLocalTime(ISensorDataReport* report)
{
    SYSTEMTIME utc = {};
    SYSTEMTIME local = {};
    FILETIME utcFile;
    FILETIME localFile;
    if (report && SUCCEEDED(report->GetTimestamp(&utc)) && SystemTimeToFileTime(&utc, &utcFile) &&
        FileTimeToLocalFileTime(&utcFile, &localFile) && FileTimeToSystemTime(&localFile, &local)) {
        return local;
    }
    GetLocalTime(&local);
    return local;
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
    if (!FormatReportColumns(ReportLocalTime(report), entry.Name().Data(), id, columns)) {
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

SensorRecorder::SensorRecorder()
{
    lock_.Init();
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
    // Readable by others while it grows, so that it can be looked at.
    ScopedHandle file(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || !stop_.Create(1, 0)) {
        *error = GetLastError();
        return 0;
    }
    {
        ScopedLock lock(lock_);
        pending_.clear();
        if (!AppendBytes(pending_, kRecordingStart)) {
            *error = ERROR_NOT_ENOUGH_MEMORY;
            return 0;
        }
        failure_ = 0;
        rows_ = 0;
        taking_ = true;
    }
    file_ = std::move(file);
    written_ = 0;
    failureWindow_ = failureWindow;
    failureMessage_ = failureMessage;
    ++recording_;
    writer_.Reset(CreateThread(nullptr, 0, WriterEntry, this, 0, nullptr));
    if (!writer_) {
        *error = GetLastError();
        ScopedLock lock(lock_);
        taking_ = false;
        pending_.clear();
        file_.Reset();
        return 0;
    }
    return 1;
}

DWORD SensorRecorder::Stop()
{
    if (!writer_) {
        return 0;
    }
    {
        ScopedLock lock(lock_);
        taking_ = false;
    }
    stop_.Set();
    WaitForSingleObject(writer_.Get(), INFINITE);
    writer_.Reset();
    file_.Reset();
    ScopedLock lock(lock_);
    pending_.clear();
    const DWORD failure = failure_;
    failure_ = 0;
    return failure;
}

bool SensorRecorder::IsRecording() const
{
    return writer_.IsValid();
}

bool SensorRecorder::IsTaking() const
{
    ScopedLock lock(lock_);
    return taking_;
}

unsigned long long SensorRecorder::RowsTaken() const
{
    ScopedLock lock(lock_);
    return rows_;
}

void SensorRecorder::Observe(const SensorEntry& entry, ISensorDataReport* report,
                             const LockedList& fields, void* context)
{
    static_cast<SensorRecorder*>(context)->Capture(entry, report, fields);
}

// The text is made before the lock is taken; under it, the text is only
// appended to the queue, so reports of other sensors hardly wait.
void SensorRecorder::Capture(const SensorEntry& entry, ISensorDataReport* report,
                             const LockedList& fields)
{
    if (!IsTaking()) {
        return;
    }
    std::string rows;
    unsigned count = 0;
    const int formatted = FormatReportRows(entry, report, fields, rows, count);
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

DWORD WINAPI SensorRecorder::WriterEntry(void* self)
{
    static_cast<SensorRecorder*>(self)->WriteUntilStopped();
    return 0;
}

void SensorRecorder::WriteUntilStopped()
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

int SensorRecorder::WritePending()
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

int SensorRecorder::WriteAll(const std::string& bytes)
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
void SensorRecorder::EndAfterFailure(DWORD error)
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
