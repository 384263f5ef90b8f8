#include "ui/Dpi.h"

#include "base/ScopedHandle.h"

namespace {

// The functions of newer systems, looked up once per call site's need;
// user32 is always loaded, so these lookups cost no loading.
template <typename Function> Function User32Function(const char* name)
{
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
               : nullptr;
}

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFunction = int(WINAPI*)(int, UINT);
using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);

bool IsPlausibleDpi(int dpi)
{
    return dpi >= 48 && dpi <= 960;
}

} // namespace

int ScaleForDpi(int value, int dpi)
{
    return RescaleForDpi(value, kDefaultDpi, dpi);
}

int RescaleForDpi(int value, int fromDpi, int toDpi)
{
    if (fromDpi <= 0 || toDpi <= 0 || fromDpi == toDpi) {
        return value;
    }
    return MulDiv(value, toDpi, fromDpi);
}

RECT RescaleRectForDpi(const RECT& rect, int fromDpi, int toDpi)
{
    RECT scaled = {
        RescaleForDpi(rect.left, fromDpi, toDpi), RescaleForDpi(rect.top, fromDpi, toDpi),
        RescaleForDpi(rect.right, fromDpi, toDpi), RescaleForDpi(rect.bottom, fromDpi, toDpi)};
    return scaled;
}

LONG RescaleFontHeight(LONG height, int fromDpi, int toDpi)
{
    if (height >= 0 || fromDpi <= 0 || toDpi <= 0 || fromDpi == toDpi) {
        return RescaleForDpi(height, fromDpi, toDpi);
    }
    const int points = MulDiv(-height, 72, fromDpi);
    return -MulDiv(points, toDpi, 72);
}

int DpiFromMessage(WPARAM wParam)
{
    const int dpi = HIWORD(wParam);
    return IsPlausibleDpi(dpi) ? dpi : 0;
}

int SystemDpi()
{
    ScreenDc screen;
    const int dpi = screen.Get() ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
    return IsPlausibleDpi(dpi) ? dpi : kDefaultDpi;
}

int WindowDpi(HWND window)
{
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFunction>("GetDpiForWindow");
    if (window && getDpiForWindow) {
        const int dpi = static_cast<int>(getDpiForWindow(window));
        if (IsPlausibleDpi(dpi)) {
            return dpi;
        }
    }
    return SystemDpi();
}

int MetricForDpi(int index, int dpi)
{
    static const auto getSystemMetricsForDpi =
        User32Function<GetSystemMetricsForDpiFunction>("GetSystemMetricsForDpi");
    if (getSystemMetricsForDpi && dpi > 0) {
        return getSystemMetricsForDpi(index, static_cast<UINT>(dpi));
    }
    return RescaleForDpi(GetSystemMetrics(index), SystemDpi(), dpi);
}

int AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi)
{
    static const auto adjustForDpi =
        User32Function<AdjustWindowRectExForDpiFunction>("AdjustWindowRectExForDpi");
    RECT adjusted = rect;
    if (adjustForDpi && dpi > 0) {
        if (!adjustForDpi(&adjusted, style, FALSE, exStyle, static_cast<UINT>(dpi))) {
            return 0;
        }
    } else if (!AdjustWindowRectEx(&adjusted, style, FALSE, exStyle)) {
        return 0;
    }
    rect = adjusted;
    return 1;
}
