#include "ui/MouseLeaveTracker.h"

namespace {

volatile LONG gLastTimerId = 0;
// The trackers whose emulation timers run on this thread.
thread_local MouseLeaveTracker* tRunningTrackers = nullptr;

} // namespace

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
    // Ids are never handed out twice, so a tick of a tracker that has gone
    // cannot be taken for one of a tracker that came later.
    const UINT_PTR id = static_cast<UINT_PTR>(InterlockedIncrement(&gLastTimerId));
    if (!SetTimer(window, id, 100, OnTimer)) {
        return 0;
    }
    tracked_ = window;
    timerId_ = id;
    nextRunning_ = tRunningTrackers;
    tRunningTrackers = this;
    if (!GetWindowRect(window, &trackedRect_)) {
        StopEmulation();
        return 0;
    }
    return 1;
}

void MouseLeaveTracker::StopEmulation()
{
    if (!tracked_) {
        return;
    }
    KillTimer(tracked_, timerId_);
    for (MouseLeaveTracker** link = &tRunningTrackers; *link; link = &(*link)->nextRunning_) {
        if (*link == this) {
            *link = nextRunning_;
            break;
        }
    }
    nextRunning_ = nullptr;
    tracked_ = nullptr;
}

MouseLeaveTracker* MouseLeaveTracker::RunningTracker(HWND window, UINT_PTR id)
{
    for (MouseLeaveTracker* tracker = tRunningTrackers; tracker; tracker = tracker->nextRunning_) {
        if (tracker->timerId_ == id && tracker->tracked_ == window) {
            return tracker;
        }
    }
    return nullptr;
}

void CALLBACK MouseLeaveTracker::OnTimer(HWND window, UINT, UINT_PTR id, DWORD)
{
    if (MouseLeaveTracker* tracker = RunningTracker(window, id)) {
        tracker->CheckCursor();
    } else {
        KillTimer(window, id);
    }
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
