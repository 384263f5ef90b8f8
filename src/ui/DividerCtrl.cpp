#include "ui/DividerCtrl.h"

#include "base/ScopedHandle.h"

namespace {

// Toolbar separator parts: TP_SEPARATORVERT is the horizontal line.
constexpr int kHorizontalSeparatorPart = 6;
constexpr int kVerticalSeparatorPart = 5;
constexpr int kSeparatorState = 1;

} // namespace

DividerPlacement PlaceDivider(const RECT& rectInParent)
{
    const int width = rectInParent.right - rectInParent.left;
    const int height = rectInParent.bottom - rectInParent.top;
    DividerPlacement placement;
    placement.horizontal = height < width;
    if (placement.horizontal) {
        placement.x = rectInParent.left - 2;
        placement.y = rectInParent.top - 1;
        placement.width = width + 3;
        placement.height = 5;
    } else {
        placement.x = rectInParent.left - 1;
        placement.y = rectInParent.top - 2;
        placement.width = 5;
        placement.height = height + 3;
    }
    return placement;
}

RECT ClassicDividerRect(RECT client)
{
    client.top += 2;
    client.left += 1;
    client.bottom -= 1;
    return client;
}

int DividerCtrl::Attach(HWND control)
{
    if (!control || !IsWindow(control)) {
        return 0;
    }
    Detach();
    control_ = control;
    visualStyle_.Open(control, L"Toolbar");
    if (!subclass_.Attach(control, &OnSubclassMessage, this, DIVIDER_SUBCLASS_TAG)) {
        Detach();
        return 0;
    }
    LONG_PTR exStyle = GetWindowLongPtrW(control, GWL_EXSTYLE);
    exStyle = (exStyle | WS_EX_TRANSPARENT) & ~(WS_EX_WINDOWEDGE | WS_EX_STATICEDGE);
    SetWindowLongPtrW(control, GWL_EXSTYLE, exStyle);

    RECT rect = {};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    const DividerPlacement placement = PlaceDivider(rect);
    horizontal_ = placement.horizontal;
    SetWindowPos(control, nullptr, placement.x, placement.y, placement.width, placement.height,
                 SWP_NOZORDER | SWP_NOOWNERZORDER);
    return 1;
}

void DividerCtrl::Detach()
{
    subclass_.Detach();
    visualStyle_.Close();
    control_ = nullptr;
}

int DividerCtrl::OnSubclassMessage(HWND, UINT message, WPARAM, LPARAM, LRESULT* result,
                                   void* context)
{
    if (message != WM_PAINT) {
        return 0;
    }
    static_cast<DividerCtrl*>(context)->Paint();
    *result = 0;
    return 1;
}

void DividerCtrl::Paint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(control_, &paint);
    if (!dc) {
        return;
    }
    {
        SavedDcState saved(dc);
        RECT client = {};
        GetClientRect(control_, &client);
        const int part = horizontal_ ? kHorizontalSeparatorPart : kVerticalSeparatorPart;
        if (!visualStyle_.DrawBackground(dc, part, kSeparatorState, &client)) {
            RECT line = ClassicDividerRect(client);
            DrawEdge(dc, &line, EDGE_ETCHED, horizontal_ ? BF_TOP : BF_LEFT);
        }
    }
    EndPaint(control_, &paint);
}
