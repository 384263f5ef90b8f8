#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// Reads a recording of sensor data back (the CSV that SensorRecorder
// writes): rows "Time,Sensor,Sensor ID,Field,Value" after the header row,
// grouped into the reports of each sensor. Plain C++ and the standard
// library only, so that the sensor simulator builds it too.
//
// Texts are kept as UTF-8 (a value's text in one pool shared by the whole
// recording), so that a recording takes about half its file's size in
// memory; WideFromUtf8 turns them into UTF-16 for display.

// No UTC offset was written with the report's time.
constexpr int16_t kNoUtcOffset = INT16_MIN;

// One data field of a sensor, in the order the recording first names it.
struct RecordedField
{
    std::string name;
    // Numeric when most of its values are numbers; the rows of a numeric
    // field whose value is not a number are damaged and left out.
    bool numeric = false;
    uint64_t numbers = 0;
    uint64_t texts = 0;
    uint64_t firstTextLine = 0;
    // The report that last took a value of this field, to tell a new report
    // of the same time from the current one.
    size_t lastReport = SIZE_MAX;
};

// One value of a report: its field, its text (an offset into
// Recording::texts, zero-terminated; kEmptyText for an empty value) and, for
// numbers, the number (NaN for others).
constexpr uint32_t kEmptyText = 0;

struct RecordedValue
{
    uint32_t field;
    uint32_t text;
    double number;
};

// One data report: the time written with it and where its values lie in
// RecordedSensor::values.
struct RecordedReport
{
    // The written clock time in milliseconds since 1970-01-01 00:00 (of that
    // clock: local time), and the UTC offset written with it in minutes.
    int64_t localMs;
    uint32_t firstValue;
    uint16_t valueCount;
    int16_t utcOffsetMinutes;
};

struct RecordedSensor
{
    std::string name;
    std::string id;
    std::vector<RecordedField> fields;
    std::vector<RecordedReport> reports;
    std::vector<RecordedValue> values;
    std::unordered_map<std::string, uint32_t> fieldIndex;
};

struct Recording
{
    std::vector<RecordedSensor> sensors;
    std::string texts;
    // The sensor of each report in the order of the file (a sensor's own
    // reports are in that order in its list).
    std::vector<uint16_t> reportOrder;
    uint64_t rows = 0;
    uint64_t damagedRows = 0;
    // The line (counted from 1, the header is line 1) of the first damaged
    // row, 0 when none.
    uint64_t firstDamagedLine = 0;
};

enum class RecordingRead
{
    Read,
    NotRecording, // no header row of a recording: nothing was read
    Cancelled,
    OutOfMemory,
    Unreadable, // the file could not be opened or read
    TooLarge,
};

// Limits that keep any input's cost bounded: sensors and fields beyond these
// make their rows damaged, and a quoted value may hold this many line ends.
constexpr size_t kMaxRecordedSensors = 1024;
constexpr size_t kMaxRecordedFields = 1024;
constexpr unsigned kMaxLineEndsInValue = 16;
// The largest file ReadRecordingFile takes.
constexpr uint64_t kMaxRecordingFileBytes = 512ull * 1024 * 1024;

// Told how far reading has come (done of total); answering false cancels.
typedef bool (*RecordingProgress)(uint64_t done, uint64_t total, void* context);

// Parses the bytes of a recording into recording (which is replaced on Read
// and left untouched otherwise). progress may be null; it is told the bytes
// parsed now and then.
RecordingRead ParseRecording(const char* data, size_t size, Recording& recording,
                             RecordingProgress progress, void* context);

// Reads the file and parses it (progress as for ParseRecording: bytes of
// the file).
RecordingRead ReadRecordingFile(const wchar_t* path, Recording& recording,
                                RecordingProgress progress, void* context);

// The text of a value.
inline const char* ValueText(const Recording& recording, const RecordedValue& value)
{
    return recording.texts.data() + value.text;
}

// The report's time on one axis for all reports: UTC when the offset was
// written, the written clock otherwise.
int64_t ReportAxisMs(const RecordedReport& report);

// "2026-12-08 09:11:50.123" with " +01:00" when an offset was written.
std::string FormatReportTime(const RecordedReport& report);

// "2026-12-08 09:11:50.123" with an optional " +01:00": 1 and the outputs
// filled, or 0 with them untouched.
int ParseRecordTime(const char* text, size_t length, int64_t* localMs, int16_t* offsetMinutes);

// A decimal number as the recorder writes numbers ("-122.332100", "11",
// "1E-05"): 1 and the number, or 0 with it untouched.
int ParseRecordNumber(const char* text, size_t length, double* number);

// UTF-16 of UTF-8 bytes; a malformed sequence becomes U+FFFD.
std::wstring WideFromUtf8(const char* text, size_t length);
std::wstring WideFromUtf8(const std::string& text);

// "1 damaged row was skipped (line 17)." or "3 damaged rows were skipped
// (the first on line 17).", empty when none was.
std::wstring DamageSummary(const Recording& recording);

// Figures of a sensor's report rate: the median time between reports and
// the largest gap, in milliseconds (0 with fewer than two reports).
struct RecordedRate
{
    double medianIntervalMs = 0;
    double largestGapMs = 0;
    // Where the largest gap starts (axis time), for pointing at it.
    int64_t largestGapAtMs = 0;
};
RecordedRate MeasureRecordedRate(const RecordedSensor& sensor);
