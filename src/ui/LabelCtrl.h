#pragma once

#include <windows.h>

#include "base/ScopedHandle.h"
#include "base/WideString.h"
#include "ui/DialogTemplate.h"
#include "ui/TextCtrl.h"

// Option and state bits of a LabelCtrl.
constexpr DWORD LABEL_TRACK_MOUSE = 0x1;
constexpr DWORD LABEL_BOLD = 0x2;
constexpr DWORD LABEL_UNDERLINE = 0x4;
constexpr DWORD LABEL_ITALIC = 0x8;
constexpr DWORD LABEL_HOVERING = 0x10; // state: the cursor is over the text
constexpr DWORD LABEL_WHITE_BACKGROUND = 0x20;
constexpr DWORD LABEL_MULTILINE = 0x40;
constexpr DWORD LABEL_REFIT_ON_TEXT = 0x80;
constexpr DWORD LABEL_TRANSPARENT = 0x100;
constexpr DWORD LABEL_EDGE_BUMP = 0x400;
constexpr DWORD LABEL_EDGE_ETCHED = 0x800;
constexpr DWORD LABEL_EDGE_RAISED = 0x1000;
constexpr DWORD LABEL_EDGE_SUNKEN = 0x2000;
constexpr DWORD LABEL_CONTROL_FONT = 0x8000;
constexpr DWORD LABEL_IGNORE_EX_TRANSPARENT = 0x10000;
constexpr DWORD LABEL_WHOLE_AREA = 0x20000;
constexpr DWORD LABEL_END_ELLIPSIS = 0x40000;
constexpr DWORD LABEL_FOCUSED = 0x80000;   // state
constexpr DWORD LABEL_NO_FOCUS = 0x100000; // state: the control has no tab stop
constexpr DWORD LABEL_DISABLED = 0x200000; // state
constexpr DWORD LABEL_SYSTEM_CURSOR = 0x400000;
constexpr DWORD LABEL_VCENTER = 0x800000;
constexpr DWORD LABEL_NOTIFY_PARENT = 0x1000000;
constexpr DWORD LABEL_PRESSED = 0x2000000; // state: left button went down over the label
constexpr DWORD LABEL_FIT = 0x4000000;
constexpr DWORD LABEL_KEEP_TEXT_COLOR = 0x8000000;

// Any bit of this mask draws a frame and insets the text by 3 pixels.
constexpr DWORD LABEL_EDGE_MASK = 0x7E00;
constexpr int LABEL_EDGE_INSET = 3;

constexpr DWORD LABEL_SUBCLASS_TAG = 0x73746178;
constexpr COLORREF LABEL_DEFAULT_COLOR = 0xFF0000;
constexpr COLORREF LABEL_DEFAULT_HOVER_COLOR = 0xFF80FF;

// The faces tried when the caller names none, and the last resort.
extern const wchar_t kLabelDefaultFaces[];
extern const wchar_t kLabelFallbackFace[];

// DrawTextW flags for a static control's style and the label's flags.
UINT LabelTextFormat(LONG_PTR style, DWORD flags);
// The first installed face of a list separated by "," or ";"; the default
// list when the list is null or empty; the fallback face when none is
// installed.
int ChooseLabelFace(const wchar_t* faces, FontInstalledTest isInstalled, void* context,
                    WideString& face);

// Whether text measured by DrawTextW from the client area fits the font
// fitting's limit: its right and bottom edges strictly inside.
int LabelTextFits(const RECT& measured, const RECT& limit);
// The text colour of a paint, or false when the label keeps the context's.
bool LabelTextColor(DWORD flags, COLORREF normal, COLORREF hover, COLORREF disabled,
                    COLORREF* color);
// The focus rectangle: the whole client area, or the full client height
// over the text extent placed as the format aligns it.
RECT LabelFocusRect(const RECT& client, SIZE extent, UINT format, DWORD flags);
// The dialog code of a focusable label for the message being checked.
LRESULT LabelDialogCode(const MSG* message);

class LabelCtrl;
// Actions handed to a label's handler.
constexpr int LABEL_ACTION_PRESS = 1;   // left button pressed or double-clicked
constexpr int LABEL_ACTION_RELEASE = 2; // left button released while hovering
constexpr int LABEL_ACTION_SPACE = 3;   // Space pressed
constexpr int LABEL_ACTION_ENTER = 4;   // Enter pressed

// Told of clicks and keys with the LABEL_ACTION_ codes.
using LabelHandler = void (*)(int action, int reserved, LONG_PTR userValue, LabelCtrl* label);

// How LabelCtrl::Attach sets a label up.
struct LabelOptions
{
    const wchar_t* faces =
        nullptr;        // candidates separated by "," or ";"; null or empty: the default
    int fontHeight = 0; // pixels; 0: the client height
    COLORREF normalColor = LABEL_DEFAULT_COLOR;
    COLORREF hoverColor = LABEL_DEFAULT_HOVER_COLOR;
    DWORD flags = 0;
    WORD cursorId = 0; // the cursor while hovering; 0 for none
    LabelHandler handler = nullptr;
    LONG_PTR userValue = 0;
};

// Takes over a static control's text and draws it itself in a chosen face,
// colour and (optionally) the largest size that fits; can track the mouse,
// take the focus like a push button and report clicks and keys (keys when
// pressed, the button when pressed and when released over the text).
class LabelCtrl : public TextCtrl
{
public:
    using Handler = LabelHandler;

    LabelCtrl();
    ~LabelCtrl() override { Detach(); }

    int Attach(HWND control, const LabelOptions& options);
    // Removes the subclass and releases the font and the text lock.
    void Detach();
    int SetText(const wchar_t* text) override;
    int SetFaces(const wchar_t* faces, int repaint);

    HFONT Font() const { return font_.Get(); }
    const wchar_t* FaceName() const { return face_.Data(); }
    int FontHeight() const { return fontHeight_; }
    // A copy of the text, taken under the text lock.
    int GetText(WideString& text);

private:
    void Draw(HDC dc, const RECT& client) override;
    void Activate(int action) override;
    HCURSOR HoverCursor() const override;
    bool HasHoverCursor() const override { return cursorId_ != 0; }
    bool TracksMouse() const override { return (flags_ & LABEL_TRACK_MOUSE) != 0; }
    int HandleControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    HFONT MakeFittingFont(int height) const override;
    int TextFits(HDC dc) const override;

    void BuildFont();
    void CreateControlFont();
    void CreateFittingFont();
    void MeasureExtent();
    void OnButton(bool down);

    ScopedFont font_;
    COLORREF normalColor_ = LABEL_DEFAULT_COLOR;
    COLORREF hoverColor_ = LABEL_DEFAULT_HOVER_COLOR;
    COLORREF disabledColor_ = GetSysColor(COLOR_GRAYTEXT);
    WideString face_;
    Handler handler_ = nullptr;
    LONG_PTR userValue_ = 0;
    WORD cursorId_ = 0;
    int fontHeight_ = 0;
};
