// The live chart against the real main window: (1) report to chart, how long
// a new value takes from its data-updated event until the sensor's chart
// holds it and has painted it, 40 times at uneven moments while the default
// scenario runs; (2) memory while 10 sensors report 1,000 times a second
// each with a chart of one of them open, sampled every 10 s, so that a
// growth beyond the history's bound shows. TESSEL_BENCH_CHART_SECONDS sets
// the storm's length (120 s; 600 for ten minutes).

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "BenchMarkedValue.h"
#include "BenchMemory.h"
#include "MainWindowHarness.h"
#include "app/ChartWindow.h"

using namespace main_window_test;

namespace {

constexpr int kSamples = 40;
constexpr unsigned kMarkedSensor = 90;
constexpr unsigned kStormSensors = 10;
constexpr unsigned kEventsPerSecond = 1000;
constexpr double kGoalMs = 100;

// Opens the chart of the sensor whose row starts with name.
bool OpenChart(MainWindowHarness& window, const wchar_t* name)
{
    int opened = 0;
    return window.Select(name) && window.AfterPosted([&] { opened = window.App()->ShowChart(); }) &&
           opened;
}

// Milliseconds from the event of a report with the given latitude until the
// chart holds it as its newest point and has no part left to paint; -1 when
// that does not happen within the patience.
double ReportToChart(SensorSimControl& sim, MainWindowHarness& window, double latitude)
{
    const GUID id = TestSensorId(kMarkedSensor);
    const std::wstring value = L"VT_R8, " + std::to_wstring(latitude);
    if (!sim.SetFieldText(&id, L"LATITUDE_DEGREES", value.c_str()))
        return -1;
    const double start = FireMarkedEvent(sim, id);
    if (start < 0)
        return -1;
    return MillisecondsUntil(window, start, [&] {
        ChartWindow* chart = window.App()->Charts().Find(id);
        if (!chart)
            return false;
        const std::vector<ChartSeries>& series = chart->Chart().Data().series;
        return !series.empty() && !series[0].points.empty() &&
               series[0].points.back().value == latitude &&
               !GetUpdateRect(chart->Chart().Window(), nullptr, FALSE);
    });
}

int MeasureLatency(SensorSimControl& sim)
{
    if (!AddMarkedSensor(sim, kMarkedSensor)) {
        std::printf("the sensor simulator is not available\n");
        return 1;
    }
    PlacementValueGuard placement;
    MainWindowHarness window;
    if (!window.Start() || !window.Settle() || !OpenChart(window, L"Marked sensor")) {
        std::printf("the main window or its chart did not start\n");
        return 1;
    }
    MeasureMarkedLatency("report to chart: data-updated event to the chart's painted picture",
                         kSamples, kGoalMs,
                         [&](int sample) { return ReportToChart(sim, window, 100.0 + sample); });
    return 0;
}

int MeasureMemory(SensorSimControl& sim, double seconds)
{
    if (!sim.Reset()) {
        return 1;
    }
    if (!AddStormSensors(sim, kStormSensors, false)) {
        std::printf("the sensors could not be set up\n");
        return 1;
    }
    PlacementValueGuard placement;
    MainWindowHarness window;
    if (!window.Start() || !window.Settle() || !OpenChart(window, L"Storm sensor 1")) {
        std::printf("the main window or its chart did not start\n");
        return 1;
    }
    std::printf("\nmemory: %u sensors x %u reports/s for %.0f s, a chart of one open\n",
                kStormSensors, kEventsPerSecond, seconds);
    std::printf("%-10s %16s %16s %14s\n", "seconds", "private MB", "history MB", "reports");
    const LONG eventsBefore = sim.DeliveredEvents();
    const double before = ReadMemory().privateMb;
    std::printf("%-10d %16.1f %16.1f %14d\n", 0, before, 0.0, 0);
    sim.SetStorm(kEventsPerSecond);
    double highest = before;
    double atMinute = 0;
    const double start = NowMs();
    for (int step = 1; step * 10.0 <= seconds; ++step) {
        while (NowMs() - start < step * 10000.0)
            Sleep(100);
        size_t historyBytes = 0;
        window.Send([&] { historyBytes = window.App()->History().Bytes(); });
        const double now = ReadMemory().privateMb;
        highest = std::max(highest, now);
        if (step == 6)
            atMinute = now;
        std::printf("%-10d %16.1f %16.1f %14ld\n", step * 10, now,
                    static_cast<double>(historyBytes) / (1024.0 * 1024.0),
                    static_cast<long>(sim.DeliveredEvents() - eventsBefore));
    }
    sim.SetStorm(0);
    const double after = ReadMemory().privateMb;
    std::printf("private bytes: %.1f MB before, %.1f MB at 60 s, %.1f MB at the end, highest "
                "%.1f MB\n",
                before, atMinute, after, highest);
    return 0;
}

} // namespace

int main()
{
    SensorSimControl* sim = Simulator();
    if (!sim) {
        std::printf("the sensor simulator is not available\n");
        return 1;
    }
    const char* setting = std::getenv("TESSEL_BENCH_CHART_SECONDS");
    const double seconds = setting ? std::atof(setting) : 120.0;
    const int latency = MeasureLatency(*sim);
    const int memory = MeasureMemory(*sim, seconds);
    sim->Reset();
    return latency || memory;
}
