#include "ui/TextCtrl.h"

#include <wchar.h>

#include "base/ScopedHandle.h"

namespace {

constexpr int kSmallestFontHeight = 4;

// The window's text; empty when it has none or cannot be read.
void ReadWindowText(HWND window, WideString& text)
{
    const int length = GetWindowTextLengthW(window);
    if (length <= 0 || !text.Reserve(static_cast<unsigned>(length) + 1)) {
        text.Assign(L"");
        return;
    }
    GetWindowTextW(window, text.Data(), length + 1);
    text.RefreshCount();
}

} // namespace

UINT StaticAlignmentFormat(LONG_PTR style)
{
    UINT format = 0;
    const LONG_PTR type = style & SS_TYPEMASK;
    if (type == SS_CENTER) {
        format |= DT_CENTER;
    } else if (type == SS_RIGHT) {
        format |= DT_RIGHT;
    }
    if (style & SS_CENTERIMAGE) {
        format |= DT_VCENTER;
    }
    return format;
}

int IsOverText(POINT point, const RECT& client, SIZE extent, UINT format)
{
    if (extent.cy == 0) {
        return 1;
    }
    if (!PtInRect(&client, point)) {
        return 0;
    }
    const LONG width = client.right - client.left;
    const LONG x = point.x - client.left;
    if (format & DT_CENTER) {
        const LONG margin = (width - extent.cx) / 2;
        return x > margin && x < width - margin;
    }
    if (format & DT_RIGHT) {
        return x > width - extent.cx;
    }
    return x < extent.cx;
}

RECT TextFocusRect(const RECT& client, SIZE extent, UINT format)
{
    const LONG width = client.right - client.left;
    const LONG height = client.bottom - client.top;
    RECT rect;
    rect.top = client.top + ((format & DT_VCENTER) ? (height - extent.cy) / 2 : 0);
    if (format & DT_CENTER) {
        rect.left = client.left + (width - extent.cx) / 2;
    } else if (format & DT_RIGHT) {
        rect.left = client.right - extent.cx;
    } else {
        rect.left = client.left;
    }
    rect.right = rect.left + extent.cx;
    rect.bottom = rect.top + extent.cy;
    return rect;
}

int FitTextHeight(int startHeight, TextFitRound round, void* context)
{
    int height = startHeight;
    while (!round(context, height) && height - 1 >= kSmallestFontHeight) {
        --height;
    }
    return height;
}

void TextCtrl::AdoptControl(HWND control, DWORD flags)
{
    control_ = control;
    flags_ = flags;
    if (!(GetWindowLongPtrW(control, GWL_STYLE) & WS_TABSTOP)) {
        flags_ |= traits_.noFocus;
    }
    if (!IsWindowEnabled(control)) {
        flags_ |= traits_.disabled;
    }
    if (!(flags_ & traits_.ignoreExTransparent) &&
        (GetWindowLongPtrW(control, GWL_EXSTYLE) & WS_EX_TRANSPARENT)) {
        flags_ |= traits_.transparent;
    }
}

void TextCtrl::TakeWindowText(WideString& text)
{
    ReadWindowText(control_, text);
    SetWindowTextW(control_, L"");
}

int TextCtrl::SubclassControl(DWORD tag, LONG_PTR style, const WideString& windowText)
{
    if (subclass_.Attach(control_, &OnSubclassMessage, this, tag)) {
        return 1;
    }
    SetWindowLongPtrW(control_, GWL_STYLE, style);
    SetWindowTextW(control_, windowText.Data());
    return 0;
}

void TextCtrl::ReleaseControl()
{
    subclass_.Detach();
    flags_ &= ~(traits_.hovering | traits_.focused | traits_.pressed);
    control_ = nullptr;
}

// The fonts of one fitting: each round's font is selected into the device
// context, and the previous round's goes once it no longer is.
struct TextCtrl::Fitting
{
    const TextCtrl* control = nullptr;
    HDC dc = nullptr;
    ScopedFont font;
};

int TextCtrl::FittingRound(void* context, int height)
{
    Fitting& fitting = *static_cast<Fitting*>(context);
    HFONT font = fitting.control->MakeFittingFont(height);
    if (!font) {
        return 1;
    }
    SelectObject(fitting.dc, font);
    fitting.font.Reset(font);
    return fitting.control->TextFits(fitting.dc);
}

HFONT TextCtrl::FitFont(HDC dc, int startHeight, int* height)
{
    Fitting fitting;
    fitting.control = this;
    fitting.dc = dc;
    *height = FitTextHeight(startHeight, &FittingRound, &fitting);
    return fitting.font.Detach();
}

int TextCtrl::ReadControlFont(LOGFONTW& logFont) const
{
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(control_, WM_GETFONT, 0, 0));
    if (!font) {
        font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    }
    return GetObjectW(font, sizeof(logFont), &logFont) ? 1 : 0;
}

SIZE TextCtrl::MeasureText(HFONT font, const WideString& text) const
{
    SIZE extent = {};
    WindowDc dc(control_);
    if (!dc.Get()) {
        return extent;
    }
    SavedDcState saved(dc.Get());
    if (font) {
        SelectObject(dc.Get(), font);
    }
    SIZE measured = {};
    if (GetTextExtentPoint32W(dc.Get(), text.Data(), static_cast<int>(text.Length()), &measured)) {
        extent = measured;
    }
    return extent;
}

void TextCtrl::FillBackground(HDC dc, const RECT& client, bool askParent) const
{
    if (!(flags_ & traits_.transparent)) {
        HBRUSH brush = nullptr;
        if (askParent) {
            brush = reinterpret_cast<HBRUSH>(SendMessageW(GetParent(control_), WM_CTLCOLORSTATIC,
                                                          reinterpret_cast<WPARAM>(dc),
                                                          reinterpret_cast<LPARAM>(control_)));
        }
        FillRect(dc, &client, brush ? brush : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    // Set after the parent had its say about the context.
    SetBkMode(dc, TRANSPARENT);
}

void TextCtrl::DrawFocus(HDC dc, const RECT& focus) const
{
    if ((flags_ & traits_.focused) && !(flags_ & (traits_.disabled | traits_.noFocus))) {
        DrawFocusRect(dc, &focus);
    }
}

void TextCtrl::ActivateByKey(WPARAM key, int enterAction, int spaceAction)
{
    if (key == VK_RETURN) {
        Activate(enterAction);
    } else if (key == VK_SPACE) {
        Activate(spaceAction);
    }
}

// A transparent control is invalidated through its parent, whose background
// shows behind the text.
void TextCtrl::Repaint() const
{
    if (!control_) {
        return;
    }
    HWND parent = GetParent(control_);
    if ((flags_ & traits_.transparent) && parent) {
        RECT rect;
        GetWindowRect(control_, &rect);
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
        InvalidateRect(parent, &rect, traits_.eraseParent);
    } else {
        InvalidateRect(control_, nullptr, FALSE);
    }
}

HINSTANCE TextCtrl::ControlModule() const
{
    return reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(control_, GWLP_HINSTANCE));
}

int TextCtrl::HitTest() const
{
    POINT point;
    if (!GetCursorPos(&point) || !ScreenToClient(control_, &point)) {
        return 1;
    }
    RECT client;
    GetClientRect(control_, &client);
    if (flags_ & traits_.wholeArea) {
        return PtInRect(&client, point) ? 1 : 0;
    }
    return IsOverText(point, client, extent_, format_);
}

void TextCtrl::StartHovering()
{
    flags_ |= traits_.hovering;
    tracker_.Track(control_);
    if (GetKeyState(VK_LBUTTON) < 0) {
        flags_ |= traits_.pressed;
    }
    Repaint();
    if (HasHoverCursor()) {
        ShowCursor(true);
    }
}

int TextCtrl::OnSubclassMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                                void* context)
{
    return static_cast<TextCtrl*>(context)->HandleMessage(message, wParam, lParam, result);
}

int TextCtrl::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    *result = 0;
    return HandleTextMessage(message, wParam, lParam, result) ||
           HandleStateMessage(message, wParam) ||
           HandleControlMessage(message, wParam, lParam, result);
}

int TextCtrl::HandleTextMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    switch (message) {
    case WM_SETTEXT:
        SetText(reinterpret_cast<const wchar_t*>(lParam));
        *result = TRUE;
        return 1;
    case WM_GETTEXT:
        *result = CopyText(reinterpret_cast<wchar_t*>(lParam), wParam);
        return 1;
    case WM_GETTEXTLENGTH:
        // Kept in step with WM_GETTEXT: the control's own text is empty.
        *result = static_cast<LRESULT>(TextLength());
        return 1;
    case WM_PAINT:
        Paint();
        return 1;
    default:
        return 0;
    }
}

int TextCtrl::HandleStateMessage(UINT message, WPARAM wParam)
{
    switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        SetState(traits_.focused, message == WM_SETFOCUS);
        return 1;
    case WM_ENABLE:
        OnEnable(wParam != 0);
        return 1;
    case WM_CANCELMODE:
        SetState(traits_.hovering, false);
        return 1;
    case WM_SETCURSOR:
        ShowCursor(IsHovering());
        return 1;
    case WM_MOUSEMOVE:
        return OnMouseMove();
    case WM_MOUSELEAVE:
        return OnMouseLeave();
    default:
        return 0;
    }
}

// Screen readers and other programs ask the control for its text; the
// static's own window text is empty once the control owns it.
LRESULT TextCtrl::CopyText(wchar_t* buffer, WPARAM capacity)
{
    if (!buffer || capacity == 0) {
        return 0;
    }
    ScopedLock lock(textLock_);
    const size_t length = text_.Length();
    const size_t count = length < capacity - 1 ? length : capacity - 1;
    wmemcpy(buffer, text_.Data(), count);
    buffer[count] = L'\0';
    return static_cast<LRESULT>(count);
}

unsigned TextCtrl::TextLength()
{
    ScopedLock lock(textLock_);
    return text_.Length();
}

void TextCtrl::SetState(DWORD bits, bool on)
{
    flags_ = on ? (flags_ | bits) : (flags_ & ~bits);
    Repaint();
}

void TextCtrl::OnEnable(bool enabled)
{
    flags_ = enabled ? (flags_ & ~traits_.disabled) : (flags_ | traits_.disabled);
    if (enabled) {
        OnEnabled();
    }
    Repaint();
}

int TextCtrl::OnMouseMove()
{
    if (!TracksMouse()) {
        return 0;
    }
    const bool over = HitTest() != 0;
    if (!IsHovering() && over) {
        StartHovering();
    } else if (IsHovering() && !over) {
        SetState(traits_.hovering, false);
        if (HasHoverCursor()) {
            ShowCursor(false);
        }
    }
    return 1;
}

int TextCtrl::OnMouseLeave()
{
    if (!TracksMouse()) {
        return 0;
    }
    SetState(traits_.hovering | traits_.pressed, false);
    return 1;
}

void TextCtrl::ShowCursor(bool hovering) const
{
    HCURSOR cursor = hovering ? HoverCursor() : nullptr;
    SetCursor(cursor ? cursor : LoadCursorW(nullptr, IDC_ARROW));
}

void TextCtrl::Paint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(control_, &paint);
    if (!dc) {
        return;
    }
    {
        SavedDcState saved(dc);
        RECT client;
        GetClientRect(control_, &client);
        Draw(dc, client);
    }
    EndPaint(control_, &paint);
}
