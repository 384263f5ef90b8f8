#include "ui/SysLinkCtrl.h"

#include "system/Files.h"

int SysLinkCtrl::Create(HWND parent, ControlBounds bounds, const wchar_t* markup, DWORD options,
                        Handler handler, LONG_PTR userValue)
{
    Destroy();
    options_ = options;
    handler_ = handler;
    userValue_ = userValue;
    if (options & SYSLINK_DIALOG_UNITS) {
        // Width and height scale like coordinates, so they convert as the
        // rectangle's right and bottom.
        RECT rect = {bounds.x, bounds.y, bounds.width, bounds.height};
        MapDialogRect(parent, &rect);
        bounds = {rect.left, rect.top, rect.right, rect.bottom};
    }
    const DWORD style = (options & SYSLINK_NO_TABSTOP) ? (WS_CHILD | WS_VISIBLE)
                                                       : (WS_CHILD | WS_VISIBLE | WS_TABSTOP);
    link_.Reset(CreateWindowExW(0, L"SysLink", markup ? markup : L"", style, bounds.x, bounds.y,
                                bounds.width, bounds.height, parent, nullptr,
                                GetModuleHandleW(nullptr), nullptr));
    if (!link_) {
        return 0;
    }
    SendMessageW(link_.Get(), WM_SETFONT,
                 static_cast<WPARAM>(SendMessageW(parent, WM_GETFONT, 0, 0)), TRUE);
    if (!(options & SYSLINK_NO_SUBCLASS)) {
        subclass_.Attach(parent, &OnParentMessage, this, SYSLINK_SUBCLASS_TAG);
    }
    return 1;
}

int SysLinkCtrl::HandleNotify(HWND, WPARAM, const NMHDR* notification)
{
    if (!link_ || !notification || notification->hwndFrom != link_.Get() ||
        (notification->code != NM_CLICK && notification->code != NM_RETURN)) {
        return 0;
    }
    const LITEM& item = reinterpret_cast<const NMLINK*>(notification)->item;
    if (item.szUrl[0]) {
        ShellRun(item.szUrl, nullptr, nullptr, SW_SHOWDEFAULT, 0, L"open");
    } else if (handler_) {
        handler_(item.iLink, item.szID, userValue_);
    }
    return 1;
}

void SysLinkCtrl::Destroy()
{
    subclass_.Detach();
    link_.Reset();
}

int SysLinkCtrl::OnParentMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT*,
                                 void* context)
{
    if (message == WM_NOTIFY) {
        static_cast<SysLinkCtrl*>(context)->HandleNotify(window, wParam,
                                                         reinterpret_cast<const NMHDR*>(lParam));
    }
    return 0;
}
