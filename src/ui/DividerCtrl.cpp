#include "ui/DividerCtrl.h"

#include "base/ScopedHandle.h"
#include "ui/Dpi.h"

namespace {

// Toolbar separator parts: TP_SEPARATORVERT is the horizontal line.
constexpr int kHorizontalSeparatorPart = 6;
constexpr int kVerticalSeparatorPart = 5;
constexpr int kSeparatorState = 1;

} // namespace

DividerPlacement PlaceDivider(const RECT& rectInParent, int dpi)
{
    const int one = ScaleForDpi(1, dpi);
    const int two = ScaleForDpi(2, dpi);
    const int three = ScaleForDpi(3, dpi);
    const int band = ScaleForDpi(5, dpi);
    const int width = rectInParent.right - rectInParent.left;
    const int height = rectInParent.bottom - rectInParent.top;
    DividerPlacement placement;
    placement.horizontal = height < width;
    if (placement.horizontal) {
        placement.x = rectInParent.left - two;
        placement.y = rectInParent.top - one;
        placement.width = width + three;
        placement.height = band;
    } else {
        placement.x = rectInParent.left - one;
        placement.y = rectInParent.top - two;
        placement.width = band;
        placement.height = height + three;
    }
    return placement;
}

RECT ClassicDividerRect(RECT client, int dpi)
{
    client.top += ScaleForDpi(2, dpi);
    client.left += ScaleForDpi(1, dpi);
    client.bottom -= ScaleForDpi(1, dpi);
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
    dpi_ = WindowDpi(control);
    const DividerPlacement placement = PlaceDivider(rect, dpi_);
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
            RECT line = ClassicDividerRect(client, dpi_);
            DrawEdge(dc, &line, EDGE_ETCHED, horizontal_ ? BF_TOP : BF_LEFT);
        }
    }
    EndPaint(control_, &paint);
}
