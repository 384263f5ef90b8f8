#include <doctest.h>

#include "GuiObjectCount.h"
#include "MainWindowHarness.h"
#include "MeasuredColumnFit.h"
#include "PropertiesHarness.h"
#include "ui/Dpi.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using namespace main_window_test;

// The main window's pixel sizes at the DPI the test runs at. The test
// command runs this program a second and a third time at 144 and 192 dpi
// (TESSEL_TEST_DPI names the DPI the prefix was set to).

namespace {

struct ScaleFixture
{
    ScaleFixture() : sim(*Simulator())
    {
        REQUIRE(Simulator() != nullptr);
        REQUIRE(sim.Reset() == 1);
        HoldOffWeeklyUpdateCheck();
    }
    void OpenDefaultScenario()
    {
        REQUIRE(sim.LoadScenario(nullptr) == 1);
        REQUIRE(window.Start() == 1);
        REQUIRE(sim.StopTimeline() == 1);
        REQUIRE(window.Settle() == 1);
    }

    PlacementValueGuard placement;
    SensorSimControl& sim;
    MainWindowHarness window;
};

// Every figure that follows the DPI; read on the window's thread.
struct Figures
{
    int dpi = 0;
    int itemColumn = 0;
    int valueColumn = 0;
    int itemHeight = 0;
    int iconWidth = 0;
    int iconHeight = 0;
    SIZE grip = {};
    int minimumWidth = 0;
    int minimumHeight = 0;
    LONG dialogFontHeight = 0;
    LONG linkFontHeight = 0;
    int headerHeight = 0;
    RECT tree = {};
    RECT header = {};
    RECT button = {};

    // Every figure, in one line, so that a difference shows which.
    std::string Text() const
    {
        std::string text;
        for (long value :
             {long(dpi), long(itemColumn), long(valueColumn), long(itemHeight), long(iconWidth),
              long(iconHeight), long(grip.cx), long(grip.cy), long(minimumWidth),
              long(minimumHeight), long(dialogFontHeight), long(linkFontHeight), long(headerHeight),
              long(button.right - button.left), long(button.bottom - button.top)})
            text += std::to_string(value) + " ";
        return text;
    }
};

LONG FontHeight(HFONT font)
{
    LOGFONTW logFont = {};
    return font && GetObjectW(font, sizeof(logFont), &logFont) ? logFont.lfHeight : 0;
}

RECT RectIn(HWND window, HWND control)
{
    RECT rect = {};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The figures every resizable dialog with a tree-list has; button is the
// control in its bottom-right corner.
Figures ReadDialogFigures(DialogApp& app, TreeListCtrl& tree, SizeGrip& grip, int button)
{
    Figures figures;
    figures.dpi = app.Dpi();
    figures.itemColumn = tree.ColumnWidth(0);
    figures.valueColumn = tree.ColumnWidth(1);
    figures.itemHeight = tree.GetItemHeight();
    const auto list = reinterpret_cast<HIMAGELIST>(
        SendMessageW(tree.Window(), TVM_GETIMAGELIST, TVSIL_NORMAL, 0));
    ImageList_GetIconSize(list, &figures.iconWidth, &figures.iconHeight);
    figures.grip = grip.GripSize();
    figures.minimumWidth = app.MinimumWidth();
    figures.minimumHeight = app.MinimumHeight();
    figures.dialogFontHeight =
        FontHeight(reinterpret_cast<HFONT>(SendMessageW(app.Control(button), WM_GETFONT, 0, 0)));
    figures.tree = RectIn(app.Window(), tree.Window());
    figures.header = RectIn(app.Window(), tree.Header());
    figures.headerHeight = figures.header.bottom - figures.header.top;
    figures.button = RectIn(app.Window(), app.Control(button));
    return figures;
}

Figures ReadFigures(SensorViewerApp& app)
{
    Figures figures = ReadDialogFigures(app, app.Tree(), app.Grip(), IDC_EXIT);
    figures.linkFontHeight = FontHeight(app.Link().PlainFont());
    return figures;
}

// How much wider the widest name of the first column needs it than it is,
// measured by the test in the tree's font at the window's DPI; 0 or less
// when every name is whole.
int ItemColumnShortfall(DialogApp& app, TreeListCtrl& tree)
{
    return measured_fit::FirstColumnShortfall(tree.Window(), tree.ColumnWidth(0), app.Dpi());
}

int ClientWidth(HWND window)
{
    RECT client = {};
    GetClientRect(window, &client);
    return client.right;
}

// Tells the window that it is now at dpi, with its outer rectangle rescaled
// in place, as Windows does on a move to another monitor.
// A rectangle, when given, is the one Windows suggests instead: the one the
// window had at toDpi before, on the way back.
void ChangeDpi(HWND window, int fromDpi, int toDpi, const RECT* backTo = nullptr)
{
    RECT outer = {};
    GetWindowRect(window, &outer);
    RECT suggested = RescaleRectForDpi(outer, fromDpi, toDpi);
    OffsetRect(&suggested, outer.left - suggested.left, outer.top - suggested.top);
    SendMessageW(window, kWmDpiChanged, MAKEWPARAM(toDpi, toDpi),
                 reinterpret_cast<LPARAM>(backTo ? backTo : &suggested));
}

// There and back again, as a move to another monitor and back does.
void ChangeDpiAndBack(HWND window, int dpi, int otherDpi)
{
    RECT outer = {};
    GetWindowRect(window, &outer);
    ChangeDpi(window, dpi, otherDpi);
    ChangeDpi(window, otherDpi, dpi, &outer);
}

// Drags the divider after the first column of the header to make that
// column width pixels wide, as the user does with the mouse.
void DragFirstDivider(TreeListCtrl& tree, int width)
{
    RECT item = {};
    SendMessageW(tree.Header(), HDM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
    const int y = (item.top + item.bottom) / 2;
    SendMessageW(tree.Header(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(item.right, y));
    SendMessageW(tree.Header(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(item.left + width, y));
    SendMessageW(tree.Header(), WM_LBUTTONUP, 0, MAKELPARAM(item.left + width, y));
}

// The DPIs a window at dpi goes to and back from: twice and half of it, and
// 96 and 144 dpi.
std::vector<int> OtherDpis(int dpi)
{
    std::vector<int> others;
    for (int other : {2 * dpi, dpi / 2, 96, 144}) {
        if (other != dpi && std::find(others.begin(), others.end(), other) == others.end())
            others.push_back(other);
    }
    return others;
}

// The DPI the test command set the prefix to, or 0 when not told.
int ExpectedDpi()
{
    const char* value = std::getenv("TESSEL_TEST_DPI");
    return value ? std::atoi(value) : 0;
}

} // namespace

TEST_CASE("every pixel size of the main window follows its DPI")
{
    ScaleFixture f;
    f.OpenDefaultScenario();
    Figures figures;
    int treeWidth = 0;
    int shortfall = 0;
    int valueShortfall = 0;
    REQUIRE(f.window.Send([&] {
        SensorViewerApp& app = *f.window.App();
        figures = ReadFigures(app);
        RECT client = {};
        GetClientRect(app.Tree().Window(), &client);
        treeWidth = client.right;
        shortfall = ItemColumnShortfall(app, app.Tree());
        valueShortfall = app.Tree().ColumnFitWidth(1) - (client.right - figures.itemColumn);
    }));
    const int dpi = figures.dpi;
    if (ExpectedDpi())
        REQUIRE(dpi == ExpectedDpi());
    CHECK(dpi == SystemDpi());
    CHECK(figures.valueColumn == MulDiv(500, dpi, 96));
    CHECK(figures.itemHeight >= MulDiv(18, dpi, 96));
    // Small icons of the DPI, loaded at that size (16, 24, 32 ...).
    CHECK(figures.iconWidth == MulDiv(16, dpi, 96));
    CHECK(figures.iconHeight == MulDiv(16, dpi, 96));
    CHECK(figures.grip.cx == MulDiv(17, dpi, 96));
    CHECK(figures.grip.cy == MulDiv(17, dpi, 96));

    SUBCASE("the first fill shows the default scenario's longest name whole")
    {
        // Wider than the 200 pixels at 96 dpi, but never beyond half the tree.
        CHECK(figures.itemColumn >= MulDiv(200, dpi, 96));
        CHECK(figures.itemColumn <= std::max(MulDiv(200, dpi, 96), treeWidth / 2));
        CHECK(shortfall <= 0);
        // Without a saved placement the window widened to show the longest
        // value whole too.
        CHECK(valueShortfall <= 0);
    }
}

TEST_CASE("WM_DPICHANGED to twice the DPI and back changes and restores every figure")
{
    ScaleFixture f;
    f.OpenDefaultScenario();
    Figures before;
    Figures doubled;
    Figures after;
    RECT outerBefore = {};
    RECT outerAfter = {};
    int shortfall = 0;
    REQUIRE(f.window.Send([&] {
        SensorViewerApp& app = *f.window.App();
        HWND window = app.Window();
        before = ReadFigures(app);
        GetWindowRect(window, &outerBefore);
        const int dpi = before.dpi;
        RECT suggested = RescaleRectForDpi(outerBefore, dpi, 2 * dpi);
        OffsetRect(&suggested, outerBefore.left - suggested.left, outerBefore.top - suggested.top);
        SendMessageW(window, kWmDpiChanged, MAKEWPARAM(2 * dpi, 2 * dpi),
                     reinterpret_cast<LPARAM>(&suggested));
        doubled = ReadFigures(app);
        shortfall = ItemColumnShortfall(app, app.Tree());
        SendMessageW(window, kWmDpiChanged, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&outerBefore));
        after = ReadFigures(app);
        GetWindowRect(window, &outerAfter);
    }));
    const int dpi = before.dpi;
    CHECK(doubled.dpi == 2 * dpi);
    // The fitted "Item" column is fitted again in the new font.
    CHECK(doubled.itemColumn >= 2 * MulDiv(200, dpi, 96));
    CHECK(doubled.valueColumn == 2 * before.valueColumn);
    CHECK(doubled.itemHeight >= MulDiv(18, 2 * dpi, 96));
    CHECK(doubled.itemHeight > before.itemHeight);
    CHECK(doubled.iconWidth == MulDiv(16, 2 * dpi, 96));
    CHECK(doubled.grip.cx == MulDiv(17, 2 * dpi, 96));
    CHECK(doubled.minimumWidth > before.minimumWidth);
    CHECK(doubled.minimumHeight > before.minimumHeight);
    CHECK(doubled.dialogFontHeight ==
          -MulDiv(MulDiv(-before.dialogFontHeight, 72, dpi), 2 * dpi, 72));
    CHECK(std::abs(doubled.linkFontHeight) > std::abs(before.linkFontHeight));
    // The header sits right on the tree, as wide as it.
    CHECK(doubled.header.bottom == doubled.tree.top);
    CHECK(doubled.header.right - doubled.header.left == doubled.tree.right - doubled.tree.left);
    CHECK(doubled.header.bottom - doubled.header.top > before.header.bottom - before.header.top);
    CHECK(shortfall <= 0);
    // The button in the corner keeps its place and grows with the font.
    CHECK(std::abs((doubled.button.right - doubled.button.left) -
                   2 * (before.button.right - before.button.left)) <= 1);
    CHECK(std::abs((doubled.button.bottom - doubled.button.top) -
                   2 * (before.button.bottom - before.button.top)) <= 1);

    CHECK(after.Text() == before.Text());
    CHECK(EqualRect(&outerAfter, &outerBefore));
    CHECK(EqualRect(&after.tree, &before.tree));
    CHECK(EqualRect(&after.header, &before.header));
}

TEST_CASE("a double click on a header divider fits that column; the width then stays")
{
    ScaleFixture f;
    f.OpenDefaultScenario();
    int fitted = 0;
    int widthAfterClick = 0;
    bool userSized = false;
    REQUIRE(f.window.Send([&] {
        TreeListCtrl& tree = f.window.App()->Tree();
        tree.SetColumnWidth(0, 40);
        fitted = tree.ColumnFitWidth(0);
        // The header itself tells a double click on its divider apart.
        RECT item = {};
        SendMessageW(tree.Header(), HDM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
        const LPARAM at = MAKELPARAM(item.right, (item.top + item.bottom) / 2);
        SendMessageW(tree.Header(), WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(tree.Header(), WM_LBUTTONUP, 0, at);
        SendMessageW(tree.Header(), WM_LBUTTONDBLCLK, MK_LBUTTON, at);
        SendMessageW(tree.Header(), WM_LBUTTONUP, 0, at);
        widthAfterClick = tree.ColumnWidth(0);
        userSized = tree.UserSizedColumns();
    }));
    CHECK(fitted > 40);
    CHECK(widthAfterClick == fitted);
    CHECK(userSized);
    // A rebuild (a sensor arriving) keeps the user's width.
    REQUIRE(AddTestSensor(f.sim, 7, L"A SENSOR WITH A VERY LONG NAME THAT WOULD WIDEN THE COLUMN",
                          {{L"LATITUDE_DEGREES", L"VT_R8, 1"}}));
    const GUID id = TestSensorId(7);
    REQUIRE(f.sim.FireEnter(&id) == 1);
    REQUIRE(f.window.Settle() == 1);
    int widthAfterRebuild = 0;
    REQUIRE(f.window.Send([&] { widthAfterRebuild = f.window.App()->Tree().ColumnWidth(0); }));
    CHECK(widthAfterRebuild == fitted);
}

TEST_CASE("DPI changes there and back with user-sized columns come back to the same pixels")
{
    ScaleFixture f;
    f.OpenDefaultScenario();
    int dpi = 0;
    REQUIRE(f.window.Send([&] { dpi = f.window.App()->Dpi(); }));
    // Widths whose rescale down and up again would not come back.
    const int itemWidth = MulDiv(150, dpi, 96) + 1;
    const int valueWidth = MulDiv(450, dpi, 96) + 1;
    Figures fresh;
    bool userSized = false;
    REQUIRE(f.window.Send([&] {
        SensorViewerApp& app = *f.window.App();
        DragFirstDivider(app.Tree(), itemWidth);
        app.Tree().SetColumnWidth(1, valueWidth);
        userSized = app.Tree().UserSizedColumns();
        fresh = ReadFigures(app);
    }));
    REQUIRE(userSized);
    REQUIRE(fresh.itemColumn == itemWidth);
    for (int other : OtherDpis(dpi)) {
        CAPTURE(other);
        Figures there;
        Figures back;
        REQUIRE(f.window.Send([&] {
            SensorViewerApp& app = *f.window.App();
            RECT outer = {};
            GetWindowRect(app.Window(), &outer);
            ChangeDpi(app.Window(), dpi, other);
            there = ReadFigures(app);
            ChangeDpi(app.Window(), other, dpi, &outer);
            back = ReadFigures(app);
        }));
        CHECK(there.dpi == other);
        CHECK(there.itemColumn == MulDiv(itemWidth, other, dpi));
        CHECK(there.valueColumn == MulDiv(valueWidth, other, dpi));
        CHECK(back.Text() == fresh.Text());
        CHECK(EqualRect(&back.tree, &fresh.tree));
        CHECK(EqualRect(&back.header, &fresh.header));
        CHECK(EqualRect(&back.button, &fresh.button));
    }
}

TEST_CASE("GDI and USER objects stay as many across 20 DPI changes and 20 theme changes")
{
    ScaleFixture f;
    f.OpenDefaultScenario();
    auto themeChange = [&](SensorViewerApp& app) {
        for (HWND window :
             {app.Window(), app.Tree().Window(), app.Tree().Header(), app.Link().Control()})
            SendMessageW(window, WM_THEMECHANGED, 0, 0);
        UpdateWindow(app.Window());
        RedrawWindow(app.Window(), nullptr, nullptr,
                     RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    };
    gui_objects::Counts counts[3];
    int dpi = 0;
    // Each step apart: each Send waits a bounded time of its own.
    REQUIRE(f.window.Send([&] {
        SensorViewerApp& app = *f.window.App();
        dpi = app.Dpi();
        // Once each first: what is made on first use stays.
        ChangeDpiAndBack(app.Window(), dpi, 2 * dpi);
        themeChange(app);
    }));
    REQUIRE(f.window.Send([&] { counts[0] = gui_objects::Count(); }));
    for (int i = 0; i < 10; ++i) {
        REQUIRE(f.window.Send([&] {
            SensorViewerApp& app = *f.window.App();
            ChangeDpiAndBack(app.Window(), dpi, 2 * dpi);
            RedrawWindow(app.Window(), nullptr, nullptr,
                         RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        }));
    }
    REQUIRE(f.window.Send([&] { counts[1] = gui_objects::Count(); }));
    for (int i = 0; i < 20; ++i)
        REQUIRE(f.window.Send([&] { themeChange(*f.window.App()); }));
    REQUIRE(f.window.Send([&] { counts[2] = gui_objects::Count(); }));
    REQUIRE(counts[0].gdi > 0);
    REQUIRE(counts[0].user > 0);
    CHECK(counts[1].gdi == counts[0].gdi);
    CHECK(counts[2].gdi == counts[0].gdi);
    CHECK(counts[1].user == counts[0].user);
    CHECK(counts[2].user == counts[0].user);
}

namespace {

// A sensor with a property whose name is wider than the "Property" column's
// 190 pixels at 96 dpi, and its properties dialog open over the main window.
struct PropertiesFixture : ScaleFixture
{
    HWND Open()
    {
        const GUID id = TestSensorId(1);
        REQUIRE(AddTestSensor(sim, 1, L"Vendor GPS", {{L"LATITUDE_DEGREES", L"VT_R8, 47.6"}}));
        REQUIRE(sim.SetPropertyText(&id, L"{D6E1A8F3-27B4-4C59-9A0E-5B3F7C2D8E61},7",
                                    L"VT_LPWSTR, vendor") == 1);
        REQUIRE(window.Start() == 1);
        return OpenPropertiesOf(window, L"Vendor GPS");
    }
    int WithDialog(const std::function<void(SensorPropertiesDialog&)>& function)
    {
        return WithProperties(window, function);
    }
    Figures Read(SensorPropertiesDialog& dialog)
    {
        return ReadDialogFigures(dialog, dialog.Tree(), dialog.Grip(), IDCANCEL);
    }
};

} // namespace

TEST_CASE("the properties dialog follows its DPI: at the start and across WM_DPICHANGED")
{
    PropertiesFixture f;
    HWND dialog = f.Open();
    REQUIRE(dialog != nullptr);
    Figures before;
    Figures doubled;
    Figures after;
    int shortfallBefore = 0;
    int shortfallDoubled = 0;
    RECT closeBox = {0, 0, 50, 14};
    int treeWidth = 0;
    int doubledTreeWidth = 0;
    REQUIRE(f.WithDialog([&](SensorPropertiesDialog& open) {
        before = f.Read(open);
        shortfallBefore = ItemColumnShortfall(open, open.Tree());
        MapDialogRect(open.Window(), &closeBox);
        treeWidth = ClientWidth(open.Tree().Window());
        RECT outer = {};
        GetWindowRect(open.Window(), &outer);
        ChangeDpi(open.Window(), before.dpi, 2 * before.dpi);
        doubled = f.Read(open);
        shortfallDoubled = ItemColumnShortfall(open, open.Tree());
        doubledTreeWidth = ClientWidth(open.Tree().Window());
        ChangeDpi(open.Window(), 2 * before.dpi, before.dpi, &outer);
        after = f.Read(open);
    }));
    const int dpi = before.dpi;
    if (ExpectedDpi())
        REQUIRE(dpi == ExpectedDpi());
    // The vendor's property name is wider than the default: the column
    // shows it whole, or as much of it as half the tree allows.
    CHECK(before.itemColumn > MulDiv(190, dpi, 96));
    CHECK((shortfallBefore <= 0 || before.itemColumn == treeWidth / 2));
    CHECK(before.valueColumn == MulDiv(400, dpi, 96));
    CHECK(before.itemHeight >= MulDiv(18, dpi, 96));
    CHECK(before.iconWidth == MulDiv(16, dpi, 96));
    CHECK(before.grip.cx == MulDiv(17, dpi, 96));
    CHECK(before.button.right - before.button.left == closeBox.right);
    CHECK(before.button.bottom - before.button.top == closeBox.bottom);

    CHECK(doubled.dpi == 2 * dpi);
    CHECK((shortfallDoubled <= 0 || doubled.itemColumn == doubledTreeWidth / 2));
    CHECK(doubled.valueColumn == 2 * before.valueColumn);
    CHECK(doubled.itemHeight >= MulDiv(18, 2 * dpi, 96));
    CHECK(doubled.iconWidth == MulDiv(16, 2 * dpi, 96));
    CHECK(doubled.grip.cx == MulDiv(17, 2 * dpi, 96));
    CHECK(doubled.minimumWidth > before.minimumWidth);
    CHECK(doubled.headerHeight > before.headerHeight);
    CHECK(doubled.header.bottom == doubled.tree.top);
    CHECK(std::abs((doubled.button.right - doubled.button.left) - 2 * closeBox.right) <= 1);
    CHECK(std::abs((doubled.button.bottom - doubled.button.top) - 2 * closeBox.bottom) <= 1);

    CHECK(after.Text() == before.Text());
    CHECK(EqualRect(&after.tree, &before.tree));
    CHECK(EqualRect(&after.button, &before.button));
}

TEST_CASE("the properties dialog's names are whole after WM_DPICHANGED to twice the DPI")
{
    PropertiesFixture f;
    REQUIRE(f.Open() != nullptr);
    int shortfall = 0;
    int column = 0;
    int treeWidth = 0;
    REQUIRE(f.WithDialog([&](SensorPropertiesDialog& open) {
        // Wide enough that half the tree holds the longest name.
        RECT outer = {};
        GetWindowRect(open.Window(), &outer);
        SetWindowPos(open.Window(), nullptr, 0, 0, 2 * (outer.right - outer.left),
                     outer.bottom - outer.top, SWP_NOMOVE | SWP_NOZORDER);
        const int dpi = open.Dpi();
        ChangeDpi(open.Window(), dpi, 2 * dpi);
        shortfall = ItemColumnShortfall(open, open.Tree());
        column = open.Tree().ColumnWidth(0);
        treeWidth = ClientWidth(open.Tree().Window());
    }));
    CHECK(column < treeWidth / 2);
    CHECK(shortfall <= 0);
}

TEST_CASE("the properties dialog's user-sized columns come back after DPI changes")
{
    PropertiesFixture f;
    REQUIRE(f.Open() != nullptr);
    Figures fresh;
    int dpi = 0;
    REQUIRE(f.WithDialog([&](SensorPropertiesDialog& open) {
        dpi = open.Dpi();
        DragFirstDivider(open.Tree(), MulDiv(150, dpi, 96) + 1);
        fresh = f.Read(open);
    }));
    REQUIRE(fresh.itemColumn == MulDiv(150, dpi, 96) + 1);
    for (int other : OtherDpis(dpi)) {
        CAPTURE(other);
        Figures back;
        REQUIRE(f.WithDialog([&](SensorPropertiesDialog& open) {
            ChangeDpiAndBack(open.Window(), dpi, other);
            back = f.Read(open);
        }));
        CHECK(back.Text() == fresh.Text());
        CHECK(EqualRect(&back.button, &fresh.button));
    }
}
