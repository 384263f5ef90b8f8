#include "ui/LinkCtrl.h"

#include <stdio.h>
#include <wchar.h>

#include "system/Files.h"
#include "system/OsVersion.h"
#include "system/Registry.h"
#include "system/SystemInfo.h"
#include "ui/ControlText.h"
#include "ui/Dpi.h"

namespace {

const wchar_t kSettingsKey[] = L"Software\\Microsoft\\Internet Explorer\\Settings";
const wchar_t kMainKey[] = L"Software\\Microsoft\\Internet Explorer\\Main";
const wchar_t kInternationalKey[] = L"Software\\Microsoft\\Internet Explorer\\International";
const wchar_t kScriptsKey[] = L"Software\\Microsoft\\Internet Explorer\\International\\Scripts";
const wchar_t kStylesKey[] = L"Software\\Microsoft\\Internet Explorer\\Styles";
const wchar_t kFontNameValue[] = L"IEPropFontName";
constexpr DWORD kSettingCapacity = 260;
constexpr int kSmallestFontHeight = 4;

bool IsText(const wchar_t* text, const wchar_t* expected)
{
    return text && _wcsicmp(text, expected) == 0;
}

// Reads a string value into buffer; answers buffer, or null when missing.
const wchar_t* ReadSetting(RegistryKey& key, const wchar_t* name, wchar_t* buffer)
{
    if (!key.IsOpen() || !key.ReadStringFixed(name, buffer, kSettingCapacity)) {
        return nullptr;
    }
    return buffer;
}

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

// Reads "IEPropFontName" of the key into face (kSettingCapacity
// characters); leaves face empty when the key or value is missing.
void ReadFaceName(const wchar_t* keyName, wchar_t* face)
{
    RegistryKey key;
    if (!key.Open(HKEY_CURRENT_USER, keyName) ||
        !key.ReadStringFixed(kFontNameValue, face, kSettingCapacity)) {
        face[0] = L'\0';
    }
}

} // namespace

int ParseColorText(const wchar_t* text, COLORREF* color)
{
    unsigned red = 0;
    unsigned green = 0;
    unsigned blue = 0;
    if (!text || swscanf(text, L"%u,%u,%u", &red, &green, &blue) != 3) {
        return 0;
    }
    *color = RGB(red & 0xFF, green & 0xFF, blue & 0xFF);
    return 1;
}

void ApplyLinkSettings(const LinkSettingTexts& texts, const LinkSystemColors& system,
                       LinkStyle& style)
{
    if (texts.useHoverColor) {
        style.hoverColor = IsText(texts.useHoverColor, L"yes");
    }
    ParseColorText(texts.color, &style.normal);
    ParseColorText(texts.hoverColor, &style.hover);
    if (IsText(texts.underline, L"yes")) {
        style.underline = LINK_UNDERLINE_ALWAYS;
    } else if (IsText(texts.underline, L"no")) {
        style.underline = LINK_UNDERLINE_NEVER;
    } else if (IsText(texts.underline, L"hover")) {
        style.underline = LINK_UNDERLINE_HOVER;
    }
    if (IsText(texts.dialogColors, L"yes")) {
        style.normal = system.vistaOrLater ? system.hotLight : LINK_DEFAULT_COLOR;
        style.hover = system.highlight;
    }
}

wchar_t MaskCharacterFor(const wchar_t* faceName)
{
    return IsText(faceName, L"Verdana") ? L'\x2022' : L'*';
}

int BuildDisplayText(const wchar_t* text, int masked, const wchar_t* faceName, WideString& display)
{
    if (!text) {
        text = L"";
    }
    if (!masked) {
        return display.Assign(text);
    }
    const size_t length = wcslen(text);
    if (!display.Reserve(static_cast<unsigned>(length) + 1)) {
        return 0;
    }
    wchar_t* buffer = display.Data();
    const wchar_t mask = MaskCharacterFor(faceName);
    for (size_t i = 0; i < length; ++i) {
        buffer[i] = mask;
    }
    buffer[length] = L'\0';
    display.RefreshCount();
    return 1;
}

UINT LinkTextFormat(LONG_PTR style, DWORD flags)
{
    // DT_NOPREFIX: an ampersand in an address is text, not a mnemonic, and
    // the drawing must match the measured extent.
    UINT format = DT_SINGLELINE | DT_NOPREFIX;
    const LONG_PTR type = style & SS_TYPEMASK;
    if (type == SS_CENTER) {
        format |= DT_CENTER;
    } else if (type == SS_RIGHT) {
        format |= DT_RIGHT;
    }
    if (style & SS_CENTERIMAGE) {
        format |= DT_VCENTER;
    }
    if (flags & LINK_END_ELLIPSIS) {
        format |= DT_END_ELLIPSIS;
    }
    if (flags & LINK_PATH_ELLIPSIS) {
        format |= DT_PATH_ELLIPSIS;
    }
    return format;
}

int IsOverLinkText(POINT point, const RECT& client, SIZE extent, UINT format)
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

RECT LinkFocusRect(const RECT& client, SIZE extent, UINT format)
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

const wchar_t* AddressWithoutScheme(const wchar_t* address)
{
    if (!address) {
        return L"";
    }
    const wchar_t* separator = wcsstr(address, L"://");
    return separator ? separator + 3 : address;
}

int FitFontHeight(int startHeight, SIZE client, MeasureAtHeight measure, void* context)
{
    int height = startHeight;
    for (;;) {
        SIZE extent = {};
        if (!measure(context, height, &extent)) {
            return height;
        }
        if (extent.cx <= client.cx && extent.cy < client.cy) {
            return height;
        }
        if (height - 1 < kSmallestFontHeight) {
            return height;
        }
        --height;
    }
}

namespace {

// Creates one font of the fitting loop and measures the display text in it.
struct FontFitting
{
    HDC dc = nullptr;
    const wchar_t* face = nullptr;
    BYTE pitchAndFamily = 0;
    const WideString* text = nullptr;
    ScopedFont font;

    HFONT Create(int height, bool underline) const
    {
        return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, underline ? TRUE : FALSE, FALSE,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, pitchAndFamily, face);
    }

    static int Measure(void* context, int height, SIZE* extent)
    {
        FontFitting& fitting = *static_cast<FontFitting*>(context);
        HFONT font = fitting.Create(height, true);
        if (!font) {
            return 0;
        }
        SelectObject(fitting.dc, font);
        fitting.font.Reset(font);
        return GetTextExtentPoint32W(fitting.dc, fitting.text->Data(),
                                     static_cast<int>(fitting.text->Length()), extent)
                   ? 1
                   : 0;
    }
};

} // namespace

int LinkCtrl::Attach(HWND control, const wchar_t* text, const wchar_t* url, WORD cursorId,
                     DWORD options)
{
    if (!control || !IsWindow(control) || (url && wcslen(url) >= LINK_URL_CAPACITY)) {
        return 0;
    }
    Detach();
    simpleHandler_ = nullptr;
    extendedHandler_ = nullptr;
    userValue_ = 0;
    control_ = control;
    flags_ = (options & ~(LINK_HOVERING | LINK_FOCUSED | LINK_DISABLED | LINK_NO_FOCUS_RECT)) |
             LINK_HOVER_COLOR;
    visualStyle_.Open(control, L"TOOLBAR");

    const LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
    if (!(style & WS_TABSTOP)) {
        flags_ |= LINK_NO_FOCUS_RECT;
    }
    if (!IsWindowEnabled(control)) {
        flags_ |= LINK_DISABLED;
    }
    text_.Assign(text ? text : L"");
    RebuildDisplayText();
    wcscpy(url_, url ? url : L"");
    cursorId_ = cursorId;

    // Kept to give the control back as it was when it cannot be subclassed.
    WideString originalText;
    ReadWindowText(control, originalText);
    SetWindowLongPtrW(control, GWL_STYLE, style | SS_NOTIFY);
    SetWindowTextW(control, L"");
    if (!(flags_ & LINK_IGNORE_EX_TRANSPARENT) &&
        (GetWindowLongPtrW(control, GWL_EXSTYLE) & WS_EX_TRANSPARENT)) {
        flags_ |= LINK_TRANSPARENT;
    }

    style_ = LinkStyle();
    disabledColor_ = GetSysColor(COLOR_GRAYTEXT);
    style_.hover = GetSysColorBrush(COLOR_HOTLIGHT) ? GetSysColor(COLOR_HOTLIGHT) : 0x0000FF;
    ReadBrowserSettings();
    if (!style_.hoverColor) {
        flags_ &= ~LINK_HOVER_COLOR;
    }

    dpi_ = WindowDpi(control);
    CreateFonts();
    format_ = LinkTextFormat(style, flags_);
    RebuildDisplayText();
    if (!subclass_.Attach(control, &OnSubclassMessage, this, LINK_SUBCLASS_TAG)) {
        Detach();
        SetWindowLongPtrW(control, GWL_STYLE, style);
        SetWindowTextW(control, originalText.Data());
        return 0;
    }
    MeasureText();
    Repaint();
    return 1;
}

void LinkCtrl::Detach()
{
    subclass_.Detach();
    linkFont_.Reset();
    plainFont_.Reset();
    visualStyle_.Close();
    flags_ &= ~(LINK_HOVERING | LINK_FOCUSED);
    control_ = nullptr;
}

int LinkCtrl::SetText(const wchar_t* text)
{
    if (!text_.Assign(text ? text : L"")) {
        return 0;
    }
    RebuildDisplayText();
    MeasureText();
    Repaint();
    return 1;
}

HFONT LinkCtrl::CurrentFont() const
{
    switch (style_.underline) {
    case LINK_UNDERLINE_NEVER:
        return plainFont_.Get();
    case LINK_UNDERLINE_HOVER:
        return (flags_ & LINK_HOVERING) ? linkFont_.Get() : plainFont_.Get();
    default:
        return linkFont_.Get();
    }
}

COLORREF LinkCtrl::CurrentColor() const
{
    if (flags_ & LINK_DISABLED) {
        return disabledColor_;
    }
    if ((flags_ & LINK_HOVERING) && (flags_ & LINK_HOVER_COLOR)) {
        return style_.hover;
    }
    return style_.normal;
}

void LinkCtrl::ReadBrowserSettings()
{
    wchar_t useHover[kSettingCapacity];
    wchar_t color[kSettingCapacity];
    wchar_t hoverColor[kSettingCapacity];
    wchar_t underline[kSettingCapacity];
    wchar_t dialogColors[kSettingCapacity];
    LinkSettingTexts texts;
    RegistryKey settings;
    if (settings.Open(HKEY_CURRENT_USER, kSettingsKey)) {
        texts.useHoverColor = ReadSetting(settings, L"Use Anchor Hover Color", useHover);
        texts.color = ReadSetting(settings, L"Anchor Color", color);
        texts.hoverColor = ReadSetting(settings, L"Anchor Color Hover", hoverColor);
    }
    RegistryKey main;
    if (main.Open(HKEY_CURRENT_USER, kMainKey)) {
        texts.underline = ReadSetting(main, L"Anchor Underline", underline);
        texts.dialogColors = ReadSetting(main, L"Use_DlgBox_Colors", dialogColors);
    }
    LinkSystemColors system;
    system.hotLight = GetSysColor(COLOR_HOTLIGHT);
    system.highlight = GetSysColor(COLOR_HIGHLIGHT);
    system.vistaOrLater = IsOsAtLeast(OS_VISTA) != 0;
    ApplyLinkSettings(texts, system, style_);
}

void LinkCtrl::CreateFonts()
{
    if (flags_ & LINK_CONTROL_FONT) {
        CreateControlFonts();
    } else {
        CreateFittingFonts();
    }
}

void LinkCtrl::CreateControlFonts()
{
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(control_, WM_GETFONT, 0, 0));
    if (!font) {
        font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    }
    LOGFONTW logFont = {};
    if (!GetObjectW(font, sizeof(logFont), &logFont)) {
        return;
    }
    plainFont_.Reset(CreateFontIndirectW(&logFont));
    logFont.lfUnderline = TRUE;
    linkFont_.Reset(CreateFontIndirectW(&logFont));
}

// The face the browser shows pages in: from the default code page's
// settings, else the default script's, else the general styles; an empty
// face name counts as none. Leaves face empty when none has one.
void LinkCtrl::BrowserFaceName(wchar_t* face)
{
    wchar_t found[kSettingCapacity] = {};
    WideString keyName;
    DWORD number = 0;
    RegistryKey key;
    if (key.Open(HKEY_CURRENT_USER, kInternationalKey) &&
        key.ReadDword(L"Default_CodePage", number)) {
        Format(keyName, L"%s\\%u", kInternationalKey, static_cast<unsigned>(number));
        ReadFaceName(keyName.Data(), found);
    }
    if (found[0] == L'\0') {
        number = 3;
        if (key.Open(HKEY_CURRENT_USER, kScriptsKey)) {
            key.ReadDword(L"Default_Script", number);
        }
        Format(keyName, L"%s\\%u", kScriptsKey, static_cast<unsigned>(number));
        ReadFaceName(keyName.Data(), found);
    }
    if (found[0] == L'\0') {
        ReadFaceName(kStylesKey, found);
    }
    // A font's face name holds at most LF_FACESIZE - 1 characters.
    wcsncpy(face, found, LF_FACESIZE - 1);
    face[LF_FACESIZE - 1] = L'\0';
}

void LinkCtrl::SetDpi(int dpi)
{
    if (!control_ || dpi <= 0) {
        return;
    }
    dpi_ = dpi;
    CreateFonts();
    RebuildDisplayText();
    MeasureText();
    Repaint();
}

void LinkCtrl::CreateFittingFonts()
{
    wchar_t face[LF_FACESIZE] = {};
    if (flags_ & LINK_BROWSER_FONT) {
        BrowserFaceName(face);
    }
    if (face[0] == L'\0') {
        const wchar_t* fallback =
            FontFamilyExists(L"Segoe UI", DEFAULT_CHARSET, nullptr)  ? L"Segoe UI"
            : FontFamilyExists(L"Verdana", DEFAULT_CHARSET, nullptr) ? L"Verdana"
                                                                     : L"Arial";
        wcscpy(face, fallback);
    }
    // The fitting's last font outlives the device context it was selected
    // into.
    FontFitting fitting;
    int height = 0;
    {
        WindowDc windowDc(control_);
        HDC dc = windowDc.Get();
        if (!dc) {
            return;
        }
        SavedDcState savedState(dc);
        TEXTMETRICW metrics = {};
        GetTextMetricsW(dc, &metrics);
        RECT client = {};
        GetClientRect(control_, &client);
        const SIZE clientSize = {client.right - client.left, client.bottom - client.top};
        // The device context's font is the system's, made for the system's
        // DPI; on a monitor of another DPI the fitting starts from its size
        // there.
        const int startHeight = (flags_ & LINK_FIT_HEIGHT)
                                    ? clientSize.cy
                                    : RescaleForDpi(metrics.tmHeight, SystemDpi(), dpi_);

        fitting.dc = dc;
        fitting.face = face;
        // Only the family: the pitch bit of the text metrics means the
        // opposite of the one CreateFontW takes.
        fitting.pitchAndFamily = metrics.tmPitchAndFamily & 0xF0;
        fitting.text = &display_;
        height = FitFontHeight(startHeight, clientSize, &FontFitting::Measure, &fitting);
    }
    linkFont_.Reset(fitting.font.Detach());
    if (!linkFont_) {
        linkFont_.Reset(fitting.Create(height, true));
    }
    plainFont_.Reset(fitting.Create(height, false));
}

void LinkCtrl::RebuildDisplayText()
{
    LOGFONTW logFont = {};
    if (plainFont_) {
        GetObjectW(plainFont_.Get(), sizeof(logFont), &logFont);
    }
    BuildDisplayText(text_.Data(), (flags_ & LINK_MASKED) != 0, logFont.lfFaceName, display_);
}

void LinkCtrl::MeasureText()
{
    extent_ = MeasureControlText(control_, linkFont_.Get(), display_.Data(), display_.Length());
}

void LinkCtrl::Repaint()
{
    InvalidateControl(control_, (flags_ & LINK_TRANSPARENT) != 0, FALSE);
}

int LinkCtrl::HitTest()
{
    if (extent_.cy == 0) {
        return 1;
    }
    POINT point;
    if (!GetCursorPos(&point) || !ScreenToClient(control_, &point)) {
        return 1;
    }
    RECT client;
    GetClientRect(control_, &client);
    return IsOverLinkText(point, client, extent_, format_);
}

void LinkCtrl::ShowLinkCursor()
{
    HINSTANCE module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(control_, GWLP_HINSTANCE));
    HCURSOR cursor = LoadCursorW(module, MAKEINTRESOURCEW(cursorId_));
    // A missing resource must not leave the pointer invisible.
    SetCursor(cursor ? cursor : LoadCursorW(nullptr, IDC_HAND));
}

void LinkCtrl::OnMouseMove()
{
    const bool hovering = (flags_ & LINK_HOVERING) != 0;
    const int over = HitTest();
    if (!hovering && over) {
        flags_ |= LINK_HOVERING;
        tracker_.Track(control_);
        Repaint();
        ShowLinkCursor();
    } else if (hovering && !over) {
        flags_ &= ~LINK_HOVERING;
        Repaint();
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    }
}

void LinkCtrl::Paint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(control_, &paint);
    if (!dc) {
        return;
    }
    {
        SavedDcState savedState(dc);
        RECT client;
        GetClientRect(control_, &client);
        if (HFONT font = CurrentFont()) {
            SelectObject(dc, font);
        }
        SetBkMode(dc, TRANSPARENT);
        if (!(flags_ & LINK_TRANSPARENT)) {
            HBRUSH brush = reinterpret_cast<HBRUSH>(
                SendMessageW(GetParent(control_), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                             reinterpret_cast<LPARAM>(control_)));
            FillRect(dc, &client, brush ? brush : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            // The parent may have changed the mode while answering.
            SetBkMode(dc, TRANSPARENT);
        }
        if ((flags_ & LINK_PARENT_BACKGROUND) &&
            visualStyle_.IsBackgroundPartiallyTransparent(1, 1)) {
            visualStyle_.DrawParentBackground(dc, &client);
        }
        SetTextColor(dc, CurrentColor());
        DrawTextW(dc, display_.Data(), -1, &client, format_);
        if (!(flags_ & (LINK_DISABLED | LINK_NO_FOCUS_RECT)) && (flags_ & LINK_FOCUSED)) {
            const RECT focus = LinkFocusRect(client, extent_, format_);
            DrawFocusRect(dc, &focus);
        }
    }
    EndPaint(control_, &paint);
}

void LinkCtrl::Activate(int action)
{
    if (simpleHandler_) {
        simpleHandler_(action, text_.Data(), url_);
        return;
    }
    if (extendedHandler_) {
        extendedHandler_(action, text_.Data(), url_, userValue_, this);
        return;
    }
    if (action == LINK_ACTION_PRESS) {
        return;
    }
    if (flags_ & LINK_NOTIFY_PARENT) {
        SendMessageW(GetParent(control_), WM_COMMAND, static_cast<WPARAM>(GetDlgCtrlID(control_)),
                     reinterpret_cast<LPARAM>(control_));
        return;
    }
    if (url_[0]) {
        OpenUrl(url_);
    }
}

int LinkCtrl::OnSubclassMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                                void* context)
{
    return static_cast<LinkCtrl*>(context)->HandleMessage(message, wParam, lParam, result);
}

int LinkCtrl::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    *result = 0;
    switch (message) {
    case WM_SETFOCUS:
        flags_ |= LINK_FOCUSED;
        Repaint();
        return 1;
    case WM_KILLFOCUS:
        flags_ &= ~LINK_FOCUSED;
        Repaint();
        return 1;
    case WM_ENABLE:
        if (wParam) {
            flags_ &= ~LINK_DISABLED;
            if (!(flags_ & LINK_HOVERING) && HitTest()) {
                flags_ |= LINK_HOVERING;
                ShowLinkCursor();
            }
        } else {
            flags_ |= LINK_DISABLED;
        }
        Repaint();
        return 1;
    case WM_SETTEXT:
        SetText(reinterpret_cast<const wchar_t*>(lParam));
        *result = TRUE;
        return 1;
    case WM_GETTEXT: {
        wchar_t* buffer = reinterpret_cast<wchar_t*>(lParam);
        if (wParam == 0 || !buffer) {
            return 1;
        }
        const size_t length = text_.Length();
        const size_t count = length < wParam - 1 ? length : wParam - 1;
        wmemcpy(buffer, text_.Data(), count);
        buffer[count] = L'\0';
        *result = static_cast<LRESULT>(count);
        return 1;
    }
    case WM_GETTEXTLENGTH:
        // Kept in step with WM_GETTEXT: the control's own text is empty.
        *result = static_cast<LRESULT>(text_.Length());
        return 1;
    case WM_PAINT:
        Paint();
        return 1;
    case WM_CANCELMODE:
    case WM_MOUSELEAVE:
        flags_ &= ~LINK_HOVERING;
        Repaint();
        return 1;
    case WM_SETCURSOR:
        if (flags_ & LINK_HOVERING) {
            ShowLinkCursor();
        } else {
            SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        }
        return 1;
    case WM_KEYUP:
        if (wParam == VK_RETURN) {
            Activate(LINK_ACTION_ENTER);
        } else if (wParam == VK_SPACE) {
            Activate(LINK_ACTION_SPACE);
        }
        return 1;
    case WM_MOUSEMOVE:
        OnMouseMove();
        return 1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        if (flags_ & LINK_HOVERING) {
            Activate(LINK_ACTION_PRESS);
        }
        return 1;
    case WM_LBUTTONUP:
        if (flags_ & LINK_HOVERING) {
            Activate(LINK_ACTION_RELEASE);
        }
        return 1;
    default:
        return 0;
    }
}
