#pragma once

// The real main window on a thread of its own, driven from the test thread.
// Shared by the main-window tests and the event-storm benchmark, so it uses
// no test framework: operations answer 1/0 and callers check them.
//
// The window's thread constructs the SensorViewerApp (its SensorList
// initialises COM there), runs dialog 102 modally and destroys the object
// when the dialog ends. The test thread reaches the window only by messages:
// Send runs a function on the window's thread ahead of the posted messages,
// AfterPosted runs one behind every message posted so far (so after the
// rebuilds that earlier sensor events asked for).

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../../simulator/SensorSimControl.h"
#include "app/SensorViewerApp.h"
#include "app/resource.h"
#include "base/Com.h"
#include "base/ScopedHandle.h"
#include "system/Registry.h"
#include "update/UpdateRules.h"

namespace main_window_test {

// How long the test thread waits for the window before giving up; a guard
// against a hung window, not a measurement.
constexpr DWORD kPatienceMs = 20000;

// Polls until done answers true or limitMs passed; answers done's last
// answer.
template <class Done> bool WaitUntil(DWORD limitMs, Done done, DWORD stepMs = 10)
{
    for (DWORD waited = 0; waited < limitMs; waited += stepMs) {
        if (done())
            return true;
        Sleep(stepMs);
    }
    return done();
}

// The simulator's control exports, bound once for the test process. COM
// stays initialised on the first caller's thread and the simulator stays
// loaded, so the control pointers outlive every SensorList.
inline SensorSimControl* Simulator()
{
    static ComApartment apartment;
    static SensorSimControl control = {};
    static int bound = 0;
    if (!bound) {
        apartment.Init(1);
        bound = SensorSimOpen(&control);
        HMODULE pinned = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, SENSORSIM_MODULE_NAME, &pinned);
    }
    return bound ? &control : nullptr;
}

// A GUID per test sensor number.
inline GUID TestSensorId(unsigned number)
{
    return {0x7E550000u + number, 0x2345, 0x5432, {0x90, 0, 0, 0, 0, 0, 0, 0x02}};
}

// SensorState values, spelt out so that callers need no Sensor API header.
constexpr int kStateReady = 0;
constexpr int kStateAccessDenied = 4;

// Adds a present location sensor with the given fields ("KEY", "VT_R8, 1")
// in the given SensorState.
inline int AddTestSensor(SensorSimControl& sim, unsigned number, const wchar_t* name,
                         const std::vector<std::pair<const wchar_t*, const wchar_t*>>& fields,
                         int state = kStateReady)
{
    // SENSOR_CATEGORY_LOCATION and SENSOR_TYPE_LOCATION_GPS, spelt out so
    // that callers need no GUID library.
    static const GUID category = {
        0xBFA794E4, 0xF964, 0x4FDB, {0x90, 0xF6, 0x51, 0x05, 0x6B, 0xFE, 0x4B, 0x44}};
    static const GUID type = {
        0xED4CA589, 0x327A, 0x4FF9, {0xA5, 0x60, 0x91, 0xDA, 0x4B, 0x48, 0x27, 0x5E}};
    const GUID id = TestSensorId(number);
    int ok = sim.AddSensor(&id, &category, &type, name, state);
    for (const auto& field : fields)
        ok &= sim.SetFieldText(&id, field.first, field.second);
    return ok;
}

// Keeps a main window's weekly update check off the network: the week
// starts now.
inline void HoldOffWeeklyUpdateCheck()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    WriteDwordValue(HKEY_CURRENT_USER, kTesselKey, L"LastCheck", UnixTimeOf(now));
}

// Keeps the program's "Main" value out of the way: removed while a test
// runs, put back as it was afterwards.
class PlacementValueGuard
{
public:
    PlacementValueGuard()
        : hadValue_(ReadStringValue(HKEY_CURRENT_USER, kTesselKey, L"Main", saved_, L"") == 1)
    {
        Write(nullptr);
    }
    ~PlacementValueGuard() { Write(hadValue_ ? saved_.Data() : nullptr); }
    PlacementValueGuard(const PlacementValueGuard&) = delete;
    PlacementValueGuard& operator=(const PlacementValueGuard&) = delete;

    // The stored text, or an empty one.
    static std::wstring Read()
    {
        WideString text;
        ReadStringValue(HKEY_CURRENT_USER, kTesselKey, L"Main", text, L"");
        return text.Data();
    }
    // A null text removes the value.
    static int Write(const wchar_t* text)
    {
        if (text)
            return WriteStringValue(HKEY_CURRENT_USER, kTesselKey, L"Main", text);
        return RegDeleteKeyValueW(HKEY_CURRENT_USER, kTesselKey, L"Main") == ERROR_SUCCESS;
    }

private:
    WideString saved_;
    bool hadValue_;
};

// The main window with hooks for the harness: a private message that runs a
// function on the window's thread, the window handle published as soon as
// the dialog initialised, and a count of the change messages it handled.
class HarnessViewerApp : public SensorViewerApp
{
public:
    // lParam: a std::function<void()>; the window deletes it when wParam is 1.
    static constexpr UINT kRunMessage = WM_APP + 0x120;

    int OnInitDialog() override
    {
        int result = SensorViewerApp::OnInitDialog();
        *publishedWindow = Window();
        return result;
    }
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == kRunMessage) {
            auto* function = reinterpret_cast<std::function<void()>*>(lParam);
            (*function)();
            if (wParam)
                delete function;
            return 1;
        }
        if (message == WM_SENSORS_CHANGED)
            InterlockedIncrement(changeMessages);
        return SensorViewerApp::OnMessage(message, wParam, lParam);
    }

    HWND volatile* publishedWindow = nullptr;
    LONG volatile* changeMessages = nullptr;
};

// One row of the tree as the tree view holds it.
struct TreeRow
{
    int depth;
    std::wstring text;
    int image;
    int selectedImage;
    int children;
    bool selected;
    bool expanded;
    HTREEITEM item;
};

// Every row in tree order; call on the window's thread.
inline std::vector<TreeRow> ReadTree(HWND tree)
{
    std::vector<TreeRow> rows;
    std::function<void(HTREEITEM, int)> walk = [&](HTREEITEM item, int depth) {
        for (; item; item = TreeView_GetNextSibling(tree, item)) {
            wchar_t text[1024] = {};
            TVITEMW info = {};
            info.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN | TVIF_STATE;
            info.hItem = item;
            info.pszText = text;
            info.cchTextMax = 1024;
            info.stateMask = TVIS_SELECTED | TVIS_EXPANDED;
            TreeView_GetItem(tree, &info);
            rows.push_back({depth, text, info.iImage, info.iSelectedImage, info.cChildren,
                            TreeView_GetSelection(tree) == item, (info.state & TVIS_EXPANDED) != 0,
                            item});
            walk(TreeView_GetChild(tree, item), depth + 1);
        }
    };
    walk(TreeView_GetRoot(tree), 0);
    return rows;
}

// The rows' handles and texts, in tree order.
inline std::vector<HTREEITEM> Handles(const std::vector<TreeRow>& rows)
{
    std::vector<HTREEITEM> handles;
    for (const TreeRow& row : rows)
        handles.push_back(row.item);
    return handles;
}

inline std::vector<std::wstring> Texts(const std::vector<TreeRow>& rows)
{
    std::vector<std::wstring> texts;
    for (const TreeRow& row : rows)
        texts.push_back(row.text);
    return texts;
}

// The n-th row (from 0) whose text starts with prefix, or null.
inline const TreeRow* NthRow(const std::vector<TreeRow>& rows, const std::wstring& prefix,
                             int nth = 0)
{
    for (const TreeRow& row : rows) {
        if (row.text.compare(0, prefix.size(), prefix) == 0 && nth-- == 0)
            return &row;
    }
    return nullptr;
}

// The n-th row's handle; call on the window's thread.
inline HTREEITEM FindRow(HWND tree, const std::wstring& prefix, int nth = 0)
{
    const std::vector<TreeRow> rows = ReadTree(tree);
    const TreeRow* row = NthRow(rows, prefix, nth);
    return row ? row->item : nullptr;
}

// The index of the first row in view, counted in visible order from the root.
inline int FirstVisibleRow(HWND tree)
{
    int index = 0;
    HTREEITEM first = TreeView_GetFirstVisible(tree);
    for (HTREEITEM item = TreeView_GetRoot(tree); item && item != first;
         item = TreeView_GetNextVisible(tree, item))
        ++index;
    return index;
}

class MainWindowHarness
{
public:
    MainWindowHarness() = default;
    ~MainWindowHarness() { Close(); }
    MainWindowHarness(const MainWindowHarness&) = delete;
    MainWindowHarness& operator=(const MainWindowHarness&) = delete;

    // Starts the window and waits until it is initialised, shown and
    // filled from the sensors.
    int Start()
    {
        HoldOffWeeklyUpdateCheck();
        thread_.Reset(CreateThread(nullptr, 0, WindowThread, this, 0, nullptr));
        if (!thread_)
            return 0;
        const bool shown = WaitUntil(kPatienceMs, [this] {
            HWND window = window_;
            return WaitForSingleObject(thread_.Get(), 0) == WAIT_OBJECT_0 ||
                   (window && IsWindowVisible(window));
        });
        return shown && WaitForSingleObject(thread_.Get(), 0) != WAIT_OBJECT_0 ? Settle() : 0;
    }

    // The window's refresh pace; before Start only.
    void SetRefreshPace(const RefreshPace& pace) { pace_ = pace; }
    // Runs on the window's thread just before the dialog is created; before
    // Start only.
    void SetBeforeRun(const std::function<void()>& function) { beforeRun_ = function; }
    // Runs on the window's thread once the dialog ended, while the
    // application object still lives; before Start only.
    void SetAfterRun(const std::function<void(SensorViewerApp&)>& function)
    {
        afterRun_ = function;
    }

    HWND Window() const { return window_; }
    HWND Tree() const { return GetDlgItem(window_, IDC_SENSOR_TREE); }
    // Only while the window runs, and only on the window's thread.
    SensorViewerApp* App() const { return app_; }
    LONG ChangeMessages() const { return changeMessages_; }

    // Runs function on the window's thread before any posted message.
    int Send(const std::function<void()>& function)
    {
        DWORD_PTR answer = 0;
        return SendMessageTimeoutW(window_, HarnessViewerApp::kRunMessage, 0,
                                   reinterpret_cast<LPARAM>(&function), SMTO_NORMAL, kPatienceMs,
                                   &answer) != 0;
    }

    // Runs function on the window's thread after every message posted so
    // far has been handled, and waits for it.
    int AfterPosted(const std::function<void()>& function)
    {
        ScopedHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        HANDLE signal = done.Get();
        auto* posted = new std::function<void()>([&function, signal] {
            function();
            SetEvent(signal);
        });
        if (!PostMessageW(window_, HarnessViewerApp::kRunMessage, 1,
                          reinterpret_cast<LPARAM>(posted))) {
            delete posted;
            return 0;
        }
        if (WaitForSingleObject(signal, kPatienceMs) == WAIT_OBJECT_0)
            return 1;
        // The function still refers to this frame: a window that stopped
        // answering must not run it later.
        done.Detach();
        std::fputs("the main window stopped answering\n", stderr);
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
        return 0;
    }

    // Waits until the window handled everything posted so far and shows
    // every change it was told of (a paced refresh may still be due).
    int Settle()
    {
        bool answered = true;
        bool pending = true;
        WaitUntil(
            kPatienceMs,
            [&] {
                answered = AfterPosted([&] { pending = app_->HasPendingChanges(); }) == 1;
                return !answered || !pending;
            },
            5);
        return answered && !pending;
    }

    // Settles and waits until the pace timer stopped, so that the next
    // change posts a change message of its own.
    int WaitForIdle()
    {
        bool running = true;
        return WaitUntil(kPatienceMs, [&] {
            return Settle() && AfterPosted([&] { running = app_->IsPaceTimerRunning(); }) &&
                   !running;
        });
    }

    // The tree as it stands once every change was shown.
    std::vector<TreeRow> SettledTree()
    {
        std::vector<TreeRow> rows;
        if (Settle())
            AfterPosted([&] { rows = ReadTree(Tree()); });
        return rows;
    }

    // Selects the n-th row starting with prefix, or nothing for a null
    // prefix; 1 when the tree took the selection.
    int Select(const wchar_t* prefix, int nth = 0)
    {
        int selected = 0;
        Settle();
        AfterPosted([&] {
            HTREEITEM item = prefix ? FindRow(Tree(), prefix, nth) : nullptr;
            if (!prefix || item)
                selected = TreeView_SelectItem(Tree(), item) != FALSE;
        });
        return selected;
    }

    // Presses key in the tree, with Ctrl held or not: the window thread's
    // key state says so while the key message is handled. Answers once the
    // key was handled, or a dialog it opened runs.
    int PressInTree(WORD key, bool withControl)
    {
        BYTE keys[256] = {};
        if (!Send([&] {
                GetKeyboardState(keys);
                BYTE pressed[256];
                memcpy(pressed, keys, sizeof pressed);
                pressed[VK_CONTROL] = withControl ? 0x80 : 0;
                pressed[VK_LCONTROL] = pressed[VK_CONTROL];
                SetKeyboardState(pressed);
            })) {
            return 0;
        }
        const LPARAM scanCode = static_cast<LPARAM>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
        PostMessageW(Tree(), WM_KEYDOWN, key, scanCode | 1);
        return AfterPosted([&] { SetKeyboardState(keys); });
    }

    // Waits until the dialog ended; answers 1 and its result in result.
    int WaitForEnd(INT_PTR& result)
    {
        if (!thread_ || WaitForSingleObject(thread_.Get(), kPatienceMs) != WAIT_OBJECT_0)
            return 0;
        result = result_;
        return 1;
    }

    // Ends the window with Exit if it is still open and waits for its thread.
    void Close()
    {
        if (!thread_)
            return;
        if (WaitForSingleObject(thread_.Get(), 0) != WAIT_OBJECT_0)
            PostMessageW(window_, WM_COMMAND, IDC_EXIT, 0);
        if (WaitForSingleObject(thread_.Get(), kPatienceMs) != WAIT_OBJECT_0) {
            // The window's thread still refers to this object.
            std::fputs("the main window did not close\n", stderr);
            std::fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        thread_.Reset();
    }

private:
    // The application object lives and dies on this thread, so its COM
    // apartment is initialised and uninitialised here.
    static DWORD WINAPI WindowThread(void* context)
    {
        auto* self = static_cast<MainWindowHarness*>(context);
        HarnessViewerApp app;
        app.publishedWindow = &self->window_;
        app.changeMessages = &self->changeMessages_;
        app.SetRefreshPace(self->pace_);
        self->app_ = &app;
        if (self->beforeRun_)
            self->beforeRun_();
        self->result_ = app.Run(GetModuleHandleW(nullptr), IDD_MAIN, 0, nullptr);
        if (self->afterRun_)
            self->afterRun_(app);
        self->app_ = nullptr;
        self->window_ = nullptr;
        return 0;
    }

    ScopedHandle thread_;
    RefreshPace pace_;
    std::function<void()> beforeRun_;
    std::function<void(SensorViewerApp&)> afterRun_;
    HWND volatile window_ = nullptr;
    SensorViewerApp* volatile app_ = nullptr;
    LONG volatile changeMessages_ = 0;
    INT_PTR result_ = -1;
};

// Opens the tree's context menu as the keyboard does (screen point -1) or
// as a right click at a screen point does, picks the item at the given
// position (0 = "Copy") with the arrow keys and Enter, and answers the
// menu's item texts. Every wait is bounded; a menu that stays open is
// cancelled.
inline std::vector<std::wstring> ChooseFromTreeMenu(MainWindowHarness& window, LPARAM point,
                                                    int choice)
{
    std::vector<std::wstring> items;
    PostMessageW(window.Window(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window.Tree()), point);
    HWND menu = nullptr;
    for (int waited = 0; waited < 5000 && !menu; waited += 10) {
        Sleep(10);
        menu = FindWindowW(L"#32768", nullptr);
        if (menu && !IsWindowVisible(menu))
            menu = nullptr;
    }
    if (!menu)
        return items;
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(menu, MN_GETHMENU, 0, 0, SMTO_NORMAL, 5000, &answer);
    HMENU handle = reinterpret_cast<HMENU>(answer);
    for (int i = 0; handle && i < GetMenuItemCount(handle); ++i) {
        wchar_t text[64] = {};
        GetMenuStringW(handle, i, text, 64, MF_BYPOSITION);
        items.push_back(text);
    }
    for (int step = 0; step <= choice; ++step)
        PostMessageW(window.Window(), WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(window.Window(), WM_KEYDOWN, VK_RETURN, 0);
    if (!WaitUntil(5000, [menu] { return !IsWindowVisible(menu); })) {
        PostMessageW(window.Window(), WM_CANCELMODE, 0, 0);
        items.push_back(L"<menu stayed open>");
    }
    return items;
}

// The clipboard's text, or a marker when it holds none.
inline std::wstring ClipboardText()
{
    std::wstring text = L"<no text>";
    if (!OpenClipboard(nullptr))
        return L"<not opened>";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

} // namespace main_window_test
