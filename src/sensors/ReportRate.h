#pragma once

#include "base/LockedList.h"
#include "base/WideString.h"

#include <windows.h>

#include <vector>

// The rate at which a sensor's reports really arrive, measured over the last
// kRateWindowUs of arrival times, and the time since the last one.
constexpr long long kRateWindowUs = 5000000;

struct ReportRateReading
{
    double perSecond = 0.0;
    // Seconds since the last report; negative when none has arrived.
    double secondsSinceLast = -1.0;
};

// The arrival times of one sensor's recent reports, in microseconds of a
// monotonic clock. A plain value: the caller supplies the times and locks.
//
// The rate is the number of intervals between the arrivals in the window
// over their span. While the sensor is later than its average interval,
// the open interval up to now counts as well, so the rate of a sensor that
// stops falls smoothly towards 0 instead of holding its last figure until
// the window empties.
class ReportArrivals
{
public:
    // The most arrivals kept: a faster sensor keeps its newest ones, whose
    // span still gives its rate.
    static constexpr size_t kCapacity = 8192;

    void Add(long long timeUs);
    ReportRateReading Read(long long nowUs) const;
    long long Last() const { return count_ ? times_[(first_ + count_ - 1) % kCapacity] : 0; }
    bool IsEmpty() const { return count_ == 0; }

private:
    long long At(size_t index) const { return times_[(first_ + index) % kCapacity]; }

    std::vector<long long> times_;
    size_t first_ = 0;
    size_t count_ = 0;
};

// "59.8 reports/s, last 0.02 s ago", or "0.0 reports/s, none yet".
void FormatReportRate(const ReportRateReading& reading, WideString& text);

// Microseconds of the performance counter: the clock of report arrivals.
long long ReportClockUs();

// The arrivals of every sensor by id, noted on the Sensor API's event
// threads and read by windows on theirs. Sensors that left keep their
// figures, so a sensor that returns goes on where it was; at most
// kMaxSensors are kept, the one silent longest making room for a new one.
class ReportRates
{
public:
    static constexpr size_t kMaxSensors = 64;

    ReportRates() { lock_.Init(); }
    ReportRates(const ReportRates&) = delete;
    ReportRates& operator=(const ReportRates&) = delete;

    void Note(const GUID& sensorId, long long timeUs);
    // The reading of that sensor at nowUs; a sensor never heard of reads as
    // no report yet.
    ReportRateReading Read(const GUID& sensorId, long long nowUs) const;

private:
    struct Sensor
    {
        GUID id;
        ReportArrivals arrivals;
    };
    Sensor* Find(const GUID& sensorId);
    const Sensor* Find(const GUID& sensorId) const;
    Sensor& Make(const GUID& sensorId);

    mutable CriticalSection lock_;
    std::vector<Sensor> sensors_;
};
