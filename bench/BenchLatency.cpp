// Event to screen: how long a new value takes from its data-updated event to
// the text of its row in the real main window's tree, while the default
// tablet scenario keeps the other sensors reporting. The events are spread
// over different moments so that they meet the window idle, busy and in
// between.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "BenchMarkedValue.h"
#include "MainWindowHarness.h"

using namespace main_window_test;

namespace {

constexpr int kSamples = 40;
constexpr unsigned kMarkedSensor = 90;
constexpr double kGoalMs = 100;

} // namespace

int main()
{
    SensorSimControl* sim = Simulator();
    if (!sim || !sim->Reset() || !sim->LoadScenario(nullptr) ||
        !AddTestSensor(*sim, kMarkedSensor, L"Marked sensor",
                       {{L"LATITUDE_DEGREES", L"VT_R8, 47.6"}, {L"CITY", L"VT_LPWSTR, start"}})) {
        std::printf("the sensor simulator is not available\n");
        return 1;
    }
    PlacementValueGuard placement;
    MainWindowHarness window;
    if (!window.Start() || !window.Settle()) {
        std::printf("the main window did not start\n");
        return 1;
    }
    std::vector<double> samples;
    int lost = 0;
    for (int sample = 0; sample < kSamples; ++sample) {
        // Uneven gaps, so events land at every phase of the window's work.
        Sleep(static_cast<DWORD>(20 + (sample * 37) % 130));
        const double ms =
            MarkedValueToTree(*sim, window, kMarkedSensor, L"mark " + std::to_wstring(sample));
        if (ms < 0)
            ++lost;
        else
            samples.push_back(ms);
    }
    sim->Reset();
    const double worst = samples.empty() ? 0 : *std::max_element(samples.begin(), samples.end());
    std::printf("event to screen: data-updated event to the row's text, %d events, "
                "default scenario running\n",
                kSamples);
    std::printf("%-32s %10s %10s\n", "figure", "ms", "goal");
    std::printf("%-32s %10.1f\n", "median", Median(samples));
    std::printf("%-32s %10.1f %7s%.0f\n", "worst", worst, "<= ", kGoalMs);
    std::printf("%-32s %10d %10s\n", "never shown", lost, "0");
    return 0;
}
