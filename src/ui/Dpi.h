#pragma once

#include <windows.h>

// Pixel sizes at other display scales. The framework's fixed sizes are
// written for 96 dpi (100 %) and scaled to the DPI of the window they are
// used in, which under per-monitor awareness may differ from the system's.

constexpr int kDefaultDpi = 96;

// Messages and values of Windows 8.1 and later, which the headers of the
// Windows 7 target do not declare.
constexpr UINT kWmDpiChanged = 0x02E0;

// A size given at 96 dpi, at dpi (rounded to the nearest pixel).
int ScaleForDpi(int value, int dpi);
// A size measured at fromDpi, at toDpi.
int RescaleForDpi(int value, int fromDpi, int toDpi);
// The rectangle's corners rescaled from fromDpi to toDpi.
RECT RescaleRectForDpi(const RECT& rect, int fromDpi, int toDpi);
// A LOGFONT height (negative: character height, positive: cell height)
// made at fromDpi, for toDpi. Character heights go through whole points,
// as the dialog manager makes them, so a change and its way back give the
// same font as a fresh start at either DPI.
LONG RescaleFontHeight(LONG height, int fromDpi, int toDpi);
// The DPI in WM_DPICHANGED's wParam (both words carry it); 0 when the value
// is no DPI at all.
int DpiFromMessage(WPARAM wParam);

// The DPI the system renders at (the primary monitor's at start-up).
int SystemDpi();
// The DPI of the window's monitor for a per-monitor aware program, else
// the system's.
int WindowDpi(HWND window);
// A system metric at dpi: GetSystemMetricsForDpi where it exists, else the
// system's value rescaled from the system DPI.
int MetricForDpi(int index, int dpi);
// The outer window size for a client rectangle at dpi (the window's style,
// no menu); 0 and rect untouched on failure.
int AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi);
