#pragma once

#include <windows.h>

#include "ui/VisualStyle.h"

class WideString;

// How an anchored control follows its parent's client area. Without any
// flag a control keeps its position and size (top-left anchoring).
enum : unsigned
{
    ANCHOR_MOVE_X = 0x1,   // left edge keeps its distance to the right edge
    ANCHOR_MOVE_Y = 0x2,   // top edge keeps its distance to the bottom edge
    ANCHOR_SIZE_X = 0x4,   // width grows and shrinks with the parent's width
    ANCHOR_SIZE_Y = 0x8,   // height grows and shrinks with the parent's height
    ANCHOR_SCALE_X = 0x10, // left edge proportional to the width (not with MOVE_X)
    ANCHOR_SCALE_Y = 0x20, // top edge proportional to the height (not with MOVE_Y)
};

// One flag word shared by SavePlacement and RestorePlacement.
enum : unsigned
{
    PLACE_KEEP_SIZE = 0x1,             // restore only the position
    PLACE_ALLOW_MINIMIZED = 0x2,       // a saved SW_SHOWMINIMIZED stays minimised
    PLACE_NO_REPOSITION = 0x4,         // no DM_REPOSITION after restoring
    PLACE_KEEP_POSITION = 0x8,         // restore only the size
    PLACE_ALLOW_HIDDEN = 0x10,         // a saved SW_HIDE stays hidden
    PLACE_FORCE_HIDDEN = 0x20,         // restore hidden whatever was saved
    PLACE_KEEP_SHOW_STATE = 0x40,      // save the show command of an invisible window too
    PLACE_FORCE_MINNOACTIVE = 0x80,    // restore as SW_SHOWMINNOACTIVE
    PLACE_ACCEPT_BOTTOM_RIGHT = 0x100, // a bottom-right corner on a monitor is enough
    PLACE_NO_MONITOR_CHECK = 0x200,    // restore the rectangle as saved
};

// A control's rectangle in its parent's client coordinates.
struct ControlBox
{
    int x;
    int y;
    int width;
    int height;
};

// Where an anchored control goes when the parent's client area becomes
// width x height. control and reference are the rectangles recorded at
// setup; the result depends on nothing else, so resizing never drifts.
ControlBox AnchoredBox(unsigned flags, const RECT& control, const RECT& reference, int width,
                       int height);

// Records a control's place once and lays it out again on every WM_SIZE.
class Anchor
{
public:
    // Measures the control against its parent's current client area or,
    // when both design sizes are nonzero, against that size in dialog units.
    void Setup(HWND control, unsigned flags, int designWidth = 0, int designHeight = 0);
    // wParam and lParam of WM_SIZE.
    void Apply(WPARAM wParam, LPARAM lParam);
    // Measures against the recorded rectangles rescaled from the DPI they
    // were recorded at to dpi; always from the recorded ones, so changes
    // back and forth never drift.
    void SetDpi(int dpi);

    unsigned Flags() const { return flags_; }
    HWND Control() const { return control_; }

private:
    unsigned flags_ = 0;
    RECT controlRect_ = {};
    RECT referenceRect_ = {};
    HWND control_ = nullptr;
    HWND parent_ = nullptr;
    RECT recordedControl_ = {};
    RECT recordedReference_ = {};
    int recordedDpi_ = 96;
};

// The sizing corner: where the grip is painted and where the mouse sizes.
RECT GripRectangle(const RECT& outer, int width, int height);
// The cursor position of WM_NCHITTEST: signed screen coordinates, so a
// monitor left of or above the primary one works.
POINT HitTestPoint(LPARAM lParam);
// The hit code for the cursor: HTBOTTOMRIGHT when the default code is
// HTCLIENT, the window is not maximised and the cursor is in the grip corner
// of the window rectangle; otherwise the default code.
LRESULT GripHitCode(LRESULT defaultCode, int maximised, const RECT& windowRect, POINT cursor,
                    int gripWidth, int gripHeight);

// Paints a size grip in the dialog's bottom-right corner and makes that
// corner act as the bottom-right sizing border.
class SizeGrip
{
public:
    // Answers 1 when the visual style "status" could be opened; the grip
    // works either way.
    int Attach(HWND dialog);
    // Schedules the grip to be drawn anew after a size change.
    int InvalidateGrip();
    // The dialog's whole WM_PAINT handling; 0 before Attach.
    int Paint();
    // Writes the hit code as the dialog's message result; answers 1.
    int HitTest(WPARAM wParam, LPARAM lParam);
    // The grip's size and its visual style's metrics follow the window's
    // DPI.
    void SetDpi(int dpi);
    // Opens the visual style again after the theme changed.
    void ThemeChanged();

    const RECT& LastGripRect() const { return gripRect_; }
    bool IsThemed() const { return style_.Theme() != nullptr; }
    // The grip's width and height at the window's DPI.
    SIZE GripSize() const;

private:
    RECT CurrentGripRect() const;

    int dpi_ = 96;
    HWND window_ = nullptr;
    RECT gripRect_ = {};
    VisualStyle style_;
};

// A window placement as the registry value "Main" keeps it: the show command
// and the restored rectangle in workspace coordinates.
struct SavedPlacement
{
    int showCommand;
    RECT normal;
};

// "%d,%i,%i,%i,%i": show command, left, top, right, bottom.
int FormatPlacement(const SavedPlacement& placement, WideString& text);
// Missing trailing fields stay 0; only a text that ends before the first
// number (empty or blank) fails, leaving placement untouched.
int ParsePlacement(const wchar_t* text, SavedPlacement& placement);
// The show command to save: an invisible window is saved hidden unless
// PLACE_KEEP_SHOW_STATE is given.
int ShowCommandToSave(int showCommand, int visible, unsigned flags);
// The show command to restore after the PLACE_ flags have had their say.
int ShowCommandToRestore(int savedShowCommand, unsigned flags);
// PLACE_KEEP_SIZE and PLACE_KEEP_POSITION against the current rectangle.
RECT KeepCurrentParts(const RECT& saved, const RECT& current, unsigned flags);
// The rectangle moved, keeping its size, to 10 pixels inside the work area.
RECT MoveIntoWorkArea(const RECT& rect, const RECT& workArea);

// Moves a rectangle whose corner lies on no monitor into the nearest
// monitor's work area (with PLACE_ACCEPT_BOTTOM_RIGHT, a bottom-right corner
// on a monitor is enough). Left alone where the system cannot tell monitors.
void KeepOnMonitor(RECT& rect, unsigned flags);

// The window rectangle, widened so that its client area grows by what a
// control of clientWidth needs to reach neededWidth, but never wider than
// the work area, and centred where it was, inside the work area. Left as
// it is when nothing more is needed.
RECT WidenedWindow(const RECT& window, int clientWidth, int neededWidth, const RECT& workArea);

// The big icon size for a system metric, raised to the next standard size.
int StandardIconSize(int size);
