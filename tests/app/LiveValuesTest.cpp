#include <doctest.h>

#include "MainWindowFixture.h"
#include "TestText.h"
#include "app/SensorTreeRules.h"
#include "base/ScopedHandle.h"
#include "system/Clipboard.h"

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

using namespace main_window_test;

namespace {

// Whether the row lies in the tree's update region, due to be painted.
bool IsDue(HWND tree, HTREEITEM item)
{
    RECT rect = {};
    if (!item || !TreeView_GetItemRect(tree, item, &rect, FALSE))
        return false;
    ScopedRegion due(CreateRectRgn(0, 0, 0, 0));
    GetUpdateRgn(tree, due.Get(), FALSE);
    return PtInRegion(due.Get(), 10, (rect.top + rect.bottom) / 2) != FALSE;
}

// A latitude that grows by 0.5 with each report.
constexpr wchar_t kRampingLatitude[] = L"VT_R8, 47.6, ramp, 0.5";

} // namespace

TEST_CASE("row texts: field comparison and copy text")
{
    CHECK(CompareFieldRow(L"CITY\tSeattle", L"CITY", L"Seattle") == FIELD_ROW_SAME);
    CHECK(CompareFieldRow(L"CITY\tSeattle", L"CITY", L"Paris") == FIELD_ROW_NEW_TEXT);
    CHECK(CompareFieldRow(L"CITY\t", L"CITY", L"") == FIELD_ROW_SAME);
    CHECK(CompareFieldRow(L"CITY\t", L"CITY", L"Paris") == FIELD_ROW_NEW_TEXT);
    // A name that only starts the row's name, or a row without a tab, is
    // another field.
    CHECK(CompareFieldRow(L"CITY NAME\tSeattle", L"CITY", L"Seattle") == FIELD_ROW_OTHER);
    CHECK(CompareFieldRow(L"CITY", L"CITY", L"") == FIELD_ROW_OTHER);
    CHECK(CompareFieldRow(L"COUNTRY\tUS", L"CITY", L"US") == FIELD_ROW_OTHER);

    WideString copy;
    REQUIRE(RowCopyText(L"LATITUDE DEGREES\t47.600000", copy) == 1);
    CHECK(std::wstring(copy.Data()) == L"LATITUDE DEGREES\t47.600000");
    REQUIRE(RowCopyText(L"Integrated GPS", copy) == 1);
    CHECK(std::wstring(copy.Data()) == L"Integrated GPS\t");
    // The columns as the tree shows them: runs of tabs are one separator,
    // and more texts than columns are not shown.
    REQUIRE(RowCopyText(L"\tNAME\t\tVALUE\tHIDDEN", copy) == 1);
    CHECK(std::wstring(copy.Data()) == L"NAME\tVALUE");
    // The tree's lines, indented, are the context menu's Copy All case.
}

TEST_CASE("refreshes are paced to one per gap")
{
    CHECK(PacedRefreshDelay(5000, 0, false, 100) == 0);
    CHECK(PacedRefreshDelay(5000, 4990, true, 100) == 90);
    CHECK(PacedRefreshDelay(5000, 5000, true, 100) == 100);
    CHECK(PacedRefreshDelay(5100, 5000, true, 100) == 0);
    CHECK(PacedRefreshDelay(9000, 5000, true, 100) == 0);
    // Across the tick count's wrap.
    CHECK(PacedRefreshDelay(20, 0xFFFFFFF0u, true, 100) == 64);
    CHECK(PacedRefreshDelay(200, 0xFFFFFFF0u, true, 100) == 0);
}

TEST_CASE("new values change their cells in place")
{
    MainWindowFixture f;
    for (unsigned number = 1; number <= 8; ++number)
        f.AddGps(number, number == 3 ? L"Third GPS" : L"More GPS", kRampingLatitude);
    f.Open();
    HWND tree = f.window.Tree();
    REQUIRE(f.window.Select(L"LATITUDE DEGREES\t", 2) == 1);
    REQUIRE(f.window.Send([tree] {
        HTREEITEM item = TreeView_GetRoot(tree);
        for (int row = 0; row < 6 && item; ++row)
            item = TreeView_GetNextVisible(tree, item);
        TreeView_Select(tree, item, TVGN_FIRSTVISIBLE);
    }));
    const std::vector<TreeRow> before = f.window.SettledTree();
    int scrolledBefore = -1;
    REQUIRE(f.window.Send([&] { scrolledBefore = FirstVisibleRow(tree); }));
    REQUIRE(scrolledBefore == 6);

    SUBCASE("the rows, the selection and the scroll position stay; one change message")
    {
        REQUIRE(f.window.WaitForIdle() == 1);
        const LONG messages = f.window.ChangeMessages();
        REQUIRE(f.FireData(3) == 1);
        const std::vector<TreeRow> after = f.window.SettledTree();
        CHECK(f.window.ChangeMessages() == messages + 1);
        // The same items: nothing was deleted and inserted again.
        CHECK(Handles(after) == Handles(before));
        CHECK(RowText(after, L"LATITUDE DEGREES\t", 2) == L"LATITUDE DEGREES\t48.100000");
        CHECK(RowText(after, L"LATITUDE DEGREES\t", 1) == L"LATITUDE DEGREES\t47.600000");
        CHECK(after[SelectedIndex(after)].item == before[SelectedIndex(before)].item);
        int scrolledAfter = -1;
        REQUIRE(f.window.Send([&] { scrolledAfter = FirstVisibleRow(tree); }));
        CHECK(scrolledAfter == scrolledBefore);
    }
    SUBCASE("only the changed row is repainted; what was due before stays due")
    {
        // All on the window's thread: the event's data is shown by a direct
        // refresh before anything could paint. The first visible row was
        // waiting to be painted already; the sensor row between the two
        // must not be repainted.
        std::string due;
        int fired = 0;
        REQUIRE(f.window.Send([&] {
            const HTREEITEM rows[] = {TreeView_GetFirstVisible(tree),
                                      FindRow(tree, L"LATITUDE DEGREES\t", 2),
                                      FindRow(tree, L"Third GPS")};
            UpdateWindow(tree);
            RECT row = {};
            TreeView_GetItemRect(tree, rows[0], &row, FALSE);
            InvalidateRect(tree, &row, FALSE);
            fired = f.FireData(3);
            f.window.App()->RefreshNow();
            for (HTREEITEM item : rows)
                due += IsDue(tree, item) ? "due " : "not due ";
        }));
        REQUIRE(fired == 1);
        // The pending row, the changed one and the sensor row between them.
        CHECK(due == "due due not due ");
    }
}

TEST_CASE("a report with other fields rebuilds the tree")
{
    MainWindowFixture f;
    f.AddGps(1, L"Integrated GPS", kRampingLatitude);
    f.AddGps(2, L"Second GPS", kRampingLatitude);
    f.Open();
    REQUIRE(f.window.Select(L"CITY\t", 1) == 1);
    // The second sensor's reports in turn: their fields (all of them when
    // cleared first) and the sensor's rows afterwards. The last report's
    // fields still match their rows: only the count tells that one must go.
    const struct
    {
        bool cleared;
        std::vector<std::pair<const wchar_t*, const wchar_t*>> fields;
        std::vector<std::wstring> rows;
    } reports[] = {
        {false,
         {{L"SPEED_KNOTS", L"VT_R8, 3"}},
         {L"LATITUDE DEGREES\t48.100000", L"CITY\tSeattle", L"SPEED KNOTS\t3.000000"}},
        {true,
         {{L"CITY", L"VT_LPWSTR, Tacoma"}, {L"LATITUDE_DEGREES", L"VT_R8, 47.25"}},
         {L"CITY\tTacoma", L"LATITUDE DEGREES\t47.250000"}},
        {true, {{L"CITY", L"VT_LPWSTR, Tacoma"}}, {L"CITY\tTacoma"}},
    };
    const GUID id = TestSensorId(2);
    for (const auto& report : reports) {
        CAPTURE(Narrow(report.rows.back()));
        if (report.cleared)
            REQUIRE(f.sim.ClearFields(&id) == 1);
        for (const auto& field : report.fields)
            REQUIRE(f.SetField(2, field.first, field.second) == 1);
        REQUIRE(f.FireData(2) == 1);
        const std::vector<TreeRow> after = f.window.SettledTree();
        const std::vector<std::wstring> texts = Texts(after);
        CHECK(std::vector<std::wstring>(texts.begin() + 5, texts.end()) == report.rows);
        // The rebuild keeps the selected row as every rebuild does.
        if (!report.cleared)
            CHECK(SelectedText(after) == L"CITY\tSeattle");
    }
}

TEST_CASE("a burst of events from several sensors ends with every last value shown")
{
    MainWindowFixture f;
    constexpr unsigned kSensors = 4;
    constexpr int kEvents = 40;
    for (unsigned number = 1; number <= kSensors; ++number)
        f.AddGps(number, L"Burst GPS", kRampingLatitude);
    f.Open();
    REQUIRE(f.window.Settle() == 1);

    std::vector<int> delivered(kSensors, 0);
    std::vector<std::thread> senders;
    for (unsigned number = 1; number <= kSensors; ++number) {
        senders.emplace_back([&, number] {
            for (int event = 1; event <= kEvents; ++event) {
                const std::wstring value = L"VT_LPWSTR, sensor " + std::to_wstring(number) +
                                           L" value " + std::to_wstring(event);
                f.SetField(number, L"CITY", value.c_str());
                delivered[number - 1] += f.FireData(number);
            }
        });
    }
    for (std::thread& sender : senders)
        sender.join();
    const std::vector<TreeRow> rows = f.window.SettledTree();
    for (unsigned number = 1; number <= kSensors; ++number) {
        CAPTURE(number);
        CHECK(delivered[number - 1] == kEvents);
        CHECK(RowText(rows, L"CITY\t", static_cast<int>(number - 1)) ==
              L"CITY\tsensor " + std::to_wstring(number) + L" value " + std::to_wstring(kEvents));
    }
    // Paced: far fewer refreshes than events.
    CHECK(f.window.ChangeMessages() < static_cast<LONG>(kSensors * kEvents));
}

TEST_CASE("the pace timer stops when nothing changes and starts again with the next change")
{
    MainWindowFixture f;
    f.AddGps(1, L"Integrated GPS", kRampingLatitude);
    auto open = [&](const RefreshPace& pace) {
        f.window.SetRefreshPace(pace);
        f.Open();
        REQUIRE(f.window.Settle() == 1);
    };
    auto setCity = [&](int round) {
        const std::wstring value = L"VT_LPWSTR, round " + std::to_wstring(round);
        REQUIRE(f.SetField(1, L"CITY", value.c_str()) == 1);
        REQUIRE(f.FireData(1) == 1);
    };

    SUBCASE("events while it runs post no messages of their own")
    {
        open(RefreshPace());
        REQUIRE(f.window.WaitForIdle() == 1);
        const LONG messagesBefore = f.window.ChangeMessages();
        for (int round = 1; round <= 10; ++round) {
            setCity(round);
            Sleep(10);
        }
        CHECK(RowText(f.window.SettledTree(), L"CITY\t") == L"CITY\tround 10");
        // One message starts the timer; an unlucky pause of the sender
        // longer than the idle ticks may stop it and cost one more.
        CHECK(f.window.ChangeMessages() - messagesBefore <= 3);
        CHECK(f.window.WaitForIdle() == 1);
    }
    SUBCASE("a change around the moment it stops is still shown")
    {
        // A quicker pace than the program's, so that the idle ticks pass in
        // a fraction of the time: the order of ticks and changes counts.
        RefreshPace pace;
        pace.gapMs = 20;
        open(pace);
        // The sleeps straddle the idle ticks' length, so some changes come
        // while the timer is about to stop or has just stopped.
        const DWORD idleMs = pace.idleTicksBeforeStop * pace.gapMs;
        for (int round = 1; round <= 12; ++round) {
            CAPTURE(round);
            Sleep(idleMs - pace.gapMs + static_cast<DWORD>(round) * pace.gapMs / 6);
            setCity(round);
            CHECK(RowText(f.window.SettledTree(), L"CITY\t") ==
                  L"CITY\tround " + std::to_wstring(round));
        }
        // Stopped, it starts again with the next change.
        CHECK(f.window.WaitForIdle() == 1);
        setCity(99);
        CHECK(RowText(f.window.SettledTree(), L"CITY\t") == L"CITY\tround 99");
    }
}

TEST_CASE("Ctrl+C and the tree's context menu copy a row or the whole tree")
{
    MainWindowFixture f;
    f.AddGps(1, L"Integrated GPS", kRampingLatitude);
    REQUIRE(AddTestSensor(f.sim, 2, L"Bare Sensor", {}));
    f.Open();
    const std::vector<std::wstring> menu = TreeMenuItems();

    SUBCASE("Ctrl+C copies the selected row")
    {
        // A plain C is the tree's own (incremental search) and copies
        // nothing; with nothing selected there is nothing to copy.
        const struct
        {
            const wchar_t* selected;
            bool withControl;
            const wchar_t* copied;
        } presses[] = {
            {L"LATITUDE DEGREES\t", true, L"LATITUDE DEGREES\t47.600000"},
            {L"Integrated GPS", true, L"Integrated GPS\tReady"},
            {L"Integrated GPS", false, L"kept"},
            {nullptr, true, L"kept"},
        };
        for (const auto& press : presses) {
            REQUIRE(CopyTextToClipboard(nullptr, L"kept") == 1);
            REQUIRE(f.window.Select(press.selected) == 1);
            REQUIRE(f.window.PressInTree('C', press.withControl) == 1);
            CHECK_MESSAGE(ClipboardText() == press.copied, Narrow(press.copied));
        }
    }
    SUBCASE("the context menu: from the keyboard below the selected row, or where a right "
            "click selects the row first")
    {
        const struct
        {
            const wchar_t* selected;
            const wchar_t* clicked;
            int choice;
            std::wstring copied;
        } uses[] = {
            {L"CITY\t", nullptr, 0, L"CITY\tSeattle"},
            // Copy All: the whole tree, indented, one row a line.
            {L"CITY\t", nullptr, 1,
             L"Sensors\r\n  Integrated GPS\tReady\r\n    LATITUDE DEGREES\t47.600000\r\n"
             L"    CITY\tSeattle\r\n  Bare Sensor\tReady\r\n"},
            {L"Sensors", L"LATITUDE", 0, L"LATITUDE DEGREES\t47.600000"},
        };
        for (const auto& use : uses) {
            CAPTURE(Narrow(use.copied));
            REQUIRE(f.window.Select(use.selected) == 1);
            POINT at = {-1, -1};
            if (use.clicked) {
                REQUIRE(f.window.Send([&] {
                    RECT row = {};
                    TreeView_GetItemRect(f.window.Tree(), FindRow(f.window.Tree(), use.clicked),
                                         &row, TRUE);
                    at = {row.left + 4, (row.top + row.bottom) / 2};
                    ClientToScreen(f.window.Tree(), &at);
                }));
            }
            CHECK(ChooseFromTreeMenu(f.window, MAKELPARAM(at.x, at.y), use.choice) == menu);
            REQUIRE(f.window.Settle() == 1);
            CHECK(ClipboardText() == use.copied);
        }
    }
}

TEST_CASE("the tablet scenario's sensors update in place")
{
    // Every kind of value the default scenario reports (times, booleans, a
    // byte vector, vendor keys, a nameless sensor, a sensor whose reads
    // fail) keeps its rows across data updates.
    MainWindowFixture f;
    REQUIRE(f.sim.LoadScenario(nullptr) == 1);
    f.Open();
    const std::vector<TreeRow> before = f.window.SettledTree();
    const LONG messagesBefore = f.window.ChangeMessages();
    const LONG eventsBefore = f.sim.DeliveredEvents();
    REQUIRE(WaitUntil(
        10000, [&] { return f.sim.DeliveredEvents() - eventsBefore >= 30; }, 50));
    REQUIRE(f.sim.StopTimeline() == 1);
    const std::vector<TreeRow> after = f.window.SettledTree();
    CHECK(f.window.ChangeMessages() > messagesBefore);
    CHECK(Handles(after) == Handles(before));
    CHECK(Texts(after) != Texts(before));
    CHECK(RowText(after, L"LIGHT CHROMACITY\t") == L"LIGHT CHROMACITY\tEA 04 B4 3E 10 58 B9 3E");
}

TEST_CASE("rows longer than the tree's read-back buffer are whole and update in place")
{
    // A 300-unit sensor name and a 1,000-unit value, beyond the tree's usual
    // read-back buffer of 260 characters: copied whole, kept selected across
    // rebuilds, and compared whole, so that neither forces a rebuild nor a
    // rewrite of an unchanged row on every event.
    MainWindowFixture f;
    const std::wstring name = L"Long " + std::wstring(294, L'n') + L"!";
    const std::wstring value = std::wstring(997, L'v') + L"END";
    REQUIRE(AddTestSensor(f.sim, 1, name.c_str(), {{L"CITY", (L"VT_LPWSTR, " + value).c_str()}}));
    f.Open();
    const std::vector<TreeRow> before = f.window.SettledTree();
    REQUIRE(RowText(before, L"Long ") == name + L"\tReady");
    REQUIRE(RowText(before, L"CITY\t") == L"CITY\t" + value);
    HWND tree = f.window.Tree();

    SUBCASE("Copy and Copy All")
    {
        REQUIRE(f.window.Select(L"CITY\t") == 1);
        int copied = 0;
        REQUIRE(f.window.Send([&] { copied = f.window.App()->CopySelectedRow(); }));
        CHECK(copied == 1);
        CHECK(ClipboardText() == L"CITY\t" + value);
        REQUIRE(f.window.Send([&] { copied = f.window.App()->CopyAllRows(); }));
        CHECK(copied == 1);
        CHECK(ClipboardText() ==
              L"Sensors\r\n  " + name + L"\tReady\r\n    CITY\t" + value + L"\r\n");
    }
    SUBCASE("the selected sensor and the selected field stay selected across rebuilds")
    {
        REQUIRE(f.window.Select(L"Long ") == 1);
        REQUIRE(AddTestSensor(f.sim, 2, L"Arriving", {}));
        const GUID arriving = TestSensorId(2);
        REQUIRE(f.sim.FireEnter(&arriving) == 1);
        std::vector<TreeRow> after = f.window.SettledTree();
        REQUIRE(Has(Texts(after), L"Arriving\tReady"));
        CHECK(SelectedText(after) == name + L"\tReady");

        REQUIRE(f.window.Select(L"CITY\t") == 1);
        const GUID id = TestSensorId(1);
        REQUIRE(f.sim.FireStateChanged(&id, 3) == 1);
        REQUIRE(f.sim.FireStateChanged(&id, 0) == 1);
        CHECK(SelectedText(f.window.SettledTree()) == L"CITY\t" + value);
    }
    SUBCASE("an unchanged long row is not repainted; a changed one is set in place, whole")
    {
        bool longRowDue = true;
        int fired = 0;
        REQUIRE(f.window.Send([&] {
            UpdateWindow(tree);
            fired = f.FireData(1);
            f.window.App()->RefreshNow();
            longRowDue = IsDue(tree, FindRow(tree, L"CITY\t"));
        }));
        REQUIRE(fired == 1);
        CHECK_FALSE(longRowDue);
        const std::wstring newValue(1000, L'w');
        REQUIRE(f.SetField(1, L"CITY", (L"VT_LPWSTR, " + newValue).c_str()) == 1);
        REQUIRE(f.FireData(1) == 1);
        const std::vector<TreeRow> after = f.window.SettledTree();
        CHECK(Handles(after) == Handles(before));
        CHECK(RowText(after, L"CITY\t") == L"CITY\t" + newValue);
    }
}
