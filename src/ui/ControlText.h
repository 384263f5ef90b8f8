#pragma once

#include <windows.h>

// Drawing helpers shared by the self-drawn text controls (link and label).

// The extent of text in the given font (the control's own when null) on the
// control's device context; {0, 0} when it cannot be measured.
SIZE MeasureControlText(HWND control, HFONT font, const wchar_t* text, size_t length);

// Asks for the control to be painted again. A transparent control is
// invalidated through its parent, whose background shows behind the text.
void InvalidateControl(HWND control, bool throughParent, BOOL eraseParent);
