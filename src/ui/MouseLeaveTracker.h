#pragma once

#include <windows.h>

#include "base/DynamicLibrary.h"

// Tells a control when the mouse has left it with one WM_MOUSELEAVE per
// Track call. Uses TrackMouseEvent where it exists and otherwise watches the
// cursor with a 100 ms timer on the window. Belongs to the window's thread.
class MouseLeaveTracker
{
public:
    MouseLeaveTracker();
    ~MouseLeaveTracker();
    MouseLeaveTracker(const MouseLeaveTracker&) = delete;
    MouseLeaveTracker& operator=(const MouseLeaveTracker&) = delete;

    int Track(HWND window);

private:
    friend struct MouseLeaveTrackerTestAccess;

    using TrackMouseEventFunction = decltype(&::TrackMouseEvent);

    static void CALLBACK OnTimer(HWND window, UINT message, UINT_PTR id, DWORD time);
    // The tracker whose emulation timer this is, among those running on
    // this thread; null when it has gone (a tick may still be on its way).
    static MouseLeaveTracker* RunningTracker(HWND window, UINT_PTR id);
    int StartEmulation(HWND window);
    void StopEmulation();
    void CheckCursor();

    DynamicLibrary library_;
    TrackMouseEventFunction track_ = nullptr;
    HWND tracked_ = nullptr;
    RECT trackedRect_ = {};
    UINT_PTR timerId_ = 0;
    // The next tracker running an emulation on this thread.
    MouseLeaveTracker* nextRunning_ = nullptr;
};
