// Start-up time of the real Tessel.exe: from asking for the process to the
// first moment its main window is visible with a filled tree (the root row
// has a child), measured from outside by polling. A program that shows one
// empty dialog and nothing else runs in the same rounds as the yardstick.
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

// The main window is titled "Tessel ..." and its tree's root row has a child.
bool TesselTreeFilled(HWND window)
{
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    if (!StartsWith(title, L"Tessel"))
        return false;
    HWND tree = GetDlgItem(window, kSensorTreeId);
    DWORD_PTR root = 0;
    DWORD_PTR child = 0;
    return tree && Probe(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0, root) && root &&
           Probe(tree, TVM_GETNEXTITEM, TVGN_CHILD, static_cast<LPARAM>(root), child) && child;
}

bool DialogShown(HWND window)
{
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    return wcscmp(className, L"#32770") == 0;
}

struct Program
{
    const char* name;
    std::wstring path;
    ReadyTest ready;
    std::vector<double> samples;
    int failures = 0;
};

// Starts the program once, waits until it is ready, closes it and waits
// for it to end. Answers the time to ready, or a negative value.
double RunOnce(const Program& program)
{
    std::wstring commandLine = L"\"" + program.path + L"\"";
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
    while (NowMs() - start < kReadyTimeoutMs) {
        EnumWindows(CheckWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            readyMs = NowMs() - start;
            break;
        }
        if (WaitForSingleObject(process.Get(), 1) == WAIT_OBJECT_0)
            break;
    }
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
    const double ms = RunOnce(program);
    if (!keep)
        return;
    if (ms < 0)
        ++program.failures;
    else
        program.samples.push_back(ms);
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
    Program tessel = {"Tessel", ParentFolder(folder) + L"\\Tessel.exe", TesselTreeFilled, {}};
    Program minimal = {"minimal dialog", folder + L"\\bench_minimal_dialog.exe", DialogShown, {}};
    if (argv && argc > 1)
        tessel.path = argv[1];
    if (argv && argc > 2)
        minimal.path = argv[2];
    if (argv)
        LocalFree(argv);
    for (const Program* program : {&tessel, &minimal}) {
        if (!Exists(program->path)) {
            std::printf("%s not found: %ls\n", program->name, program->path.c_str());
            return 1;
        }
    }

    // One unmeasured round loads both programs into the file cache; the
    // measured rounds then alternate them so both see the same conditions.
    Measure(tessel, false);
    Measure(minimal, false);
    for (int run = 0; run < kRuns; ++run) {
        Measure(tessel, true);
        Measure(minimal, true);
    }

    const Summary ofTessel = Summarise(tessel.samples);
    const Summary ofMinimal = Summarise(minimal.samples);
    std::printf("start-up: process start to visible main window with a filled tree, "
                "%d runs each after one warm-up run\n",
                kRuns);
    std::printf("%-28s %12s %12s %8s\n", "program", "median ms", "worst ms", "failed");
    std::printf("%-28s %12.1f %12.1f %8d\n", tessel.name, ofTessel.medianMs, ofTessel.worstMs,
                tessel.failures);
    std::printf("%-28s %12.1f %12.1f %8d\n", minimal.name, ofMinimal.medianMs, ofMinimal.worstMs,
                minimal.failures);
    std::printf("%-28s %12.1f %12.1f\n", "difference (Tessel - minimal)",
                ofTessel.medianMs - ofMinimal.medianMs, ofTessel.worstMs - ofMinimal.worstMs);
    std::printf("%-28s %12.2f %12s %8s\n", "ratio (Tessel / minimal)",
                ofMinimal.medianMs > 0 ? ofTessel.medianMs / ofMinimal.medianMs : 0.0, "",
                "<= 1.50");
    return 0;
}
