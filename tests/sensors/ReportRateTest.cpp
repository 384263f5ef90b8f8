#include <doctest.h>

#include "sensors/ReportRate.h"

#include <string>
#include <thread>
#include <vector>

namespace {

constexpr long long kSecond = 1000000;

void Arrive(ReportArrivals& arrivals, long long startUs, long long endUs, long long periodUs)
{
    for (long long t = startUs; t < endUs; t += periodUs) {
        arrivals.Add(t);
    }
}

std::wstring Text(const ReportRateReading& reading)
{
    WideString text;
    FormatReportRate(reading, text);
    return text.Data();
}

const GUID kFirst = {0x1, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};

GUID NumberedId(unsigned number)
{
    GUID id = kFirst;
    id.Data1 = number;
    return id;
}

} // namespace

TEST_CASE("steady sensors read at their rate, whatever the phase of the reading")
{
    // 4 kHz: more than the ring keeps.
    for (double hertz : {1.0, 10.0, 60.0, 1000.0, 4000.0}) {
        CAPTURE(hertz);
        const auto period = static_cast<long long>(kSecond / hertz);
        ReportArrivals arrivals;
        Arrive(arrivals, kSecond, 20 * kSecond, period);
        // Read just after a report and just before the next one is due.
        const long long last = arrivals.Last();
        for (long long now : {last, last + period / 2, last + period - 1}) {
            CHECK(arrivals.Read(now).perSecond == doctest::Approx(hertz).epsilon(0.01));
        }
    }
}

TEST_CASE("a sensor that stops shows a growing silence and a rate falling to 0")
{
    ReportArrivals arrivals;
    Arrive(arrivals, 0, 10 * kSecond, kSecond / 60);
    const long long last = arrivals.Last();
    double previousRate = arrivals.Read(last).perSecond;
    double previousAgo = 0;
    for (long long after = kSecond / 10; after <= 6 * kSecond; after += kSecond / 10) {
        const ReportRateReading reading = arrivals.Read(last + after);
        CAPTURE(after);
        CHECK(reading.secondsSinceLast > previousAgo);
        CHECK(reading.perSecond <= previousRate);
        previousRate = reading.perSecond;
        previousAgo = reading.secondsSinceLast;
    }
    CHECK(previousRate == 0.0);
    CHECK(previousAgo == doctest::Approx(6.0));
}

TEST_CASE("no reports, one report and reports after a pause, and their texts")
{
    ReportArrivals arrivals;
    CHECK(arrivals.Read(5 * kSecond).perSecond == 0.0);
    CHECK(arrivals.Read(5 * kSecond).secondsSinceLast < 0);
    CHECK(Text(arrivals.Read(0)) == L"0.0 reports/s, none yet");

    arrivals.Add(kSecond);
    CHECK(arrivals.Read(kSecond).perSecond == 0.0);
    CHECK(arrivals.Read(kSecond).secondsSinceLast == 0.0);

    // A new burst after a long silence reads at the burst's own rate.
    Arrive(arrivals, 60 * kSecond, 70 * kSecond, kSecond / 20);
    CHECK(arrivals.Read(arrivals.Last()).perSecond == doctest::Approx(20.0).epsilon(0.01));

    ReportRateReading reading;
    reading.perSecond = 59.84;
    reading.secondsSinceLast = 0.0213;
    CHECK(Text(reading) == L"59.8 reports/s, last 0.02 s ago");
    reading.perSecond = 0;
    reading.secondsSinceLast = 12.5;
    CHECK(Text(reading) == L"0.0 reports/s, last 12.50 s ago");
}

TEST_CASE("the rates of many sensors: by id, bounded, noted from many threads")
{
    ReportRates rates;
    CHECK(rates.Read(kFirst, kSecond).secondsSinceLast < 0);

    std::vector<std::thread> threads;
    for (unsigned sensor = 0; sensor < 4; ++sensor) {
        threads.emplace_back([&rates, sensor] {
            for (long long t = 0; t < 5 * kSecond; t += kSecond / 100) {
                rates.Note(NumberedId(sensor), t);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (unsigned sensor = 0; sensor < 4; ++sensor) {
        CHECK(rates.Read(NumberedId(sensor), 5 * kSecond).perSecond ==
              doctest::Approx(100.0).epsilon(0.01));
    }

    // Past the bound the sensor silent longest makes room; the others stay.
    for (unsigned sensor = 100; sensor < 100 + ReportRates::kMaxSensors; ++sensor) {
        rates.Note(NumberedId(sensor), 10 * kSecond + sensor);
    }
    unsigned forgotten = 0;
    for (unsigned sensor = 0; sensor < 4; ++sensor) {
        forgotten += rates.Read(NumberedId(sensor), 11 * kSecond).secondsSinceLast < 0;
    }
    CHECK(forgotten == 4);
    CHECK(
        rates.Read(NumberedId(100 + ReportRates::kMaxSensors - 1), 11 * kSecond).secondsSinceLast >
        0);
}
