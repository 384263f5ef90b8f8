#include <doctest.h>

#include "BoundSimulator.h"
#include "ScenarioFile.h"
#include "TestText.h"
#include "sensors/ReportInterval.h"
#include "sensors/SensorList.h"

#include <sensors.h>
#include <string>

namespace {

std::wstring Line(ULONG requestedMs, const IntervalOutcome& outcome)
{
    WideString text;
    DescribeIntervalOutcome(requestedMs, outcome, text);
    return text.Data();
}

// Two accelerometers (the simulator's minimum for the type is 16 ms), one
// stating a minimum of its own. A driver that refuses, and a sensor that
// left, are met through the report interval dialog in the app's tests.
const char kScenario[] = "[Simulator]\r\n"
                         "Sensors=Willing, Floored\r\n"
                         "Timeline=0\r\n"
                         "[Willing]\r\n"
                         "Id={5E750101-1234-4321-8000-000000000001}\r\n"
                         "Category=MOTION\r\nType=ACCELEROMETER_3D\r\nName=Willing\r\n"
                         "Interval=100\r\n"
                         "[Floored]\r\n"
                         "Id={5E750102-1234-4321-8000-000000000001}\r\n"
                         "Category=MOTION\r\nType=ACCELEROMETER_3D\r\nName=Floored\r\n"
                         "Interval=100\r\n"
                         "[Floored.Properties]\r\n"
                         "MIN_REPORT_INTERVAL=VT_UI4, 40\r\n";

// The simulator's sensors of kScenario through a SensorList.
struct IntervalFixture
{
    IntervalFixture() : scenario(kScenario)
    {
        REQUIRE(scenario.Path() != nullptr);
        REQUIRE(sim.LoadScenario(scenario.Path()) == 1);
        list.Refresh();
    }
    ~IntervalFixture() { sim.Reset(); }

    ISensor* Sensor(const wchar_t* name)
    {
        for (SensorEntry* entry = list.First(); entry; entry = entry->Next()) {
            if (std::wstring(entry->Name().Data()) == name)
                return entry->Sensor();
        }
        return nullptr;
    }

    SensorSimControl& sim = Simulator();
    ScenarioFile scenario;
    SensorList list;
};

} // namespace

TEST_CASE("the interval field takes whole milliseconds and nothing else")
{
    const std::pair<const wchar_t*, ULONG> good[] = {
        {L"50", 50}, {L"  16\t", 16}, {L"0", 0}, {L"007", 7}, {L"4294967295", 4294967295u}};
    for (const auto& entry : good) {
        CAPTURE(Narrow(entry.first));
        ULONG ms = 1234;
        CHECK(ParseIntervalText(entry.first, ms) == 1);
        CHECK(ms == entry.second);
    }
    const wchar_t* bad[] = {L"",           L"  ",  L"-5",   L"+5",  L"5 ms",
                            L"4294967296", L"1 2", L"0x10", L"1.5", L"99999999999999999999",
                            L"\x0663",     nullptr};
    for (const wchar_t* text : bad) {
        CAPTURE(text ? Narrow(text) : "<null>");
        ULONG ms = 1234;
        CHECK(ParseIntervalText(text, ms) == 0);
        CHECK(ms == 1234);
    }
}

// Taken as asked, raised by the driver, and refused by the key's own error
// are met through the report interval dialog in the app's tests.
TEST_CASE("what became of a request, in one line")
{
    CHECK(Line(0, IntervalOutcome{S_OK, true, S_OK, true, 100}) ==
          L"The sensor uses its default interval: 100 ms.");
    CHECK(Line(50, IntervalOutcome{S_OK, true, S_OK, false, 0}) ==
          L"Interval sent; the sensor does not say which it uses.");
    // A driver that answers no per-key result: the call's answer decides.
    CHECK(IntervalTaken(IntervalOutcome{S_OK, false, E_FAIL, true, 50}));
    CHECK_FALSE(IntervalTaken(IntervalOutcome{S_FALSE, false, E_FAIL, true, 50}));
    // Without the key's own error, the call's.
    CHECK(Line(50, IntervalOutcome{E_NOTIMPL, false, E_FAIL, true, 100}) ==
          L"The sensor refused the interval (error 0x80004001).");
    // A failed call is a refusal whatever a stale result says.
    CHECK_FALSE(IntervalTaken(IntervalOutcome{E_NOTIMPL, true, S_OK, true, 50}));

    WideString text;
    IntervalText(false, 16, text);
    CHECK(std::wstring(text.Data()) == L"Not stated");
}

TEST_CASE_FIXTURE(IntervalFixture,
                  "a simulated driver goes back to its default, and up to its own minimum")
{
    ISensor* willing = Sensor(L"Willing");
    ISensor* floored = Sensor(L"Floored");
    REQUIRE(willing != nullptr);
    REQUIRE(floored != nullptr);

    // Taken as asked and raised to the type's minimum are met through the
    // report interval dialog in the app's tests.
    IntervalOutcome outcome;
    REQUIRE(RequestReportInterval(willing, 50, outcome) == 1);
    CHECK(RequestReportInterval(willing, 0, outcome) == 1);
    CHECK(outcome.acceptedMs == 100);
    ReportIntervals intervals;
    REQUIRE(ReadReportIntervals(floored, intervals) == 1);
    REQUIRE(intervals.hasMinimum);
    CHECK(intervals.minimumMs == 40);
    CHECK(RequestReportInterval(floored, 20, outcome) == 1);
    CHECK(outcome.acceptedMs == 40);

    // The results are required, and so are the values.
    IPortableDeviceValues* results = reinterpret_cast<IPortableDeviceValues*>(1);
    CHECK(willing->SetProperties(nullptr, &results) == E_POINTER);
    CHECK(results == nullptr);
    CHECK(willing->SetProperties(nullptr, nullptr) == E_POINTER);
    // No sensor, no call.
    CHECK(RequestReportInterval(nullptr, 50, outcome) == 0);
    CHECK(FAILED(outcome.call));
}
