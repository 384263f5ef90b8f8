#pragma once

// Dialog 102 run through the DialogApp base with a minimum size and a size
// grip, for the framework's own tests (the main window itself is tested
// through SensorViewerApp in tests/app). Once the dialog is on screen the
// steps run, each on its own posted message, so that what one step posts is
// handled before the next. A watchdog ends a dialog that would never close.

#include <windows.h>

#include <functional>
#include <vector>

#include "app/resource.h"
#include "ui/DialogApp.h"
#include "ui/Layout.h"

class ScriptedDialog : public DialogApp
{
public:
    using Step = std::function<void(ScriptedDialog&)>;
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

    int ticks_ = 0;
    size_t nextStep_ = 0;
};
