#pragma once

#include <windows.h>

#include <string>

#include "BenchClock.h"
#include "MainWindowHarness.h"

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
    const double start = NowMs();
    // While a rebuild re-enumerates the sensors, the sensor has no sink for
    // a moment and the event reaches nobody; it is raised again then.
    while (!sim.FireDataUpdated(&id)) {
        if (NowMs() - start > kPatienceMs)
            return -1;
        Sleep(0);
    }
    while (NowMs() - start < kPatienceMs) {
        bool shown = false;
        if (!window.Send([&] { shown = FindRow(window.Tree(), row) != nullptr; }))
            return -1;
        if (shown)
            return NowMs() - start;
        Sleep(1);
    }
    return -1;
}
