#pragma once

// How many GDI and USER objects this process holds, to show that repeated
// work leaks none.

#include <windows.h>

namespace gui_objects {

struct Counts
{
    DWORD gdi = 0;
    DWORD user = 0;
};

inline bool IsIcon(HANDLE handle)
{
    ICONINFO info = {};
    if (!GetIconInfo(static_cast<HICON>(handle), &info))
        return false;
    if (info.hbmMask)
        DeleteObject(info.hbmMask);
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    return true;
}

inline BOOL CALLBACK CountWindow(HWND, LPARAM counted)
{
    ++*reinterpret_cast<DWORD*>(counted);
    return TRUE;
}

inline BOOL CALLBACK CountOwnWindows(HWND window, LPARAM counted)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) {
        CountWindow(window, counted);
        EnumChildWindows(window, CountWindow, counted);
    }
    return TRUE;
}

// GetGuiResources where the system keeps the counts. Wine does not (it
// answers 0) but finds a GDI object, menu or icon by the low word of its
// handle alone, so there every such value is asked what it is (each icon
// asked lends two bitmaps for a moment), and the windows are counted by
// walking them.
inline Counts Count()
{
    Counts counts;
    counts.gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    counts.user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    if (counts.gdi && counts.user)
        return counts;
    counts = Counts();
    for (ULONG_PTR value = 1; value < 0x10000; ++value)
        counts.gdi += GetObjectType(reinterpret_cast<HGDIOBJ>(value)) ? 1 : 0;
    for (ULONG_PTR value = 1; value < 0x10000; ++value) {
        HANDLE handle = reinterpret_cast<HANDLE>(value);
        counts.user += IsMenu(static_cast<HMENU>(handle)) || IsIcon(handle) ? 1 : 0;
    }
    EnumWindows(CountOwnWindows, reinterpret_cast<LPARAM>(&counts.user));
    return counts;
}

} // namespace gui_objects
