#pragma once

#include <windows.h>

#include "base/DynamicLibrary.h"

// Anti-aliased polylines through GDI+'s flat interface, with gdiplus.dll
// loaded from the system folder when first needed. Where it cannot be
// loaded or started, or draws without anti-aliasing (Wine's GDI+ does: it
// strokes through GDI, and a picture of three 600-point lines then took
// 19 ms against 0.8 ms with GDI's one-pixel pens), IsReady answers false
// and the caller draws with GDI.
class GdiPlusLines
{
public:
    struct Point
    {
        float x;
        float y;
    };

    GdiPlusLines() = default;
    ~GdiPlusLines();
    GdiPlusLines(const GdiPlusLines&) = delete;
    GdiPlusLines& operator=(const GdiPlusLines&) = delete;

    // Loads and starts GDI+ once and tries a line; 1 when it is ready.
    int Start();
    bool IsReady() const { return token_ != 0; }

    // Draws on the device context within clip; each polyline in one colour
    // and width. Begin answers 0 when GDI+ cannot draw on the context.
    int Begin(HDC dc, const RECT& clip);
    int Draw(const Point* points, int count, COLORREF color, float width);
    void End();

private:
    // Draws a slanting line into a small bitmap: true when some of its
    // pixels are blends of the line and the background.
    bool BlendsEdges();

    using Status = int;
    using Graphics = void;
    using Pen = void;
    struct StartupInput
    {
        UINT32 version;
        void* debugCallback;
        BOOL suppressBackgroundThread;
        BOOL suppressExternalCodecs;
    };

    DynamicLibrary library_;
    ULONG_PTR token_ = 0;
    bool tried_ = false;
    Graphics* graphics_ = nullptr;

    Status(WINAPI* startup_)(ULONG_PTR*, const StartupInput*, void*) = nullptr;
    void(WINAPI* shutdown_)(ULONG_PTR) = nullptr;
    Status(WINAPI* createFromHdc_)(HDC, Graphics**) = nullptr;
    Status(WINAPI* deleteGraphics_)(Graphics*) = nullptr;
    Status(WINAPI* setSmoothingMode_)(Graphics*, int) = nullptr;
    Status(WINAPI* setPixelOffsetMode_)(Graphics*, int) = nullptr;
    Status(WINAPI* setClipRect_)(Graphics*, INT, INT, INT, INT, int) = nullptr;
    Status(WINAPI* createPen_)(DWORD, float, int, Pen**) = nullptr;
    Status(WINAPI* setPenLineJoin_)(Pen*, int) = nullptr;
    Status(WINAPI* deletePen_)(Pen*) = nullptr;
    Status(WINAPI* drawLines_)(Graphics*, Pen*, const Point*, INT) = nullptr;
};
