#pragma once

#include <windows.h>

#include "base/LockedList.h"
#include "base/ScopedHandle.h"
#include "base/WideString.h"
#include "ui/DialogTemplate.h"
#include "ui/MouseLeaveTracker.h"
#include "ui/Subclasser.h"

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

// Actions handed to the label's handler.
constexpr int LABEL_ACTION_PRESS = 1;   // left button pressed or double-clicked
constexpr int LABEL_ACTION_RELEASE = 2; // left button released while hovering
constexpr int LABEL_ACTION_SPACE = 3;
constexpr int LABEL_ACTION_ENTER = 4;

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

// Measures the text in a font of the given height: the rectangle DrawTextW
// computes from the client area. 0 when it cannot measure.
using MeasureLabelAtHeight = int (*)(void* context, int height, RECT* measured);
// The font height the fitting settles on: from startHeight one pixel lower
// per round until the measured right and bottom edges lie strictly inside
// limit, or measuring fails; never below 4.
int FitLabelHeight(int startHeight, const RECT& limit, MeasureLabelAtHeight measure, void* context);
// The text colour of a paint, or false when the label keeps the context's.
bool LabelTextColor(DWORD flags, COLORREF normal, COLORREF hover, COLORREF disabled,
                    COLORREF* color);
// The focus rectangle: the whole client area, or the full client height
// over the text extent placed as the format aligns it.
RECT LabelFocusRect(const RECT& client, SIZE extent, UINT format, DWORD flags);
// The dialog code of a focusable label for the message being checked.
LRESULT LabelDialogCode(const MSG* message);

// Takes over a static control's text and draws it itself in a chosen face,
// colour and (optionally) the largest size that fits; can track the mouse,
// take the focus like a push button and report clicks and keys.
class LabelCtrl
{
public:
    using Handler = void (*)(int action, int reserved, LONG_PTR userValue, LabelCtrl* label);

    LabelCtrl() = default;
    ~LabelCtrl() { Detach(); }
    LabelCtrl(const LabelCtrl&) = delete;
    LabelCtrl& operator=(const LabelCtrl&) = delete;

    // faces may be null or empty; fontHeight 0 means the client height.
    int Attach(HWND control, const wchar_t* faces, int fontHeight, COLORREF normal, COLORREF hover,
               DWORD flags, WORD cursorId, Handler handler, LONG_PTR userValue);
    // Removes the subclass and releases the font and the text lock.
    void Detach();
    int SetText(const wchar_t* text);
    int SetFaces(const wchar_t* faces, int repaint);

    HWND Control() const { return control_; }
    DWORD Flags() const { return flags_; }
    HFONT Font() const { return font_.Get(); }
    const wchar_t* FaceName() const { return face_.Data(); }
    SIZE TextExtent() const { return extent_; }
    UINT TextFormat() const { return format_; }
    int FontHeight() const { return fontHeight_; }
    // A copy of the text, taken under the text lock.
    int GetText(WideString& text);

private:
    static int OnSubclassMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                 LRESULT* result, void* context);
    int HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    LRESULT CopyText(wchar_t* buffer, WPARAM capacity);
    unsigned TextLength();
    void BuildFont();
    void CreateControlFont();
    void CreateFittingFont();
    HFONT NewFont(int height) const;
    void MeasureExtent();
    void Repaint();
    int HitTest();
    void ShowCursor(bool hovering);
    void OnMouseMove();
    void OnKeyDown(WPARAM key);
    void Activate(int action, bool notifyParent);
    void Paint();
    void FillBackground(HDC dc, const RECT& client);

    Subclasser subclass_;
    MouseLeaveTracker tracker_;
    CriticalSection textLock_;
    ScopedFont font_;
    COLORREF normalColor_ = LABEL_DEFAULT_COLOR;
    COLORREF hoverColor_ = LABEL_DEFAULT_HOVER_COLOR;
    COLORREF disabledColor_ = GetSysColor(COLOR_GRAYTEXT);
    WideString text_;
    WideString face_;
    UINT format_ = DT_SINGLELINE;
    DWORD flags_ = 0;
    Handler handler_ = nullptr;
    LONG_PTR userValue_ = 0;
    WORD cursorId_ = 0;
    int fontHeight_ = 0;
    SIZE extent_ = {};
    HWND control_ = nullptr;
};
