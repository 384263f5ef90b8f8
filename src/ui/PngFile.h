#pragma once

#include <windows.h>

// Writes a bitmap (not selected into any device context) as a PNG file
// through the Windows Imaging Component; COM must be initialised on the
// calling thread. 1, or 0 with no file left behind.
int SaveBitmapAsPng(HBITMAP bitmap, const wchar_t* path);
