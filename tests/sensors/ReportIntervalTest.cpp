#include <doctest.h>

#include "../../simulator/SensorSimControl.h"
#include "ScenarioFile.h"
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

IntervalOutcome Outcome(HRESULT call, bool keyAnswered, HRESULT key, bool readBack, ULONG ms)
{
    IntervalOutcome outcome;
    outcome.call = call;
    outcome.keyAnswered = keyAnswered;
    outcome.key = key;
    outcome.readBack = readBack;
    outcome.acceptedMs = ms;
    return outcome;
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
        apartment.Init(1);
        REQUIRE(SensorSimOpen(&sim) == 1);
        HMODULE pinned = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, SENSORSIM_MODULE_NAME, &pinned);
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

    ComApartment apartment;
    SensorSimControl sim = {};
    ScenarioFile scenario;
    SensorList list;
};

} // namespace

TEST_CASE("the interval field takes whole milliseconds and nothing else")
{
    const std::pair<const wchar_t*, ULONG> good[] = {
        {L"50", 50}, {L"  16\t", 16}, {L"0", 0}, {L"007", 7}, {L"4294967295", 4294967295u}};
    for (const auto& entry : good) {
        CAPTURE(std::wstring(entry.first));
        ULONG ms = 1234;
        CHECK(ParseIntervalText(entry.first, ms) == 1);
        CHECK(ms == entry.second);
    }
    const wchar_t* bad[] = {L"",           L"  ",  L"-5",   L"+5",  L"5 ms",
                            L"4294967296", L"1 2", L"0x10", L"1.5", L"99999999999999999999",
                            L"\x0663"};
    for (const wchar_t* text : bad) {
        CAPTURE(std::wstring(text));
        ULONG ms = 1234;
        CHECK(ParseIntervalText(text, ms) == 0);
        CHECK(ms == 1234);
    }
    ULONG ms = 1234;
    CHECK(ParseIntervalText(nullptr, ms) == 0);
    CHECK(ms == 1234);
}

TEST_CASE("what became of a request, in one line")
{
    // Taken as asked, rounded or raised by the driver, or its default.
    CHECK(Line(50, Outcome(S_OK, true, S_OK, true, 50)) == L"The sensor now reports every 50 ms.");
    CHECK(Line(5, Outcome(S_OK, true, S_OK, true, 16)) ==
          L"The sensor chose 16 ms instead of 5 ms.");
    CHECK(Line(0, Outcome(S_OK, true, S_OK, true, 100)) ==
          L"The sensor uses its default interval: 100 ms.");
    CHECK(Line(50, Outcome(S_OK, true, S_OK, false, 0)) ==
          L"Interval sent; the sensor does not say which it uses.");
    // A driver that answers no per-key result: the call's answer decides.
    CHECK(IntervalTaken(Outcome(S_OK, false, E_FAIL, true, 50)));
    CHECK_FALSE(IntervalTaken(Outcome(S_FALSE, false, E_FAIL, true, 50)));
    // Refusals name the key's own error, else the call's.
    CHECK(Line(50, Outcome(S_FALSE, true, E_ACCESSDENIED, true, 100)) ==
          L"The sensor refused the interval (error 0x80070005).");
    CHECK(Line(50, Outcome(E_NOTIMPL, false, E_FAIL, true, 100)) ==
          L"The sensor refused the interval (error 0x80004001).");
    // A failed call is a refusal whatever a stale result says.
    CHECK_FALSE(IntervalTaken(Outcome(E_NOTIMPL, true, S_OK, true, 50)));

    WideString text;
    IntervalText(true, 16, text);
    CHECK(std::wstring(text.Data()) == L"16 ms");
    IntervalText(false, 16, text);
    CHECK(std::wstring(text.Data()) == L"Not stated");
}

TEST_CASE_FIXTURE(IntervalFixture, "a simulated driver takes an interval or raises it to a minimum")
{
    ISensor* willing = Sensor(L"Willing");
    ISensor* floored = Sensor(L"Floored");
    REQUIRE(willing != nullptr);
    REQUIRE(floored != nullptr);

    ReportIntervals intervals;
    REQUIRE(ReadReportIntervals(willing, intervals) == 1);
    CHECK(intervals.currentMs == 100);
    REQUIRE(intervals.hasMinimum);
    CHECK(intervals.minimumMs == 16);

    IntervalOutcome outcome;
    SUBCASE("taken as asked, then back to the default with 0")
    {
        CHECK(RequestReportInterval(willing, 50, outcome) == 1);
        CHECK(outcome.call == S_OK);
        CHECK(outcome.keyAnswered);
        CHECK(outcome.key == S_OK);
        CHECK(outcome.acceptedMs == 50);
        REQUIRE(ReadReportIntervals(willing, intervals) == 1);
        CHECK(intervals.currentMs == 50);
        CHECK(RequestReportInterval(willing, 0, outcome) == 1);
        CHECK(outcome.acceptedMs == 100);
    }
    SUBCASE("raised to the type's minimum, or to the one the sensor states")
    {
        CHECK(RequestReportInterval(willing, 1, outcome) == 1);
        CHECK(outcome.acceptedMs == 16);
        REQUIRE(ReadReportIntervals(floored, intervals) == 1);
        CHECK(intervals.minimumMs == 40);
        CHECK(RequestReportInterval(floored, 20, outcome) == 1);
        CHECK(outcome.acceptedMs == 40);
    }
    SUBCASE("the results are required, and so are the values")
    {
        IPortableDeviceValues* results = reinterpret_cast<IPortableDeviceValues*>(1);
        CHECK(willing->SetProperties(nullptr, &results) == E_POINTER);
        CHECK(results == nullptr);
        CHECK(willing->SetProperties(nullptr, nullptr) == E_POINTER);
    }
    // No sensor, no call.
    CHECK(RequestReportInterval(nullptr, 50, outcome) == 0);
    CHECK(FAILED(outcome.call));
}

TEST_CASE("a scenario whose driver neither accepts nor refuses is not loaded")
{
    ComApartment apartment;
    apartment.Init(1);
    SensorSimControl sim = {};
    REQUIRE(SensorSimOpen(&sim) == 1);
    const std::string sensor = "[Simulator]\r\nSensors=Odd\r\n"
                               "[Odd]\r\nId={5E750104-1234-4321-8000-000000000001}\r\n"
                               "Category=MOTION\r\nType=ACCELEROMETER_3D\r\nInterval=100\r\n";
    ScenarioFile odd(sensor + "IntervalChange=maybe\r\n");
    ScenarioFile refusing(sensor + "IntervalChange= refuse \r\n");
    REQUIRE(odd.Path() != nullptr);
    REQUIRE(refusing.Path() != nullptr);
    CHECK(sim.LoadScenario(odd.Path()) == 0);
    CHECK(sim.LoadScenario(refusing.Path()) == 1);
    sim.Reset();
}
