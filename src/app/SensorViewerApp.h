#pragma once

#include <windows.h>

#include "sensors/SensorList.h"
#include "ui/DialogApp.h"
#include "ui/Layout.h"
#include "ui/LinkCtrl.h"
#include "ui/TreeListCtrl.h"
#include "ui/VersionInfo.h"
#include "update/AutoUpdater.h"

// Settings bit: automatic update checking is switched off for this run.
constexpr DWORD AUTO_UPDATE_OFF = 0x1;

// The posted message that tells the main window the sensors changed.
constexpr UINT WM_SENSORS_CHANGED = WM_APP;

// The registry key under HKEY_CURRENT_USER that keeps the program's state.
extern const wchar_t kTesselKey[];

// The main window: every sensor with its fields in a two-column tree,
// rebuilt whenever a sensor arrives, leaves or reports data.
class SensorViewerApp : public DialogApp
{
public:
    SensorViewerApp() = default;
    ~SensorViewerApp() override = default;

    int OnInitDialog() override;
    int CanClose(INT_PTR result) override;
    INT_PTR OnCommand(int id, WPARAM wParam, LPARAM lParam) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    // The change callback; runs on the Sensor API's threads.
    static void SensorChanged(int code, SensorEntry* entry, void* context);
    // Refills the tree from the sensors, keeping the selected row.
    void Rebuild();

    TreeListCtrl& Tree() { return tree_; }
    LinkCtrl& Link() { return link_; }
    SensorList& Sensors() { return sensors_; }
    DWORD Settings() const { return settings_; }

private:
    void SetUpTree();
    void SetUpLink();
    void SetUpAnchors();
    // Answers whether the last sensor's row could be inserted.
    bool InsertSensors(HTREEITEM root, const WideString& remembered);
    void InsertNoSensorsRow(HTREEITEM root);
    // The window change messages go to; null while there is none.
    void SetChangeTarget(HWND window);
    // The weekly check, or with forced set an immediate one.
    void StartUpdateCheck(bool forced);

    VersionInfo versionInfo_;
    SensorList sensors_;
    TreeListCtrl tree_;
    LinkCtrl link_;
    SizeGrip grip_;
    Anchor anchors_[4];
    DWORD settings_ = 0;
    // Last member: destroyed first, so its worker ends before anything it
    // could reach goes away.
    AutoUpdater updater_;
    // Set while a change message is posted and not yet handled: a sensor
    // that reports faster than the tree rebuilds must not flood the queue.
    volatile LONG changePending_ = 0;
    // Read on the Sensor API's threads, which must never post to a window
    // that is gone (or, with a null window, to their own queue).
    void* volatile changeTarget_ = nullptr;
};
