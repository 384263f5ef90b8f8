#pragma once

// Dialog 102 run through DialogApp with the main window's anchors, minimum
// size and size grip. Once the dialog is on screen the steps run, each on
// its own posted message, so that what one step posts is handled before the
// next. A watchdog ends a dialog that would never close.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "app/resource.h"
#include "ui/DialogApp.h"
#include "ui/Layout.h"

// The main window's controls in tab order.
constexpr int kMainControls[] = {IDC_SENSOR_TREE, IDC_WEB_LINK, IDC_EXIT, IDC_AUTO_UPDATE};

// What the main window's anchors do to its controls' edges (left, top,
// right, bottom) when the window shrinks by 100 x 50.
constexpr char kShrinkShifts[] = "0,0,-100,-50 0,-50,0,-50 -100,-50,-100,-50 0,-50,0,-50 ";

inline RECT ChildRect(HWND window, int id)
{
    RECT rect = {};
    GetWindowRect(GetDlgItem(window, id), &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Shrinks the window by 100 x 50 and describes how each control's edges
// moved, as kShrinkShifts does; call on the window's thread.
inline std::string ShrinkShifts(HWND window)
{
    RECT before[4];
    for (int i = 0; i < 4; ++i)
        before[i] = ChildRect(window, kMainControls[i]);
    RECT outer = {};
    GetWindowRect(window, &outer);
    SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left - 100,
                 outer.bottom - outer.top - 50, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    std::string shifts;
    for (int i = 0; i < 4; ++i) {
        const RECT after = ChildRect(window, kMainControls[i]);
        for (LONG shift : {after.left - before[i].left, after.top - before[i].top,
                           after.right - before[i].right, after.bottom - before[i].bottom})
            shifts += std::to_string(shift) + ",";
        shifts.back() = ' ';
    }
    return shifts;
}

class MainDialogTestHost : public DialogApp
{
public:
    using Step = std::function<void(MainDialogTestHost&)>;
    static constexpr INT_PTR kWatchdogResult = -77;

    std::vector<Step> steps;
    Step onInit; // after the layout is set up
    int initResult = 1;
    int allowClose = 1;
    int canCloseCalls = 0;
    INT_PTR lastCanCloseResult = 12345;
    int repositions = 0;
    SizeGrip grip;

    INT_PTR RunMain() { return Run(GetModuleHandleW(nullptr), IDD_MAIN, 0, nullptr); }
    void Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        PostMessageW(window_, message, wParam, lParam);
    }
    void SetMinimum(int width, int height)
    {
        minimumWidth_ = width;
        minimumHeight_ = height;
    }

    int OnInitDialog() override
    {
        SetTimer(window_, kWatchdogTimer, 10000, nullptr);
        SetTimer(window_, kShownTimer, 10, nullptr);
        grip.Attach(window_);
        const unsigned flags[] = {ANCHOR_SIZE_X | ANCHOR_SIZE_Y, ANCHOR_MOVE_Y,
                                  ANCHOR_MOVE_X | ANCHOR_MOVE_Y, ANCHOR_MOVE_Y};
        for (int i = 0; i < 4; ++i)
            anchors_[i].Setup(Control(kMainControls[i]), flags[i]);
        SetMinimumSize(270, 150, 1);
        if (onInit)
            onInit(*this);
        return initResult;
    }
    int CanClose(INT_PTR result) override
    {
        ++canCloseCalls;
        lastCanCloseResult = result;
        return allowClose;
    }
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        switch (message) {
        case WM_SIZE:
            grip.InvalidateGrip();
            for (Anchor& anchor : anchors_)
                anchor.Apply(wParam, lParam);
            break;
        case WM_PAINT:
            if (grip.Paint())
                return 1;
            break;
        case WM_NCHITTEST:
            return grip.HitTest(wParam, lParam);
        case DM_REPOSITION:
            ++repositions;
            break;
        case WM_TIMER:
            if (wParam == kWatchdogTimer) {
                EndDialog(window_, kWatchdogResult);
            } else if (wParam == kShownTimer && IsWindowVisible(window_) && ++ticks_ >= 3) {
                KillTimer(window_, kShownTimer);
                Post(kStepMessage);
            }
            return 1;
        case kStepMessage:
            if (nextStep_ < steps.size()) {
                steps[nextStep_++](*this);
                Post(kStepMessage);
            }
            return 1;
        }
        return DialogApp::OnMessage(message, wParam, lParam);
    }

private:
    static constexpr UINT kStepMessage = WM_APP + 0x40;
    static constexpr UINT_PTR kWatchdogTimer = 0x7E57;
    static constexpr UINT_PTR kShownTimer = 1;

    Anchor anchors_[4];
    int ticks_ = 0;
    size_t nextStep_ = 0;
};
