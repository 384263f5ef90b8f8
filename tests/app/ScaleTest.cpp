#include <doctest.h>

#include "MainWindowHarness.h"
#include "ui/Dpi.h"

#include <algorithm>
#include <cstdlib>
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
    RECT tree = {};
    RECT header = {};

    // Every figure, in one line, so that a difference shows which.
    std::string Text() const
    {
        std::string text;
        for (long value :
             {long(dpi), long(itemColumn), long(valueColumn), long(itemHeight), long(iconWidth),
              long(iconHeight), long(grip.cx), long(grip.cy), long(minimumWidth),
              long(minimumHeight), long(dialogFontHeight), long(linkFontHeight)})
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

Figures ReadFigures(SensorViewerApp& app)
{
    TreeListCtrl& tree = app.Tree();
    Figures figures;
    figures.dpi = app.Dpi();
    figures.itemColumn = tree.ColumnWidth(0);
    figures.valueColumn = tree.ColumnWidth(1);
    figures.itemHeight = tree.GetItemHeight();
    const auto list = reinterpret_cast<HIMAGELIST>(
        SendMessageW(tree.Window(), TVM_GETIMAGELIST, TVSIL_NORMAL, 0));
    ImageList_GetIconSize(list, &figures.iconWidth, &figures.iconHeight);
    figures.grip = app.Grip().GripSize();
    figures.minimumWidth = app.MinimumWidth();
    figures.minimumHeight = app.MinimumHeight();
    figures.dialogFontHeight =
        FontHeight(reinterpret_cast<HFONT>(SendMessageW(app.Control(IDC_EXIT), WM_GETFONT, 0, 0)));
    figures.linkFontHeight = FontHeight(app.Link().PlainFont());
    figures.tree = RectIn(app.Window(), tree.Window());
    figures.header = RectIn(app.Window(), tree.Header());
    return figures;
}

// How much wider the widest name of the first column needs it than it is;
// 0 or less when every name is whole.
int ItemColumnShortfall(TreeListCtrl& tree)
{
    return tree.ColumnFitWidth(0) - tree.ColumnWidth(0);
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
        shortfall = ItemColumnShortfall(app.Tree());
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
        shortfall = ItemColumnShortfall(app.Tree());
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
