#pragma once

#include <windows.h>

#include "base/Com.h"
#include "base/WideString.h"
#include "sensors/ReportRate.h"
#include "ui/DialogApp.h"
#include "ui/Layout.h"
#include "ui/TreeListCtrl.h"

#include <sensorsapi.h>

class SensorEntry;
class ReportIntervalDialog;

// How often the dialog's rate rows are refreshed while it shows.
constexpr UINT kRateRefreshMs = 250;

// The values of the two rate rows: "59.8 reports/s" and "0.02 s ago" (or
// "None yet" before the first report).
void RateRowTexts(const ReportRateReading& reading, WideString& rate, WideString& last);

// The one line the properties dialog shows below its tree for a sensor in
// this state, or null. Where ISensorManager::RequestPermissions no longer
// grants anything (requestHelps false: Windows 10 and later keep sensor
// access in the privacy settings), it says where access is given instead.
const wchar_t* AccessNote(long state, bool requestHelps);

// Whether RequestPermissions can still grant access on this system.
bool AccessRequestHelps();

// Everything a sensor says about itself: its id, type, category and state,
// and every property it reports, in a resizable two-column tree with Copy
// and Copy All. Shown modally over the main window, which tells it after
// every refresh how the sensor stands (Follow); once the sensor has left
// the dialog says so instead of showing what it reported before.
class SensorPropertiesDialog : public DialogApp
{
public:
    // Keeps its own reference to the sensor; name is its friendly name.
    SensorPropertiesDialog(ISensor* sensor, const wchar_t* name);

    int OnInitDialog() override;
    INT_PTR OnCommand(int id, WPARAM wParam, LPARAM lParam) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnDpiChanging(int oldDpi, int newDpi) override;
    void OnDpiChanged(int oldDpi, int newDpi) override;

    // The sensor as the main window's list now has it, or null when the
    // list holds it no more. Shows it anew when its state changed or it came
    // back, and that it is gone once it left.
    void Follow(SensorEntry* entry);

    const GUID& SensorId() const { return id_; }
    TreeListCtrl& Tree() { return tree_; }
    SizeGrip& Grip() { return grip_; }

    // Where the "Report rate" and "Last report" rows read from; before Run
    // only. Without it the dialog shows no rates.
    void ShowRates(const ReportRates* rates) { rates_ = rates; }
    // True while the rate rows are refreshed: the dialog shows and is not
    // minimised.
    bool IsRateTimerRunning() const { return rateTimerSet_; }
    // The report interval dialog, shown modally over this one until closed,
    // for a sensor that states its current interval. 1, or 0 when it does not.
    int ShowReportInterval();
    // The report interval dialog while it is open, else null.
    ReportIntervalDialog* OpenInterval() const { return interval_; }

private:
    void Fill();
    void ShowGone();
    HTREEITEM InsertRow(HTREEITEM parent, const wchar_t* name, const wchar_t* value);
    void InsertRateRows();
    void UpdateRateRows();
    void SetRateRow(HTREEITEM row, const wchar_t* name, const WideString& value, WideString& shown);
    void StartRateTimer();
    void StopRateTimer();
    void InsertProperties();
    void ShowTreeMenu(LPARAM screenPoint);

    ComPtr<ISensor> sensor_;
    GUID id_ = {};
    WideString name_;
    long shownState_ = -1;
    bool gone_ = false;
    TreeListCtrl tree_;
    SizeGrip grip_;
    Anchor anchors_[4];
    const ReportRates* rates_ = nullptr;
    HTREEITEM rateRow_ = nullptr;
    HTREEITEM lastRow_ = nullptr;
    WideString shownRate_;
    WideString shownLast_;
    bool rateTimerSet_ = false;
    ReportIntervalDialog* interval_ = nullptr;
};
