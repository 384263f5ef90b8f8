#include "ui/LinkCtrl.h"

#include <stdio.h>
#include <wchar.h>

#include "system/Files.h"
#include "system/OsVersion.h"
#include "system/Registry.h"
#include "ui/GdiHelpers.h"
#include "ui/Dpi.h"

namespace {

const wchar_t kSettingsKey[] = L"Software\\Microsoft\\Internet Explorer\\Settings";
const wchar_t kMainKey[] = L"Software\\Microsoft\\Internet Explorer\\Main";
const wchar_t kInternationalKey[] = L"Software\\Microsoft\\Internet Explorer\\International";
const wchar_t kScriptsKey[] = L"Software\\Microsoft\\Internet Explorer\\International\\Scripts";
const wchar_t kStylesKey[] = L"Software\\Microsoft\\Internet Explorer\\Styles";
const wchar_t kFontNameValue[] = L"IEPropFontName";
constexpr DWORD kSettingCapacity = 260;

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
    UINT format = DT_SINGLELINE | DT_NOPREFIX | StaticAlignmentFormat(style);
    if (flags & LINK_END_ELLIPSIS) {
        format |= DT_END_ELLIPSIS;
    }
    if (flags & LINK_PATH_ELLIPSIS) {
        format |= DT_PATH_ELLIPSIS;
    }
    return format;
}

const wchar_t* AddressWithoutScheme(const wchar_t* address)
{
    if (!address) {
        return L"";
    }
    const wchar_t* separator = wcsstr(address, L"://");
    return separator ? separator + 3 : address;
}

int LinkTextFits(SIZE extent, SIZE client)
{
    return extent.cx <= client.cx && extent.cy < client.cy;
}

namespace {

TextCtrlTraits LinkTraits()
{
    TextCtrlTraits traits;
    traits.hovering = LINK_HOVERING;
    traits.focused = LINK_FOCUSED;
    traits.disabled = LINK_DISABLED;
    traits.noFocus = LINK_NO_FOCUS_RECT;
    traits.transparent = LINK_TRANSPARENT;
    traits.ignoreExTransparent = LINK_IGNORE_EX_TRANSPARENT;
    return traits;
}

} // namespace

LinkCtrl::LinkCtrl() : TextCtrl(LinkTraits())
{
}

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
    const LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
    AdoptControl(control,
                 (options & ~(LINK_HOVERING | LINK_FOCUSED | LINK_DISABLED | LINK_NO_FOCUS_RECT)) |
                     LINK_HOVER_COLOR);
    visualStyle_.Open(control, L"TOOLBAR");
    text_.Assign(text ? text : L"");
    RebuildDisplayText();
    wcscpy(url_, url ? url : L"");
    cursorId_ = cursorId;

    // Kept to give the control back as it was when it cannot be subclassed.
    WideString originalText;
    TakeWindowText(originalText);
    SetWindowLongPtrW(control, GWL_STYLE, style | SS_NOTIFY);
    SetUpColors();
    dpi_ = WindowDpi(control);
    CreateFonts();
    format_ = LinkTextFormat(style, flags_);
    RebuildDisplayText();
    if (!SubclassControl(LINK_SUBCLASS_TAG, style, originalText)) {
        Detach();
        return 0;
    }
    MeasureExtent();
    Repaint();
    return 1;
}

void LinkCtrl::Detach()
{
    ReleaseControl();
    linkFont_.Reset();
    plainFont_.Reset();
    visualStyle_.Close();
}

int LinkCtrl::SetText(const wchar_t* text)
{
    if (!text_.Assign(text ? text : L"")) {
        return 0;
    }
    RebuildDisplayText();
    MeasureExtent();
    Repaint();
    return 1;
}

HFONT LinkCtrl::CurrentFont() const
{
    switch (style_.underline) {
    case LINK_UNDERLINE_NEVER:
        return plainFont_.Get();
    case LINK_UNDERLINE_HOVER:
        return IsHovering() ? linkFont_.Get() : plainFont_.Get();
    default:
        return linkFont_.Get();
    }
}

COLORREF LinkCtrl::CurrentColor() const
{
    if (flags_ & LINK_DISABLED) {
        return disabledColor_;
    }
    if (IsHovering() && (flags_ & LINK_HOVER_COLOR)) {
        return style_.hover;
    }
    return style_.normal;
}

// The defaults, then the browser's settings, which may also switch the hover
// colour off.
void LinkCtrl::SetUpColors()
{
    style_ = LinkStyle();
    disabledColor_ = GetSysColor(COLOR_GRAYTEXT);
    style_.hover = GetSysColorBrush(COLOR_HOTLIGHT) ? GetSysColor(COLOR_HOTLIGHT) : 0x0000FF;
    ReadBrowserSettings();
    if (!style_.hoverColor) {
        flags_ &= ~LINK_HOVER_COLOR;
    }
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
    LOGFONTW logFont = {};
    if (!ReadControlFont(logFont)) {
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
    // Theme metrics are per DPI: the handle opened for the old one is stale.
    visualStyle_.Open(control_, L"TOOLBAR", dpi);
    CreateFonts();
    RebuildDisplayText();
    MeasureExtent();
    Repaint();
}

void LinkCtrl::ChooseFace()
{
    face_[0] = L'\0';
    if (flags_ & LINK_BROWSER_FONT) {
        BrowserFaceName(face_);
    }
    if (face_[0] == L'\0') {
        const wchar_t* fallback =
            FontFamilyExists(L"Segoe UI", DEFAULT_CHARSET, nullptr)  ? L"Segoe UI"
            : FontFamilyExists(L"Verdana", DEFAULT_CHARSET, nullptr) ? L"Verdana"
                                                                     : L"Arial";
        wcscpy(face_, fallback);
    }
}

HFONT LinkCtrl::NewFont(int height, bool underline) const
{
    return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, underline ? TRUE : FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       pitchAndFamily_, face_);
}

HFONT LinkCtrl::MakeFittingFont(int height) const
{
    return NewFont(height, true);
}

int LinkCtrl::TextFits(HDC dc) const
{
    SIZE extent = {};
    if (!GetTextExtentPoint32W(dc, display_.Data(), static_cast<int>(display_.Length()), &extent)) {
        return 1;
    }
    RECT client = {};
    GetClientRect(control_, &client);
    return LinkTextFits(extent, {client.right - client.left, client.bottom - client.top});
}

void LinkCtrl::CreateFittingFonts()
{
    ChooseFace();
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
        // The device context's font is the system's, made for the system's
        // DPI; on a monitor of another DPI the fitting starts from its size
        // there.
        const int startHeight = (flags_ & LINK_FIT_HEIGHT)
                                    ? client.bottom - client.top
                                    : RescaleForDpi(metrics.tmHeight, SystemDpi(), dpi_);
        // Only the family: the pitch bit of the text metrics means the
        // opposite of the one CreateFontW takes.
        pitchAndFamily_ = metrics.tmPitchAndFamily & 0xF0;
        // The fitted font outlives the device context it is selected into.
        linkFont_.Reset(FitFont(dc, startHeight, &height));
    }
    if (!linkFont_) {
        linkFont_.Reset(NewFont(height, true));
    }
    plainFont_.Reset(NewFont(height, false));
}

void LinkCtrl::RebuildDisplayText()
{
    LOGFONTW logFont = {};
    if (plainFont_) {
        GetObjectW(plainFont_.Get(), sizeof(logFont), &logFont);
    }
    BuildDisplayText(text_.Data(), (flags_ & LINK_MASKED) != 0, logFont.lfFaceName, display_);
}

void LinkCtrl::MeasureExtent()
{
    extent_ = MeasureText(linkFont_.Get(), display_);
}

HCURSOR LinkCtrl::HoverCursor() const
{
    HCURSOR cursor = LoadCursorW(ControlModule(), MAKEINTRESOURCEW(cursorId_));
    // A missing resource must not leave the pointer invisible.
    return cursor ? cursor : LoadCursorW(nullptr, IDC_HAND);
}

// Enabled under the cursor, the link hovers at once, as if the mouse had
// moved onto it.
void LinkCtrl::OnEnabled()
{
    if (!IsHovering() && HitTest()) {
        StartHovering();
    }
}

void LinkCtrl::Draw(HDC dc, const RECT& client)
{
    if (HFONT font = CurrentFont()) {
        SelectObject(dc, font);
    }
    FillBackground(dc, client, true);
    if ((flags_ & LINK_PARENT_BACKGROUND) && visualStyle_.IsBackgroundPartiallyTransparent(1, 1)) {
        visualStyle_.DrawParentBackground(dc, &client);
    }
    SetTextColor(dc, CurrentColor());
    RECT textRect = client;
    DrawTextW(dc, display_.Data(), -1, &textRect, format_);
    DrawFocus(dc, TextFocusRect(client, extent_, format_));
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

// The keys act when released; pressing the button only tells the handlers,
// releasing it over the text opens the address.
int LinkCtrl::HandleControlMessage(UINT message, WPARAM wParam, LPARAM, LRESULT*)
{
    switch (message) {
    case WM_KEYUP:
        ActivateByKey(wParam, LINK_ACTION_ENTER, LINK_ACTION_SPACE);
        return 1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_LBUTTONUP:
        if (IsHovering()) {
            Activate(message == WM_LBUTTONUP ? LINK_ACTION_RELEASE : LINK_ACTION_PRESS);
        }
        return 1;
    default:
        return 0;
    }
}
