// Drives a running Tessel window from the run script: waits for it, resizes
// or closes it. Usage:
//   TesselDriver wait            waits up to 20 s for the main window
//   TesselDriver size W H        resizes the main window (pixels)
//   TesselDriver select S [F]    selects sensor row S (0 = first) or its field F
//   TesselDriver hover           moves the mouse over the start of the link
//   TesselDriver close           asks it to close and waits for the process
//   TesselDriver crash           crashes it from a thread started in it
//   TesselDriver report          waits up to 20 s for the problem report dialog
//                                and prints its screen rectangle "W H X Y"
//   TesselDriver dontsend        answers the problem report dialog "Don't Send"
//   TesselDriver properties      opens the selected sensor's properties, waits
//                                up to 20 s for the dialog and prints its
//                                screen rectangle "W H X Y"
//   TesselDriver chart           opens the selected sensor's chart, waits up
//                                to 20 s for its window and prints its screen
//                                rectangle "W H X Y"
//   TesselDriver describe        prints the title and the number of sensor rows
//   TesselDriver answer yes|no   waits up to 20 s for a yes/no message box,
//                                prints its text and answers it
//   TesselDriver show minimize|restore
//                                minimises or restores the main window
//   TesselDriver charts minimize|restore|pause
//                                minimises, restores or pauses (Space) every
//                                chart window
//   TesselDriver charts at X Y   moves the chart windows to X Y, each 20
//                                pixels lower than the one before
//   TesselDriver open PATH       opens the recording PATH through "Open
//                                Recording...", waits up to 20 s for its
//                                window and prints its rectangle "W H X Y"
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// IsWindowVisible answers 0 for windows of another desktop: read the style.
static bool IsShown(HWND window)
{
    return (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

// Prints a window text in UTF-8, for the scripts that read it.
static void PrintUtf8(const wchar_t* text)
{
    char bytes[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof(bytes) - 1, nullptr, nullptr);
    fputs(bytes, stdout);
}

static bool gFindReport = false;

static BOOL CALLBACK FindTessel(HWND window, LPARAM result)
{
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    // The tree tells the main window, and the "Don't Send" button the problem
    // report dialog, from message boxes of the same title.
    const bool wanted = gFindReport ? GetDlgItem(window, 1001) && !GetDlgItem(window, 1004)
                                    : GetDlgItem(window, 1004) != nullptr;
    if (IsShown(window) && wanted &&
        (wcsncmp(title, L"Tessel", 6) == 0 || wcscmp(title, L"Dialog") == 0)) {
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;
    }
    return TRUE;
}

// A shown window that holds the control gWantedControl: the sensor
// properties dialog its property tree (1100), the Open dialog its file name
// box (cmb13), the recording window its sensor list (1202).
static int gWantedControl = 0;

static BOOL CALLBACK FindWithControl(HWND window, LPARAM result)
{
    if (IsShown(window) && GetDlgItem(window, gWantedControl)) {
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;
    }
    return TRUE;
}

// The run script shows Tessel in a virtual desktop named "Tessel"; its
// windows are found only through that desktop.
static HWND FindWindowBy(WNDENUMPROC find)
{
    HWND found = nullptr;
    if (HDESK desktop =
            OpenDesktopW(L"Tessel", 0, FALSE, DESKTOP_ENUMERATE | DESKTOP_READOBJECTS)) {
        EnumDesktopWindows(desktop, find, reinterpret_cast<LPARAM>(&found));
        CloseDesktop(desktop);
    }
    if (!found)
        EnumWindows(find, reinterpret_cast<LPARAM>(&found));
    return found;
}

static HWND MainWindow()
{
    return FindWindowBy(FindTessel);
}

// Waits up to 20 s for a window holding the control.
static HWND WaitForWindowWith(int control)
{
    gWantedControl = control;
    for (int waited = 0; waited < 20000; waited += 100) {
        if (HWND found = FindWindowBy(FindWithControl))
            return found;
        Sleep(100);
    }
    return nullptr;
}

// Prints the window's screen rectangle "W H X Y"; 1 without a window.
static int PrintRectangle(HWND window)
{
    if (!window)
        return 1;
    RECT box = {};
    GetWindowRect(window, &box);
    printf("%ld %ld %ld %ld\n", box.right - box.left, box.bottom - box.top, box.left, box.top);
    return 0;
}

static int Properties(HWND window)
{
    PostMessageW(window, WM_COMMAND, 40010, 0);
    return PrintRectangle(WaitForWindowWith(1100));
}

static int OpenRecording(HWND window, const wchar_t* path)
{
    PostMessageW(window, WM_COMMAND, 40021, 0);
    HWND dialog = WaitForWindowWith(0x47C);
    HWND combo =
        dialog ? FindWindowExW(GetDlgItem(dialog, 0x47C), nullptr, L"ComboBox", nullptr) : nullptr;
    HWND edit = combo ? FindWindowExW(combo, nullptr, L"Edit", nullptr) : nullptr;
    if (!edit)
        return 1;
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return PrintRectangle(WaitForWindowWith(1202));
}

// Counts the shown chart windows; the last one found goes to gLastChart.
static int gChartCount = 0;
static HWND gLastChart = nullptr;

// Goes on through all windows; a found one keeps the second way of looking
// from counting it again.
static BOOL CALLBACK CountCharts(HWND window, LPARAM result)
{
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    if (IsShown(window) && wcscmp(name, L"TesselChartWindow") == 0) {
        ++gChartCount;
        gLastChart = window;
        *reinterpret_cast<HWND*>(result) = window;
    }
    return TRUE;
}

static int ChartWindows()
{
    gChartCount = 0;
    FindWindowBy(CountCharts);
    return gChartCount;
}

// Posts the main window's "Chart" command (40012) and waits for one more
// chart window.
static int Chart(HWND window)
{
    const int before = ChartWindows();
    PostMessageW(window, WM_COMMAND, 40012, 0);
    for (int waited = 0; waited < 20000; waited += 100) {
        if (ChartWindows() > before) {
            RECT box = {};
            GetWindowRect(gLastChart, &box);
            printf("%ld %ld %ld %ld\n", box.right - box.left, box.bottom - box.top, box.left,
                   box.top);
            return 0;
        }
        Sleep(100);
    }
    return 1;
}

// Every shown chart window, for the commands that act on all of them.
static HWND gCharts[64];
static int gChartsFound = 0;

static BOOL CALLBACK CollectCharts(HWND window, LPARAM)
{
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    if (IsShown(window) && wcscmp(name, L"TesselChartWindow") == 0 && gChartsFound < 64)
        gCharts[gChartsFound++] = window;
    return TRUE;
}

static int ShowCommand(const wchar_t* action)
{
    if (wcscmp(action, L"minimize") == 0)
        return SW_MINIMIZE;
    return wcscmp(action, L"restore") == 0 ? SW_RESTORE : -1;
}

static int ActOnCharts(const wchar_t* action, int x = 0, int y = 0)
{
    gChartsFound = 0;
    EnumWindows(CollectCharts, 0);
    if (wcscmp(action, L"at") == 0) {
        for (int i = 0; i < gChartsFound; ++i)
            SetWindowPos(gCharts[i], nullptr, x, y + 20 * i, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
        return gChartsFound ? 0 : 1;
    }
    const int show = ShowCommand(action);
    const bool pause = wcscmp(action, L"pause") == 0;
    if (show < 0 && !pause)
        return 2;
    for (int i = 0; i < gChartsFound; ++i) {
        if (pause)
            PostMessageW(gCharts[i], WM_KEYDOWN, VK_SPACE, 0);
        else
            ShowWindowAsync(gCharts[i], show);
    }
    return gChartsFound ? 0 : 1;
}

static HWND WaitForMainWindow(DWORD milliseconds)
{
    for (DWORD waited = 0; waited < milliseconds; waited += 100) {
        if (HWND window = MainWindow())
            return window;
        Sleep(100);
    }
    return nullptr;
}

static int Close(HWND window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    PostMessageW(window, WM_CLOSE, 0, 0);
    if (!process)
        return 0;
    DWORD result = WaitForSingleObject(process, 10000);
    CloseHandle(process);
    return result == WAIT_OBJECT_0 ? 0 : 1;
}

// Item handles are plain values, so no memory of the other process is
// needed to walk the rows.
static LPARAM NextRow(HWND tree, UINT relation, LPARAM item)
{
    return SendMessageW(tree, TVM_GETNEXTITEM, relation, item);
}

// One line "title<TAB>sensor rows", for scripts that check what the window
// shows.
static int Describe(HWND window)
{
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    HWND tree = GetDlgItem(window, 1004);
    int sensors = 0;
    for (LPARAM row = NextRow(tree, TVGN_CHILD, NextRow(tree, TVGN_ROOT, 0)); row;
         row = NextRow(tree, TVGN_NEXT, row))
        ++sensors;
    PrintUtf8(title);
    printf("\t%d\n", sensors);
    fflush(stdout);
    return 0;
}

// An unhandled crash on a thread of Tessel's own.
static int Crash(HWND window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION |
                                     PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_VM_READ,
                                 FALSE, processId);
    if (!process)
        return 1;
    // A system function that writes to its argument, given an address that
    // is not a pointer: the fault happens inside ordinary code, as a real
    // crash would.
    const auto writeThrough = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemInfo")));
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, writeThrough,
                                       reinterpret_cast<void*>(0x10), 0, nullptr);
    CloseHandle(process);
    if (!thread)
        return 1;
    CloseHandle(thread);
    return 0;
}

static int Report(const wchar_t* command)
{
    gFindReport = true;
    HWND dialog = WaitForMainWindow(20000);
    if (!dialog)
        return 1;
    if (wcscmp(command, L"dontsend") == 0) {
        SendMessageW(GetDlgItem(dialog, 1001), BM_CLICK, 0, 0);
        return 0;
    }
    RECT box = {};
    GetWindowRect(dialog, &box);
    printf("%ld %ld %ld %ld\n", box.right - box.left, box.bottom - box.top, box.left, box.top);
    return 0;
}

static BOOL CALLBACK FindQuestion(HWND window, LPARAM result)
{
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (IsShown(window) && wcscmp(className, L"#32770") == 0 && GetDlgItem(window, IDYES) &&
        GetDlgItem(window, IDNO)) {
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;
    }
    return TRUE;
}

// Message boxes name their text control 0xFFFF.
static int Answer(DWORD button)
{
    HWND box = nullptr;
    for (int waited = 0; !box && waited < 20000; waited += 100) {
        EnumWindows(FindQuestion, reinterpret_cast<LPARAM>(&box));
        if (!box)
            Sleep(100);
    }
    if (!box)
        return 1;
    wchar_t text[1024] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 1024);
    PrintUtf8(text);
    printf("\n");
    fflush(stdout);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    return 0;
}

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    if (wcscmp(argv[1], L"report") == 0 || wcscmp(argv[1], L"dontsend") == 0)
        return Report(argv[1]);
    if (wcscmp(argv[1], L"answer") == 0 && argc == 3)
        return Answer(wcscmp(argv[2], L"yes") == 0 ? IDYES : IDNO);
    HWND window = WaitForMainWindow(20000);
    if (!window)
        return 1;
    if (wcscmp(argv[1], L"close") == 0)
        return Close(window);
    if (wcscmp(argv[1], L"crash") == 0)
        return Crash(window);
    if (wcscmp(argv[1], L"size") == 0 && argc == 4) {
        SetWindowPos(window, nullptr, 0, 0, _wtoi(argv[2]), _wtoi(argv[3]),
                     SWP_NOMOVE | SWP_NOZORDER);
        return 0;
    }
    if (wcscmp(argv[1], L"select") == 0 && argc >= 3) {
        HWND tree = GetDlgItem(window, 1004);
        auto next = [tree](UINT relation, LPARAM item) { return NextRow(tree, relation, item); };
        LPARAM item = next(TVGN_CHILD, next(TVGN_ROOT, 0));
        for (int i = _wtoi(argv[2]); i > 0 && item; --i)
            item = next(TVGN_NEXT, item);
        if (argc == 4 && item) {
            item = next(TVGN_CHILD, item);
            for (int i = _wtoi(argv[3]); i > 0 && item; --i)
                item = next(TVGN_NEXT, item);
        }
        SetForegroundWindow(window);
        return item && SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, item) ? 0 : 1;
    }
    if (wcscmp(argv[1], L"hover") == 0) {
        HWND link = GetDlgItem(window, 1005);
        RECT box = {};
        GetClientRect(link, &box);
        PostMessageW(link, WM_MOUSEMOVE, 0, MAKELPARAM(8, box.bottom / 2));
        return 0;
    }
    if (wcscmp(argv[1], L"describe") == 0)
        return Describe(window);
    if (wcscmp(argv[1], L"properties") == 0)
        return Properties(window);
    if (wcscmp(argv[1], L"chart") == 0)
        return Chart(window);
    if (wcscmp(argv[1], L"show") == 0 && argc == 3 && ShowCommand(argv[2]) >= 0)
        return ShowWindowAsync(window, ShowCommand(argv[2])) ? 0 : 1;
    if (wcscmp(argv[1], L"charts") == 0 && argc == 3)
        return ActOnCharts(argv[2]);
    if (wcscmp(argv[1], L"charts") == 0 && argc == 5 && wcscmp(argv[2], L"at") == 0)
        return ActOnCharts(argv[2], _wtoi(argv[3]), _wtoi(argv[4]));
    if (wcscmp(argv[1], L"open") == 0 && argc == 3)
        return OpenRecording(window, argv[2]);
    return wcscmp(argv[1], L"wait") == 0 ? 0 : 2;
}
