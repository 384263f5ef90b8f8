#include "ui/LabelCtrl.h"

#include <wchar.h>

#include "ui/GdiHelpers.h"

const wchar_t kLabelDefaultFaces[] = L"Segoe UI;Verdana;MS Sans Serif";
const wchar_t kLabelFallbackFace[] = L"Verdana";

namespace {

int IsFaceInstalled(const wchar_t* face, void*)
{
    return FontFamilyExists(face, DEFAULT_CHARSET, nullptr);
}

RECT InsetForEdges(RECT rect, DWORD flags)
{
    if (flags & LABEL_EDGE_MASK) {
        InflateRect(&rect, -LABEL_EDGE_INSET, -LABEL_EDGE_INSET);
    }
    return rect;
}

UINT EdgeKind(DWORD flags)
{
    if (flags & LABEL_EDGE_BUMP) {
        return EDGE_BUMP;
    }
    if (flags & LABEL_EDGE_ETCHED) {
        return EDGE_ETCHED;
    }
    if (flags & LABEL_EDGE_RAISED) {
        return EDGE_RAISED;
    }
    if (flags & LABEL_EDGE_SUNKEN) {
        return EDGE_SUNKEN;
    }
    return 0;
}

} // namespace

UINT LabelTextFormat(LONG_PTR style, DWORD flags)
{
    UINT format = (flags & LABEL_MULTILINE) ? DT_WORDBREAK : DT_SINGLELINE;
    if (flags & LABEL_END_ELLIPSIS) {
        format |= DT_END_ELLIPSIS;
    }
    format |= StaticAlignmentFormat(style);
    if (flags & LABEL_VCENTER) {
        format |= DT_VCENTER;
    }
    if (style & SS_NOPREFIX) {
        format |= DT_NOPREFIX;
    }
    return format;
}

int ChooseLabelFace(const wchar_t* faces, FontInstalledTest isInstalled, void* context,
                    WideString& face)
{
    WideString list(faces && faces[0] ? faces : kLabelDefaultFaces);
    for (wchar_t* name = list.Token(1, L",;"); name; name = list.Token(0, L",;")) {
        if (isInstalled(name, context)) {
            return face.Assign(name);
        }
    }
    return face.Assign(kLabelFallbackFace);
}

int LabelTextFits(const RECT& measured, const RECT& limit)
{
    return measured.right < limit.right && measured.bottom < limit.bottom;
}

bool LabelTextColor(DWORD flags, COLORREF normal, COLORREF hover, COLORREF disabled,
                    COLORREF* color)
{
    if (flags & LABEL_DISABLED) {
        *color = disabled;
    } else if ((flags & LABEL_TRACK_MOUSE) && (flags & LABEL_HOVERING)) {
        *color = hover;
    } else if (flags & LABEL_KEEP_TEXT_COLOR) {
        return false;
    } else {
        *color = normal;
    }
    return true;
}

RECT LabelFocusRect(const RECT& client, SIZE extent, UINT format, DWORD flags)
{
    if (flags & LABEL_WHOLE_AREA) {
        return client;
    }
    RECT rect = TextFocusRect(client, extent, format);
    rect.top = client.top;
    rect.bottom = client.bottom;
    return rect;
}

LRESULT LabelDialogCode(const MSG* message)
{
    LRESULT code = DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
    if (message && message->message == WM_KEYDOWN &&
        (message->wParam == VK_RETURN || message->wParam == VK_SPACE)) {
        code |= DLGC_WANTMESSAGE;
    }
    return code;
}

namespace {

TextCtrlTraits LabelTraits()
{
    TextCtrlTraits traits;
    traits.hovering = LABEL_HOVERING;
    traits.focused = LABEL_FOCUSED;
    traits.disabled = LABEL_DISABLED;
    traits.pressed = LABEL_PRESSED;
    traits.noFocus = LABEL_NO_FOCUS;
    traits.transparent = LABEL_TRANSPARENT;
    traits.ignoreExTransparent = LABEL_IGNORE_EX_TRANSPARENT;
    traits.wholeArea = LABEL_WHOLE_AREA;
    traits.eraseParent = TRUE;
    return traits;
}

} // namespace

LabelCtrl::LabelCtrl() : TextCtrl(LabelTraits())
{
}

int LabelCtrl::Attach(HWND control, const LabelOptions& options)
{
    if (!control || !IsWindow(control)) {
        return 0;
    }
    Detach();
    fontHeight_ = options.fontHeight;
    normalColor_ = options.normalColor;
    hoverColor_ = options.hoverColor;
    disabledColor_ = GetSysColor(COLOR_GRAYTEXT);
    handler_ = options.handler;
    userValue_ = options.userValue;
    cursorId_ = options.cursorId;
    textLock_.Init();
    AdoptControl(control, options.flags & ~LABEL_HOVERING);
    SetFaces(options.faces, 0);

    TakeWindowText(text_);
    const LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
    if (flags_ & LABEL_TRACK_MOUSE) {
        SetWindowLongPtrW(control, GWL_STYLE, style | SS_NOTIFY);
    }
    format_ = LabelTextFormat(style, flags_);
    BuildFont();
    if (!SubclassControl(LABEL_SUBCLASS_TAG, style, text_)) {
        // The static keeps showing its text itself.
        Detach();
        return 0;
    }
    Repaint();
    return 1;
}

void LabelCtrl::Detach()
{
    ReleaseControl();
    font_.Reset();
    textLock_.Delete();
}

int LabelCtrl::SetText(const wchar_t* text)
{
    int stored = 0;
    {
        ScopedLock lock(textLock_);
        stored = text_.Assign(text ? text : L"");
        if (flags_ & LABEL_REFIT_ON_TEXT) {
            if (!(flags_ & LABEL_FIT)) {
                fontHeight_ = 0;
            }
            BuildFont();
        } else {
            MeasureExtent();
        }
    }
    Repaint();
    return stored;
}

int LabelCtrl::GetText(WideString& text)
{
    ScopedLock lock(textLock_);
    return text.Assign(text_);
}

int LabelCtrl::SetFaces(const wchar_t* faces, int repaint)
{
    const int chosen = ChooseLabelFace(faces, &IsFaceInstalled, nullptr, face_);
    if (repaint) {
        Repaint();
    }
    return chosen;
}

HFONT LabelCtrl::MakeFittingFont(int height) const
{
    return ::CreateFontW(height, 0, 0, 0, (flags_ & LABEL_BOLD) ? FW_BOLD : FW_NORMAL,
                         (flags_ & LABEL_ITALIC) ? TRUE : FALSE,
                         (flags_ & LABEL_UNDERLINE) ? TRUE : FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, face_.Data());
}

// Measured the way the paint draws: from the whole client area, against the
// client area less the edges.
int LabelCtrl::TextFits(HDC dc) const
{
    RECT client = {};
    GetClientRect(control_, &client);
    RECT measured = client;
    if (!DrawTextW(dc, text_.Data(), -1, &measured, format_ | DT_CALCRECT)) {
        return 1;
    }
    return LabelTextFits(measured, InsetForEdges(client, flags_));
}

void LabelCtrl::BuildFont()
{
    font_.Reset();
    if (flags_ & LABEL_CONTROL_FONT) {
        CreateControlFont();
    } else {
        CreateFittingFont();
    }
    MeasureExtent();
}

void LabelCtrl::CreateControlFont()
{
    LOGFONTW logFont = {};
    if (ReadControlFont(logFont)) {
        font_.Reset(CreateFontIndirectW(&logFont));
    }
}

void LabelCtrl::CreateFittingFont()
{
    WindowDc dc(control_);
    if (!dc.Get()) {
        return;
    }
    SavedDcState saved(dc.Get());
    RECT client = {};
    GetClientRect(control_, &client);
    const RECT limit = InsetForEdges(client, flags_);
    int height = fontHeight_ ? fontHeight_ : limit.bottom - limit.top;
    if (fontHeight_ && !(flags_ & LABEL_FIT)) {
        font_.Reset(MakeFittingFont(height));
        return;
    }
    // The last font the fitting made is the one it settled on.
    font_.Reset(FitFont(dc.Get(), height, &height));
    if (!font_) {
        font_.Reset(MakeFittingFont(height));
    }
}

void LabelCtrl::MeasureExtent()
{
    extent_ = MeasureText(font_.Get(), text_);
}

HCURSOR LabelCtrl::HoverCursor() const
{
    if (!cursorId_) {
        return nullptr;
    }
    HINSTANCE module = (flags_ & LABEL_SYSTEM_CURSOR) ? nullptr : ControlModule();
    return LoadCursorW(module, MAKEINTRESOURCEW(cursorId_));
}

// Every action but the press also goes to the parent with
// LABEL_NOTIFY_PARENT.
void LabelCtrl::Activate(int action)
{
    // The handler may detach the label; keep what the notification needs.
    HWND control = control_;
    const bool notify = action != LABEL_ACTION_PRESS && (flags_ & LABEL_NOTIFY_PARENT);
    if (handler_) {
        handler_(action, 0, userValue_, this);
    }
    if (notify && control) {
        SendMessageW(GetParent(control), WM_COMMAND, static_cast<WPARAM>(GetDlgCtrlID(control)),
                     reinterpret_cast<LPARAM>(control));
    }
}

void LabelCtrl::Draw(HDC dc, const RECT& client)
{
    ScopedLock lock(textLock_);
    if (font_) {
        SelectObject(dc, font_.Get());
    }
    FillBackground(dc, client, !(flags_ & LABEL_WHITE_BACKGROUND));
    COLORREF color = 0;
    if (LabelTextColor(flags_, normalColor_, hoverColor_, disabledColor_, &color)) {
        SetTextColor(dc, color);
    }
    RECT textRect = InsetForEdges(client, flags_);
    DrawTextW(dc, text_.Data(), -1, &textRect, format_);
    if (const UINT edge = EdgeKind(flags_)) {
        RECT edgeRect = client;
        DrawEdge(dc, &edgeRect, edge, BF_RECT);
    }
    DrawFocus(dc, LabelFocusRect(client, extent_, format_, flags_));
}

// The button reports its press wherever it is, and its release while the
// mouse is over the text.
void LabelCtrl::OnButton(bool down)
{
    if (down) {
        flags_ |= LABEL_PRESSED;
        Activate(LABEL_ACTION_PRESS);
    } else {
        flags_ &= ~LABEL_PRESSED;
        if (IsHovering()) {
            Activate(LABEL_ACTION_RELEASE);
        }
    }
    Repaint();
}

// Keys act when pressed, as on a push button.
int LabelCtrl::HandleControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    switch (message) {
    case WM_NCHITTEST:
        *result = HTCLIENT;
        return 1;
    case WM_GETDLGCODE:
        if (flags_ & LABEL_NO_FOCUS) {
            return 0;
        }
        *result = LabelDialogCode(reinterpret_cast<const MSG*>(lParam));
        return 1;
    case WM_KEYDOWN:
        ActivateByKey(wParam, LABEL_ACTION_ENTER, LABEL_ACTION_SPACE);
        return 1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_LBUTTONUP:
        OnButton(message != WM_LBUTTONUP);
        return 1;
    default:
        return 0;
    }
}
