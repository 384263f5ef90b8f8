#pragma once

#include <windows.h>

#include "app/ChartWindow.h"
#include "app/DialogParts.h"
#include "sensors/ReportRate.h"
#include "sensors/SensorHistory.h"
#include "sensors/SensorList.h"
#include "sensors/SensorRecorder.h"
#include "ui/DialogApp.h"
#include "ui/Layout.h"
#include "ui/LinkCtrl.h"
#include "ui/Subclasser.h"
#include "ui/TreeListCtrl.h"
#include "ui/VersionInfo.h"
#include "update/AutoUpdater.h"

class QuietTreeUpdate;
class SensorPropertiesDialog;
class RecordingWindow;

// Settings bit: automatic update checking is switched off for this run.
constexpr DWORD AUTO_UPDATE_OFF = 0x1;

// The posted message that tells the main window the sensors changed. The
// window's own sensor callback posts it with wParam kSensorDataChange;
// with any other wParam it asks for a full rebuild.
constexpr UINT WM_SENSORS_CHANGED = WM_APP;
constexpr WPARAM kSensorDataChange = 0x5E4D;

// Refreshes of the tree start at most once per this many milliseconds
// (12.5 a second), so that a new value, waiting at most this long plus one
// refresh, is on screen within 100 ms.
constexpr DWORD kRefreshGapMs = 80;

// The pace timer keeps running through this many ticks without a change
// before it stops: sensors that report a few times a second then cost one
// timer message per tick instead of a posted message, a new timer and its
// removal for every refresh.
constexpr unsigned kIdleTicksBeforeStop = 4;

// The pace of the tree's refreshes. The program keeps the defaults; tests
// hand a faster one so that they need not wait out real time.
struct RefreshPace
{
    DWORD gapMs = kRefreshGapMs;
    unsigned idleTicksBeforeStop = kIdleTicksBeforeStop;
};

// Commands of the tree's context menu beside Copy and Copy All.
constexpr UINT IDM_PROPERTIES = 40010;
constexpr UINT IDM_REQUEST_ACCESS = 40011;
constexpr UINT IDM_CHART = 40012;
constexpr UINT IDM_RECORD_VALUES = 40020;
constexpr UINT IDM_OPEN_RECORDING = 40021;

// Posted by the recorder when a recording ended because its file could not
// be written: wParam the system's error code, lParam the recording's number.
constexpr UINT WM_RECORDING_FAILED = WM_APP + 0x20;

// The registry key under HKEY_CURRENT_USER that keeps the program's state.
extern const wchar_t kTesselKey[];

// The main window: every sensor with its fields in a two-column tree,
// rebuilt whenever a sensor arrives or leaves. New data only changes the
// value cells that show it, in place, at most once per refresh gap.
class SensorViewerApp : public DialogApp
{
public:
    SensorViewerApp() = default;
    ~SensorViewerApp() override = default;

    // Before the window opens only.
    void SetRefreshPace(const RefreshPace& pace) { pace_ = pace; }

    int OnInitDialog() override;
    int CanClose(INT_PTR result) override;
    INT_PTR OnCommand(int id, WPARAM wParam, LPARAM lParam) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnDpiChanging(int oldDpi, int newDpi) override;
    void OnDpiChanged(int oldDpi, int newDpi) override;

    // The change callback; runs on the Sensor API's threads.
    static void SensorChanged(int code, SensorEntry* entry, void* context);
    // Every data report, on the Sensor API's threads: noted for the report
    // rates, kept in the history and taken by the recorder.
    static void ObserveReport(const SensorEntry& entry, ISensorDataReport* report,
                              const LockedList& fields, void* context);
    // Refills the tree from the sensors, keeping the selected row.
    void Rebuild();
    // Shows what changed since the last refresh: new values in place, or
    // a full Rebuild when the sensors or their fields are not those shown.
    void RefreshNow();
    // True while a change waits to be shown, or the first fill is due.
    bool HasPendingChanges() const
    {
        return !filled_ || changed_ != 0 || (changePending_ != 0 && !paceTimerSet_);
    }
    // True once the tree was filled from the sensors.
    bool IsFilled() const { return filled_; }
    // True while the pace timer runs: after a change, until it has seen
    // the pace's idle ticks without one.
    bool IsPaceTimerRunning() const { return paceTimerSet_; }

    // The clipboard commands: the selected row as "Item<TAB>Value", and the
    // whole tree as indented lines. 1, or 0 when nothing was copied.
    int CopySelectedRow();
    int CopyAllRows();

    // The sensor commands for the selected sensor row (or a row of its
    // fields): its properties dialog, shown modally until closed, and the
    // request for access to it. 1, or 0 when no sensor is selected.
    int ShowProperties();
    int RequestAccess();
    // The selected sensor's chart window, opened or brought to the front.
    int ShowChart();
    ChartWindows& Charts() { return charts_; }
    // The properties dialog while it is open, else null.
    SensorPropertiesDialog* OpenProperties() const { return properties_; }
    // Recording of every data report to a CSV file. ToggleRecording asks
    // for the file (the common Save dialog) or stops the recording.
    // StartRecording answers 1, or 0 after telling the user why not;
    // StopRecording tells the user when the recording had failed.
    void ToggleRecording();
    // "Open Recording…": asks for a recording and shows it in its window.
    void OpenRecording();
    RecordingWindow* OpenRecordingWindow() const { return recordingWindow_; }
    int StartRecording(const wchar_t* path);
    void StopRecording();
    bool IsRecording() const { return recorder_.IsRecording(); }
    const SensorRecorder& Recorder() const { return recorder_; }
    // How fast each sensor's reports really arrive.
    const ReportRates& Rates() const { return rates_; }
    // Every sensor's recent reports as numbers, for its chart.
    const SensorHistory& History() const { return history_; }

    TreeListCtrl& Tree() { return tree_; }
    LinkCtrl& Link() { return link_; }
    SizeGrip& Grip() { return grip_; }
    SensorList& Sensors() { return sensors_; }
    DWORD Settings() const { return settings_; }

private:
    void SetUpTree();
    void SetUpLink();
    void SetUpAnchors();
    // Answers whether the last sensor's row could be inserted.
    bool InsertSensors(HTREEITEM root, const WideString& remembered);
    void InsertNoSensorsRow(HTREEITEM root);
    // Widens the "Item" column once to show the longest name.
    void FitItemColumnOnce();
    // On a start without a saved placement: widens the window, as far as
    // its monitor allows, so that the longest name and value show whole.
    void WidenToShowColumns();
    void OnSensorsChanged(WPARAM wParam);
    // The first fill runs once the window is shown and painted.
    void ShowRootAlone();
    void OnFirstFillTimer();
    void FirstFill();
    void OnPaceTimer(WPARAM timer);
    bool StartPaceTimer(DWORD period);
    void StopPaceTimer();
    // False when the tree does not show the sensors' current field names
    // in their order: the caller then rebuilds.
    bool UpdateValuesInPlace();
    bool UpdateFieldRows(SensorEntry& entry, HTREEITEM sensorRow, QuietTreeUpdate& quiet,
                         WideString& text);
    void ShowTreeMenu(LPARAM screenPoint);
    // The entry of the selected sensor row, or of the sensor a selected
    // field row belongs to; null for the root or nothing selected.
    SensorEntry* SelectedSensor();
    void AppendSensorItems(HMENU menu);
    static int OnTreeKey(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                         void* context);
    void FollowProperties();
    // The window change messages go to; null while there is none.
    void SetChangeTarget(HWND window);
    // The weekly check, or with forced set an immediate one.
    void StartUpdateCheck(bool forced);
    // The version title, with the recording's file while one runs.
    void ShowTitle();
    void OnRecordingFailed(LPARAM recording);
    void ShowRecordingFailure(DWORD error, bool starting);

    VersionInfo versionInfo_;
    // Before the sensors: destroyed after them, so no report reaches it
    // once it is gone.
    SensorRecorder recorder_;
    ReportRates rates_;
    SensorHistory history_;
    WideString recordingPath_;
    SensorList sensors_;
    TreeListCtrl tree_;
    Subclasser treeKeys_;
    LinkCtrl link_;
    SizeGrip grip_;
    Anchor anchors_[4];
    DWORD settings_ = 0;
    // Set once the "Item" column has been fitted to the names shown.
    bool itemColumnFitted_ = false;
    // Set by the first Rebuild; before it the tree shows the root alone.
    bool filled_ = false;
    // Without a saved placement the first fill widens the window.
    bool widenAfterFirstFill_ = false;
    // Last member: destroyed first, so its worker ends before anything it
    // could reach goes away.
    AutoUpdater updater_;
    // Set on the API's threads on every change that the tree must show;
    // cleared by the refresh that shows it.
    volatile LONG changed_ = 0;
    // Set while a change message is posted and not yet handled, and while
    // the pace timer runs: the window looks at changed_ by itself then, so
    // no message is posted and none pile up.
    volatile LONG changePending_ = 0;
    // Set on the API's threads when a sensor arrived or left, and by a
    // change message from elsewhere: the next refresh rebuilds.
    volatile LONG rebuildPending_ = 0;
    RefreshPace pace_;
    DWORD lastRefresh_ = 0;
    bool refreshedBefore_ = false;
    bool paceTimerSet_ = false;
    DWORD paceTimerPeriod_ = 0;
    unsigned idleTicks_ = 0;
    SensorPropertiesDialog* properties_ = nullptr;
    ChartWindows charts_;
    RecordingWindow* recordingWindow_ = nullptr;
    // Read on the Sensor API's threads, which must never post to a window
    // that is gone (or, with a null window, to their own queue).
    void* volatile changeTarget_ = nullptr;
};
