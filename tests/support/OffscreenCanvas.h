#pragma once
// A bitmap in the screen's format to draw into and read back pixel by pixel.

#include <windows.h>

#include "base/ScopedHandle.h"

class OffscreenCanvas
{
public:
    OffscreenCanvas(int width, int height)
    {
        ScreenDc screen;
        dc_.Reset(CreateCompatibleDC(screen.Get()));
        bitmap_.Reset(CreateCompatibleBitmap(screen.Get(), width, height));
        old_ = SelectObject(dc_.Get(), bitmap_.Get());
    }
    // The bitmap leaves the context before either is deleted.
    ~OffscreenCanvas() { SelectObject(dc_.Get(), old_); }
    OffscreenCanvas(const OffscreenCanvas&) = delete;
    OffscreenCanvas& operator=(const OffscreenCanvas&) = delete;

    HDC Dc() const { return dc_.Get(); }
    COLORREF Pixel(int x, int y) const { return GetPixel(dc_.Get(), x, y); }

private:
    ScopedCreatedDc dc_;
    ScopedBitmap bitmap_;
    HGDIOBJ old_ = nullptr;
};
