#pragma once

#include <windows.h>

#include "MessagePump.h"

// Real mouse input through the system, so hit testing and capture run as for
// a user.
inline void Mouse(DWORD flags)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof(input));
    PumpMessagesFor(150);
}

// Puts the cursor on a point of the window's client area.
inline void MoveMouse(HWND window, int x, int y)
{
    POINT point = {x, y};
    ClientToScreen(window, &point);
    SetCursorPos(point.x, point.y);
    Mouse(MOUSEEVENTF_MOVE);
}
