#pragma once

#include "base/LockedList.h"

#include <windows.h>
#include <oleauto.h>
#include <sensorsapi.h>

#include <string>
#include <vector>

// The recent reports of each sensor as numbers over time, for charts.
//
// Times are in 100-ns units since 1601 (file time, UTC): the report's own
// time stamp, or its arrival when it has none. Values are doubles; a field
// that a report lacks is NaN in that report's row.

struct HistorySample
{
    long long time = 0;
    double value = 0.0;
};

// One field of a report as handed to the history: numeric fields carry a
// value, the others are kept by name only. text is the value as shown.
struct HistoryValue
{
    const wchar_t* name = L"";
    bool numeric = false;
    double value = 0.0;
    const wchar_t* text = L"";
};

// What a reader gets: every field seen, in the order first seen, with its
// newest text and, for numeric fields, the samples in the asked window
// (and the one before it, so that a line reaches the window's edge).
struct HistoryField
{
    std::wstring name;
    bool numeric = false;
    std::wstring newestText;
    std::vector<HistorySample> samples;
};
struct HistorySnapshot
{
    std::vector<HistoryField> fields;
    long long newestTime = 0;
    // Reports appended since the sensor was first seen, and those still kept.
    unsigned long long appended = 0;
    size_t kept = 0;
};

// The numeric reading of a reported value: integers, reals and booleans
// (as 0 or 1). 1, or 0 with value untouched for any other type.
int NumericValue(const VARIANT& variant, double& value);

// The report's time stamp as a file time, or the time now when the report
// has none or an impossible one.
long long ReportFileTime(ISensorDataReport* report);

// One sensor's reports: a ring of rows (a time and one value per numeric
// field), the oldest row making room for a new one once the ring is full.
// A plain value; the caller locks.
class HistoryRing
{
public:
    static constexpr size_t kMaxFields = 32;

    // Appends a row; fields beyond kMaxFields are left out. The ring grows
    // to maxRows while growBytes allows it (growBytes is lowered by what
    // the growth took), then reuses its oldest row. Times that go back are
    // taken as the newest time, so the rows stay in time order.
    void Append(long long time, const HistoryValue* values, size_t count, size_t maxRows,
                size_t& growBytes);
    void Read(long long from, long long to, HistorySnapshot& snapshot) const;
    // The bytes the next row would take beyond those held: 0 while the
    // ring has room or has reached maxRows, else its next growth.
    size_t BytesToGrow(size_t maxRows) const;
    // Keeps the newest rows in a ring of the given size (smaller).
    void Shrink(size_t rows);

    size_t Bytes() const { return bytes_; }
    size_t Rows() const { return count_; }
    size_t Capacity() const { return capacity_; }
    long long NewestTime() const { return count_ ? times_[Physical(count_ - 1)] : 0; }

private:
    struct Field
    {
        std::wstring name;
        std::wstring newestText;
        bool numeric = false;
        // Index into columns_ for numeric fields.
        size_t column = 0;
    };
    size_t Physical(size_t index) const { return (first_ + index) % capacity_; }
    size_t FieldIndex(const wchar_t* name, size_t hint);
    size_t AddField(const HistoryValue& value, size_t& growBytes);
    bool Grow(size_t maxRows, size_t& growBytes);
    size_t RowBytes() const { return sizeof(long long) + columns_.size() * sizeof(double); }
    size_t NextCapacity(size_t maxRows) const;
    // Moves the newest rows (at most rows) to the start of rings of that size.
    void Reallocate(size_t rows);
    size_t FirstAtOrAfter(long long time) const;

    std::vector<Field> fields_;
    std::vector<long long> times_;
    std::vector<std::vector<double>> columns_;
    size_t capacity_ = 0;
    size_t first_ = 0;
    size_t count_ = 0;
    size_t bytes_ = 0;
    unsigned long long appended_ = 0;
    std::vector<size_t> rowFields_;
};

// The rings of every sensor by id, written on the Sensor API's event
// threads and read by charts on theirs, each under a short lock. A sensor
// that leaves keeps its ring, so one that returns goes on; beyond
// kMaxSensors the one silent longest makes room.
//
// Memory: each sensor keeps up to kRowsPerSensor rows (10 minutes at 60
// reports a second), 8 bytes for the time and 8 per numeric field; all
// rings together stay within kByteBudget. A ring that cannot grow within
// it halves the largest rings first (their oldest rows go), so the budget
// is shared out rather than taken by the sensors that came first.
class SensorHistory
{
public:
    static constexpr size_t kRowsPerSensor = 36000;
    static constexpr size_t kMaxSensors = 64;
    static constexpr size_t kByteBudget = 16u * 1024 * 1024;

    explicit SensorHistory(size_t byteBudget = kByteBudget, size_t rowsPerSensor = kRowsPerSensor);
    SensorHistory(const SensorHistory&) = delete;
    SensorHistory& operator=(const SensorHistory&) = delete;

    void Append(const GUID& sensorId, long long time, const HistoryValue* values, size_t count);
    // The fields of the report list (SensorField records) as a row.
    void AppendFields(const GUID& sensorId, long long time, const LockedList& fields);
    // Copies the sensor's fields and its samples from..to; 0 for a sensor
    // never seen (snapshot untouched).
    int Read(const GUID& sensorId, long long from, long long to, HistorySnapshot& snapshot) const;
    // The bytes the rings hold for rows.
    size_t Bytes() const;

private:
    struct Sensor
    {
        GUID id;
        HistoryRing ring;
    };
    Sensor& Find(const GUID& sensorId);
    // Halves the largest rings until the ring can grow within the budget,
    // as long as they stay larger than it would be.
    void MakeRoomFor(const HistoryRing& ring);

    mutable CriticalSection lock_;
    std::vector<Sensor> sensors_;
    size_t byteBudget_;
    size_t rowsPerSensor_;
    size_t bytes_ = 0;
};
