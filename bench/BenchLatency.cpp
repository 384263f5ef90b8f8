// Event to screen: how long a new value takes from its data-updated event to
// the text of its row in the real main window's tree, while the default
// tablet scenario keeps the other sensors reporting. The events are spread
// over different moments so that they meet the window idle, busy and in
// between.

#include <windows.h>

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
    if (!sim || !AddMarkedSensor(*sim, kMarkedSensor)) {
        std::printf("the sensor simulator is not available\n");
        return 1;
    }
    PlacementValueGuard placement;
    MainWindowHarness window;
    if (!window.Start() || !window.Settle()) {
        std::printf("the main window did not start\n");
        return 1;
    }
    MeasureMarkedLatency("event to screen: data-updated event to the row's text", kSamples, kGoalMs,
                         [&](int sample) {
                             return MarkedValueToTree(*sim, window, kMarkedSensor,
                                                      L"mark " + std::to_wstring(sample));
                         });
    sim->Reset();
    return 0;
}
