#pragma once

#include <windows.h>

#include "base/ScopedHandle.h"
#include "base/WideString.h"
#include "ui/MouseLeaveTracker.h"
#include "ui/Subclasser.h"
#include "ui/VisualStyle.h"

// Option bits given to LinkCtrl::Attach, and state bits the link keeps.
constexpr DWORD LINK_HOVER_COLOR = 0x1;         // hover colour while hovering
constexpr DWORD LINK_CONTROL_FONT = 0x2;        // fonts from the control's own font
constexpr DWORD LINK_HOVERING = 0x4;            // state: the cursor is over the text
constexpr DWORD LINK_DISABLED = 0x8;            // state: the control is disabled
constexpr DWORD LINK_TRANSPARENT = 0x10;        // paint no background
constexpr DWORD LINK_FIT_HEIGHT = 0x20;         // fit the font from the client height
constexpr DWORD LINK_FOCUSED = 0x40;            // state: the control has the focus
constexpr DWORD LINK_NO_FOCUS_RECT = 0x80;      // state: no focus rectangle (no tab stop)
constexpr DWORD LINK_MASKED = 0x100;            // show one mask character per character
constexpr DWORD LINK_BROWSER_FONT = 0x200;      // face from the browser's settings
constexpr DWORD LINK_PARENT_BACKGROUND = 0x400; // themed parent background shows through
constexpr DWORD LINK_NOTIFY_PARENT = 0x800;     // WM_COMMAND to the parent instead of opening
constexpr DWORD LINK_END_ELLIPSIS = 0x1000;
constexpr DWORD LINK_PATH_ELLIPSIS = 0x2000;
constexpr DWORD LINK_IGNORE_EX_TRANSPARENT = 0x4000; // WS_EX_TRANSPARENT does not matter

// Activation actions handed to the handlers.
constexpr int LINK_ACTION_PRESS = 1; // left button pressed or double-clicked
constexpr int LINK_ACTION_ENTER = 2;
constexpr int LINK_ACTION_SPACE = 3;
constexpr int LINK_ACTION_RELEASE = 4; // left button released

// Underline modes.
constexpr int LINK_UNDERLINE_NEVER = 0;
constexpr int LINK_UNDERLINE_HOVER = 1;
constexpr int LINK_UNDERLINE_ALWAYS = 2;

constexpr DWORD LINK_SUBCLASS_TAG = 0x6C696E6B;
constexpr unsigned LINK_URL_CAPACITY = 260;
constexpr COLORREF LINK_DEFAULT_COLOR = 0xCC6600;

// Colours, underline rule and the hover-colour option of a link.
struct LinkStyle
{
    COLORREF normal = LINK_DEFAULT_COLOR;
    COLORREF hover = 0x0000FF;
    int underline = LINK_UNDERLINE_ALWAYS;
    bool hoverColor = true;
};

// The browser's settings as read from the registry; null where missing.
struct LinkSettingTexts
{
    const wchar_t* useHoverColor = nullptr; // "Use Anchor Hover Color"
    const wchar_t* color = nullptr;         // "Anchor Color"
    const wchar_t* hoverColor = nullptr;    // "Anchor Color Hover"
    const wchar_t* underline = nullptr;     // "Anchor Underline"
    const wchar_t* dialogColors = nullptr;  // "Use_DlgBox_Colors"
};

// System colours the settings may refer to.
struct LinkSystemColors
{
    COLORREF hotLight = 0;
    COLORREF highlight = 0;
    bool vistaOrLater = true;
};

// "r,g,b" with all three numbers present; the low 8 bits of each count.
int ParseColorText(const wchar_t* text, COLORREF* color);
// Applies the browser's settings to a style; missing values change nothing.
void ApplyLinkSettings(const LinkSettingTexts& texts, const LinkSystemColors& system,
                       LinkStyle& style);
// U+2022 for a "Verdana" face, else "*".
wchar_t MaskCharacterFor(const wchar_t* faceName);
// The text as drawn: itself, or one mask character per character.
int BuildDisplayText(const wchar_t* text, int masked, const wchar_t* faceName, WideString& display);
// DrawTextW flags for a static control's style and the link options.
UINT LinkTextFormat(LONG_PTR style, DWORD flags);
// 1 when a cursor at point (client coordinates) is over text of the given
// extent drawn with format in the client rectangle.
int IsOverLinkText(POINT point, const RECT& client, SIZE extent, UINT format);
// The focus rectangle around text of the given extent.
RECT LinkFocusRect(const RECT& client, SIZE extent, UINT format);

// The address as shown: without its scheme ("http://example.com/" gives
// "example.com/"); an address without "://" as it is.
const wchar_t* AddressWithoutScheme(const wchar_t* address);

// Measures the display text in a font of the given height; 0 on failure.
using MeasureAtHeight = int (*)(void* context, int height, SIZE* extent);
// The font height the fitting loop settles on: starting at startHeight and
// one pixel lower per round until the text is at most as wide as the client
// area and strictly lower than it, or measuring fails; never below 4.
int FitFontHeight(int startHeight, SIZE client, MeasureAtHeight measure, void* context);

// Turns a static control into a web link drawn in the browser's link
// colours, with a hand cursor while the mouse is over the text; activation
// by mouse release over the text, Enter or Space opens the address.
class LinkCtrl
{
public:
    using SimpleHandler = void (*)(int action, const wchar_t* text, const wchar_t* url);
    using ExtendedHandler = void (*)(int action, const wchar_t* text, const wchar_t* url,
                                     LONG_PTR userValue, LinkCtrl* link);

    LinkCtrl() = default;
    ~LinkCtrl() { Detach(); }
    LinkCtrl(const LinkCtrl&) = delete;
    LinkCtrl& operator=(const LinkCtrl&) = delete;

    // Sets up and subclasses the static control. url may be null; a url of
    // LINK_URL_CAPACITY characters or more is refused (0). Handlers set
    // before are cleared.
    int Attach(HWND control, const wchar_t* text, const wchar_t* url, WORD cursorId, DWORD options);
    // Removes the subclass and releases fonts, theme and state.
    void Detach();
    // Stores the text, rebuilds and measures the display text, repaints.
    int SetText(const wchar_t* text);
    // Fits the fonts again for a window now at dpi, once the control has
    // its size there.
    void SetDpi(int dpi);

    void SetHandler(SimpleHandler handler) { simpleHandler_ = handler; }
    void SetExtendedHandler(ExtendedHandler handler, LONG_PTR userValue)
    {
        extendedHandler_ = handler;
        userValue_ = userValue;
    }

    HWND Control() const { return control_; }
    DWORD Flags() const { return flags_; }
    const LinkStyle& Style() const { return style_; }
    COLORREF DisabledColor() const { return disabledColor_; }
    const wchar_t* Text() const { return text_.Data(); }
    const wchar_t* DisplayText() const { return display_.Data(); }
    const wchar_t* Url() const { return url_; }
    SIZE TextExtent() const { return extent_; }
    UINT TextFormat() const { return format_; }
    HFONT LinkFont() const { return linkFont_.Get(); }
    HFONT PlainFont() const { return plainFont_.Get(); }
    // The font and colour the next paint uses.
    HFONT CurrentFont() const;
    COLORREF CurrentColor() const;

private:
    static int OnSubclassMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                 LRESULT* result, void* context);
    int HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    void ReadBrowserSettings();
    void CreateFonts();
    void CreateControlFonts();
    void CreateFittingFonts();
    void BrowserFaceName(wchar_t* face);
    void RebuildDisplayText();
    void MeasureText();
    void Repaint();
    int HitTest();
    void ShowLinkCursor();
    void OnMouseMove();
    void Paint();
    void Activate(int action);

    Subclasser subclass_;
    MouseLeaveTracker tracker_;
    WideString text_;
    WideString display_;
    VisualStyle visualStyle_;
    wchar_t url_[LINK_URL_CAPACITY] = {};
    ScopedFont linkFont_;
    ScopedFont plainFont_;
    UINT format_ = DT_SINGLELINE;
    DWORD flags_ = 0;
    LinkStyle style_;
    COLORREF disabledColor_ = 0;
    WORD cursorId_ = 0;
    SimpleHandler simpleHandler_ = nullptr;
    ExtendedHandler extendedHandler_ = nullptr;
    LONG_PTR userValue_ = 0;
    SIZE extent_ = {};
    HWND control_ = nullptr;
    int dpi_ = 96;
};
