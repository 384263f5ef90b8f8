#include <doctest.h>

#include "MainWindowHarness.h"
#include "system/OsVersion.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace main_window_test;

namespace {

std::string Narrow(const std::wstring& text)
{
    std::string narrow;
    for (wchar_t c : text)
        narrow += c == L'\t' ? std::string("\\t") : std::string(1, static_cast<char>(c));
    return narrow;
}

std::string Describe(const TreeRow& row)
{
    return std::to_string(row.depth) + " " + Narrow(row.text) + " " + std::to_string(row.image) +
           "/" + std::to_string(row.selectedImage) + " children " + std::to_string(row.children);
}

std::vector<std::string> Describe(const std::vector<TreeRow>& rows)
{
    std::vector<std::string> lines;
    for (const TreeRow& row : rows)
        lines.push_back(Describe(row));
    return lines;
}

// The selected row's position in tree order, or -1.
int SelectedIndex(const std::vector<TreeRow>& rows)
{
    auto selected =
        std::find_if(rows.begin(), rows.end(), [](const TreeRow& row) { return row.selected; });
    return selected == rows.end() ? -1 : static_cast<int>(selected - rows.begin());
}

std::wstring SelectedText(const std::vector<TreeRow>& rows)
{
    int index = SelectedIndex(rows);
    return index < 0 ? L"<none>" : rows[index].text;
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

const wchar_t* NoSensorsText()
{
    return IsOsAtLeast(OS_WIN7) ? L"No Sensors found"
                                : L"No Sensors found\tOnly Windows 7 and above is supported";
}

// A fresh simulator and the program's "Main" value out of the way; the
// window is opened by the test once its sensors are in place.
struct MainWindowFixture
{
    MainWindowFixture() : sim(*Simulator())
    {
        REQUIRE(Simulator() != nullptr);
        REQUIRE(sim.Reset() == 1);
    }
    void Open() { REQUIRE(window.Start() == 1); }
    void AddGps(unsigned number, const wchar_t* name, const wchar_t* latitude = L"VT_R8, 47.6")
    {
        REQUIRE(AddTestSensor(sim, number, name,
                              {{L"LATITUDE_DEGREES", latitude}, {L"CITY", L"VT_LPWSTR, Seattle"}}));
    }
    int FireData(unsigned number)
    {
        const GUID id = TestSensorId(number);
        return sim.FireDataUpdated(&id);
    }
    // While a rebuild re-enumerates the sensors a sensor has no sink for a
    // moment; after a storm the event is raised again until it arrives.
    int FireDataOnceSettled(unsigned number)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (window.Settle() && FireData(number) == 1)
                return 1;
            Sleep(10);
        }
        return 0;
    }

    PlacementValueGuard placement;
    SensorSimControl& sim;
    MainWindowHarness window;
};

} // namespace

TEST_CASE("the tree shows every sensor with its fields")
{
    MainWindowFixture f;
    f.AddGps(1, L"Integrated GPS");
    REQUIRE(AddTestSensor(f.sim, 2, L"Bare Sensor", {}));
    REQUIRE(AddTestSensor(f.sim, 3, L"Broken Sensor", {{L"LATITUDE_DEGREES", L"VT_R8, 1"}}));
    const GUID broken = TestSensorId(3);
    REQUIRE(f.sim.SetDataFailure(&broken, E_FAIL) == 1);
    REQUIRE(AddTestSensor(f.sim, 4, nullptr, {{L"LONGITUDE_DEGREES", L"VT_R8, -122.25"}}));
    f.Open();

    std::vector<TreeRow> rows = f.window.SettledTree();
    const std::vector<std::string> expected = {
        "0 Sensors 0/0 children 1",
        "1 Integrated GPS 1/1 children 1",
        "2 LATITUDE DEGREES\\t47.600000 2/2 children 0",
        "2 CITY\\tSeattle 2/2 children 0",
        "1 Bare Sensor 1/1 children 0",
        "1 Broken Sensor 1/1 children 0",
        "1  1/1 children 1",
        "2 LONGITUDE DEGREES\\t-122.250000 2/2 children 0",
    };
    CHECK(Describe(rows) == expected);
    REQUIRE(rows.size() == expected.size());
    CHECK(rows[0].expanded);
    CHECK(rows[1].expanded);
    CHECK(rows[6].expanded);
}

TEST_CASE("a rebuild keeps the selected row")
{
    MainWindowFixture f;
    f.AddGps(1, L"Integrated GPS", L"VT_R8, 47.6, ramp, 0.5");

    SUBCASE("a field row, by its name, while its value changes")
    {
        f.Open();
        REQUIRE(f.window.Select(L"LATITUDE DEGREES\t") == 1);
        std::wstring before = SelectedText(f.window.SettledTree());
        CHECK(Narrow(before) == "LATITUDE DEGREES\\t47.600000");
        for (int update = 0; update < 2; ++update) {
            const LONG messages = f.window.ChangeMessages();
            REQUIRE(f.FireData(1) == 1);
            std::wstring after = SelectedText(f.window.SettledTree());
            CHECK(f.window.ChangeMessages() == messages + 1);
            CHECK(StartsWith(after, L"LATITUDE DEGREES\t"));
            CHECK(after != before);
            before = after;
        }
    }
    SUBCASE("the root and a sensor row")
    {
        f.Open();
        for (const wchar_t* text : {L"Sensors", L"Integrated GPS"}) {
            REQUIRE(f.window.Select(text) == 1);
            REQUIRE(f.FireData(1) == 1);
            CHECK(Narrow(SelectedText(f.window.SettledTree())) == Narrow(text));
        }
    }
    SUBCASE("nothing selected stays so")
    {
        f.Open();
        REQUIRE(f.window.Select(nullptr) == 1);
        REQUIRE(f.FireData(1) == 1);
        CHECK(SelectedIndex(f.window.SettledTree()) == -1);
    }
    SUBCASE("the same field name under two sensors selects the later one")
    {
        f.AddGps(2, L"Second GPS");
        f.Open();
        REQUIRE(f.window.Select(L"LATITUDE DEGREES\t", 0) == 1);
        std::vector<TreeRow> rows = f.window.SettledTree();
        REQUIRE(Narrow(SensorOf(rows, SelectedIndex(rows))) == "Integrated GPS");
        REQUIRE(f.FireData(1) == 1);
        rows = f.window.SettledTree();
        CHECK(StartsWith(SelectedText(rows), L"LATITUDE DEGREES\t"));
        CHECK(Narrow(SensorOf(rows, SelectedIndex(rows))) == "Second GPS");
    }
    SUBCASE("and the scroll position of a long list")
    {
        for (unsigned number = 2; number <= 8; ++number)
            f.AddGps(number, L"More GPS");
        f.Open();
        HWND tree = f.window.Tree();
        auto firstVisibleRow = [tree]() {
            int index = 0;
            HTREEITEM first = TreeView_GetFirstVisible(tree);
            for (HTREEITEM item = TreeView_GetRoot(tree); item && item != first;
                 item = TreeView_GetNextVisible(tree, item))
                ++index;
            return index;
        };
        REQUIRE(f.window.Send([tree]() {
            HTREEITEM item = TreeView_GetRoot(tree);
            for (int row = 0; row < 12 && item; ++row)
                item = TreeView_GetNextVisible(tree, item);
            TreeView_Select(tree, item, TVGN_FIRSTVISIBLE);
        }));
        int before = 0;
        REQUIRE(f.window.Send([&]() { before = firstVisibleRow(); }));
        REQUIRE(before > 0);
        REQUIRE(f.FireData(1) == 1);
        REQUIRE(f.window.Settle());
        int after = -1;
        REQUIRE(f.window.Send([&]() { after = firstVisibleRow(); }));
        CHECK(after == before);
    }
}

TEST_CASE("\"No Sensors found\" is shown alone and always selected")
{
    MainWindowFixture f;
    const std::vector<std::string> expected = {
        "0 Sensors 0/0 children 1",
        Describe(TreeRow{1, NoSensorsText(), 0, 0, 0, false, false, nullptr}),
    };

    SUBCASE("without sensors, also after a change message with the root selected")
    {
        f.Open();
        CHECK(Describe(f.window.SettledTree()) == expected);
        REQUIRE(f.window.Select(L"Sensors") == 1);
        PostMessageW(f.window.Window(), WM_APP, 0, 0);
        std::vector<TreeRow> rows = f.window.SettledTree();
        CHECK(Describe(rows) == expected);
        CHECK(SelectedIndex(rows) == 1);
    }
    SUBCASE("when the last sensor leaves")
    {
        f.AddGps(1, L"Integrated GPS");
        f.Open();
        REQUIRE(f.window.Select(L"Sensors") == 1);
        const GUID id = TestSensorId(1);
        REQUIRE(f.sim.RemoveSensor(&id) == 1);
        std::vector<TreeRow> rows = f.window.SettledTree();
        CHECK(Describe(rows) == expected);
        CHECK(SelectedIndex(rows) == 1);
    }
}

TEST_CASE("sensor events and state changes do not rebuild; data and arrivals do")
{
    MainWindowFixture f;
    f.AddGps(1, L"Integrated GPS");
    f.Open();
    REQUIRE(f.window.Settle() == 1);
    const LONG messages = f.window.ChangeMessages();
    const GUID id = TestSensorId(1);
    REQUIRE(f.sim.FireEvent(&id, nullptr) == 1);
    REQUIRE(f.sim.FireStateChanged(&id, 1 /* SENSOR_STATE_READY */) == 1);
    REQUIRE(f.window.Settle() == 1);
    CHECK(f.window.ChangeMessages() == messages);

    REQUIRE(f.FireData(1) == 1);
    REQUIRE(f.window.Settle() == 1);
    CHECK(f.window.ChangeMessages() == messages + 1);

    REQUIRE(AddTestSensor(f.sim, 2, L"Late Sensor", {}));
    const GUID late = TestSensorId(2);
    REQUIRE(f.sim.FireEnter(&late) == 1);
    std::vector<TreeRow> rows = f.window.SettledTree();
    CHECK(f.window.ChangeMessages() == messages + 2);
    REQUIRE(!rows.empty());
    CHECK(Narrow(rows.back().text) == "Late Sensor");
}

TEST_CASE("Exit, Escape and the close box save the placement")
{
    struct Way
    {
        const char* name;
        void (*close)(HWND window);
    };
    const Way ways[] = {
        {"Exit", [](HWND window) { PostMessageW(window, WM_COMMAND, IDC_EXIT, 0); }},
        {"Escape",
         [](HWND window) {
             PostMessageW(GetDlgItem(window, IDC_SENSOR_TREE), WM_KEYDOWN, VK_ESCAPE, 0);
         }},
        {"close box", [](HWND window) { PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    for (const Way& way : ways) {
        CAPTURE(way.name);
        MainWindowFixture f;
        f.Open();
        REQUIRE(f.window.Send(
            [&] { SetWindowPos(f.window.Window(), nullptr, 120, 90, 640, 420, SWP_NOZORDER); }));
        CHECK(PlacementValueGuard::Read().empty());
        way.close(f.window.Window());
        INT_PTR result = -1;
        REQUIRE(f.window.WaitForEnd(result) == 1);
        CHECK(result == 0);
        CHECK(Narrow(PlacementValueGuard::Read()) == "1,120,90,760,510");
    }
}

TEST_CASE("the window restores \"Main\" no smaller than its minimum size")
{
    MainWindowFixture f;
    REQUIRE(PlacementValueGuard::Write(L"1,10,20") == 1);
    f.Open();
    HWND window = f.window.Window();
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    RECT minimum = {0, 0, 270, 150};
    RECT restored = {};
    REQUIRE(f.window.Send([&] {
        GetWindowPlacement(window, &placement);
        MapDialogRect(window, &minimum);
        AdjustWindowRectEx(&minimum, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)),
                           FALSE, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
        GetWindowRect(window, &restored);
    }));
    CHECK(placement.showCmd == SW_SHOWNORMAL);
    // Right and bottom 0 ask for less than the minimum, which then holds.
    CHECK(restored.right - restored.left == minimum.right - minimum.left);
    CHECK(restored.bottom - restored.top == minimum.bottom - minimum.top);
}

TEST_CASE("an event storm leaves the window answering with one change message at most")
{
    MainWindowFixture f;
    for (unsigned number = 1; number <= 4; ++number)
        f.AddGps(number, L"Storm GPS", L"VT_R8, 47.6, ramp, 0.001");
    f.Open();
    REQUIRE(f.sim.SetStorm(1000) == 1);

    HWND window = f.window.Window();
    int unanswered = 0;
    size_t mostPending = 0;
    for (int probe = 0; probe < 150; ++probe) {
        DWORD_PTR answer = 0;
        if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer))
            ++unanswered;
        // Takes the queued change messages out to count them, then hands
        // them to the window as its loop would have.
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
        Sleep(10);
    }
    REQUIRE(f.sim.SetStorm(0) == 1);
    CHECK(unanswered == 0);
    CHECK(mostPending <= 1);
    MESSAGE("events ", f.sim.DeliveredEvents(), ", change messages ", f.window.ChangeMessages());
    CHECK(f.sim.DeliveredEvents() > 150);

    // The flag that holds back further messages is not left set.
    const GUID id = TestSensorId(4);
    REQUIRE(f.sim.SetFieldText(&id, L"CITY", L"VT_LPWSTR, After the storm") == 1);
    REQUIRE(f.FireDataOnceSettled(4) == 1);
    std::vector<TreeRow> rows = f.window.SettledTree();
    CHECK(std::any_of(rows.begin(), rows.end(),
                      [](const TreeRow& row) { return row.text == L"CITY\tAfter the storm"; }));
}

namespace {

// A main window that closes itself once initialised, then reports what a
// late sensor event does and what is still attached to the gone window.
class SelfClosingViewerApp : public SensorViewerApp
{
public:
    int OnInitDialog() override
    {
        const int result = SensorViewerApp::OnInitDialog();
        PostMessageW(Window(), WM_COMMAND, IDC_EXIT, 0);
        return result;
    }
};

struct AfterClose
{
    INT_PTR result = -1;
    bool messageQueued = true;
    bool treeAttached = true;
    bool linkAttached = true;
};

DWORD WINAPI RunAndCloseThenNotify(void* context)
{
    auto* after = static_cast<AfterClose*>(context);
    SelfClosingViewerApp app;
    after->result = app.Run(GetModuleHandleW(nullptr), IDD_MAIN, 0, nullptr);
    // As if the Sensor API reported new data now, on this thread.
    SensorViewerApp::SensorChanged(SENSOR_CHANGE_DATA, nullptr, &app);
    MSG message;
    after->messageQueued =
        PeekMessageW(&message, nullptr, WM_SENSORS_CHANGED, WM_SENSORS_CHANGED, PM_REMOVE) != 0;
    after->treeAttached = app.Tree().Window() != nullptr;
    after->linkAttached = app.Link().Control() != nullptr;
    return 0;
}

} // namespace

TEST_CASE("once the window is gone, events post nothing and no control stays subclassed")
{
    MainWindowFixture f;
    f.AddGps(1, L"Integrated GPS");
    AfterClose after;
    ScopedHandle thread(CreateThread(nullptr, 0, RunAndCloseThenNotify, &after, 0, nullptr));
    REQUIRE(thread);
    // The thread writes into this frame: it must not outlive a failed wait.
    if (WaitForSingleObject(thread.Get(), kPatienceMs) != WAIT_OBJECT_0) {
        std::fputs("the self-closing main window did not end\n", stderr);
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    CHECK(after.result == 0);
    CHECK_FALSE(after.messageQueued);
    CHECK_FALSE(after.treeAttached);
    CHECK_FALSE(after.linkAttached);
}
