// The yardstick of the start-up benchmark: a program that shows one small,
// empty dialog from a template built in memory and does nothing else. It
// ends when the dialog is closed.

#include <windows.h>

namespace {

// A dialog template with no menu, the default class, a title and no
// controls, laid out as the dialog manager reads it.
struct alignas(4) MinimalTemplate
{
    DLGTEMPLATE header;
    WORD menu;
    WORD windowClass;
    wchar_t title[8];
};

INT_PTR CALLBACK MinimalDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    MinimalTemplate dialog = {};
    dialog.header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;
    dialog.header.cx = 160;
    dialog.header.cy = 60;
    lstrcpyW(dialog.title, L"Minimal");
    DialogBoxIndirectParamW(instance, &dialog.header, nullptr, MinimalDialogProc, 0);
    return 0;
}
