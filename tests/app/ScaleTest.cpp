#include <doctest.h>

#include "GuiObjectCount.h"
#include "MainWindowFixture.h"
#include "MeasuredColumnFit.h"
#include "ui/Dpi.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using namespace main_window_test;

// The pixel sizes of the main window and of its properties dialog at the DPI
// the test runs at. The test command runs this program a second and a third
// time at 144 and 192 dpi (TESSEL_TEST_DPI names the DPI the prefix was set
// to).

namespace {

// A resizable dialog with a tree-list: the main window or the properties
// dialog.
struct DialogParts
{
    DialogApp& app;
    TreeListCtrl& tree;
    SizeGrip& grip;
    // The control in the bottom-right corner.
    int button;
    LinkCtrl* link;
};

// Every figure that follows the DPI; read on the window's thread.
struct Figures
{
    long dpi = 0, itemColumn = 0, valueColumn = 0, itemHeight = 0, headerHeight = 0;
    long iconWidth = 0, iconHeight = 0, gripWidth = 0, gripHeight = 0;
    long minimumWidth = 0, minimumHeight = 0, dialogFontHeight = 0, linkFontHeight = 0;
    RECT outer = {}, tree = {}, header = {}, button = {};
    long treeWidth = 0;
    // How much wider the widest name of the first column needs it than it
    // is, measured by the test in the tree's font at the window's DPI; 0 or
    // less when every name is whole.
    long shortfall = 0;

    // Every figure and rectangle, in one line, so that a difference shows
    // which.
    std::string Text() const
    {
        std::string text;
        for (long value : {dpi, itemColumn, valueColumn, itemHeight, iconWidth, iconHeight,
                           gripWidth, gripHeight, minimumWidth, minimumHeight, dialogFontHeight,
                           linkFontHeight, headerHeight})
            text += std::to_string(value) + " ";
        for (const RECT& rect : {outer, tree, header, button})
            text += std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
                    std::to_string(rect.right) + "," + std::to_string(rect.bottom) + " ";
        return text;
    }
};

LONG FontHeight(HFONT font)
{
    LOGFONTW logFont = {};
    return font && GetObjectW(font, sizeof(logFont), &logFont) ? logFont.lfHeight : 0;
}

Figures ReadFigures(const DialogParts& parts)
{
    Figures figures;
    DialogApp& app = parts.app;
    figures.dpi = app.Dpi();
    figures.itemColumn = parts.tree.ColumnWidth(0);
    figures.valueColumn = parts.tree.ColumnWidth(1);
    figures.itemHeight = parts.tree.GetItemHeight();
    const auto list = reinterpret_cast<HIMAGELIST>(
        SendMessageW(parts.tree.Window(), TVM_GETIMAGELIST, TVSIL_NORMAL, 0));
    int iconWidth = 0;
    int iconHeight = 0;
    ImageList_GetIconSize(list, &iconWidth, &iconHeight);
    figures.iconWidth = iconWidth;
    figures.iconHeight = iconHeight;
    figures.gripWidth = parts.grip.GripSize().cx;
    figures.gripHeight = parts.grip.GripSize().cy;
    figures.minimumWidth = app.MinimumWidth();
    figures.minimumHeight = app.MinimumHeight();
    figures.dialogFontHeight = FontHeight(
        reinterpret_cast<HFONT>(SendMessageW(app.Control(parts.button), WM_GETFONT, 0, 0)));
    if (parts.link)
        figures.linkFontHeight = FontHeight(parts.link->PlainFont());
    GetWindowRect(app.Window(), &figures.outer);
    figures.tree = RectIn(app.Window(), parts.tree.Window());
    figures.header = RectIn(app.Window(), parts.tree.Header());
    figures.headerHeight = figures.header.bottom - figures.header.top;
    figures.button = RectIn(app.Window(), app.Control(parts.button));
    RECT client = {};
    GetClientRect(parts.tree.Window(), &client);
    figures.treeWidth = client.right;
    figures.shortfall = measured_fit::FirstColumnShortfall(parts.tree.Window(),
                                                           parts.tree.ColumnWidth(0), app.Dpi());
    return figures;
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

// The figures before, at another DPI and back again.
struct RoundTrip
{
    Figures before;
    Figures there;
    Figures after;
};

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

// The figures that follow the DPI alone.
void CheckScaled(const Figures& figures, int dpi, int valueColumnAt96)
{
    CAPTURE(dpi);
    CHECK(figures.dpi == dpi);
    CHECK(figures.valueColumn == MulDiv(valueColumnAt96, dpi, 96));
    CHECK(figures.itemHeight >= MulDiv(18, dpi, 96));
    // Small icons of the DPI, loaded at that size (16, 24, 32 ...).
    CHECK(figures.iconWidth == MulDiv(16, dpi, 96));
    CHECK(figures.iconHeight == MulDiv(16, dpi, 96));
    CHECK(figures.gripWidth == MulDiv(17, dpi, 96));
    CHECK(figures.gripHeight == MulDiv(17, dpi, 96));
    // The header sits right on the tree, as wide as it.
    CHECK(figures.header.bottom == figures.tree.top);
    CHECK(figures.header.right - figures.header.left == figures.tree.right - figures.tree.left);
}

// What twice the DPI changes, in any resizable dialog with a tree-list, and
// that the way back restores it.
void CheckRoundTrip(const RoundTrip& trip, int valueColumnAt96)
{
    const Figures& before = trip.before;
    const Figures& doubled = trip.there;
    CheckScaled(doubled, 2 * before.dpi, valueColumnAt96);
    CHECK(doubled.minimumWidth > before.minimumWidth);
    CHECK(doubled.minimumHeight > before.minimumHeight);
    CHECK(doubled.headerHeight > before.headerHeight);
    // The button in the corner keeps its place and grows with the font.
    CHECK(std::abs((doubled.button.right - doubled.button.left) -
                   2 * (before.button.right - before.button.left)) <= 1);
    CHECK(std::abs((doubled.button.bottom - doubled.button.top) -
                   2 * (before.button.bottom - before.button.top)) <= 1);
    // Back at the first DPI, every figure and rectangle is as it was.
    CHECK(trip.after.Text() == before.Text());
}

struct ScaleFixture : MainWindowFixture
{
    void OpenDefaultScenario()
    {
        REQUIRE(sim.LoadScenario(nullptr) == 1);
        Open();
        REQUIRE(sim.StopTimeline() == 1);
        REQUIRE(window.Settle() == 1);
    }
    // A sensor with a property whose name is wider than the "Property"
    // column's 190 pixels at 96 dpi, and its properties dialog open over the
    // main window; the parts are then the dialog's.
    void OpenVendorProperties()
    {
        const GUID id = TestSensorId(1);
        REQUIRE(AddTestSensor(sim, 1, L"Vendor GPS", {{L"LATITUDE_DEGREES", L"VT_R8, 47.6"}}));
        REQUIRE(sim.SetPropertyText(&id, L"{D6E1A8F3-27B4-4C59-9A0E-5B3F7C2D8E61},7",
                                    L"VT_LPWSTR, vendor") == 1);
        Open();
        OpenProperties(L"Vendor GPS");
        properties = true;
    }
    // Runs function with the dialog's parts on the window's thread.
    void WithParts(const std::function<void(const DialogParts&)>& function)
    {
        if (properties) {
            REQUIRE(WithProperties([&](SensorPropertiesDialog& open) {
                function({open, open.Tree(), open.Grip(), IDCANCEL, nullptr});
            }));
            return;
        }
        REQUIRE(window.Send([&] {
            SensorViewerApp& app = *window.App();
            function({app, app.Tree(), app.Grip(), IDC_EXIT, &app.Link()});
        }));
    }
    // To the other DPI, or twice the DPI for 0, and back again.
    RoundTrip TripTo(int otherDpi = 0)
    {
        RoundTrip trip;
        WithParts([&](const DialogParts& parts) {
            trip.before = ReadFigures(parts);
            const int dpi = trip.before.dpi;
            const int other = otherDpi ? otherDpi : 2 * dpi;
            ChangeDpi(parts.app.Window(), dpi, other);
            trip.there = ReadFigures(parts);
            ChangeDpi(parts.app.Window(), other, dpi, &trip.before.outer);
            trip.after = ReadFigures(parts);
        });
        if (TestDpi())
            REQUIRE(trip.before.dpi == TestDpi());
        return trip;
    }

    bool properties = false;
};

} // namespace

TEST_CASE("every pixel size of the main window follows its DPI, also across WM_DPICHANGED")
{
    ScaleFixture f;
    f.OpenDefaultScenario();
    int valueShortfall = 0;
    f.WithParts([&](const DialogParts& parts) {
        valueShortfall = parts.tree.ColumnFitWidth(1) -
                         (ReadFigures(parts).treeWidth - parts.tree.ColumnWidth(0));
    });
    const RoundTrip trip = f.TripTo();
    const Figures& before = trip.before;
    const Figures& doubled = trip.there;
    const int dpi = before.dpi;
    CHECK(dpi == SystemDpi());
    CheckScaled(before, dpi, 500);
    // The first fill shows the default scenario's longest name whole: wider
    // than the 200 pixels at 96 dpi, but never beyond half the tree.
    CHECK(before.itemColumn >= MulDiv(200, dpi, 96));
    CHECK(before.itemColumn <= std::max<long>(MulDiv(200, dpi, 96), before.treeWidth / 2));
    CHECK(before.shortfall <= 0);
    // Without a saved placement the window widened to show the longest value
    // whole too.
    CHECK(valueShortfall <= 0);

    CheckRoundTrip(trip, 500);
    // The fitted "Item" column is fitted again in the new font.
    CHECK(doubled.itemColumn >= 2 * MulDiv(200, dpi, 96));
    CHECK(doubled.shortfall <= 0);
    CHECK(doubled.itemHeight > before.itemHeight);
    CHECK(doubled.dialogFontHeight ==
          -MulDiv(MulDiv(-before.dialogFontHeight, 72, dpi), 2 * dpi, 72));
    CHECK(std::abs(doubled.linkFontHeight) > std::abs(before.linkFontHeight));
}

TEST_CASE("the properties dialog follows its DPI: at the start and across WM_DPICHANGED")
{
    ScaleFixture f;
    f.OpenVendorProperties();
    RECT closeBox = {0, 0, 50, 14};
    f.WithParts([&](const DialogParts& parts) { MapDialogRect(parts.app.Window(), &closeBox); });
    const RoundTrip trip = f.TripTo();
    const Figures& before = trip.before;
    const int dpi = before.dpi;
    CheckScaled(before, dpi, 400);
    CHECK(before.button.right - before.button.left == closeBox.right);
    CHECK(before.button.bottom - before.button.top == closeBox.bottom);
    // The vendor's property name is wider than the default: the column shows
    // it whole, or as much of it as half the tree allows.
    CHECK(before.itemColumn > MulDiv(190, dpi, 96));
    for (const Figures* figures : {&before, &trip.there})
        CHECK((figures->shortfall <= 0 || figures->itemColumn == figures->treeWidth / 2));
    CheckRoundTrip(trip, 400);

    // Wide enough that half the tree holds the longest name, the names are
    // whole at twice the DPI.
    Figures doubled;
    f.WithParts([&](const DialogParts& parts) {
        RECT outer = {};
        GetWindowRect(parts.app.Window(), &outer);
        SetWindowPos(parts.app.Window(), nullptr, 0, 0, 2 * (outer.right - outer.left),
                     outer.bottom - outer.top, SWP_NOMOVE | SWP_NOZORDER);
        ChangeDpi(parts.app.Window(), dpi, 2 * dpi);
        doubled = ReadFigures(parts);
    });
    CHECK(doubled.itemColumn < doubled.treeWidth / 2);
    CHECK(doubled.shortfall <= 0);
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
    SUBCASE("the main window")
    {
        f.OpenDefaultScenario();
    }
    SUBCASE("the properties dialog")
    {
        f.OpenVendorProperties();
    }
    int dpi = 0;
    f.WithParts([&](const DialogParts& parts) { dpi = parts.app.Dpi(); });
    // Widths whose rescale down and up again would not come back.
    const int itemWidth = MulDiv(150, dpi, 96) + 1;
    const int valueWidth = MulDiv(450, dpi, 96) + 1;
    bool userSized = false;
    int itemColumn = 0;
    f.WithParts([&](const DialogParts& parts) {
        DragFirstDivider(parts.tree, itemWidth);
        parts.tree.SetColumnWidth(1, valueWidth);
        userSized = parts.tree.UserSizedColumns();
        itemColumn = parts.tree.ColumnWidth(0);
    });
    REQUIRE(userSized);
    REQUIRE(itemColumn == itemWidth);
    for (int other : OtherDpis(dpi)) {
        CAPTURE(other);
        const RoundTrip trip = f.TripTo(other);
        CHECK(trip.there.dpi == other);
        CHECK(trip.there.itemColumn == MulDiv(itemWidth, other, dpi));
        CHECK(trip.there.valueColumn == MulDiv(valueWidth, other, dpi));
        CHECK(trip.after.Text() == trip.before.Text());
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
