#include "ui/GdiHelpers.h"

#include <utility>

namespace {

int CALLBACK StopAtFirstFamily(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found)
{
    *reinterpret_cast<int*>(found) = 1;
    return 0;
}

} // namespace

HBITMAP MakeDibSection(int width, int height, void** bits)
{
    if (width <= 0 || height <= 0) {
        return nullptr;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (bitmap && bits) {
        *bits = pixels;
    }
    return bitmap;
}

void FillSolid(HDC dc, const RECT& rect, COLORREF color)
{
    const COLORREF previous = SetBkColor(dc, color);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
    SetBkColor(dc, previous);
}

int FontFamilyExists(const wchar_t* face, BYTE charSet, HDC dc)
{
    if (!face) {
        return 0;
    }
    if (!dc) {
        ScreenDc screen;
        return screen.Get() ? FontFamilyExists(face, charSet, screen.Get()) : 0;
    }
    LOGFONTW font;
    ZeroMemory(&font, sizeof(font));
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    font.lfCharSet = charSet;
    font.lfPitchAndFamily = 0;

    int found = 0;
    EnumFontFamiliesExW(dc, &font, StopAtFirstFamily, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

int SolidBrush::Create(COLORREF colour)
{
    ScopedBrush brush(CreateSolidBrush(colour));
    if (!brush) {
        return 0;
    }
    brush_ = std::move(brush);
    colour_ = colour;
    return 1;
}

HBRUSH SolidBrush::ForControl(HDC dc)
{
    SetBkColor(dc, colour_);
    return brush_.Get();
}

void SolidBrush::Delete()
{
    brush_.Reset();
}
