#pragma once

#include <windows.h>

#include "base/Com.h"
#include "base/WideString.h"
#include "ui/DialogApp.h"
#include "ui/Layout.h"
#include "ui/TreeListCtrl.h"

#include <sensorsapi.h>

class SensorEntry;

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

private:
    void Fill();
    void ShowGone();
    void InsertRow(HTREEITEM parent, const wchar_t* name, const wchar_t* value);
    void InsertProperties();
    void ShowTreeMenu(LPARAM screenPoint);

    ComPtr<ISensor> sensor_;
    GUID id_ = {};
    WideString name_;
    long shownState_ = -1;
    bool gone_ = false;
    TreeListCtrl tree_;
    SizeGrip grip_;
    Anchor anchors_[3];
};
