#pragma once

#include <windows.h>

#include "base/Com.h"
#include "ui/DialogApp.h"

#include <sensorsapi.h>

// Shows a sensor's current and minimum report interval and asks it for
// another: OK sets the interval typed, reads back the one the sensor took
// and says in one line what became of it (a driver may round or refuse).
// The dialog stays open, so the user can watch the rate follow.
class ReportIntervalDialog : public DialogApp
{
public:
    // Keeps its own reference to the sensor.
    explicit ReportIntervalDialog(ISensor* sensor);

    int OnInitDialog() override;
    INT_PTR OnCommand(int id, WPARAM wParam, LPARAM lParam) override;

    // Whether the sensor took an interval while the dialog was open.
    bool Changed() const { return changed_; }

private:
    // The stated intervals; with fillEdit the current one in the edit field.
    void ShowIntervals(bool fillEdit);
    void Apply();

    ComPtr<ISensor> sensor_;
    bool changed_ = false;
};
