#pragma once

#include <windows.h>

#include "base/ScopedHandle.h"

// 1 when a font family of that face (at most 31 characters) and character
// set is installed; dc may be null for the screen.
int FontFamilyExists(const wchar_t* face, BYTE charSet, HDC dc);

// A top-down 32-bit DIB section of that size, or null; bits, when given,
// receives its pixels (rows of width colours, each 0x00RRGGBB).
HBITMAP MakeDibSection(int width, int height, void** bits = nullptr);

// Fills the rectangle with one colour without a brush (ExtTextOut with
// ETO_OPAQUE); the DC's background colour is left as it was.
void FillSolid(HDC dc, const RECT& rect, COLORREF color);

// A solid brush for coloured control backgrounds.
class SolidBrush
{
public:
    SolidBrush() = default;
    SolidBrush(const SolidBrush&) = delete;
    SolidBrush& operator=(const SolidBrush&) = delete;

    int Create(COLORREF colour);
    // Sets the context's background colour and answers the brush, as
    // WM_CTLCOLORSTATIC wants it.
    HBRUSH ForControl(HDC dc);
    void Delete();
    HBRUSH Handle() const { return brush_.Get(); }
    COLORREF Colour() const { return colour_; }

private:
    ScopedBrush brush_;
    COLORREF colour_ = 0;
};
