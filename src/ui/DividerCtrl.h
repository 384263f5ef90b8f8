#pragma once

#include <windows.h>

#include "ui/Subclasser.h"
#include "ui/VisualStyle.h"

constexpr DWORD DIVIDER_SUBCLASS_TAG = 0x64697669;

// Where a divider goes: a static control's rectangle in its parent's client
// coordinates becomes a band around the line it stands for, 5 pixels at 96
// dpi and as many more as dpi asks for.
struct DividerPlacement
{
    bool horizontal = true;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};
DividerPlacement PlaceDivider(const RECT& rectInParent, int dpi = 96);

// The rectangle the classic etched line is drawn in when no visual style
// draws the separator.
RECT ClassicDividerRect(RECT client, int dpi = 96);

// Turns a static control into a thin separator line, drawn with the
// "Toolbar" visual style, or as an etched edge without visual styles.
class DividerCtrl
{
public:
    DividerCtrl() = default;
    ~DividerCtrl() { Detach(); }
    DividerCtrl(const DividerCtrl&) = delete;
    DividerCtrl& operator=(const DividerCtrl&) = delete;

    int Attach(HWND control);
    // Removes the subclass and closes the visual style.
    void Detach();

    HWND Control() const { return control_; }
    bool IsHorizontal() const { return horizontal_; }

private:
    static int OnSubclassMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                 LRESULT* result, void* context);
    void Paint();

    VisualStyle visualStyle_;
    Subclasser subclass_;
    HWND control_ = nullptr;
    bool horizontal_ = true;
    int dpi_ = 96;
};
