#include "ui/GdiPlusLines.h"

#include "ui/GdiHelpers.h"

#include "base/ScopedHandle.h"

namespace {

constexpr int kOk = 0;
constexpr int kSmoothingAntiAlias = 4;
// Pixel centres at half coordinates, as GDI has them, so that a line
// drawn at y + 0.5 covers row y.
constexpr int kPixelOffsetHalf = 4;
constexpr int kCombineReplace = 0;
constexpr int kUnitPixel = 2;
constexpr int kLineJoinRound = 2;

DWORD OpaqueArgb(COLORREF color)
{
    return 0xFF000000u | (static_cast<DWORD>(GetRValue(color)) << 16) |
           (static_cast<DWORD>(GetGValue(color)) << 8) | GetBValue(color);
}

} // namespace

GdiPlusLines::~GdiPlusLines()
{
    End();
    if (token_) {
        shutdown_(token_);
    }
}

int GdiPlusLines::Start()
{
    if (tried_) {
        return IsReady();
    }
    tried_ = true;
    if (!library_.Load(L"gdiplus.dll")) {
        return 0;
    }
    startup_ = library_.Symbol<decltype(startup_)>("GdiplusStartup");
    shutdown_ = library_.Symbol<decltype(shutdown_)>("GdiplusShutdown");
    createFromHdc_ = library_.Symbol<decltype(createFromHdc_)>("GdipCreateFromHDC");
    deleteGraphics_ = library_.Symbol<decltype(deleteGraphics_)>("GdipDeleteGraphics");
    setSmoothingMode_ = library_.Symbol<decltype(setSmoothingMode_)>("GdipSetSmoothingMode");
    setPixelOffsetMode_ = library_.Symbol<decltype(setPixelOffsetMode_)>("GdipSetPixelOffsetMode");
    setClipRect_ = library_.Symbol<decltype(setClipRect_)>("GdipSetClipRectI");
    createPen_ = library_.Symbol<decltype(createPen_)>("GdipCreatePen1");
    setPenLineJoin_ = library_.Symbol<decltype(setPenLineJoin_)>("GdipSetPenLineJoin");
    deletePen_ = library_.Symbol<decltype(deletePen_)>("GdipDeletePen");
    drawLines_ = library_.Symbol<decltype(drawLines_)>("GdipDrawLines");
    if (!startup_ || !shutdown_ || !createFromHdc_ || !deleteGraphics_ || !setSmoothingMode_ ||
        !setPixelOffsetMode_ || !setClipRect_ || !createPen_ || !setPenLineJoin_ || !deletePen_ ||
        !drawLines_) {
        return 0;
    }
    // The background thread GDI+ would start is not needed for drawing.
    const StartupInput input = {1, nullptr, FALSE, TRUE};
    ULONG_PTR token = 0;
    if (startup_(&token, &input, nullptr) != kOk) {
        return 0;
    }
    token_ = token;
    if (!BlendsEdges()) {
        shutdown_(token_);
        token_ = 0;
        return 0;
    }
    return 1;
}

bool GdiPlusLines::BlendsEdges()
{
    constexpr int kSide = 32;
    void* bits = nullptr;
    ScopedBitmap bitmap(MakeDibSection(kSide, kSide, &bits));
    ScopedCreatedDc dc(CreateCompatibleDC(nullptr));
    if (!bitmap || !dc || !bits) {
        return false;
    }
    const HGDIOBJ old = SelectObject(dc.Get(), bitmap.Get());
    const RECT all = {0, 0, kSide, kSide};
    FillRect(dc.Get(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const Point line[] = {{1.0f, 1.3f}, {31.0f, 12.7f}};
    if (Begin(dc.Get(), all)) {
        Draw(line, 2, RGB(0, 0, 0), 1.0f);
        End();
    }
    GdiFlush();
    bool blended = false;
    const auto* pixels = static_cast<const DWORD*>(bits);
    for (int index = 0; index < kSide * kSide && !blended; ++index) {
        const DWORD color = pixels[index] & 0xFFFFFF;
        blended = color != 0xFFFFFF && color != 0;
    }
    SelectObject(dc.Get(), old);
    return blended;
}

int GdiPlusLines::Begin(HDC dc, const RECT& clip)
{
    End();
    if (!token_ || createFromHdc_(dc, &graphics_) != kOk) {
        graphics_ = nullptr;
        return 0;
    }
    setSmoothingMode_(graphics_, kSmoothingAntiAlias);
    setPixelOffsetMode_(graphics_, kPixelOffsetHalf);
    setClipRect_(graphics_, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top,
                 kCombineReplace);
    return 1;
}

int GdiPlusLines::Draw(const Point* points, int count, COLORREF color, float width)
{
    if (!graphics_ || count < 2) {
        return 0;
    }
    Pen* pen = nullptr;
    if (createPen_(OpaqueArgb(color), width, kUnitPixel, &pen) != kOk) {
        return 0;
    }
    setPenLineJoin_(pen, kLineJoinRound);
    const int drawn = drawLines_(graphics_, pen, points, count) == kOk;
    deletePen_(pen);
    return drawn;
}

void GdiPlusLines::End()
{
    if (graphics_) {
        deleteGraphics_(graphics_);
        graphics_ = nullptr;
    }
}
