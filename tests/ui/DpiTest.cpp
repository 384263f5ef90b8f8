#include <doctest.h>

#include <windows.h>
#include <commctrl.h>

#include "ui/DividerCtrl.h"
#include "ui/Dpi.h"
#include "ui/Layout.h"
#include "ui/RowLayout.h"

// The arithmetic of display scales, on plain values.

TEST_CASE("sizes and font heights scale to the nearest pixel and back without drift")
{
    CHECK(ScaleForDpi(200, 96) == 200);
    CHECK(ScaleForDpi(200, 144) == 300);
    CHECK(ScaleForDpi(18, 120) == 23); // 22.5 rounds up
    CHECK(ScaleForDpi(-3, 192) == -6);
    CHECK(RescaleForDpi(101, 96, 0) == 101); // no DPI: left as it is
    const RECT rect = {-10, 5, 587, 351};
    const RECT doubled = RescaleRectForDpi(rect, 96, 192);
    CHECK((doubled.left == -20 && doubled.top == 10 && doubled.right == 1174 &&
           doubled.bottom == 702));
    const RECT back = RescaleRectForDpi(doubled, 192, 96);
    CHECK(EqualRect(&back, &rect));

    // Font heights go through whole points, as the dialog manager makes them:
    // MS Shell Dlg 8 pt: -11 at 96, -16 at 144, -21 at 192, and back.
    CHECK(RescaleFontHeight(-11, 96, 144) == -16);
    CHECK(RescaleFontHeight(-11, 96, 192) == -21);
    CHECK(RescaleFontHeight(-21, 192, 96) == -11);
    CHECK(RescaleFontHeight(-16, 144, 96) == -11);
    // A cell height scales as a size.
    CHECK(RescaleFontHeight(16, 96, 192) == 32);
    CHECK(RescaleFontHeight(0, 96, 192) == 0);

    // WM_DPICHANGED's DPI is taken only when it is one.
    CHECK(DpiFromMessage(MAKEWPARAM(144, 144)) == 144);
    CHECK(DpiFromMessage(MAKEWPARAM(0, 0)) == 0);
    CHECK(DpiFromMessage(MAKEWPARAM(65535, 65535)) == 0);
}

TEST_CASE("column widths that show a text whole, and the first fill's limit")
{
    // The first column: the text starts one pixel right of the text
    // rectangle and ends five pixels before the divider; others start four
    // pixels right of their divider. Twice as much at 192 dpi.
    CHECK(ColumnWidthForText(0, 58, 150, 96) == 58 + 1 + 150 + 5);
    CHECK(ColumnWidthForText(1, 999, 375, 96) == 4 + 375 + 5);
    CHECK(ColumnWidthForText(1, 0, 750, 192) == 8 + 750 + 10);
    // The same gaps PlanRow leaves: a text of that width fits its box.
    const int widths[] = {ColumnWidthForText(0, 40, 120, 192), 1000};
    const RowFrame frame = {{40, 0, 200, 36}, widths, 2, 0, 0, 192};
    RowPlan plan;
    PlanRow(L"NAME\tVALUE", 10, frame, plan);
    REQUIRE(plan.count == 2);
    CHECK(plan.columns[0].box.right - plan.columns[0].box.left == 120);
    CHECK(plan.columns[1].box.left == widths[0] + 8);
    CHECK(plan.totalWidth == widths[0] + 1000 - 6);

    CHECK(FirstFillColumnWidth(200, 296, 285) == 285); // no more than half the tree
    CHECK(FirstFillColumnWidth(200, 150, 285) == 200); // never narrower
    CHECK(FirstFillColumnWidth(200, 296, 150) == 200); // a small window keeps the default
    CHECK(FirstFillColumnWidth(200, 250, 285) == 250);
}

TEST_CASE("themed rows, and when a row shows its focus rectangle")
{
    CHECK(UseThemedRows(true, true, false));
    CHECK_FALSE(UseThemedRows(true, false, false)); // classic scheme
    CHECK_FALSE(UseThemedRows(true, true, true));   // high contrast: system colours
    CHECK_FALSE(UseThemedRows(false, true, false)); // before Vista

    const UINT focused = CDIS_FOCUS | CDIS_SELECTED;
    CHECK(DrawsRowFocus(focused, true, false, false, false));
    CHECK_FALSE(DrawsRowFocus(focused, true, true, false, false));  // the theme shows it
    CHECK_FALSE(DrawsRowFocus(focused, true, false, true, false));  // cues hidden
    CHECK(DrawsRowFocus(focused, true, true, true, true));          // high contrast always
    CHECK_FALSE(DrawsRowFocus(focused, false, false, false, true)); // tree not focused
    CHECK_FALSE(DrawsRowFocus(CDIS_SELECTED, true, false, false, true));
}

TEST_CASE("a window widened to show its columns stays inside the work area")
{
    const RECT work = {0, 0, 1024, 738};
    const RECT window = {200, 100, 800, 500};
    // 90 pixels more, around the old centre.
    RECT widened = WidenedWindow(window, 580, 670, work);
    CHECK((widened.left == 155 && widened.right == 845 && widened.top == 100 &&
           widened.bottom == 500));
    // Enough already: unchanged.
    widened = WidenedWindow(window, 580, 500, work);
    CHECK(EqualRect(&widened, &window));
    // Never wider than the work area, and moved into it.
    widened = WidenedWindow(window, 580, 2000, work);
    CHECK((widened.left == 0 && widened.right == 1024));
    const RECT nearEdge = {700, 100, 1000, 500};
    widened = WidenedWindow(nearEdge, 280, 400, work);
    CHECK((widened.right == 1024 && widened.right - widened.left == 420));
}

TEST_CASE("a divider's band grows with the DPI")
{
    const DividerPlacement placement = PlaceDivider({0, 332, 858, 334}, 192);
    CHECK(placement.horizontal);
    CHECK((placement.x == -4 && placement.y == 330 && placement.width == 864 &&
           placement.height == 10));
    const RECT line = ClassicDividerRect({0, 0, 864, 10}, 192);
    CHECK((line.left == 2 && line.top == 4 && line.bottom == 8));
}
