#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "MainWindowHarness.h"

// Adds the simulated sensor whose values the latency benchmarks mark: a
// latitude and a city.
inline bool AddMarkedSensor(SensorSimControl& sim, unsigned sensor)
{
    using namespace main_window_test;
    return sim.Reset() && sim.LoadScenario(nullptr) &&
           AddTestSensor(sim, sensor, L"Marked sensor",
                         {{L"LATITUDE_DEGREES", L"VT_R8, 47.6"}, {L"CITY", L"VT_LPWSTR, start"}});
}

// Adds the storm's sensors 1 to count, "Storm sensor n", whose values
// drift as they report; with a constant speed field too when asked.
inline bool AddStormSensors(SensorSimControl& sim, unsigned count, bool withSpeed)
{
    using namespace main_window_test;
    for (unsigned number = 1; number <= count; ++number) {
        const std::wstring name = L"Storm sensor " + std::to_wstring(number);
        std::vector<std::pair<const wchar_t*, const wchar_t*>> fields = {
            {L"LATITUDE_DEGREES", L"VT_R8, 47.6, ramp, 0.0001"},
            {L"LONGITUDE_DEGREES", L"VT_R8, -122.3, walk, 0.001, -123, -122"},
            {L"ALTITUDE_SEALEVEL_METERS", L"VT_R8, 56, walk, 0.4, 52, 60"}};
        if (withSpeed)
            fields.push_back({L"SPEED_KNOTS", L"VT_R8, 0.0"});
        fields.push_back({L"CITY", L"VT_LPWSTR, Seattle"});
        if (!AddTestSensor(sim, number, name.c_str(), fields))
            return false;
    }
    return true;
}

// Raises the sensor's data event, again while a rebuild re-enumerates the
// sensors and the event reaches nobody; the start in milliseconds, or -1.
inline double FireMarkedEvent(SensorSimControl& sim, const GUID& id)
{
    const double start = NowMs();
    while (!sim.FireDataUpdated(&id)) {
        if (NowMs() - start > main_window_test::kPatienceMs)
            return -1;
        Sleep(0);
    }
    return start;
}

// Milliseconds from start until shown() answers true on the window's
// thread, or -1 after the patience.
template <typename Shown>
double MillisecondsUntil(main_window_test::MainWindowHarness& window, double start, Shown shown)
{
    while (NowMs() - start < main_window_test::kPatienceMs) {
        bool seen = false;
        if (!window.Send([&] { seen = shown(); }))
            return -1;
        if (seen)
            return NowMs() - start;
        Sleep(1);
    }
    return -1;
}

// Takes count samples at uneven gaps, so that events land at every phase
// of the window's work (a negative one was never shown), and prints the
// median, the worst and the lost beside the goal.
template <typename TakeSample>
void MeasureMarkedLatency(const char* title, int count, double goalMs, TakeSample takeSample)
{
    std::vector<double> samples;
    int lost = 0;
    for (int sample = 0; sample < count; ++sample) {
        Sleep(static_cast<DWORD>(20 + (sample * 37) % 130));
        const double ms = takeSample(sample);
        if (ms < 0)
            ++lost;
        else
            samples.push_back(ms);
    }
    const double worst = samples.empty() ? 0 : *std::max_element(samples.begin(), samples.end());
    std::printf("%s, %d samples, default scenario running\n", title, count);
    std::printf("%-32s %10s %10s\n", "figure", "ms", "goal");
    std::printf("%-32s %10.1f\n", "median", Median(samples));
    std::printf("%-32s %10.1f %7s%.0f\n", "worst", worst, "<= ", goalMs);
    std::printf("%-32s %10d %10s\n", "never shown", lost, "0");
}

// Gives a sensor of the simulator a new CITY text, raises its data event and
// answers the milliseconds until the main window's tree shows the text, or -1.
inline double MarkedValueToTree(SensorSimControl& sim, main_window_test::MainWindowHarness& window,
                                unsigned sensor, const std::wstring& mark)
{
    using namespace main_window_test;
    const GUID id = TestSensorId(sensor);
    const std::wstring value = L"VT_LPWSTR, " + mark;
    const std::wstring row = L"CITY\t" + mark;
    if (!sim.SetFieldText(&id, L"CITY", value.c_str()))
        return -1;
    const double start = FireMarkedEvent(sim, id);
    if (start < 0)
        return -1;
    return MillisecondsUntil(window, start, [&] { return FindRow(window.Tree(), row) != nullptr; });
}
