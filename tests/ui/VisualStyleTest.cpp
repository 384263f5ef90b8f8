#include <doctest.h>

#include <vssym32.h>

#include "ui/VisualStyle.h"

// Simulates what a theme change or a user switching visual styles off does
// to an open style, which a test cannot do to the whole session.
struct VisualStyleTestAccess
{
    static void MakeThemeStale(VisualStyle& style)
    {
        style.closeThemeData_(style.theme_);
        style.theme_ = nullptr;
    }
    static void SwitchStylesOff(VisualStyle& style) { style.isThemeActive_ = &StylesOff; }
    static BOOL WINAPI StylesOff() { return FALSE; }
};

// Forces the timer emulation used where TrackMouseEvent is missing.
struct MouseLeaveTrackerTestAccess
{
    static void RemoveTrackMouseEvent(MouseLeaveTracker& tracker) { tracker.track_ = nullptr; }
};

namespace {

const wchar_t kWindowClass[] = L"TesselVisualStyleTestWindow";

LRESULT CALLBACK CountingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_MOUSELEAVE) {
        int* leaves = reinterpret_cast<int*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (leaves) {
            ++*leaves;
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterTestClass()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = CountingProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);
}

// A shown top-level window that counts its WM_MOUSELEAVE messages.
class TestWindow
{
public:
    TestWindow(int x, int y, int width, int height)
    {
        RegisterTestClass();
        window_ =
            CreateWindowExW(WS_EX_TOPMOST, kWindowClass, L"test", WS_POPUP | WS_VISIBLE, x, y,
                            width, height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&leaves_));
        UpdateWindow(window_);
    }
    ~TestWindow() { DestroyWindow(window_); }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND Handle() const { return window_; }
    int Leaves() const { return leaves_; }

private:
    HWND window_ = nullptr;
    int leaves_ = 0;
};

// Dispatches messages for about the given time.
void PumpFor(DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        DWORD spent = GetTickCount() - start;
        if (spent >= milliseconds) {
            return;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - spent, QS_ALLINPUT);
    }
}

// Dispatches messages until the window has seen a leave, or gives up.
void PumpUntilLeave(const TestWindow& window)
{
    for (int round = 0; round < 40 && window.Leaves() == 0; ++round) {
        PumpFor(50);
    }
}

// A 32-bit memory bitmap to draw into.
class Canvas
{
public:
    Canvas()
    {
        HDC screen = GetDC(nullptr);
        dc_ = CreateCompatibleDC(screen);
        bitmap_ = CreateCompatibleBitmap(screen, 64, 64);
        ReleaseDC(nullptr, screen);
        previous_ = SelectObject(dc_, bitmap_);
    }
    ~Canvas()
    {
        SelectObject(dc_, previous_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    HDC Dc() const { return dc_; }

private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};

const RECT kGlyphRect = {0, 0, 16, 16};

} // namespace

TEST_CASE("themed drawing with an open theme")
{
    TestWindow window(10, 10, 100, 100);
    Canvas canvas;
    VisualStyle style;
    REQUIRE(style.Open(window.Handle(), L"TREEVIEW") == 1);
    CHECK(style.Theme() != nullptr);
    CHECK(style.DrawBackground(canvas.Dc(), TVP_GLYPH, GLPS_CLOSED, &kGlyphRect) == 1);
    RECT textRect = {0, 0, 64, 20};
    CHECK(style.DrawText(canvas.Dc(), TVP_TREEITEM, TREIS_NORMAL, L"Item", -1, DT_LEFT, 0,
                         &textRect) == 1);
    CHECK(style.SetWindowTheme(window.Handle(), L"Explorer", nullptr) == 1);
    style.IsBackgroundPartiallyTransparent(TVP_GLYPH, GLPS_CLOSED);

    style.Close();
    CHECK(style.Theme() == nullptr);
    CHECK(style.DrawBackground(canvas.Dc(), TVP_GLYPH, GLPS_CLOSED, &kGlyphRect) == 0);
    CHECK(style.SetWindowTheme(window.Handle(), nullptr, nullptr) == 0);
}

TEST_CASE("a stale theme is reopened once while styles are active")
{
    TestWindow window(10, 10, 100, 100);
    Canvas canvas;
    VisualStyle style;
    REQUIRE(style.Open(window.Handle(), L"TREEVIEW") == 1);

    VisualStyleTestAccess::MakeThemeStale(style);
    CHECK(style.DrawBackground(canvas.Dc(), TVP_GLYPH, GLPS_OPENED, &kGlyphRect) == 1);
    CHECK(style.Theme() != nullptr);
    CHECK(style.Window() == window.Handle());

    SUBCASE("with visual styles switched off the caller draws classic")
    {
        VisualStyleTestAccess::MakeThemeStale(style);
        VisualStyleTestAccess::SwitchStylesOff(style);
        CHECK(style.DrawBackground(canvas.Dc(), TVP_GLYPH, GLPS_OPENED, &kGlyphRect) == 0);
        CHECK(style.Theme() == nullptr);
    }
}

TEST_CASE("classic paths without a theme")
{
    TestWindow window(10, 10, 100, 100);
    Canvas canvas;
    VisualStyle style;

    SUBCASE("never opened")
    {
        CHECK(style.DrawBackground(canvas.Dc(), TVP_GLYPH, GLPS_CLOSED, &kGlyphRect) == 0);
        CHECK(style.HasWindowTheme() == 0);
    }
    SUBCASE("a null class list is only a gateway")
    {
        CHECK(style.Open(window.Handle(), nullptr) == 1);
        CHECK(style.Theme() == nullptr);
        CHECK(style.DrawBackground(canvas.Dc(), TVP_GLYPH, GLPS_CLOSED, &kGlyphRect) == 0);
        RECT textRect = {0, 0, 64, 20};
        CHECK(style.DrawText(canvas.Dc(), TVP_TREEITEM, TREIS_NORMAL, L"Item", -1, 0, 0,
                             &textRect) == 0);
        CHECK(style.IsBackgroundPartiallyTransparent(TVP_GLYPH, GLPS_CLOSED) == 0);
        CHECK(style.SetWindowTheme(window.Handle(), L"", L"") == 1);
    }
    SUBCASE("a class list without a theme")
    {
        CHECK(style.Open(window.Handle(), L"NoSuchThemeClassAtAll") == 0);
        CHECK(style.Theme() == nullptr);
        CHECK(style.DrawBackground(canvas.Dc(), TVP_GLYPH, GLPS_CLOSED, &kGlyphRect) == 0);
        CHECK(style.SetWindowTheme(window.Handle(), L"", L"") == 1);
    }
}

TEST_CASE("mouse leave emulated by a timer")
{
    TestWindow window(100, 100, 200, 150);
    MouseLeaveTracker tracker;
    MouseLeaveTrackerTestAccess::RemoveTrackMouseEvent(tracker);

    SUBCASE("one message when the cursor leaves, none while it stays")
    {
        REQUIRE(SetCursorPos(150, 150));
        REQUIRE(tracker.Track(window.Handle()) == 1);
        PumpFor(350);
        CHECK(window.Leaves() == 0);
        REQUIRE(SetCursorPos(600, 500));
        PumpUntilLeave(window);
        PumpFor(300);
        CHECK(window.Leaves() == 1);
    }
    SUBCASE("each Track gives exactly one message")
    {
        REQUIRE(SetCursorPos(600, 500));
        REQUIRE(tracker.Track(window.Handle()) == 1);
        PumpUntilLeave(window);
        PumpFor(300);
        CHECK(window.Leaves() == 1);
        REQUIRE(tracker.Track(window.Handle()) == 1);
        REQUIRE(tracker.Track(window.Handle()) == 1);
        for (int round = 0; round < 40 && window.Leaves() < 2; ++round) {
            PumpFor(50);
        }
        PumpFor(300);
        CHECK(window.Leaves() == 2);
    }
    SUBCASE("a window overlapping the control counts as leaving")
    {
        REQUIRE(SetCursorPos(150, 150));
        REQUIRE(tracker.Track(window.Handle()) == 1);
        PumpFor(250);
        CHECK(window.Leaves() == 0);
        TestWindow cover(120, 120, 60, 60);
        PumpUntilLeave(window);
        PumpFor(300);
        CHECK(window.Leaves() == 1);
        CHECK(cover.Leaves() == 0);
    }
}

TEST_CASE("destroying a tracker stops its timer")
{
    TestWindow window(100, 100, 200, 150);
    {
        MouseLeaveTracker tracker;
        MouseLeaveTrackerTestAccess::RemoveTrackMouseEvent(tracker);
        REQUIRE(SetCursorPos(600, 500));
        REQUIRE(tracker.Track(window.Handle()) == 1);
    }
    PumpFor(300);
    CHECK(window.Leaves() == 0);
}
