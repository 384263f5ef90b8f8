#include "ui/LabelCtrl.h"

#include <wchar.h>

#include "system/SystemInfo.h"
#include "ui/ControlText.h"
#include "ui/LinkCtrl.h"

const wchar_t kLabelDefaultFaces[] = L"Segoe UI;Verdana;MS Sans Serif";
const wchar_t kLabelFallbackFace[] = L"Verdana";

namespace {

constexpr int kSmallestLabelFont = 4;

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

// The selected-in font and the text of one fitting round, measured the way
// the paint draws them.
struct LabelFitting
{
    HDC dc = nullptr;
    const LabelCtrl* label = nullptr;
    HFONT (*create)(const LabelCtrl* label, int height) = nullptr;
    const WideString* text = nullptr;
    RECT client = {};
    UINT format = 0;
    ScopedFont font;

    static int Measure(void* context, int height, RECT* measured)
    {
        LabelFitting& fitting = *static_cast<LabelFitting*>(context);
        HFONT font = fitting.create(fitting.label, height);
        if (!font) {
            return 0;
        }
        // The previous round's font goes only once it is no longer selected.
        SelectObject(fitting.dc, font);
        fitting.font.Reset(font);
        *measured = fitting.client;
        return DrawTextW(fitting.dc, fitting.text->Data(), -1, measured,
                         fitting.format | DT_CALCRECT) != 0;
    }
};

} // namespace

UINT LabelTextFormat(LONG_PTR style, DWORD flags)
{
    UINT format = (flags & LABEL_MULTILINE) ? DT_WORDBREAK : DT_SINGLELINE;
    if (flags & LABEL_END_ELLIPSIS) {
        format |= DT_END_ELLIPSIS;
    }
    const LONG_PTR type = style & SS_TYPEMASK;
    if (type == SS_CENTER) {
        format |= DT_CENTER;
    } else if (type == SS_RIGHT) {
        format |= DT_RIGHT;
    }
    if ((style & SS_CENTERIMAGE) || (flags & LABEL_VCENTER)) {
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

int FitLabelHeight(int startHeight, const RECT& limit, MeasureLabelAtHeight measure, void* context)
{
    int height = startHeight;
    for (;;) {
        RECT measured = {};
        if (!measure(context, height, &measured)) {
            return height;
        }
        if (measured.right < limit.right && measured.bottom < limit.bottom) {
            return height;
        }
        if (height - 1 < kSmallestLabelFont) {
            return height;
        }
        --height;
    }
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
    RECT rect = LinkFocusRect(client, extent, format);
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

int LabelCtrl::Attach(HWND control, const wchar_t* faces, int fontHeight, COLORREF normal,
                      COLORREF hover, DWORD flags, WORD cursorId, Handler handler,
                      LONG_PTR userValue)
{
    if (!control || !IsWindow(control)) {
        return 0;
    }
    Detach();
    fontHeight_ = fontHeight;
    normalColor_ = normal;
    hoverColor_ = hover;
    disabledColor_ = GetSysColor(COLOR_GRAYTEXT);
    flags_ = flags & ~LABEL_HOVERING;
    handler_ = handler;
    control_ = control;
    userValue_ = userValue;
    cursorId_ = cursorId;
    textLock_.Init();

    LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
    if (!(style & WS_TABSTOP)) {
        flags_ |= LABEL_NO_FOCUS;
    }
    if (!IsWindowEnabled(control)) {
        flags_ |= LABEL_DISABLED;
    }
    SetFaces(faces, 0);

    const int length = GetWindowTextLengthW(control);
    WideString text(static_cast<unsigned>(length) + 1);
    GetWindowTextW(control, text.Data(), length + 1);
    text.RefreshCount();
    text_.Assign(text);
    SetWindowTextW(control, L"");

    if (!(flags_ & LABEL_IGNORE_EX_TRANSPARENT) &&
        (GetWindowLongPtrW(control, GWL_EXSTYLE) & WS_EX_TRANSPARENT)) {
        flags_ |= LABEL_TRANSPARENT;
    }
    if (flags_ & LABEL_TRACK_MOUSE) {
        style |= SS_NOTIFY;
        SetWindowLongPtrW(control, GWL_STYLE, style);
    }
    format_ = LabelTextFormat(style, flags_);

    BuildFont();
    if (!subclass_.Attach(control, &OnSubclassMessage, this, LABEL_SUBCLASS_TAG)) {
        // The static keeps showing its text itself.
        SetWindowTextW(control, text_.Data());
        Detach();
        return 0;
    }
    Repaint();
    return 1;
}

void LabelCtrl::Detach()
{
    subclass_.Detach();
    font_.Reset();
    textLock_.Delete();
    flags_ &= ~(LABEL_HOVERING | LABEL_FOCUSED | LABEL_PRESSED);
    control_ = nullptr;
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

// Screen readers and other programs ask the control for its text; the
// static's own window text is empty once the label owns it.
LRESULT LabelCtrl::CopyText(wchar_t* buffer, WPARAM capacity)
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

unsigned LabelCtrl::TextLength()
{
    ScopedLock lock(textLock_);
    return text_.Length();
}

int LabelCtrl::SetFaces(const wchar_t* faces, int repaint)
{
    const int chosen = ChooseLabelFace(faces, &IsFaceInstalled, nullptr, face_);
    if (repaint) {
        Repaint();
    }
    return chosen;
}

HFONT LabelCtrl::NewFont(int height) const
{
    return ::CreateFontW(height, 0, 0, 0, (flags_ & LABEL_BOLD) ? FW_BOLD : FW_NORMAL,
                         (flags_ & LABEL_ITALIC) ? TRUE : FALSE,
                         (flags_ & LABEL_UNDERLINE) ? TRUE : FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, face_.Data());
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
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(control_, WM_GETFONT, 0, 0));
    if (!font) {
        font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    }
    LOGFONTW logFont = {};
    if (GetObjectW(font, sizeof(logFont), &logFont)) {
        font_.Reset(CreateFontIndirectW(&logFont));
    }
}

void LabelCtrl::CreateFittingFont()
{
    WindowDc dc(control_);
    if (!dc.Get()) {
        return;
    }
    LabelFitting fitting;
    SavedDcState saved(dc.Get());
    RECT client = {};
    GetClientRect(control_, &client);
    const RECT limit = InsetForEdges(client, flags_);
    const int startHeight = fontHeight_ ? fontHeight_ : limit.bottom - limit.top;

    fitting.dc = dc.Get();
    fitting.label = this;
    fitting.create = [](const LabelCtrl* label, int height) { return label->NewFont(height); };
    fitting.text = &text_;
    fitting.client = client;
    fitting.format = format_;
    int height = startHeight;
    if (!fontHeight_ || (flags_ & LABEL_FIT)) {
        height = FitLabelHeight(startHeight, limit, &LabelFitting::Measure, &fitting);
    }
    // The last font the loop made is the one it settled on.
    font_.Reset(fitting.font ? fitting.font.Detach() : NewFont(height));
}

void LabelCtrl::MeasureExtent()
{
    extent_ = MeasureControlText(control_, font_.Get(), text_.Data(), text_.Length());
}

void LabelCtrl::Repaint()
{
    InvalidateControl(control_, (flags_ & LABEL_TRANSPARENT) != 0, TRUE);
}

int LabelCtrl::HitTest()
{
    POINT point;
    if (!GetCursorPos(&point) || !ScreenToClient(control_, &point)) {
        return 1;
    }
    RECT client;
    GetClientRect(control_, &client);
    if (flags_ & LABEL_WHOLE_AREA) {
        return PtInRect(&client, point) ? 1 : 0;
    }
    return IsOverLinkText(point, client, extent_, format_);
}

void LabelCtrl::ShowCursor(bool hovering)
{
    if (!hovering || !cursorId_) {
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        return;
    }
    HINSTANCE module =
        (flags_ & LABEL_SYSTEM_CURSOR)
            ? nullptr
            : reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(control_, GWLP_HINSTANCE));
    HCURSOR cursor = LoadCursorW(module, MAKEINTRESOURCEW(cursorId_));
    SetCursor(cursor ? cursor : LoadCursorW(nullptr, IDC_ARROW));
}

void LabelCtrl::OnMouseMove()
{
    const bool hovering = (flags_ & LABEL_HOVERING) != 0;
    const int over = HitTest();
    if (!hovering && over) {
        flags_ |= LABEL_HOVERING;
        tracker_.Track(control_);
        if (GetKeyState(VK_LBUTTON) < 0) {
            flags_ |= LABEL_PRESSED;
        }
        Repaint();
        if (cursorId_) {
            ShowCursor(true);
        }
    } else if (hovering && !over) {
        flags_ &= ~LABEL_HOVERING;
        Repaint();
        if (cursorId_) {
            ShowCursor(false);
        }
    }
}

void LabelCtrl::Activate(int action, bool notifyParent)
{
    // The handler may detach the label; keep what the notification needs.
    HWND control = control_;
    const bool notify = notifyParent && (flags_ & LABEL_NOTIFY_PARENT);
    if (handler_) {
        handler_(action, 0, userValue_, this);
    }
    if (notify && control) {
        SendMessageW(GetParent(control), WM_COMMAND, static_cast<WPARAM>(GetDlgCtrlID(control)),
                     reinterpret_cast<LPARAM>(control));
    }
}

void LabelCtrl::OnKeyDown(WPARAM key)
{
    if (key == VK_RETURN) {
        Activate(LABEL_ACTION_ENTER, true);
    } else if (key == VK_SPACE) {
        Activate(LABEL_ACTION_SPACE, true);
    }
}

void LabelCtrl::FillBackground(HDC dc, const RECT& client)
{
    HBRUSH brush = nullptr;
    if (!(flags_ & LABEL_WHITE_BACKGROUND)) {
        brush = reinterpret_cast<HBRUSH>(SendMessageW(GetParent(control_), WM_CTLCOLORSTATIC,
                                                      reinterpret_cast<WPARAM>(dc),
                                                      reinterpret_cast<LPARAM>(control_)));
    }
    FillRect(dc, &client, brush ? brush : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
}

void LabelCtrl::Paint()
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
        ScopedLock lock(textLock_);
        if (font_) {
            SelectObject(dc, font_.Get());
        }
        if (!(flags_ & LABEL_TRANSPARENT)) {
            FillBackground(dc, client);
        }
        // Set after the parent had its say about the context.
        SetBkMode(dc, TRANSPARENT);
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
        if ((flags_ & LABEL_FOCUSED) && !(flags_ & LABEL_NO_FOCUS)) {
            const RECT focus = LabelFocusRect(client, extent_, format_, flags_);
            DrawFocusRect(dc, &focus);
        }
    }
    EndPaint(control_, &paint);
}

int LabelCtrl::OnSubclassMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                                 void* context)
{
    return static_cast<LabelCtrl*>(context)->HandleMessage(message, wParam, lParam, result);
}

int LabelCtrl::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    *result = 0;
    const bool tracking = (flags_ & LABEL_TRACK_MOUSE) != 0;
    switch (message) {
    case WM_SETFOCUS:
        flags_ |= LABEL_FOCUSED;
        Repaint();
        return 1;
    case WM_KILLFOCUS:
        flags_ &= ~LABEL_FOCUSED;
        Repaint();
        return 1;
    case WM_ENABLE:
        flags_ = wParam ? (flags_ & ~LABEL_DISABLED) : (flags_ | LABEL_DISABLED);
        Repaint();
        return 1;
    case WM_SETTEXT:
        SetText(reinterpret_cast<const wchar_t*>(lParam));
        *result = TRUE;
        return 1;
    case WM_GETTEXT:
        *result = CopyText(reinterpret_cast<wchar_t*>(lParam), wParam);
        return 1;
    case WM_GETTEXTLENGTH:
        *result = static_cast<LRESULT>(TextLength());
        return 1;
    case WM_PAINT:
        Paint();
        return 1;
    case WM_CANCELMODE:
        flags_ &= ~LABEL_HOVERING;
        Repaint();
        return 1;
    case WM_SETCURSOR:
        ShowCursor((flags_ & LABEL_HOVERING) != 0);
        return 1;
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
        OnKeyDown(wParam);
        return 1;
    case WM_MOUSEMOVE:
        if (!tracking) {
            return 0;
        }
        OnMouseMove();
        return 1;
    case WM_MOUSELEAVE:
        if (!tracking) {
            return 0;
        }
        flags_ &= ~(LABEL_HOVERING | LABEL_PRESSED);
        Repaint();
        return 1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        flags_ |= LABEL_PRESSED;
        Activate(LABEL_ACTION_PRESS, false);
        Repaint();
        return 1;
    case WM_LBUTTONUP:
        flags_ &= ~LABEL_PRESSED;
        if (flags_ & LABEL_HOVERING) {
            Activate(LABEL_ACTION_RELEASE, true);
        }
        Repaint();
        return 1;
    default:
        return 0;
    }
}
