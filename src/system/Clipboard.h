#pragma once

#include <windows.h>

// Puts a text on the clipboard as CF_UNICODETEXT, replacing what it held;
// the owner window becomes the clipboard's owner. 1, or 0 when the clipboard
// could not be opened or the text not stored (the clipboard is then left
// as it was, or empty when emptying it succeeded).
int CopyTextToClipboard(HWND owner, const wchar_t* text);
