#pragma once
// Reading a chart's picture back: the window's pixels copied into a
// bitmap, and where a line's colour shows in them.

#include <windows.h>

#include <cstdlib>
#include <memory>

#include "MessagePump.h"
#include "OffscreenCanvas.h"
#include "base/ScopedHandle.h"

// Sum of the channel differences.
inline int ColorDistance(COLORREF a, COLORREF b)
{
    return std::abs(GetRValue(a) - GetRValue(b)) + std::abs(GetGValue(a) - GetGValue(b)) +
           std::abs(GetBValue(a) - GetBValue(b));
}

// The window's client area as it is on screen, after a repaint of all of
// it, or as it is now.
class WindowPicture
{
public:
    enum Moment
    {
        kRepainted,
        kAsItIs
    };

    explicit WindowPicture(HWND window, Moment moment = kRepainted)
    {
        if (moment == kRepainted) {
            RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
            PumpMessagesFor(30);
        }
        RECT client = {};
        GetClientRect(window, &client);
        width_ = client.right;
        height_ = client.bottom;
        canvas_ = std::make_unique<OffscreenCanvas>(width_, height_);
        WindowDc dc(window);
        BitBlt(canvas_->Dc(), 0, 0, width_, height_, dc.Get(), 0, 0, SRCCOPY);
    }

    COLORREF Pixel(int x, int y) const { return canvas_->Pixel(x, y); }
    // The number of pixels in which two pictures of one size differ.
    int DifferingPixels(const WindowPicture& other) const
    {
        int differing = 0;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                differing += Pixel(x, y) != other.Pixel(x, y) ? 1 : 0;
        return differing;
    }

    // The row between top and bottom (exclusive) in column x whose colour
    // is nearest the given one, with that distance; -1 for no rows.
    int NearestRow(int x, int top, int bottom, COLORREF color, int* distance = nullptr) const
    {
        int best = -1;
        int bestDistance = 0;
        for (int y = top; y < bottom; ++y) {
            const int own = ColorDistance(Pixel(x, y), color);
            if (best < 0 || own < bestDistance) {
                best = y;
                bestDistance = own;
            }
        }
        if (distance)
            *distance = bestDistance;
        return best;
    }

    // Pixels of the area within tolerance of the colour.
    int CountNear(const RECT& area, COLORREF color, int tolerance) const
    {
        int count = 0;
        for (int y = area.top; y < area.bottom; ++y) {
            for (int x = area.left; x < area.right; ++x)
                count += ColorDistance(Pixel(x, y), color) <= tolerance ? 1 : 0;
        }
        return count;
    }

    // Rows of column x within tolerance of the colour.
    int RowsNear(int x, int top, int bottom, COLORREF color, int tolerance) const
    {
        const RECT column = {x, top, x + 1, bottom};
        return CountNear(column, color, tolerance);
    }

private:
    std::unique_ptr<OffscreenCanvas> canvas_;
    int width_ = 0;
    int height_ = 0;
};
