#pragma once

#include <windows.h>

#include "app/RecordingView.h"
#include "base/ScopedHandle.h"
#include "base/WideString.h"
#include "sensors/RecordingReader.h"
#include "ui/ChartCtrl.h"
#include "ui/DialogApp.h"
#include "ui/Layout.h"
#include "ui/Subclasser.h"

#include <memory>

// Posted by the reading thread: the percentage read (wParam), and the end.
constexpr UINT WM_RECORDING_PROGRESS = WM_APP + 40;
constexpr UINT WM_RECORDING_READ = WM_APP + 41;

// A recording opened again: "<file name> - Recording". The file is read on
// a thread of the window's own, with a progress bar and Cancel; then the
// window lists the recorded sensors, shows the chosen one's report rate
// and its fields' values at the cursor, and moves along the recording's
// time with the wheel, the span choice, the scroll bar and Home.
class RecordingWindow : public DialogApp
{
public:
    explicit RecordingWindow(const wchar_t* path);
    // Ends a reading that still runs, and waits for its thread.
    ~RecordingWindow() override;

    int OnInitDialog() override;
    INT_PTR OnCommand(int id, WPARAM wParam, LPARAM lParam) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnDpiChanged(int oldDpi, int newDpi) override;

    bool IsReading() const { return reading_ != nullptr; }
    // What was read (empty until the reading ended) and how it ended.
    const Recording& Read() const { return recording_; }
    RecordingRead ReadResult() const { return result_; }

    // The sensor shown (its place in the list), or -1.
    int ChosenSensor() const { return chosen_; }
    void ChooseSensor(int index);
    // The part of the recording's time shown, in seconds from its first report.
    const TimeWindow& Shown() const { return shown_; }
    const TimeExtent& Extent() const { return extent_; }
    void ShowTime(const TimeWindow& window);
    // Zooms by factor around the time at (seconds).
    void Zoom(double factor, double at);
    // The cursor at a time (seconds): the values list shows the fields there.
    void SetCursorTime(double seconds);
    double CursorTime() const { return cursor_; }
    const ChartCtrl& Chart() const { return chart_; }

private:
    struct Reading;
    static DWORD WINAPI ReadEntry(void* reading);
    static bool TellProgress(uint64_t done, uint64_t total, void* reading);
    void StartReading();
    // Cancels a reading that still runs and waits for its thread.
    void StopReading();
    void FinishReading();
    void ShowRefusal();
    void FillSensors();
    void ShowRate();
    void ShowValues();
    void UpdateScrollBar();
    void OnScroll(WORD code);
    void OnKey(WPARAM key);
    void OnWheel(WPARAM wParam, LPARAM lParam);
    void MakeChart();
    // The chart's mouse: a drag pans, a move puts the cursor's values in
    // the list.
    static int ChartMouse(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                          void* context);
    // The time under a client point of the chart, if it lies over the plot.
    bool ChartTimeAt(POINT point, double* seconds) const;
    void ShowChartMenu(LPARAM screenPoint);
    void SaveChartImage();

    WideString path_;
    std::unique_ptr<Reading> reading_;
    ScopedHandle thread_;
    Recording recording_;
    RecordingRead result_ = RecordingRead::Read;
    int64_t originMs_ = 0;
    TimeExtent extent_;
    TimeWindow shown_;
    double cursor_ = 0;
    int chosen_ = -1;
    ChartCtrl chart_;
    Subclasser chartHook_;
    bool dragging_ = false;
    int dragX_ = 0;
    TimeWindow dragStart_;
    SizeGrip grip_;
    Anchor anchors_[10];
};
