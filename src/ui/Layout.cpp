#include "ui/Layout.h"

#include <stdio.h>
#include <vssym32.h>
#include <windowsx.h>

#include "base/DynamicLibrary.h"
#include "base/WideString.h"
#include "ui/Dpi.h"

namespace {

// Distance of a rescued window from the work area's top-left corner.
constexpr int kWorkAreaInset = 10;

int Width(const RECT& rect)
{
    return rect.right - rect.left;
}
int Height(const RECT& rect)
{
    return rect.bottom - rect.top;
}

// One edge of an anchored control along one axis.
int AnchoredEdge(int edge, int delta, int reference, int size, bool move, bool scale)
{
    if (move) {
        return edge + delta;
    }
    // A reference of zero (a parent recorded while it had no client area)
    // has no proportion to keep.
    if (scale && reference != 0) {
        return static_cast<int>(static_cast<double>(edge) / reference * size);
    }
    return edge;
}

RECT OffsetTo(const RECT& rect, LONG left, LONG top)
{
    RECT moved = {left, top, left + Width(rect), top + Height(rect)};
    return moved;
}

} // namespace

ControlBox AnchoredBox(unsigned flags, const RECT& control, const RECT& reference, int width,
                       int height)
{
    int deltaX = width - Width(reference);
    int deltaY = height - Height(reference);
    ControlBox box;
    box.x = AnchoredEdge(control.left, deltaX, Width(reference), width,
                         (flags & ANCHOR_MOVE_X) != 0, (flags & ANCHOR_SCALE_X) != 0);
    box.y = AnchoredEdge(control.top, deltaY, Height(reference), height,
                         (flags & ANCHOR_MOVE_Y) != 0, (flags & ANCHOR_SCALE_Y) != 0);
    box.width = Width(control) + ((flags & ANCHOR_SIZE_X) ? deltaX : 0);
    box.height = Height(control) + ((flags & ANCHOR_SIZE_Y) ? deltaY : 0);
    return box;
}

void Anchor::Setup(HWND control, unsigned flags, int designWidth, int designHeight)
{
    flags_ = flags;
    control_ = control;
    parent_ = GetParent(control);

    RECT rect = {};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, parent_, reinterpret_cast<POINT*>(&rect), 2);
    controlRect_ = rect;

    RECT reference = {};
    GetClientRect(parent_, &reference);
    if (designWidth != 0 && designHeight != 0) {
        RECT design = {0, 0, designWidth, designHeight};
        if (MapDialogRect(parent_, &design)) {
            reference = design;
        }
    }
    referenceRect_ = reference;
    recordedControl_ = controlRect_;
    recordedReference_ = referenceRect_;
    recordedDpi_ = WindowDpi(parent_);
}

void Anchor::SetDpi(int dpi)
{
    controlRect_ = RescaleRectForDpi(recordedControl_, recordedDpi_, dpi);
    referenceRect_ = RescaleRectForDpi(recordedReference_, recordedDpi_, dpi);
}

void Anchor::Apply(WPARAM, LPARAM lParam)
{
    if (!control_) {
        return;
    }
    ControlBox box =
        AnchoredBox(flags_, controlRect_, referenceRect_, LOWORD(lParam), HIWORD(lParam));
    MoveWindow(control_, box.x, box.y, box.width, box.height, TRUE);
    InvalidateRect(control_, nullptr, TRUE);
}

RECT GripRectangle(const RECT& outer, int width, int height)
{
    RECT grip = {outer.right - width, outer.bottom - height, outer.right, outer.bottom};
    return grip;
}

POINT HitTestPoint(LPARAM lParam)
{
    POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    return point;
}

LRESULT GripHitCode(LRESULT defaultCode, int maximised, const RECT& windowRect, POINT cursor,
                    int gripWidth, int gripHeight)
{
    if (defaultCode != HTCLIENT || maximised) {
        return defaultCode;
    }
    RECT grip = GripRectangle(windowRect, gripWidth, gripHeight);
    return PtInRect(&grip, cursor) ? HTBOTTOMRIGHT : defaultCode;
}

int SizeGrip::Attach(HWND dialog)
{
    window_ = dialog;
    dpi_ = WindowDpi(dialog);
    SetRectEmpty(&gripRect_);
    return style_.Open(dialog, L"status", dpi_);
}

void SizeGrip::SetDpi(int dpi)
{
    if (dpi <= 0 || dpi == dpi_) {
        return;
    }
    dpi_ = dpi;
    ThemeChanged();
}

void SizeGrip::ThemeChanged()
{
    if (window_) {
        style_.Open(window_, L"status", dpi_);
        InvalidateGrip();
    }
}

SIZE SizeGrip::GripSize() const
{
    SIZE size = {MetricForDpi(SM_CXHSCROLL, dpi_), MetricForDpi(SM_CYVSCROLL, dpi_)};
    return size;
}

RECT SizeGrip::CurrentGripRect() const
{
    RECT client = {};
    GetClientRect(window_, &client);
    const SIZE size = GripSize();
    return GripRectangle(client, size.cx, size.cy);
}

int SizeGrip::InvalidateGrip()
{
    if (!window_) {
        return 0;
    }
    // The dialog class does not redraw on resizing, so the corner the grip
    // moves to is invalidated along with the one it leaves.
    RECT current = CurrentGripRect();
    InvalidateRect(window_, &current, FALSE);
    return InvalidateRect(window_, &gripRect_, FALSE) ? 1 : 0;
}

int SizeGrip::Paint()
{
    if (!window_) {
        return 0;
    }
    PAINTSTRUCT paint = {};
    HDC dc = BeginPaint(window_, &paint);
    if (IsZoomed(window_)) {
        SetRectEmpty(&gripRect_);
    } else if (dc) {
        gripRect_ = CurrentGripRect();
        if (!style_.DrawBackground(dc, SP_GRIPPER, 0, &gripRect_)) {
            DrawFrameControl(dc, &gripRect_, DFC_SCROLL, DFCS_SCROLLSIZEGRIP);
        }
    }
    EndPaint(window_, &paint);
    return 1;
}

int SizeGrip::HitTest(WPARAM wParam, LPARAM lParam)
{
    if (!window_) {
        return 0;
    }
    LRESULT code = DefWindowProcW(window_, WM_NCHITTEST, wParam, lParam);
    RECT windowRect = {};
    if (GetWindowRect(window_, &windowRect)) {
        const SIZE size = GripSize();
        code = GripHitCode(code, IsZoomed(window_), windowRect, HitTestPoint(lParam), size.cx,
                           size.cy);
    }
    SetWindowLongPtrW(window_, DWLP_MSGRESULT, code);
    return 1;
}

int FormatPlacement(const SavedPlacement& placement, WideString& text)
{
    return Format(text, L"%d,%i,%i,%i,%i", placement.showCommand,
                  static_cast<int>(placement.normal.left), static_cast<int>(placement.normal.top),
                  static_cast<int>(placement.normal.right),
                  static_cast<int>(placement.normal.bottom));
}

int ParsePlacement(const wchar_t* text, SavedPlacement& placement)
{
    if (!text) {
        return 0;
    }
    int values[5] = {};
    int converted = swscanf(text, L"%d,%i,%i,%i,%i", &values[0], &values[1], &values[2], &values[3],
                            &values[4]);
    // A text without even the show command is not a placement; taking it
    // as all zeros would shrink the window to nothing in the corner.
    if (converted < 1) {
        return 0;
    }
    placement.showCommand = values[0];
    placement.normal = {values[1], values[2], values[3], values[4]};
    return 1;
}

int ShowCommandToSave(int showCommand, int visible, unsigned flags)
{
    if (!visible && !(flags & PLACE_KEEP_SHOW_STATE)) {
        return SW_HIDE;
    }
    return showCommand;
}

int ShowCommandToRestore(int savedShowCommand, unsigned flags)
{
    int show = savedShowCommand;
    if (show == SW_SHOWMINIMIZED && !(flags & PLACE_ALLOW_MINIMIZED)) {
        show = SW_SHOWNORMAL;
    }
    if (show == SW_HIDE && !(flags & PLACE_ALLOW_HIDDEN)) {
        show = SW_SHOWNORMAL;
    }
    if (flags & PLACE_FORCE_HIDDEN) {
        show = SW_HIDE;
    }
    if (flags & PLACE_FORCE_MINNOACTIVE) {
        show = SW_SHOWMINNOACTIVE;
    }
    return show;
}

RECT KeepCurrentParts(const RECT& saved, const RECT& current, unsigned flags)
{
    RECT rect = saved;
    if (flags & PLACE_KEEP_SIZE) {
        rect.right = rect.left + Width(current);
        rect.bottom = rect.top + Height(current);
    }
    if (flags & PLACE_KEEP_POSITION) {
        rect = OffsetTo(rect, current.left, current.top);
    }
    return rect;
}

RECT MoveIntoWorkArea(const RECT& rect, const RECT& workArea)
{
    return OffsetTo(rect, workArea.left + kWorkAreaInset, workArea.top + kWorkAreaInset);
}

RECT WidenedWindow(const RECT& window, int clientWidth, int neededWidth, const RECT& workArea)
{
    if (neededWidth <= clientWidth) {
        return window;
    }
    int width = Width(window) + (neededWidth - clientWidth);
    if (width > Width(workArea)) {
        width = Width(workArea) > Width(window) ? Width(workArea) : Width(window);
    }
    int left = window.left - (width - Width(window)) / 2;
    if (left + width > workArea.right) {
        left = workArea.right - width;
    }
    if (left < workArea.left) {
        left = workArea.left;
    }
    RECT widened = {left, window.top, left + width, window.bottom};
    return widened;
}

int StandardIconSize(int size)
{
    if (size > 48) {
        return 256;
    }
    if (size > 32) {
        return 48;
    }
    if (size > 16) {
        return 32;
    }
    return size;
}

void KeepOnMonitor(RECT& rect, unsigned flags)
{
    DynamicLibrary user32(L"user32.dll");
    auto monitorFromPoint = user32.Symbol<decltype(&::MonitorFromPoint)>("MonitorFromPoint");
    auto getMonitorInfo = user32.Symbol<decltype(&::GetMonitorInfoW)>("GetMonitorInfoW");
    if (!monitorFromPoint) {
        return;
    }
    POINT probe = {rect.left, rect.top};
    if (monitorFromPoint(probe, MONITOR_DEFAULTTONULL)) {
        return;
    }
    if (flags & PLACE_ACCEPT_BOTTOM_RIGHT) {
        probe = {rect.right, rect.bottom};
        if (monitorFromPoint(probe, MONITOR_DEFAULTTONULL)) {
            return;
        }
    }
    HMONITOR nearest = monitorFromPoint(probe, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (!nearest || !getMonitorInfo || !getMonitorInfo(nearest, &info)) {
        return;
    }
    rect = MoveIntoWorkArea(rect, info.rcWork);
}
