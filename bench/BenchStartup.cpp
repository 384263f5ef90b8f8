// Start-up time of the real Tessel.exe, measured from outside by polling:
// from asking for the process to the first moment its main window is
// visible and painted with the tree's root row ("shown"), and to the first
// moment the tree is filled too (the root row has a child). Yardsticks run
// in the same rounds: a program that shows one empty dialog and nothing
// else, the same program creating the Sensor API's manager and reading
// every sensor once before its dialog (the floor of any viewer), both with
// the common controls and their visual styles loaded (the floors of any
// viewer with a tree control), which is looked for next to the minimal
// dialog, and that one showing the main window's controls alone.
//
// Usage: bench_startup [path\to\Tessel.exe [path\to\bench_minimal_dialog.exe]]
// By default Tessel.exe is looked for in the folder above this program's
// and the minimal dialog next to this program.

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchClock.h"

namespace {

constexpr int kRuns = 10;
constexpr int kSensorTreeId = 1004;
constexpr double kReadyTimeoutMs = 60000;
constexpr DWORD kExitTimeoutMs = 30000;
constexpr UINT kProbeTimeoutMs = 500;

struct Summary
{
    double medianMs = 0;
    double worstMs = 0;
};

Summary Summarise(const std::vector<double>& samples)
{
    Summary summary;
    if (samples.empty())
        return summary;
    summary.medianMs = Median(samples);
    summary.worstMs = *std::max_element(samples.begin(), samples.end());
    return summary;
}

std::wstring ParentFolder(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring OwnFolder()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    return ParentFolder(path);
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix)
{
    return wcsncmp(text, prefix, wcslen(prefix)) == 0;
}

class OwnedHandle
{
public:
    explicit OwnedHandle(HANDLE handle = nullptr) : handle_(handle) {}
    ~OwnedHandle()
    {
        if (handle_)
            CloseHandle(handle_);
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    HANDLE Get() const { return handle_; }
    void Reset(HANDLE handle)
    {
        if (handle_)
            CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_;
};

// Answers whether a top-level window of the started process shows what the
// program is waiting for.
using ReadyTest = bool (*)(HWND window);

struct WindowSearch
{
    DWORD processId;
    ReadyTest ready;
    HWND found;
};

BOOL CALLBACK CheckWindow(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window) || !search->ready(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

bool Probe(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR& answer)
{
    return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kProbeTimeoutMs,
                               &answer) != 0;
}

// No part of the window waits to be painted.
bool Painted(HWND window)
{
    return !GetUpdateRect(window, nullptr, FALSE);
}

// The main window is titled "Tessel ..." and its tree has a root row;
// answers the tree's root (the row "Sensors") or 0.
DWORD_PTR TesselRoot(HWND window)
{
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    if (!StartsWith(title, L"Tessel"))
        return 0;
    HWND tree = GetDlgItem(window, kSensorTreeId);
    DWORD_PTR root = 0;
    return tree && Probe(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0, root) ? root : 0;
}

bool TesselShown(HWND window)
{
    return TesselRoot(window) && Painted(window) && Painted(GetDlgItem(window, kSensorTreeId));
}

// The tree's root row has a child, and the window is painted.
bool TesselTreeFilled(HWND window)
{
    const DWORD_PTR root = TesselRoot(window);
    HWND tree = GetDlgItem(window, kSensorTreeId);
    DWORD_PTR child = 0;
    return root && Probe(tree, TVM_GETNEXTITEM, TVGN_CHILD, static_cast<LPARAM>(root), child) &&
           child && Painted(window) && Painted(tree);
}

bool DialogShown(HWND window)
{
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    return wcscmp(className, L"#32770") == 0 && Painted(window);
}

struct Program
{
    const char* name;
    std::wstring path;
    const wchar_t* arguments;
    ReadyTest shown;
    ReadyTest ready;
    std::vector<double> shownSamples;
    std::vector<double> samples;
    int failures = 0;
};

// Polls the program's windows until one is ready; answers when that was,
// and when one was first shown, or negative values.
void WaitUntilReady(const Program& program, HANDLE process, WindowSearch& search, double start,
                    double& shownMs, double& readyMs)
{
    WindowSearch shown = {search.processId, program.shown, nullptr};
    while (NowMs() - start < kReadyTimeoutMs) {
        if (!shown.found) {
            EnumWindows(CheckWindow, reinterpret_cast<LPARAM>(&shown));
            if (shown.found)
                shownMs = NowMs() - start;
        }
        if (shown.found) {
            EnumWindows(CheckWindow, reinterpret_cast<LPARAM>(&search));
            if (search.found) {
                readyMs = NowMs() - start;
                return;
            }
        }
        if (WaitForSingleObject(process, 1) == WAIT_OBJECT_0)
            return;
    }
}

// Starts the program once, waits until it is ready, closes it and waits
// for it to end. Answers the times to shown and to ready, or negative
// values.
double RunOnce(const Program& program, double& shownMs)
{
    std::wstring commandLine = L"\"" + program.path + L"\" " + program.arguments;
    const std::wstring folder = ParentFolder(program.path);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    const double start = NowMs();
    if (!CreateProcessW(program.path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info))
        return -1;
    OwnedHandle process(info.hProcess);
    OwnedHandle thread(info.hThread);

    WindowSearch search = {info.dwProcessId, program.ready, nullptr};
    double readyMs = -1;
    shownMs = -1;
    WaitUntilReady(program, process.Get(), search, start, shownMs, readyMs);
    if (search.found)
        PostMessageW(search.found, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.Get(), kExitTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.Get(), 1);
        WaitForSingleObject(process.Get(), kExitTimeoutMs);
        return -1;
    }
    return readyMs;
}

void Measure(Program& program, bool keep)
{
    double shownMs = -1;
    const double ms = RunOnce(program, shownMs);
    if (!keep)
        return;
    if (ms < 0) {
        ++program.failures;
        return;
    }
    program.samples.push_back(ms);
    program.shownSamples.push_back(shownMs);
}

void PrintRow(const char* name, const std::vector<double>& samples, int failures)
{
    const Summary summary = Summarise(samples);
    std::printf("%-36s %10.1f %10.1f %8d\n", name, summary.medianMs, summary.worstMs, failures);
}

void PrintRatio(const char* name, double over, double under, const char* goal)
{
    std::printf("%-36s %10.2f %10s %8s\n", name, under > 0 ? over / under : 0.0, "", goal);
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

int main()
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const std::wstring folder = OwnFolder();
    Program tessel = {
        "Tessel", ParentFolder(folder) + L"\\Tessel.exe", L"", TesselShown, TesselTreeFilled, {},
        {}};
    Program minimal = {"minimal dialog",
                       folder + L"\\bench_minimal_dialog.exe",
                       L"",
                       DialogShown,
                       DialogShown,
                       {},
                       {}};
    if (argv && argc > 1)
        tessel.path = argv[1];
    if (argv && argc > 2)
        minimal.path = argv[2];
    if (argv)
        LocalFree(argv);
    Program sensors = {"minimal dialog reading the sensors",
                       minimal.path,
                       L"sensors",
                       DialogShown,
                       DialogShown,
                       {},
                       {}};
    // Both again with the common controls and their visual styles loaded:
    // under Wine that loads uxtheme and its theme, which Windows has mapped
    // in every program already.
    const std::wstring withControls =
        ParentFolder(minimal.path) + L"\\bench_minimal_dialog_themed.exe";
    Program plainControls = {
        "minimal, common controls", withControls, L"", DialogShown, DialogShown, {}, {}};
    Program controls = {"reading sensors, common controls",
                        withControls,
                        L"sensors",
                        DialogShown,
                        DialogShown,
                        {},
                        {}};
    // The main window's own controls with nothing behind them: the least a
    // window of Tessel's layout costs under Wine.
    Program sameControls = {
        "Tessel's controls alone", withControls, L"controls", DialogShown, DialogShown, {}, {}};
    for (const Program* program : {&tessel, &minimal, &controls}) {
        if (!Exists(program->path)) {
            std::printf("%s not found: %ls\n", program->name, program->path.c_str());
            return 1;
        }
    }

    // One unmeasured round loads the programs into the file cache; the
    // measured rounds then alternate them so all see the same conditions.
    Program* const programs[] = {&tessel,        &minimal,  &sensors,
                                 &plainControls, &controls, &sameControls};
    for (Program* program : programs)
        Measure(*program, false);
    for (int run = 0; run < kRuns; ++run) {
        for (Program* program : programs)
            Measure(*program, true);
    }

    const double shown = Median(tessel.shownSamples);
    const double filled = Median(tessel.samples);
    std::printf("start-up: process start to a visible, painted window, %d runs each after one "
                "warm-up run\n",
                kRuns);
    std::printf("%-36s %10s %10s %8s\n", "program", "median ms", "worst ms", "failed");
    PrintRow("Tessel, shown (root row painted)", tessel.shownSamples, tessel.failures);
    PrintRow("Tessel, tree filled", tessel.samples, tessel.failures);
    PrintRow(minimal.name, minimal.samples, minimal.failures);
    PrintRow(sensors.name, sensors.samples, sensors.failures);
    PrintRow(plainControls.name, plainControls.samples, plainControls.failures);
    PrintRow(controls.name, controls.samples, controls.failures);
    PrintRow(sameControls.name, sameControls.samples, sameControls.failures);
    PrintRatio("shown / minimal dialog", shown, Median(minimal.samples), "<= 1.50");
    PrintRatio("filled / dialog reading the sensors", filled, Median(sensors.samples), "<= 1.30");
    PrintRatio("shown / minimal, common controls", shown, Median(plainControls.samples), "<= 1.50");
    PrintRatio("filled / reading, common controls", filled, Median(controls.samples), "<= 1.30");
    PrintRatio("shown / Tessel's controls alone", shown, Median(sameControls.samples), "");
    PrintRatio("filled / minimal dialog", filled, Median(minimal.samples), "");
    return 0;
}
