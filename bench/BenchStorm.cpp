// Event storm against the real main window: 10 sensors reporting 1,000 data
// updates a second each for 10 s. Prints how long the window took at most
// to answer a WM_NULL during the storm, how much memory the process gained,
// and how long a marked event took to reach the tree, during the storm and
// as the last event after it.

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "MainWindowHarness.h"
#include "base/DynamicLibrary.h"

using namespace main_window_test;

#include "BenchClock.h"
#include "BenchMarkedValue.h"
#include "BenchMemory.h"

namespace {

constexpr unsigned kSensors = 10;
constexpr unsigned kEventsPerSecond = 1000;
constexpr double kStormSeconds = 10.0;
constexpr unsigned kMarkedSensor = 1;

// Counts the sensors whose rows show their current report, field by field;
// runs on the window's thread once the window has settled.
int SensorsShowingLastValues(MainWindowHarness& window)
{
    int matching = 0;
    window.Send([&] {
        HWND tree = window.Tree();
        SensorList& sensors = window.App()->Sensors();
        SensorList::Walk walk(sensors);
        HTREEITEM sensorRow = TreeView_GetChild(tree, TreeView_GetRoot(tree));
        for (SensorEntry* entry = sensors.First(); entry && sensorRow; entry = entry->Next()) {
            ComPtr<ISensorDataReport> report;
            LockedList current;
            if (SUCCEEDED(entry->Sensor()->GetData(report.Put())))
                BuildFields(report.Get(), current);
            bool same = true;
            HTREEITEM row = TreeView_GetChild(tree, sensorRow);
            WideString expected;
            for (ListNode* node = current.First(); node; node = node->next) {
                auto* field = static_cast<SensorField*>(node);
                Format(expected, L"%s\t%s", field->name.Data(), field->valueText.Data());
                wchar_t text[kTreeItemTextCapacity] = {};
                TVITEMW item = {};
                item.mask = TVIF_TEXT;
                item.hItem = row;
                item.pszText = text;
                item.cchTextMax = kTreeItemTextCapacity;
                same = same && row && TreeView_GetItem(tree, &item) && expected.Compare(text) == 0;
                row = row ? TreeView_GetNextSibling(tree, row) : nullptr;
            }
            matching += same && !row;
            sensorRow = TreeView_GetNextSibling(tree, sensorRow);
        }
    });
    return matching;
}

struct StormFigures
{
    double longestAnswerMs = 0;
    double medianAnswerMs = 0;
    int probes = 0;
    int unanswered = 0;
};

// Probes the window with WM_NULL, one after another, while the storm runs.
StormFigures Probe(HWND window, double seconds)
{
    StormFigures figures;
    std::vector<double> answers;
    const double end = NowMs() + seconds * 1000.0;
    while (NowMs() < end) {
        DWORD_PTR answer = 0;
        const double start = NowMs();
        if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kPatienceMs, &answer))
            ++figures.unanswered;
        answers.push_back(NowMs() - start);
        Sleep(1);
    }
    figures.probes = static_cast<int>(answers.size());
    if (!answers.empty()) {
        figures.longestAnswerMs = *std::max_element(answers.begin(), answers.end());
        figures.medianAnswerMs = Median(answers);
    }
    return figures;
}

} // namespace

int main()
{
    SensorSimControl* sim = Simulator();
    if (!sim || !sim->Reset()) {
        std::printf("the sensor simulator is not available\n");
        return 1;
    }
    if (!AddStormSensors(*sim, kSensors, true)) {
        std::printf("the sensors could not be set up\n");
        return 1;
    }

    PlacementValueGuard placement;
    MainWindowHarness window;
    if (!window.Start() || !window.Settle()) {
        std::printf("the main window did not start\n");
        return 1;
    }
    const Memory before = ReadMemory();
    const LONG eventsBefore = sim->DeliveredEvents();
    const LONG messagesBefore = window.ChangeMessages();
    const LONG objectsBefore = sim->LiveObjects();

    sim->SetStorm(kEventsPerSecond);
    StormFigures storm = Probe(window.Window(), kStormSeconds);
    const double duringStorm =
        MarkedValueToTree(*sim, window, kMarkedSensor, L"marked during the storm");
    sim->SetStorm(0);
    const LONG events = sim->DeliveredEvents() - eventsBefore;
    const LONG messages = window.ChangeMessages() - messagesBefore;
    const double lastEvent = MarkedValueToTree(*sim, window, kMarkedSensor, L"the last event");
    window.Settle();
    const int showingLast = SensorsShowingLastValues(window);
    const Memory after = ReadMemory();
    const LONG objectsAfter = sim->LiveObjects();

    std::printf("event storm: %u sensors x %u events/s for %.0f s against the main window\n",
                kSensors, kEventsPerSecond, kStormSeconds);
    std::printf("%-44s %12s\n", "figure", "value");
    std::printf("%-44s %12.0f\n", "events asked for", kSensors * kEventsPerSecond * kStormSeconds);
    std::printf("%-44s %12ld\n", "events delivered", static_cast<long>(events));
    std::printf("%-44s %12.0f\n", "events per second", events / kStormSeconds);
    std::printf("%-44s %12ld\n", "change messages handled (paced refreshes)",
                static_cast<long>(messages));
    std::printf("%-44s %12d\n", "WM_NULL probes", storm.probes);
    std::printf("%-44s %12d\n", "WM_NULL probes unanswered", storm.unanswered);
    std::printf("%-44s %12.2f\n", "WM_NULL answer, median ms", storm.medianAnswerMs);
    std::printf("%-44s %12.2f %9s\n", "WM_NULL answer, longest ms", storm.longestAnswerMs,
                "goal <= 50");
    std::printf("%-44s %12.2f\n", "marked event to tree during the storm, ms", duringStorm);
    std::printf("%-44s %12.2f\n", "last event to tree after the storm, ms", lastEvent);
    std::printf("%-44s %9d/%-2u %9s\n", "sensors showing their last values", showingLast, kSensors,
                "goal all");
    std::printf("%-44s %8.1f -> %6.1f\n", "private bytes, MB", before.privateMb, after.privateMb);
    std::printf("%-44s %8.1f -> %6.1f\n", "working set, MB", before.workingSetMb,
                after.workingSetMb);
    std::printf("%-44s %8ld -> %6ld\n", "simulator objects alive", static_cast<long>(objectsBefore),
                static_cast<long>(objectsAfter));
    return 0;
}
