#include "ui/MouseLeaveTracker.h"

MouseLeaveTracker::MouseLeaveTracker()
{
    if (library_.Load(L"user32.dll")) {
        track_ = library_.Symbol<TrackMouseEventFunction>("TrackMouseEvent");
    }
}

MouseLeaveTracker::~MouseLeaveTracker()
{
    StopEmulation();
}

int MouseLeaveTracker::Track(HWND window)
{
    if (track_) {
        TRACKMOUSEEVENT request;
        ZeroMemory(&request, sizeof(request));
        request.cbSize = sizeof(request);
        request.dwFlags = TME_LEAVE;
        request.hwndTrack = window;
        request.dwHoverTime = HOVER_DEFAULT;
        return track_(&request) ? 1 : 0;
    }
    return StartEmulation(window);
}

int MouseLeaveTracker::StartEmulation(HWND window)
{
    StopEmulation();
    // The timer id is this tracker's address: unique among trackers, and it
    // leads the timer procedure back to the tracker.
    if (!SetTimer(window, TimerId(), 100, OnTimer)) {
        return 0;
    }
    tracked_ = window;
    if (!GetWindowRect(window, &trackedRect_)) {
        StopEmulation();
        return 0;
    }
    return 1;
}

void MouseLeaveTracker::StopEmulation()
{
    if (tracked_) {
        KillTimer(tracked_, TimerId());
        tracked_ = nullptr;
    }
}

void CALLBACK MouseLeaveTracker::OnTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    reinterpret_cast<MouseLeaveTracker*>(id)->CheckCursor();
}

void MouseLeaveTracker::CheckCursor()
{
    if (!tracked_) {
        return;
    }
    POINT cursor;
    if (!GetCursorPos(&cursor)) {
        return;
    }
    // A window overlapping the control counts as outside, as with
    // TrackMouseEvent.
    if (PtInRect(&trackedRect_, cursor) && WindowFromPoint(cursor) == tracked_) {
        return;
    }
    HWND window = tracked_;
    StopEmulation();
    PostMessageW(window, WM_MOUSELEAVE, 0, 0);
}
