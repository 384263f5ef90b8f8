#pragma once

#include <windows.h>
#include <commctrl.h>

#include "base/ScopedHandle.h"
#include "ui/Subclasser.h"

// Options of SysLinkCtrl::Create.
constexpr DWORD SYSLINK_DIALOG_UNITS = 0x1; // the rectangle is in dialog units
constexpr DWORD SYSLINK_NO_TABSTOP = 0x2;   // created without WS_TABSTOP
constexpr DWORD SYSLINK_NO_SUBCLASS = 0x4;  // the owner forwards WM_NOTIFY itself

constexpr DWORD SYSLINK_SUBCLASS_TAG = 0x7379736C;

// Position and size of a control, in pixels or dialog units.
struct ControlBounds
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// A Windows SysLink control (common controls 6) made from marked-up text
// such as <a href="...">...</a>; a clicked link with an address is opened
// with the shell, one without is handed to the handler.
class SysLinkCtrl
{
public:
    using Handler = void (*)(int index, const wchar_t* id, LONG_PTR userValue);

    SysLinkCtrl() = default;
    ~SysLinkCtrl() { Destroy(); }
    SysLinkCtrl(const SysLinkCtrl&) = delete;
    SysLinkCtrl& operator=(const SysLinkCtrl&) = delete;

    // 1 when the control exists; 0 where the SysLink class is missing.
    int Create(HWND parent, ControlBounds bounds, const wchar_t* markup, DWORD options,
               Handler handler, LONG_PTR userValue);
    // Reacts to a click or Enter on one of this control's links; 1 when it
    // did. The parent's own processing continues either way.
    int HandleNotify(HWND parent, WPARAM wParam, const NMHDR* notification);
    // Removes the parent's subclass and destroys the control.
    void Destroy();

    HWND Window() const { return link_.Get(); }
    DWORD Options() const { return options_; }

private:
    static int OnParentMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                               LRESULT* result, void* context);

    Subclasser subclass_;
    DWORD options_ = 0;
    Handler handler_ = nullptr;
    LONG_PTR userValue_ = 0;
    ScopedWindow link_;
};
