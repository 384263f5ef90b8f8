// Where start-up time goes: runs the main window's start in a fresh process,
// step by step as its OnInitDialog and its first fill take them, and prints
// each step's time, from process creation to the first painted full tree. Each step is the first
// use of its parts in the process, as in the real start. The process ends
// itself once the tree is painted.
//
// Usage: bench_startup_steps [runs]  (default 5; each run is a new process)

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "BuildConfig.h"
#include "app/AppProcess.h"
#include "app/SensorViewerApp.h"
#include "app/resource.h"

namespace {

constexpr UINT kPaintedMessage = WM_APP + 0x77;
constexpr int kSteps = 16;
const char* const kStepNames[kSteps] = {
    "process start to entry point",
    "process object: library search, crash filter",
    "application object: COM, sensor list",
    "dialog created, to OnInitDialog",
    "icon and title (version resource)",
    "tree-list: attach, style, icons, columns",
    "check box and size grip",
    "hyperlink",
    "anchors and minimum size",
    "restore placement",
    "root row alone",
    "OnInitDialog to window shown and painted",
    "sensors listed (after the manager made ahead)",
    "first fill (Rebuild)",
    "filled tree painted",
    "total",
};

double ProcessAgeMs()
{
    FILETIME created, exited, kernel, user, now;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER a, b;
    a.LowPart = created.dwLowDateTime;
    a.HighPart = created.dwHighDateTime;
    b.LowPart = now.dwLowDateTime;
    b.HighPart = now.dwHighDateTime;
    return static_cast<double>(b.QuadPart - a.QuadPart) / 10000.0;
}

// The main window's start, step by step, with the same parts.
class TimedViewerApp : public SensorViewerApp
{
public:
    double steps[kSteps] = {};
    double entryMs = 0;

    int OnInitDialog() override
    {
        mark_ = NowMs();
        steps[3] = mark_ - entryMs;
        SetIcon(IDI_APP);
        SetText(version_.VersionTitle(L"Tessel"));
        Lap(4);
        Tree().Attach(Control(IDC_SENSOR_TREE), Instance(),
                      TREE_KEEP_CHILDREN | TREE_KEEP_IMAGES | TREE_PLAIN_HEADER);
        Tree().SetExtendedStyle(0x54, 0x54);
        Tree().AddIcon(IDI_ROOT);
        Tree().AddIcon(IDI_SENSOR);
        Tree().AddIcon(IDI_FIELD);
        Tree().InsertColumn(L"Item", 0, 200, 0);
        Tree().InsertColumn(L"Value", 1, 500, 0);
        Lap(5);
        SetCheck(IDC_AUTO_UPDATE, BST_CHECKED);
        grip_.Attach(Window());
        Lap(6);
        link_.Attach(Control(IDC_WEB_LINK), AddressWithoutScheme(TESSEL_WEB_ADDRESS),
                     TESSEL_WEB_ADDRESS, IDC_HAND_LINK, 0);
        Lap(7);
        anchors_[0].Setup(Control(IDC_SENSOR_TREE), ANCHOR_SIZE_X | ANCHOR_SIZE_Y);
        anchors_[1].Setup(Control(IDC_WEB_LINK), ANCHOR_MOVE_Y);
        anchors_[2].Setup(Control(IDC_EXIT), ANCHOR_MOVE_X | ANCHOR_MOVE_Y);
        anchors_[3].Setup(Control(IDC_AUTO_UPDATE), ANCHOR_MOVE_Y);
        SetMinimumSize(270, 150, 1);
        Lap(8);
        RestorePlacement(HKEY_CURRENT_USER, kTesselKey, L"Main", 0);
        Lap(9);
        Sensors().SetChangeCallback(SensorChanged, this);
        Tree().DeleteAll();
        Tree().InsertItem({nullptr, L"Sensors"});
        Lap(10);
        initEndMs_ = NowMs();
        PostMessageW(Window(), kPaintedMessage, 0, 0);
        return 1;
    }

    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        // Waits for the window to show, paints what is still due, then
        // fills the tree as the main window does once it is shown.
        if (message == kPaintedMessage) {
            if (!IsWindowVisible(Window())) {
                PostMessageW(Window(), kPaintedMessage, 0, 0);
                return 1;
            }
            UpdateWindow(Window());
            UpdateWindow(Tree().Window());
            mark_ = NowMs();
            steps[11] = mark_ - initEndMs_;
            Sensors().Refresh();
            Lap(12);
            Rebuild();
            Lap(13);
            UpdateWindow(Window());
            UpdateWindow(Tree().Window());
            Lap(14);
            steps[15] = ProcessAgeMs();
            EndDialog(Window(), 0);
            return 1;
        }
        return SensorViewerApp::OnMessage(message, wParam, lParam);
    }

private:
    // The time since the last step as that step's time.
    void Lap(int step)
    {
        const double now = NowMs();
        steps[step] = now - mark_;
        mark_ = now;
    }

    VersionInfo version_;
    LinkCtrl link_;
    SizeGrip grip_;
    Anchor anchors_[4];
    double initEndMs_ = 0;
    double mark_ = 0;
};

// One measured start in this process: prints the step times on one line.
int MeasureOnce()
{
    const double entry = NowMs();
    const double sinceStart = ProcessAgeMs();
    AppProcess process(0);
    const double processMade = NowMs();
    TimedViewerApp app;
    app.Sensors().CreateManagerAhead();
    app.entryMs = NowMs();
    app.steps[0] = sinceStart;
    app.steps[1] = processMade - entry;
    app.steps[2] = app.entryMs - processMade;
    app.Run(GetModuleHandleW(nullptr), IDD_MAIN, 0, nullptr);
    for (double step : app.steps)
        std::printf("%.2f ", step);
    std::printf("\n");
    return 0;
}

// Starts this program runs times with "--once" and collects their lines.
int Collect(int runs)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::vector<std::vector<double>> samples(kSteps);
    for (int run = 0; run <= runs; ++run) {
        std::wstring command = L"\"" + std::wstring(path) + L"\" --once";
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE readEnd = nullptr;
        HANDLE writeEnd = nullptr;
        if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
            return 1;
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd;
        startup.hStdError = writeEnd;
        PROCESS_INFORMATION info = {};
        const BOOL started = CreateProcessW(path, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                            nullptr, &startup, &info);
        CloseHandle(writeEnd);
        std::string output;
        char buffer[512];
        DWORD got = 0;
        while (started && ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got)
            output.append(buffer, got);
        CloseHandle(readEnd);
        if (!started)
            return 1;
        WaitForSingleObject(info.hProcess, 60000);
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
        // The first run only warms the file cache.
        if (run == 0)
            continue;
        const char* cursor = output.c_str();
        for (int step = 0; step < kSteps; ++step) {
            char* end = nullptr;
            const double value = std::strtod(cursor, &end);
            if (end == cursor)
                break;
            samples[step].push_back(value);
            cursor = end;
        }
    }
    std::printf("start-up steps of the main window, median of %d fresh processes, ms\n", runs);
    for (int step = 0; step < kSteps; ++step)
        std::printf("%-44s %8.1f\n", kStepNames[step], Median(samples[step]));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--once")
        return MeasureOnce();
    return Collect(argc > 1 ? std::atoi(argv[1]) : 5);
}
