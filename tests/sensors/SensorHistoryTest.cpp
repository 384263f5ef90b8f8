#include <doctest.h>

#include "BoundedThread.h"
#include "sensors/SensorHistory.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr long long kSecond = 10000000; // file-time units

GUID NumberedId(unsigned number)
{
    return {number, 0x4849, 0x5354, {0x4F, 0x52, 0x59, 0, 0, 0, 0, 1}};
}

// A report of three numeric fields all holding one number, and a text one.
struct Report
{
    explicit Report(double number)
    {
        text = std::to_wstring(static_cast<long long>(number));
        for (const wchar_t* name : {L"X", L"Y", L"Z"})
            values.push_back({name, true, number, text.c_str()});
        values.push_back({L"Label", false, 0.0, L"moving"});
    }
    std::wstring text;
    std::vector<HistoryValue> values;
};

void AppendNumbered(SensorHistory& history, const GUID& id, long long time, double number)
{
    const Report report(number);
    history.Append(id, time, report.values.data(), report.values.size());
}

// reports numbered reports of id, period apart from time 0.
void AppendSeries(SensorHistory& history, const GUID& id, int reports, long long period)
{
    for (int index = 0; index < reports; ++index)
        AppendNumbered(history, id, index * period, index);
}

HistorySnapshot ReadAll(const SensorHistory& history, const GUID& id)
{
    HistorySnapshot snapshot;
    REQUIRE(history.Read(id, 0, 0x7FFFFFFFFFFFFFFFll, snapshot) == 1);
    return snapshot;
}

} // namespace

TEST_CASE("reported values read as numbers: integers, reals and booleans; others are not")
{
    // Each value made from its number by the platform's own conversion;
    // VARIANT_TRUE is -1 but reads as 1.
    const std::pair<VARTYPE, double> numbers[] = {
        {VT_R8, 9.81}, {VT_UI8, 1099511627776.0}, {VT_I1, -5.0}, {VT_BOOL, 1.0}, {VT_BOOL, 0.0}};
    for (const auto& number : numbers) {
        CAPTURE(number.first);
        VARIANT given = {};
        given.vt = VT_R8;
        given.dblVal = number.second;
        VARIANT variant = {};
        REQUIRE(VariantChangeType(&variant, &given, 0, number.first) == S_OK);
        double value = -1.0;
        CHECK(NumericValue(variant, value) == 1);
        CHECK(value == number.second);
    }
    VARIANT variant = {};
    double value = 42.0;
    for (int type : {int(VT_EMPTY), int(VT_BSTR), int(VT_DATE), VT_ARRAY | VT_UI1, int(VT_ERROR)}) {
        variant.vt = static_cast<VARTYPE>(type);
        CHECK(NumericValue(variant, value) == 0);
        CHECK(value == 42.0);
    }
}

TEST_CASE("a sensor's fields come back with their samples, newest texts and the window asked")
{
    SensorHistory history;
    const GUID id = NumberedId(1);
    AppendSeries(history, id, 100, kSecond);
    HistorySnapshot snapshot;
    CHECK(history.Read(NumberedId(2), 0, 100 * kSecond, snapshot) == 0);
    CHECK(snapshot.fields.empty());

    REQUIRE(history.Read(id, 10 * kSecond, 20 * kSecond, snapshot) == 1);
    REQUIRE(snapshot.fields.size() == 4);
    CHECK(snapshot.fields[0].name == L"X");
    CHECK(snapshot.fields[3].name == L"Label");
    CHECK_FALSE(snapshot.fields[3].numeric);
    CHECK(snapshot.fields[3].samples.empty());
    CHECK(snapshot.fields[3].newestText == L"moving");
    CHECK(snapshot.fields[1].newestText == L"99");
    // 10 .. 20 s and one sample beyond each edge.
    const std::vector<HistorySample>& samples = snapshot.fields[2].samples;
    REQUIRE(samples.size() == 13);
    CHECK(samples.front().value == 9.0);
    CHECK(samples.back().value == 21.0);
    CHECK(snapshot.newestTime == 99 * kSecond);
    CHECK(snapshot.appended == 100);
}

TEST_CASE("the byte budget stops rings growing, each then drops its oldest sooner; the default "
          "ring holds ten minutes at 60 Hz")
{
    // Room for 4,000 rows of a time and three values among all sensors.
    const size_t budget = 4000 * 32;
    SensorHistory history(budget, 36000);
    for (unsigned sensor = 1; sensor <= 5; ++sensor)
        AppendSeries(history, NumberedId(sensor), 3000, 1000);
    CHECK(history.Bytes() <= budget);
    size_t kept = 0;
    for (unsigned sensor = 1; sensor <= 5; ++sensor) {
        const HistorySnapshot snapshot = ReadAll(history, NumberedId(sensor));
        kept += snapshot.kept;
        // Whatever each kept is its newest rows, up to the last report.
        REQUIRE_FALSE(snapshot.fields[0].samples.empty());
        CHECK(snapshot.fields[0].samples.back().value == 2999.0);
    }
    CHECK(kept <= 4000);

    SensorHistory defaults;
    AppendSeries(defaults, NumberedId(7), 10 * 60 * 60 + 500, kSecond / 60);
    const HistorySnapshot full = ReadAll(defaults, NumberedId(7));
    CHECK(full.kept == SensorHistory::kRowsPerSensor);
    const std::vector<HistorySample>& samples = full.fields[0].samples;
    CHECK((samples.back().time - samples.front().time) / kSecond >= 599);
    CHECK(defaults.Bytes() <= SensorHistory::kByteBudget);
}

TEST_CASE("fields that come and go, and times that run back")
{
    SensorHistory history;
    const GUID id = NumberedId(3);
    const HistoryValue first[] = {{L"A", true, 1.0, L"1"}};
    const HistoryValue second[] = {{L"B", true, 20.0, L"20"}, {L"A", true, 2.0, L"2"}};
    const HistoryValue third[] = {{L"B", true, 30.0, L"30"}};
    history.Append(id, 10 * kSecond, first, 1);
    history.Append(id, 11 * kSecond, second, 2);
    // A driver clock that goes back: the row keeps the newest time.
    history.Append(id, 5 * kSecond, third, 1);
    const HistorySnapshot snapshot = ReadAll(history, id);
    REQUIRE(snapshot.fields.size() == 2);
    const std::vector<HistorySample>& a = snapshot.fields[0].samples;
    const std::vector<HistorySample>& b = snapshot.fields[1].samples;
    REQUIRE(a.size() == 3);
    REQUIRE(b.size() == 3);
    CHECK(a[1].value == 2.0);
    CHECK(std::isnan(a[2].value));
    CHECK(std::isnan(b[0].value));
    CHECK(b[2].value == 30.0);
    CHECK(b[2].time == 11 * kSecond);
    CHECK(snapshot.fields[0].newestText == L"2");
}

TEST_CASE("a sensor that leaves and returns goes on; the quietest makes room beyond the limit")
{
    SensorHistory history(SensorHistory::kByteBudget, 100);
    for (unsigned sensor = 0; sensor < SensorHistory::kMaxSensors; ++sensor)
        AppendNumbered(history, NumberedId(sensor), (sensor + 10) * kSecond, sensor);
    // The first sensor reports again (returned): it is no longer the quietest.
    AppendNumbered(history, NumberedId(0), 1000 * kSecond, 5.0);
    AppendNumbered(history, NumberedId(999), 1001 * kSecond, 1.0);
    HistorySnapshot snapshot;
    CHECK(history.Read(NumberedId(0), 0, 2000 * kSecond, snapshot) == 1);
    CHECK(snapshot.appended == 2);
    CHECK(history.Read(NumberedId(1), 0, 2000 * kSecond, snapshot) == 0);
    CHECK(history.Read(NumberedId(999), 0, 2000 * kSecond, snapshot) == 1);
}

TEST_CASE("the history under a storm: 10 sensors at 1,000 reports a second, read meanwhile")
{
    // Every report's fields hold the same sequence number, so a torn row
    // shows as fields that differ, and a lost report as a gap.
    SensorHistory history(SensorHistory::kByteBudget, 2000);
    constexpr unsigned kSensors = 10;
    constexpr int kReports = 3000;
    volatile LONG finished = 0;
    std::vector<std::unique_ptr<BoundedThread>> writers;
    for (unsigned sensor = 0; sensor < kSensors; ++sensor) {
        writers.push_back(std::make_unique<BoundedThread>([&history, &finished, sensor] {
            // About 1,000 a second: ten reports, then 10 ms.
            for (int index = 0; index < kReports; ++index) {
                AppendNumbered(history, NumberedId(sensor), index * 10000LL, index);
                if (index % 10 == 9)
                    Sleep(10);
            }
            InterlockedIncrement(&finished);
        }));
    }
    int torn = 0, reads = 0;
    const DWORD started = GetTickCount();
    while (InterlockedCompareExchange(&finished, 0, 0) < static_cast<LONG>(kSensors)) {
        REQUIRE(GetTickCount() - started < 20000);
        HistorySnapshot snapshot;
        if (history.Read(NumberedId(reads % kSensors), 0, 0x7FFFFFFFFFFFFFFFll, snapshot)) {
            for (size_t row = 0; row < snapshot.fields[0].samples.size(); ++row) {
                const double x = snapshot.fields[0].samples[row].value;
                torn += snapshot.fields[1].samples[row].value != x ||
                        snapshot.fields[2].samples[row].value != x;
            }
        }
        CHECK(history.Bytes() <= SensorHistory::kByteBudget);
        ++reads;
    }
    writers.clear();
    CHECK(torn == 0);
    CHECK(reads > 1);
    // Each ring's rows of a time and three values.
    CHECK(history.Bytes() == kSensors * 2000 * 4 * 8);
    for (unsigned sensor = 0; sensor < kSensors; ++sensor) {
        const HistorySnapshot snapshot = ReadAll(history, NumberedId(sensor));
        CHECK(snapshot.appended == kReports);
        const std::vector<HistorySample>& samples = snapshot.fields[0].samples;
        REQUIRE(samples.size() == 2000);
        // The newest 2,000 in order: nothing lost, older ones dropped first.
        size_t row = 0;
        while (row < samples.size() && samples[row].value == 1000.0 + row)
            ++row;
        CHECK_MESSAGE(row == samples.size(),
                      "sensor " << sensor << " row " << row << " is out of order");
    }
}
