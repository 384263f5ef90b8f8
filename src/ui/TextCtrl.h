#pragma once

#include <windows.h>

#include "base/LockedList.h"
#include "base/WideString.h"
#include "ui/MouseLeaveTracker.h"
#include "ui/Subclasser.h"

// What tells one text control from another for the base: the flag bits it
// keeps the shared state in (0 for a state it does not have), and how a
// transparent one is repainted.
struct TextCtrlTraits
{
    DWORD hovering = 0;
    DWORD focused = 0;
    DWORD disabled = 0;
    DWORD pressed = 0;
    DWORD noFocus = 0;             // no focus rectangle: the control has no tab stop
    DWORD transparent = 0;         // no background of its own
    DWORD ignoreExTransparent = 0; // option: WS_EX_TRANSPARENT does not make it transparent
    DWORD wholeArea = 0;           // option: the whole client area is the hit area
    BOOL eraseParent = FALSE;      // a transparent control's repaint erases the parent
};

// DT_CENTER, DT_RIGHT and DT_VCENTER as a static control's style asks.
UINT StaticAlignmentFormat(LONG_PTR style);
// 1 when a cursor at point (client coordinates) is over text of the given
// extent drawn with format in the client rectangle; text that could not be
// measured (height 0) covers the whole control.
int IsOverText(POINT point, const RECT& client, SIZE extent, UINT format);
// The rectangle of text of the given extent drawn with format in client.
RECT TextFocusRect(const RECT& client, SIZE extent, UINT format);

// One round of a font fitting: makes the font of the given height and
// measures the text in it. Answers 1 when the fitting settles there (the
// text fits, or cannot be measured) and 0 when the text is too large.
using TextFitRound = int (*)(void* context, int height);
// The height a fitting settles on: from startHeight one pixel lower per
// round until a round settles; never below 4.
int FitTextHeight(int startHeight, TextFitRound round, void* context);

// Base of the controls that take over a static control and draw its text
// themselves: subclassing, focus, enabling, hovering with mouse-leave
// tracking, the cursor, the text messages and the frame of painting. A
// derived control draws, activates and handles the messages it alone knows.
class TextCtrl
{
public:
    explicit TextCtrl(const TextCtrlTraits& traits) : traits_(traits) {}
    virtual ~TextCtrl() = default;
    TextCtrl(const TextCtrl&) = delete;
    TextCtrl& operator=(const TextCtrl&) = delete;

    // Replaces the text (also reached by WM_SETTEXT).
    virtual int SetText(const wchar_t* text) = 0;

    HWND Control() const { return control_; }
    DWORD Flags() const { return flags_; }
    SIZE TextExtent() const { return extent_; }
    UINT TextFormat() const { return format_; }

protected:
    // Draws the control into its painting context.
    virtual void Draw(HDC dc, const RECT& client) = 0;
    // Reports a click or key with one of the control's own action codes.
    virtual void Activate(int action) = 0;
    // The cursor while hovering; null for the arrow.
    virtual HCURSOR HoverCursor() const = 0;
    // Whether the control shows a cursor of its own while hovering; one
    // without sets no cursor when hovering begins or ends.
    virtual bool HasHoverCursor() const { return true; }
    // Whether mouse moves and mouse-leave notifications are the control's.
    virtual bool TracksMouse() const { return true; }
    // Called when the control has been enabled, before it is repainted.
    virtual void OnEnabled() {}
    // Messages the base leaves alone; 1 when handled, *result then set.
    virtual int HandleControlMessage(UINT message, WPARAM wParam, LPARAM lParam,
                                     LRESULT* result) = 0;
    // The font of one fitting round; null when it cannot be made.
    virtual HFONT MakeFittingFont(int height) const = 0;
    // Whether the text fits in the font selected into dc; 1 also when it
    // cannot be measured, which ends the fitting.
    virtual int TextFits(HDC dc) const = 0;

    // Takes the control over with the given flags and adds the state its
    // styles give: no tab stop, disabled, transparent.
    void AdoptControl(HWND control, DWORD flags);
    // The control's window text, after which the control shows none itself.
    void TakeWindowText(WideString& text);
    // Hooks the control's procedure; on failure gives the control back the
    // style and the window text it had.
    int SubclassControl(DWORD tag, LONG_PTR style, const WideString& windowText);
    // Removes the subclass and forgets the control and its passing state.
    void ReleaseControl();

    // Settles a font for the text on dc from startHeight (see FitTextHeight):
    // answers the font of the last round, selected into dc, and its height.
    // Null when no round could make one.
    HFONT FitFont(HDC dc, int startHeight, int* height);
    // A LOGFONTW of the control's font, or of the default GUI font when it has
    // none; 0 when it cannot be read.
    int ReadControlFont(LOGFONTW& logFont) const;
    // The extent of text in font (the control's own when null).
    SIZE MeasureText(HFONT font, const WideString& text) const;

    // Fills the background unless the control is transparent, with the
    // parent's brush when asked and it gives one, else white; text is then
    // drawn transparently.
    void FillBackground(HDC dc, const RECT& client, bool askParent) const;
    // The focus rectangle, while the control is focused, enabled and a tab stop.
    void DrawFocus(HDC dc, const RECT& focus) const;
    // Enter or Space: activates with the control's action for the key.
    // Other keys do nothing.
    void ActivateByKey(WPARAM key, int enterAction, int spaceAction);
    void Repaint() const;
    // The module the control was made by, where its resources are.
    HINSTANCE ControlModule() const;
    bool IsHovering() const { return (flags_ & traits_.hovering) != 0; }
    int HitTest() const;
    void StartHovering();

    // Guards the text while it is replaced from another thread or read; a
    // control that never initialises it does not lock.
    CriticalSection textLock_;
    WideString text_;
    UINT format_ = DT_SINGLELINE;
    DWORD flags_ = 0;
    SIZE extent_ = {};
    HWND control_ = nullptr;

private:
    struct Fitting;

    static int FittingRound(void* context, int height);
    static int OnSubclassMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                 LRESULT* result, void* context);
    int HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    int HandleTextMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    int HandleStateMessage(UINT message, WPARAM wParam);
    LRESULT CopyText(wchar_t* buffer, WPARAM capacity);
    unsigned TextLength();
    void SetState(DWORD bits, bool on);
    void OnEnable(bool enabled);
    int OnMouseMove();
    int OnMouseLeave();
    void ShowCursor(bool hovering) const;
    void Paint();

    const TextCtrlTraits traits_;
    Subclasser subclass_;
    MouseLeaveTracker tracker_;
};
