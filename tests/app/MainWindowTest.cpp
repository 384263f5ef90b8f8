#include <doctest.h>

#include "MainWindowFixture.h"
#include "OffscreenCanvas.h"
#include "TestText.h"
#include "system/OsVersion.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace main_window_test;

namespace {

// Each row's depth, text, images, children flag and whether it is expanded.
std::vector<std::string> Describe(const std::vector<TreeRow>& rows)
{
    std::vector<std::string> lines;
    for (const TreeRow& row : rows)
        lines.push_back(std::to_string(row.depth) + " " + Narrow(row.text) + " " +
                        std::to_string(row.image) + "/" + std::to_string(row.selectedImage) +
                        " children " + std::to_string(row.children) +
                        (row.expanded ? " expanded" : ""));
    return lines;
}

// The sensor row a row sits under.
std::wstring SensorOf(const std::vector<TreeRow>& rows, int index)
{
    while (index >= 0 && rows[index].depth != 1)
        --index;
    return index < 0 ? L"" : rows[index].text;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The main window's controls in tab order.
constexpr int kMainControls[] = {IDC_SENSOR_TREE, IDC_WEB_LINK, IDC_EXIT, IDC_AUTO_UPDATE};

// What the main window's anchors do to its controls' edges (left, top,
// right, bottom) when the window shrinks by 100 x 50: the tree grows with
// the window, the link and the check box follow the bottom edge, "Exit"
// the bottom right corner.
constexpr char kShrinkShifts[] = "0,0,-100,-50 0,-50,0,-50 -100,-50,-100,-50 0,-50,0,-50 ";

// Shrinks the window by 100 x 50 and describes how each control's edges
// moved, as kShrinkShifts does; call on the window's thread.
std::string ShrinkShifts(HWND window)
{
    RECT before[4];
    for (int i = 0; i < 4; ++i)
        before[i] = RectIn(window, GetDlgItem(window, kMainControls[i]));
    RECT outer = {};
    GetWindowRect(window, &outer);
    SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left - 100,
                 outer.bottom - outer.top - 50, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    std::string shifts;
    for (int i = 0; i < 4; ++i) {
        const RECT after = RectIn(window, GetDlgItem(window, kMainControls[i]));
        for (LONG shift : {after.left - before[i].left, after.top - before[i].top,
                           after.right - before[i].right, after.bottom - before[i].bottom})
            shifts += std::to_string(shift) + ",";
        shifts.back() = ' ';
    }
    return shifts;
}

// The pixels of an image list's image, drawn on white.
std::vector<COLORREF> Rendered(HIMAGELIST list, int image, int size)
{
    OffscreenCanvas canvas(size, size);
    RECT all = {0, 0, size, size};
    FillRect(canvas.Dc(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ImageList_Draw(list, image, canvas.Dc(), 0, 0, ILD_NORMAL);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            pixels.push_back(canvas.Pixel(x, y));
    return pixels;
}

// Which of the icon resources the list's image is: a list made the same way
// from each resource alone draws the same pixels.
int IconOf(HIMAGELIST list, int image, const std::vector<int>& iconIds, DWORD iconFlags)
{
    int width = 0;
    int height = 0;
    if (image >= ImageList_GetImageCount(list) || !ImageList_GetIconSize(list, &width, &height))
        return -1;
    for (int id : iconIds) {
        IconList reference;
        reference.Create(iconFlags, width, height, 1, 1);
        const int added = reference.AddIcon(GetModuleHandleW(nullptr), id);
        if (added >= 0 &&
            Rendered(reference.Handle(), added, width) == Rendered(list, image, width))
            return id;
    }
    return -1;
}

const wchar_t* NoSensorsText()
{
    return IsOsAtLeast(OS_WIN7) ? L"No Sensors found"
                                : L"No Sensors found\tOnly Windows 7 and above is supported";
}

// What the application object still holds once its window is gone: a
// change message a late sensor event posted, controls still subclassed.
std::string LeftBehind(SensorViewerApp& app)
{
    // As if the Sensor API reported new data now, on this thread.
    SensorViewerApp::SensorChanged(SENSOR_CHANGE_DATA, nullptr, &app);
    std::string left;
    MSG message;
    if (PeekMessageW(&message, nullptr, WM_SENSORS_CHANGED, WM_SENSORS_CHANGED, PM_REMOVE))
        left += " change message";
    if (app.Tree().Window())
        left += " tree";
    if (app.Link().Control())
        left += " link";
    return left;
}

// Posts a change message, as a sensor event does, and answers the rebuilt tree.
std::vector<TreeRow> Rebuilt(MainWindowFixture& f)
{
    PostMessageW(f.window.Window(), WM_SENSORS_CHANGED, 0, 0);
    return f.window.SettledTree();
}

// What the window's thread showed on its way to the first fill: the text
// of every row inserted into the tree, and the rows the tree held when the
// main window or the tree was first painted. Filled by hooks on that thread.
struct StartWatch
{
    std::vector<std::wstring> inserted;
    std::vector<std::wstring> atFirstPaint;
    bool painted = false;
    HHOOK sentHook = nullptr;
    HHOOK takenHook = nullptr;
};
StartWatch* g_startWatch = nullptr;

void NotePaint(HWND window)
{
    HWND dialog = GetAncestor(window, GA_ROOT);
    HWND tree = GetDlgItem(dialog, IDC_SENSOR_TREE);
    if (g_startWatch->painted || !tree || (window != dialog && window != tree))
        return;
    g_startWatch->painted = true;
    g_startWatch->atFirstPaint = Texts(ReadTree(tree));
}

LRESULT CALLBACK WatchSent(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && sent->message == TVM_INSERTITEMW) {
        const auto* insert = reinterpret_cast<const TVINSERTSTRUCTW*>(sent->lParam);
        if ((insert->item.mask & TVIF_TEXT) && insert->item.pszText &&
            insert->item.pszText != LPSTR_TEXTCALLBACKW)
            g_startWatch->inserted.push_back(insert->item.pszText);
    }
    if (code == HC_ACTION && sent->message == WM_PAINT)
        NotePaint(sent->hwnd);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK WatchTaken(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* taken = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && taken->message == WM_PAINT)
        NotePaint(taken->hwnd);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

TEST_CASE("the tree: painted first with its root alone, then every sensor with its fields; "
          "plain events change nothing, arrivals do")
{
    MainWindowFixture f;
    f.AddGps(1, L"Integrated GPS");
    REQUIRE(AddTestSensor(f.sim, 2, L"Bare Sensor", {}));
    REQUIRE(AddTestSensor(f.sim, 3, L"Broken Sensor", {{L"LATITUDE_DEGREES", L"VT_R8, 1"}}));
    const GUID broken = TestSensorId(3);
    REQUIRE(f.sim.SetDataFailure(&broken, E_FAIL) == 1);
    REQUIRE(AddTestSensor(f.sim, 4, nullptr, {{L"LONGITUDE_DEGREES", L"VT_R8, -122.25"}}));
    StartWatch watch;
    g_startWatch = &watch;
    f.window.SetBeforeRun([&watch] {
        const DWORD thread = GetCurrentThreadId();
        watch.sentHook = SetWindowsHookExW(WH_CALLWNDPROC, WatchSent, nullptr, thread);
        watch.takenHook = SetWindowsHookExW(WH_GETMESSAGE, WatchTaken, nullptr, thread);
    });
    f.Open();
    std::vector<TreeRow> rows = f.window.SettledTree();
    REQUIRE(f.window.AfterPosted([&watch] {
        UnhookWindowsHookEx(watch.sentHook);
        UnhookWindowsHookEx(watch.takenHook);
    }));
    g_startWatch = nullptr;
    REQUIRE(watch.sentHook != nullptr);
    REQUIRE(watch.takenHook != nullptr);
    // The first paint shows the root alone: the Sensor API starts after it.
    CHECK(watch.painted);
    CHECK(watch.atFirstPaint == std::vector<std::wstring>{L"Sensors"});
    // The fill that follows shows the sensors, and no row ever claimed
    // there were none.
    for (const std::wstring& text : watch.inserted)
        CHECK(!StartsWith(text, L"No Sensors found"));
    CHECK(std::count(watch.inserted.begin(), watch.inserted.end(), L"Integrated GPS\tReady") >= 1);

    const std::vector<std::string> expected = {
        "0 Sensors 0/0 children 1 expanded",
        "1 Integrated GPS\tReady 1/1 children 1 expanded",
        "2 LATITUDE DEGREES\t47.600000 2/2 children 0",
        "2 CITY\tSeattle 2/2 children 0",
        "1 Bare Sensor\tReady 1/1 children 0",
        "1 Broken Sensor\tReady 1/1 children 0",
        // Without a name the state stays in the value column.
        "1  \tReady 1/1 children 1 expanded",
        "2 LONGITUDE DEGREES\t-122.250000 2/2 children 0",
    };
    CHECK(Describe(rows) == expected);

    // A sensor's plain event changes nothing; an arrival does.
    REQUIRE(f.window.WaitForIdle() == 1);
    const LONG messages = f.window.ChangeMessages();
    const GUID id = TestSensorId(1);
    REQUIRE(f.sim.FireEvent(&id, nullptr) == 1);
    REQUIRE(f.window.Settle() == 1);
    CHECK(f.window.ChangeMessages() == messages);
    REQUIRE(AddTestSensor(f.sim, 5, L"Late Sensor", {}));
    const GUID late = TestSensorId(5);
    REQUIRE(f.sim.FireEnter(&late) == 1);
    rows = f.window.SettledTree();
    CHECK(f.window.ChangeMessages() == messages + 1);
    REQUIRE(!rows.empty());
    CHECK(Narrow(rows.back().text) == "Late Sensor\tReady");
}

TEST_CASE("a full rebuild keeps the selected row, and keeps it in view")
{
    MainWindowFixture f;
    f.AddGps(1, L"Integrated GPS", L"VT_R8, 47.6, ramp, 0.5");
    f.AddGps(2, L"Second GPS");
    REQUIRE(AddTestSensor(f.sim, 3, nullptr, {{L"CITY", L"VT_LPWSTR, Nowhere"}}));

    SUBCASE("the root, a sensor row, nothing, and of one field name the later sensor's")
    {
        f.Open();
        for (const wchar_t* text : {L"Sensors", L"Integrated GPS"}) {
            REQUIRE(f.window.Select(text) == 1);
            CHECK(StartsWith(SelectedText(Rebuilt(f)), text));
        }
        // Also beside a sensor without a name.
        REQUIRE(f.window.Select(nullptr) == 1);
        CHECK(SelectedIndex(Rebuilt(f)) == -1);

        REQUIRE(f.window.Select(L"LATITUDE DEGREES\t", 0) == 1);
        std::vector<TreeRow> rows = f.window.SettledTree();
        REQUIRE(Narrow(SensorOf(rows, SelectedIndex(rows))) == "Integrated GPS\tReady");
        rows = Rebuilt(f);
        CHECK(StartsWith(SelectedText(rows), L"LATITUDE DEGREES\t"));
        CHECK(Narrow(SensorOf(rows, SelectedIndex(rows))) == "Second GPS\tReady");
    }
    SUBCASE("rows that appear above it push it down: the scroll position is kept only while it "
            "shows")
    {
        for (unsigned number = 4; number <= 9; ++number)
            f.AddGps(number, L"More GPS");
        f.Open();
        HWND tree = f.window.Tree();
        REQUIRE(f.window.Select(L"CITY\t", 8) == 1);
        // Scroll so that the selected row is the last one wholly in view.
        REQUIRE(f.window.Send([tree] {
            const HTREEITEM selected = TreeView_GetSelection(tree);
            const int visible = static_cast<int>(TreeView_GetVisibleCount(tree));
            HTREEITEM first = selected;
            for (int row = 1; row < visible && first; ++row)
                first = TreeView_GetPrevVisible(tree, first);
            TreeView_Select(tree, first, TVGN_FIRSTVISIBLE);
        }));
        // Two more fields under the first sensor: a full rebuild.
        REQUIRE(f.SetField(1, L"COUNTRY_REGION", L"VT_LPWSTR, US") == 1);
        REQUIRE(f.SetField(1, L"ADDRESS1", L"VT_LPWSTR, Main Street") == 1);
        REQUIRE(f.FireData(1) == 1);
        REQUIRE(f.window.Settle() == 1);
        bool inView = false;
        std::wstring selectedText;
        REQUIRE(f.window.Send([&] {
            const HTREEITEM selected = TreeView_GetSelection(tree);
            RECT row = {};
            RECT client = {};
            GetClientRect(tree, &client);
            inView = selected && TreeView_GetItemRect(tree, selected, &row, FALSE) &&
                     row.top >= 0 && row.bottom <= client.bottom;
            selectedText = SelectedText(ReadTree(tree));
        }));
        CHECK(selectedText == L"CITY\tSeattle");
        CHECK(inView);
    }
}

TEST_CASE("\"No Sensors found\" is shown alone and always selected: at the start, after a "
          "change message and when the last sensor leaves")
{
    MainWindowFixture f;
    const std::vector<std::string> expected = {
        "0 Sensors 0/0 children 1 expanded",
        Describe({TreeRow{1, NoSensorsText(), 0, 0, 0, false, false, nullptr}})[0],
    };
    f.Open();
    CHECK(Describe(f.window.SettledTree()) == expected);
    REQUIRE(f.window.Select(L"Sensors") == 1);
    std::vector<TreeRow> rows = Rebuilt(f);
    CHECK(Describe(rows) == expected);
    CHECK(SelectedIndex(rows) == 1);

    f.AddGps(1, L"Integrated GPS");
    const GUID id = TestSensorId(1);
    REQUIRE(f.sim.FireEnter(&id) == 1);
    REQUIRE(RowText(f.window.SettledTree(), L"Integrated GPS") == L"Integrated GPS\tReady");
    REQUIRE(f.window.Select(L"Sensors") == 1);
    REQUIRE(f.sim.RemoveSensor(&id) == 1);
    rows = f.window.SettledTree();
    CHECK(Describe(rows) == expected);
    CHECK(SelectedIndex(rows) == 1);
}

TEST_CASE("Exit, Escape and the close box save the placement; once the window is gone, events "
          "post nothing and no control stays subclassed")
{
    const struct
    {
        const char* name;
        bool toTree;
        UINT message;
        WPARAM wParam;
    } ways[] = {{"Exit", false, WM_COMMAND, IDC_EXIT},
                {"Escape", true, WM_KEYDOWN, VK_ESCAPE},
                {"close box", false, WM_SYSCOMMAND, SC_CLOSE}};
    for (const auto& way : ways) {
        CAPTURE(std::string(way.name));
        MainWindowFixture f;
        f.AddGps(1, L"Integrated GPS");
        std::string leftBehind = "<not run>";
        f.window.SetAfterRun([&](SensorViewerApp& app) { leftBehind = LeftBehind(app); });
        f.Open();
        REQUIRE(f.window.Send(
            [&] { SetWindowPos(f.window.Window(), nullptr, 120, 90, 640, 420, SWP_NOZORDER); }));
        CHECK(PlacementValueGuard::Read().empty());
        PostMessageW(way.toTree ? f.window.Tree() : f.window.Window(), way.message, way.wParam, 0);
        INT_PTR result = -1;
        REQUIRE(f.window.WaitForEnd(result) == 1);
        CHECK(result == 0);
        CHECK(Narrow(PlacementValueGuard::Read()) == "1,120,90,760,510");
        CHECK(leftBehind == "");
    }
}

TEST_CASE("an event storm leaves the window answering with one change message at most")
{
    MainWindowFixture f;
    for (unsigned number = 1; number <= 4; ++number)
        f.AddGps(number, L"Storm GPS", L"VT_R8, 47.6, ramp, 0.001");
    f.Open();
    // With the pace timer stopped the storm's first change must post a
    // message; while the timer runs, changes post none.
    REQUIRE(f.window.WaitForIdle() == 1);
    // The next test's fresh simulator ends a storm that a failure left on.
    REQUIRE(f.sim.SetStorm(1000) == 1);

    // The window is probed until the storm has delivered its events, however
    // long a loaded machine takes; the limit only guards against a hang.
    const LONG stormEvents = 150;
    const ULONGLONG giveUp = GetTickCount64() + 120000;
    HWND window = f.window.Window();
    const LONG messagesBefore = f.window.ChangeMessages();
    int probes = 0;
    size_t mostPending = 0;
    while ((f.sim.DeliveredEvents() < stormEvents || probes < 20) && GetTickCount64() < giveUp) {
        // Answered in a bounded time, takes the queued change messages out
        // to count them, then hands them to the window as its loop would.
        REQUIRE(f.window.Send([&] {
            std::vector<MSG> pending;
            MSG message;
            while (
                PeekMessageW(&message, window, WM_SENSORS_CHANGED, WM_SENSORS_CHANGED, PM_REMOVE))
                pending.push_back(message);
            mostPending = std::max(mostPending, pending.size());
            for (const MSG& taken : pending)
                DispatchMessageW(&taken);
        }));
        ++probes;
        Sleep(10);
    }
    REQUIRE(f.sim.SetStorm(0) == 1);
    MESSAGE("events ", f.sim.DeliveredEvents(), ", change messages ", f.window.ChangeMessages(),
            ", probes ", probes);
    REQUIRE_MESSAGE(f.sim.DeliveredEvents() >= stormEvents, "the storm never got going");
    CHECK(mostPending <= 1);
    CHECK(f.window.ChangeMessages() > messagesBefore);

    // The flag that holds back further messages is not left set.
    REQUIRE(f.SetField(4, L"CITY", L"VT_LPWSTR, After the storm") == 1);
    // While a rebuild re-enumerates the sensors a sensor has no sink for a
    // moment; after a storm the event is raised again until it arrives.
    REQUIRE(WaitUntil(kPatienceMs, [&] { return f.window.Settle() && f.FireData(4) == 1; }));
    CHECK(RowText(f.window.SettledTree(), L"CITY\t", 3) == L"CITY\tAfter the storm");
}

TEST_CASE("the real window's layout: a restored \"Main\" no smaller than the minimum, anchors "
          "while resizing, the grip")
{
    MainWindowFixture f;
    // Right and bottom 0 ask for less than the minimum, which then holds.
    REQUIRE(PlacementValueGuard::Write(L"1,10,20") == 1);
    f.Open();
    HWND window = f.window.Window();
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    RECT restored = {};
    RECT minimum = {0, 0, 270, 150};
    RECT outerMinimum = {};
    RECT client = {};
    std::string shifts;
    LRESULT cornerCode = 0;
    REQUIRE(f.window.Send([&] {
        GetWindowPlacement(window, &placement);
        GetWindowRect(window, &restored);
        MapDialogRect(window, &minimum);
        outerMinimum = minimum;
        AdjustWindowRectEx(&outerMinimum, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)),
                           FALSE, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
        SetWindowPos(window, nullptr, 0, 0, 640, 420, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        shifts = ShrinkShifts(window);
        SetWindowPos(window, nullptr, 0, 0, 50, 40, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        GetClientRect(window, &client);
        POINT corner = {client.right - 2, client.bottom - 2};
        ClientToScreen(window, &corner);
        cornerCode = SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(corner.x, corner.y));
    }));
    CHECK(placement.showCmd == SW_SHOWNORMAL);
    CHECK(restored.right - restored.left == outerMinimum.right - outerMinimum.left);
    CHECK(restored.bottom - restored.top == outerMinimum.bottom - outerMinimum.top);
    CHECK(shifts == kShrinkShifts);
    // The client area stops at 270 x 150 dialog units.
    CHECK(client.right == minimum.right);
    CHECK(client.bottom == minimum.bottom);
    CHECK(cornerCode == HTBOTTOMRIGHT);
}

TEST_CASE("the tree's icons: the root's, a sensor's and a field's, in that order")
{
    MainWindowFixture f;
    f.Open();
    std::vector<int> icons;
    REQUIRE(f.window.Send([&] {
        TreeListCtrl& tree = f.window.App()->Tree();
        const HIMAGELIST list = reinterpret_cast<HIMAGELIST>(
            SendMessageW(tree.Window(), TVM_GETIMAGELIST, TVSIL_NORMAL, 0));
        for (int image = 0; image < ImageList_GetImageCount(list); ++image)
            icons.push_back(
                IconOf(list, image, {IDI_ROOT, IDI_SENSOR, IDI_FIELD}, tree.Icons().Flags()));
    }));
    CHECK(icons == std::vector<int>{IDI_ROOT, IDI_SENSOR, IDI_FIELD});
}

TEST_CASE("\"Automatically check for updates\": checked at start, a click switches checking off")
{
    MainWindowFixture f;
    f.Open();
    // The box's check mark and whether the settings say checking is off.
    auto state = [&] {
        std::pair<UINT, bool> checkedAndOff;
        REQUIRE(f.window.Send([&] {
            checkedAndOff = {IsDlgButtonChecked(f.window.Window(), IDC_AUTO_UPDATE),
                             (f.window.App()->Settings() & AUTO_UPDATE_OFF) != 0};
        }));
        return checkedAndOff;
    };
    CHECK(state() == std::make_pair(UINT(BST_CHECKED), false));
    REQUIRE(f.window.Send(
        [&] { SendDlgItemMessageW(f.window.Window(), IDC_AUTO_UPDATE, BM_CLICK, 0, 0); }));
    CHECK(state() == std::make_pair(UINT(BST_UNCHECKED), true));
    // Checking it again starts a forced check against the maker's server,
    // which a test leaves alone.
}
