#pragma once

#include <windows.h>

#include "app/RecordingView.h"
#include "base/ScopedHandle.h"
#include "base/WideString.h"
#include "sensors/RecordingReader.h"
#include "ui/DialogApp.h"
#include "ui/Layout.h"

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
    SizeGrip grip_;
    Anchor anchors_[10];
};
