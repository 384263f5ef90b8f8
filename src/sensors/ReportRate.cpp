#include "sensors/ReportRate.h"

void ReportArrivals::Add(long long timeUs)
{
    if (times_.empty()) {
        times_.resize(kCapacity);
    }
    if (count_ == kCapacity) {
        first_ = (first_ + 1) % kCapacity;
        --count_;
    }
    times_[(first_ + count_) % kCapacity] = timeUs;
    ++count_;
}

ReportRateReading ReportArrivals::Read(long long nowUs) const
{
    ReportRateReading reading;
    if (count_ == 0) {
        return reading;
    }
    const long long last = Last();
    reading.secondsSinceLast = nowUs > last ? (nowUs - last) / 1e6 : 0.0;
    // The arrivals inside the window, oldest first.
    size_t oldest = 0;
    while (oldest < count_ && At(oldest) <= nowUs - kRateWindowUs) {
        ++oldest;
    }
    const size_t inWindow = count_ - oldest;
    if (inWindow == 0) {
        return reading;
    }
    const long long first = At(oldest);
    const long long span = last - first;
    const double intervals = static_cast<double>(inWindow - 1);
    const long long open = nowUs - last;
    if (inWindow >= 2 && span > 0 && open * intervals <= static_cast<double>(span)) {
        reading.perSecond = intervals * 1e6 / static_cast<double>(span);
    } else if (nowUs > first) {
        reading.perSecond =
            static_cast<double>(inWindow) * 1e6 / static_cast<double>(nowUs - first);
    }
    return reading;
}

void FormatReportRate(const ReportRateReading& reading, WideString& text)
{
    if (reading.secondsSinceLast < 0) {
        Format(text, L"%.1f reports/s, none yet", reading.perSecond);
    } else {
        Format(text, L"%.1f reports/s, last %.2f s ago", reading.perSecond,
               reading.secondsSinceLast);
    }
}

long long ReportClockUs()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 ||
        !QueryPerformanceCounter(&counter)) {
        return static_cast<long long>(GetTickCount()) * 1000;
    }
    // Whole seconds and the rest apart, so the product cannot overflow.
    const long long seconds = counter.QuadPart / frequency.QuadPart;
    const long long rest = counter.QuadPart % frequency.QuadPart;
    return seconds * 1000000 + rest * 1000000 / frequency.QuadPart;
}

ReportRates::Sensor* ReportRates::Find(const GUID& sensorId)
{
    for (Sensor& sensor : sensors_) {
        if (IsEqualGUID(sensor.id, sensorId)) {
            return &sensor;
        }
    }
    return nullptr;
}

const ReportRates::Sensor* ReportRates::Find(const GUID& sensorId) const
{
    return const_cast<ReportRates*>(this)->Find(sensorId);
}

ReportRates::Sensor& ReportRates::Make(const GUID& sensorId)
{
    if (sensors_.size() < kMaxSensors) {
        sensors_.push_back(Sensor{sensorId, ReportArrivals()});
        return sensors_.back();
    }
    Sensor* quietest = &sensors_.front();
    for (Sensor& sensor : sensors_) {
        if (sensor.arrivals.Last() < quietest->arrivals.Last()) {
            quietest = &sensor;
        }
    }
    quietest->id = sensorId;
    quietest->arrivals = ReportArrivals();
    return *quietest;
}

void ReportRates::Note(const GUID& sensorId, long long timeUs)
{
    ScopedLock lock(lock_);
    Sensor* sensor = Find(sensorId);
    (sensor ? *sensor : Make(sensorId)).arrivals.Add(timeUs);
}

ReportRateReading ReportRates::Read(const GUID& sensorId, long long nowUs) const
{
    ScopedLock lock(lock_);
    const Sensor* sensor = Find(sensorId);
    return sensor ? sensor->arrivals.Read(nowUs) : ReportRateReading();
}
