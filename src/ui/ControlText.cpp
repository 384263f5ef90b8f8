#include "ui/ControlText.h"

#include "base/ScopedHandle.h"

SIZE MeasureControlText(HWND control, HFONT font, const wchar_t* text, size_t length)
{
    SIZE extent = {};
    WindowDc dc(control);
    if (!dc.Get()) {
        return extent;
    }
    SavedDcState saved(dc.Get());
    if (font) {
        SelectObject(dc.Get(), font);
    }
    SIZE measured = {};
    if (GetTextExtentPoint32W(dc.Get(), text, static_cast<int>(length), &measured)) {
        extent = measured;
    }
    return extent;
}

void InvalidateControl(HWND control, bool throughParent, BOOL eraseParent)
{
    if (!control) {
        return;
    }
    HWND parent = GetParent(control);
    if (throughParent && parent) {
        RECT rect;
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
        InvalidateRect(parent, &rect, eraseParent);
    } else {
        InvalidateRect(control, nullptr, FALSE);
    }
}
