#include "ui/GdiHelpers.h"

#include <utility>

namespace {

int CALLBACK StopAtFirstFamily(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found)
{
    *reinterpret_cast<int*>(found) = 1;
    return 0;
}

} // namespace

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
