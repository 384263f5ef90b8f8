#pragma once

#include <windows.h>

#include "base/ScopedHandle.h"
#include "base/WideString.h"
#include "ui/TextCtrl.h"
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

// Underline modes.
constexpr int LINK_UNDERLINE_NEVER = 0;
constexpr int LINK_UNDERLINE_HOVER = 1;
constexpr int LINK_UNDERLINE_ALWAYS = 2;

// Actions handed to a link's handlers.
constexpr int LINK_ACTION_PRESS = 1;   // left button pressed or double-clicked
constexpr int LINK_ACTION_ENTER = 2;   // Enter released
constexpr int LINK_ACTION_SPACE = 3;   // Space released
constexpr int LINK_ACTION_RELEASE = 4; // left button released over the text

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

// The address as shown: without its scheme ("http://example.com/" gives
// "example.com/"); an address without "://" as it is.
const wchar_t* AddressWithoutScheme(const wchar_t* address);

// Whether text of the given extent fits the font fitting's client area: at
// most as wide and strictly lower.
int LinkTextFits(SIZE extent, SIZE client);

// Turns a static control into a web link drawn in the browser's link
// colours, with a hand cursor while the mouse is over the text; activation
// by mouse release over the text, or release of Enter or Space, opens the
// address. Handlers get the LINK_ACTION_ codes.
class LinkCtrl : public TextCtrl
{
public:
    using SimpleHandler = void (*)(int action, const wchar_t* text, const wchar_t* url);
    using ExtendedHandler = void (*)(int action, const wchar_t* text, const wchar_t* url,
                                     LONG_PTR userValue, LinkCtrl* link);

    LinkCtrl();
    ~LinkCtrl() override { Detach(); }

    // Sets up and subclasses the static control. url may be null; a url of
    // LINK_URL_CAPACITY characters or more is refused (0). Handlers set
    // before are cleared.
    int Attach(HWND control, const wchar_t* text, const wchar_t* url, WORD cursorId, DWORD options);
    // Removes the subclass and releases fonts, theme and state.
    void Detach();
    // Stores the text, rebuilds and measures the display text, repaints.
    int SetText(const wchar_t* text) override;
    // Fits the fonts again for a window now at dpi, once the control has
    // its size there.
    void SetDpi(int dpi);

    void SetHandler(SimpleHandler handler) { simpleHandler_ = handler; }
    void SetExtendedHandler(ExtendedHandler handler, LONG_PTR userValue)
    {
        extendedHandler_ = handler;
        userValue_ = userValue;
    }

    const LinkStyle& Style() const { return style_; }
    COLORREF DisabledColor() const { return disabledColor_; }
    const wchar_t* Text() const { return text_.Data(); }
    const wchar_t* DisplayText() const { return display_.Data(); }
    const wchar_t* Url() const { return url_; }
    HFONT LinkFont() const { return linkFont_.Get(); }
    HFONT PlainFont() const { return plainFont_.Get(); }
    // The font and colour the next paint uses.
    HFONT CurrentFont() const;
    COLORREF CurrentColor() const;

private:
    void Draw(HDC dc, const RECT& client) override;
    void Activate(int action) override;
    HCURSOR HoverCursor() const override;
    void OnEnabled() override;
    int HandleControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    HFONT MakeFittingFont(int height) const override;
    int TextFits(HDC dc) const override;

    void SetUpColors();
    void ReadBrowserSettings();
    void CreateFonts();
    void CreateControlFonts();
    void CreateFittingFonts();
    void ChooseFace();
    void BrowserFaceName(wchar_t* face);
    HFONT NewFont(int height, bool underline) const;
    void RebuildDisplayText();
    void MeasureExtent();

    WideString display_;
    VisualStyle visualStyle_;
    wchar_t url_[LINK_URL_CAPACITY] = {};
    ScopedFont linkFont_;
    ScopedFont plainFont_;
    // What the fitted fonts are made of.
    wchar_t face_[LF_FACESIZE] = {};
    BYTE pitchAndFamily_ = 0;
    LinkStyle style_;
    COLORREF disabledColor_ = 0;
    WORD cursorId_ = 0;
    SimpleHandler simpleHandler_ = nullptr;
    ExtendedHandler extendedHandler_ = nullptr;
    LONG_PTR userValue_ = 0;
    int dpi_ = 96;
};
