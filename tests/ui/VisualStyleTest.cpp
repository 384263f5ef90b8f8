#include <doctest.h>

#include <vssym32.h>

#include <string.h>

#include <initializer_list>
#include <new>

#include "TestWindow.h"
#include "ui/MouseLeaveTracker.h"
#include "ui/VisualStyle.h"

// Simulates a theme change or styles switched off, which a test cannot do to the session.
struct VisualStyleTestAccess
{
    // The theme is closed under the object; drawing refuses its handle with E_HANDLE.
    static void MakeThemeStale(VisualStyle& style)
    {
        style.closeThemeData_(style.theme_);
        style.theme_ = StaleTheme();
        style.drawThemeBackground_ = &DrawWithStaleTheme;
        style.closeThemeData_ = &CloseStaleTheme;
    }
    static HTHEME StaleTheme() { return reinterpret_cast<HTHEME>(static_cast<INT_PTR>(0x57A1E)); }
    static HRESULT WINAPI DrawWithStaleTheme(HTHEME theme, HDC, int, int, const RECT*, const RECT*)
    {
        return theme == StaleTheme() ? E_HANDLE : E_FAIL;
    }
    static HRESULT WINAPI CloseStaleTheme(HTHEME) { return S_OK; }
    static void SwitchStylesOff(VisualStyle& style) { style.isThemeActive_ = &StylesOff; }
    static BOOL WINAPI StylesOff() { return FALSE; }
    // Styles active, and every question about them counted.
    static void CountStyleQuestions(VisualStyle& style)
    {
        styleQuestions = 0;
        style.isThemeActive_ = &CountedStylesOn;
    }
    static BOOL WINAPI CountedStylesOn() { return ++styleQuestions > 0; }
    static bool KeepsEntryPoints(const VisualStyle& style)
    {
        return style.isThemeActive_ == &CountedStylesOn;
    }
    static int styleQuestions;
};
int VisualStyleTestAccess::styleQuestions = 0;

// Forces the timer emulation used where TrackMouseEvent is missing.
struct MouseLeaveTrackerTestAccess
{
    static void RemoveTrackMouseEvent(MouseLeaveTracker& tracker) { tracker.track_ = nullptr; }
};

namespace {

const wchar_t kWindowClass[] = L"TesselVisualStyleTestWindow";
const RECT kGlyphRect = {0, 0, 16, 16};

LRESULT CALLBACK CountingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_MOUSELEAVE) {
        int* leaves = reinterpret_cast<int*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (leaves)
            ++*leaves;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A shown top-level window that counts its WM_MOUSELEAVE messages, with a
// device context to draw into.
struct LeaveCountingWindow
{
    TestWindow window;
    HDC dc = nullptr;
    int leaves = 0;

    LeaveCountingWindow(int x, int y, int width, int height)
        : window(kWindowClass, CountingProcedure, {x, y, x + width, y + height}, WS_EX_TOPMOST),
          dc(GetDC(window.Handle()))
    {
        SetWindowLongPtrW(window.Handle(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&leaves));
    }
    ~LeaveCountingWindow() { ReleaseDC(window.Handle(), dc); }
    HWND Handle() const { return window.Handle(); }

    // Waits for count leaves, then a while longer to catch any extra one.
    int LeavesAfterWaitingFor(int count) const
    {
        for (int round = 0; round < 40 && leaves < count; ++round)
            PumpMessagesFor(50);
        PumpMessagesFor(300);
        return leaves;
    }
};

} // namespace

TEST_CASE("themed drawing, and a stale theme reopened while styles are active")
{
    LeaveCountingWindow window(10, 10, 100, 100);
    VisualStyle style;
    REQUIRE(style.Open(window.Handle(), L"TREEVIEW") == 1);
    CHECK(style.DrawBackground(window.dc, TVP_GLYPH, GLPS_CLOSED, &kGlyphRect) == 1);

    VisualStyleTestAccess::MakeThemeStale(style);
    CHECK(style.DrawBackground(window.dc, TVP_GLYPH, GLPS_OPENED, &kGlyphRect) == 1);
    CHECK(style.Theme() != nullptr);

    SUBCASE("with visual styles switched off the caller draws classic")
    {
        VisualStyleTestAccess::MakeThemeStale(style);
        VisualStyleTestAccess::SwitchStylesOff(style);
        CHECK(style.DrawBackground(window.dc, TVP_GLYPH, GLPS_OPENED, &kGlyphRect) == 0);
    }
    SUBCASE("closed, nothing draws")
    {
        style.Close();
        CHECK(style.DrawBackground(window.dc, TVP_GLYPH, GLPS_CLOSED, &kGlyphRect) == 0);
        CHECK(style.SetWindowTheme(window.Handle(), nullptr, nullptr) == 0);
    }
}

TEST_CASE("classic paths without a theme")
{
    LeaveCountingWindow window(10, 10, 100, 100);
    // A null class list is only a gateway; an unknown one opens no theme.
    for (const wchar_t* classList : {static_cast<const wchar_t*>(nullptr), L"NoSuchThemeClass"}) {
        VisualStyle style;
        CHECK(style.Open(window.Handle(), classList) == (classList ? 0 : 1));
        CHECK(style.Theme() == nullptr);
        RECT textRect = {0, 0, 64, 20};
        CHECK(style.DrawText(window.dc, {TVP_TREEITEM, TREIS_NORMAL, 0, 0}, L"Item", -1,
                             &textRect) == 0);

        // Painting without a theme neither asks about styles nor reloads the library.
        VisualStyleTestAccess::CountStyleQuestions(style);
        for (int paint = 0; paint < 3; ++paint)
            CHECK(style.DrawBackground(window.dc, TVP_GLYPH, GLPS_CLOSED, &kGlyphRect) == 0);
        CHECK(VisualStyleTestAccess::styleQuestions == 0);
        CHECK(VisualStyleTestAccess::KeepsEntryPoints(style));
    }
}

TEST_CASE("mouse leave emulated by a timer: exactly one message per Track")
{
    LeaveCountingWindow window(100, 100, 200, 150);
    MouseLeaveTracker tracker;
    MouseLeaveTrackerTestAccess::RemoveTrackMouseEvent(tracker);

    SUBCASE("tracking twice before the leave still gives one")
    {
        REQUIRE(SetCursorPos(600, 500));
        REQUIRE(tracker.Track(window.Handle()) == 1);
        CHECK(window.LeavesAfterWaitingFor(1) == 1);
        REQUIRE(tracker.Track(window.Handle()) == 1);
        REQUIRE(tracker.Track(window.Handle()) == 1);
        CHECK(window.LeavesAfterWaitingFor(2) == 2);
    }
    SUBCASE("a window overlapping the control counts as leaving")
    {
        REQUIRE(SetCursorPos(150, 150));
        REQUIRE(tracker.Track(window.Handle()) == 1);
        PumpMessagesFor(350);
        CHECK(window.leaves == 0); // none while the cursor stays
        LeaveCountingWindow cover(120, 120, 60, 60);
        CHECK(window.LeavesAfterWaitingFor(1) == 1);
        CHECK(cover.leaves == 0);
    }
    SUBCASE("destroying a tracker stops its timer")
    {
        {
            MouseLeaveTracker shortLived;
            MouseLeaveTrackerTestAccess::RemoveTrackMouseEvent(shortLived);
            REQUIRE(SetCursorPos(600, 500));
            REQUIRE(shortLived.Track(window.Handle()) == 1);
        }
        PumpMessagesFor(300);
        CHECK(window.leaves == 0);
    }
    SUBCASE("a tick taken from the queue before its tracker went reaches nothing")
    {
        LeaveCountingWindow decoy(700, 10, 50, 50);
        alignas(MouseLeaveTracker) unsigned char storage[sizeof(MouseLeaveTracker)];
        auto* doomed = new (storage) MouseLeaveTracker;
        MouseLeaveTrackerTestAccess::RemoveTrackMouseEvent(*doomed);
        REQUIRE(SetCursorPos(150, 150));
        REQUIRE(doomed->Track(window.Handle()) == 1);
        MSG tick = {};
        for (int wait = 0; wait < 100; ++wait, Sleep(10))
            if (PeekMessageW(&tick, window.Handle(), WM_TIMER, WM_TIMER, PM_REMOVE))
                break;
        REQUIRE(tick.message == WM_TIMER);
        doomed->~MouseLeaveTracker();
        // The freed memory now reads as a tracker of another window.
        const HWND decoyHandle = decoy.Handle();
        for (size_t at = 0; at + sizeof(HWND) <= sizeof(storage); at += sizeof(HWND))
            memcpy(storage + at, &decoyHandle, sizeof(HWND));
        DispatchMessageW(&tick);
        PumpMessagesFor(200);
        CHECK(decoy.leaves == 0);
        CHECK(window.leaves == 0);
    }
}
