#pragma once

#include <windows.h>

#include "base/WideString.h"
#include "sensors/ReportRate.h"
#include "sensors/SensorHistory.h"
#include "sensors/SensorList.h"
#include "ui/ChartCtrl.h"

#include <memory>
#include <string>
#include <vector>

// The time spans a chart offers, in seconds: "10 s" (the default), "1 min"
// and "10 min".
constexpr double kChartSpans[] = {10.0, 60.0, 600.0};
constexpr size_t kDefaultChartSpan = 0;
// The fastest a chart redraws: 30 times a second.
constexpr UINT kChartFrameMs = 33;

// Where a chart takes its figures from: the main window's history of
// reports and its report rates, both of which outlive every chart.
struct ChartSource
{
    const SensorHistory* history = nullptr;
    const ReportRates* rates = nullptr;
};

// The chart's data from a sensor's history: one series per field in the
// order first reported, each with its newest text; fields that are not
// numbers are listed as not plotted. Times count in seconds from baseTime
// (file time); the window is the span up to endTime, its labels counting
// back from the end. Fields named in hidden are not shown.
void BuildChartData(const HistorySnapshot& snapshot, long long baseTime, long long endTime,
                    double spanSeconds, const std::vector<std::wstring>& hidden, ChartData& data);

// "Accelerometer - Chart", with " - Paused" and " - Sensor removed" as they
// apply.
int ChartTitle(const wchar_t* sensorName, bool paused, bool removed, WideString& title);

// How often a chart of that span on a plot that many pixels wide redraws:
// every kChartFrameMs, or less often when the lines move by less than a
// pixel in that time.
UINT ChartFrameInterval(double spanSeconds, int plotWidth);

// Where the window's parts go: the rate on the left of the top row, the
// span choice and the two image buttons on its right, the chart below.
struct ChartWindowLayout
{
    RECT header;
    RECT span;
    RECT copy;
    RECT save;
    RECT chart;
};
ChartWindowLayout LayOutChartWindow(SIZE client, int dpi);

// A top-level window with one sensor's live chart: the history of its
// reports over the chosen span, redrawn on the window's own timer while it
// is shown; Space pauses and resumes, Ctrl+C copies the picture. It lives
// on the main window's thread.
class ChartWindow
{
public:
    ChartWindow(const ChartSource& source, const GUID& sensorId, const wchar_t* sensorName);
    ~ChartWindow();
    ChartWindow(const ChartWindow&) = delete;
    ChartWindow& operator=(const ChartWindow&) = delete;

    // Creates and shows the window beside the given one; 1 or 0.
    int Open(HINSTANCE instance, HWND beside);
    void Close();
    bool IsOpen() const { return window_ != nullptr; }
    HWND Window() const { return window_; }
    const GUID& SensorId() const { return sensorId_; }

    void SetSensorPresent(bool present);
    bool IsSensorPresent() const { return present_; }
    void TogglePause();
    bool IsPaused() const { return paused_; }
    // One of kChartSpans; 1, or 0 for no such span.
    int SetSpan(size_t index);
    size_t Span() const { return span_; }
    // Takes the newest history into the chart and the rate into the header.
    void Update();
    // How many pictures the window has taken from the history.
    unsigned Frames() const { return frames_; }
    int CopyImage();
    // Asks for a file with the common Save dialog and writes the PNG.
    void SaveImage();

    ChartCtrl& Chart() { return chart_; }
    const wchar_t* HeaderText() const { return header_.Data(); }

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void LayOut();
    void MakeFont();
    void ShowTitle();
    void StartTimer();
    void StopTimer();
    void OnCommand(WPARAM wParam);
    void OnKey(WPARAM key);
    void OnDpiChanged(WPARAM wParam, const RECT* suggested);
    void ToggleHidden(size_t series);

    ChartSource source_;
    GUID sensorId_;
    WideString name_;
    WideString header_;
    HWND window_ = nullptr;
    HWND headerLabel_ = nullptr;
    HWND spanList_ = nullptr;
    HWND copyButton_ = nullptr;
    HWND saveButton_ = nullptr;
    ChartCtrl chart_;
    ScopedFont font_;
    int dpi_ = 96;
    size_t span_ = kDefaultChartSpan;
    bool paused_ = false;
    bool present_ = true;
    bool timerRunning_ = false;
    UINT timerPeriod_ = 0;
    unsigned frames_ = 0;
    DWORD headerShownAt_ = 0;
    // Chart times count in seconds from the window's opening.
    long long baseTime_ = 0;
    std::vector<std::wstring> hidden_;
    HistorySnapshot snapshot_;
};

// The main window's charts, at most one per sensor.
class ChartWindows
{
public:
    // Opens the sensor's chart, or brings the open one to the front; 1 or 0.
    int Show(const ChartSource& source, const GUID& sensorId, const wchar_t* sensorName,
             HINSTANCE instance, HWND beside);
    // Tells each chart whether its sensor is among the listed ones.
    void Follow(SensorList& sensors);
    void CloseAll();
    // The open chart of that sensor, or null.
    ChartWindow* Find(const GUID& sensorId);
    size_t Count();

private:
    // Forgets the charts the user closed.
    void Prune();

    std::vector<std::unique_ptr<ChartWindow>> charts_;
};
