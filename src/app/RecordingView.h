#pragma once

#include "sensors/RecordingReader.h"
#include "ui/ChartCtrl.h"

#include <string>
#include <utility>
#include <vector>

// The decisions of the recording window as plain values: which part of the
// recording's time it shows and how zoom, pan, the span choice and the
// scroll bar move it; the values at a time; the texts of its report rates
// and of a refused file.

// A stretch of the recording's time in seconds from its first report.
struct TimeWindow
{
    double start = 0;
    double end = 1;
};

// The recording's extent: its first and last report in seconds.
struct TimeExtent
{
    double first = 0;
    double last = 0;
};

// The narrowest window shown: one millisecond.
constexpr double kNarrowestWindow = 0.001;

// All of the recording (at least kNarrowestWindow wide).
TimeWindow WholeWindow(const TimeExtent& extent);

// The window moved back inside the extent without changing its width
// (narrowed to the extent when wider).
TimeWindow KeepInside(TimeWindow window, const TimeExtent& extent);

// Zoomed by factor (below 1 narrows) around the time at, which stays where
// it is on screen.
TimeWindow ZoomAround(const TimeWindow& window, double factor, double at, const TimeExtent& extent);

// Moved by seconds (positive: later), kept inside.
TimeWindow PanBy(const TimeWindow& window, double seconds, const TimeExtent& extent);

// A window of span seconds (0: all) that keeps the current window's middle.
TimeWindow WithSpan(const TimeWindow& window, double span, const TimeExtent& extent);

// The spans offered: "All", "1 s", "10 s", "1 min", "10 min", "1 h".
struct SpanChoice
{
    const wchar_t* text;
    double seconds;
};
const SpanChoice* SpanChoices(size_t* count);

// A horizontal scroll bar over the extent in kScrollSteps steps: its page
// (the window's width) and position (the window's start).
constexpr int kScrollSteps = 10000;
struct ScrollState
{
    int page = kScrollSteps;
    int position = 0;
};
ScrollState ScrollFor(const TimeWindow& window, const TimeExtent& extent);
// The window whose start the scroll position gives, of the same width.
TimeWindow WindowAtScroll(const TimeWindow& window, int position, const TimeExtent& extent);

// The extent of the whole recording from its first report (originMs, axis
// time) to its last.
TimeExtent RecordingExtent(const Recording& recording, int64_t* originMs);

// Each field of the sensor with its value at the time (seconds from
// originMs): the value of the last report at or before it that had the
// field, as the file has it; empty before the field's first value.
std::vector<std::pair<std::wstring, std::wstring>>
FieldValuesAt(const Recording& recording, size_t sensor, int64_t originMs, double seconds);

// "61 reports; median interval 500 ms (2.00 per second); largest gap 1.52 s
// after 09:11:52.123".
std::wstring ReportRateText(const RecordedSensor& sensor);

// A duration for people: "16 ms", "1.52 s", "2 min 5 s", "1 h 2 min".
std::wstring DurationText(double milliseconds);

// The one line a file that is not read says, by why.
std::wstring RefusalText(const wchar_t* fileName, RecordingRead result);

// The chosen sensor's chart over the whole recording: a line for each
// numeric field (seconds from originMs, ascending), and each other field in
// the legend as not plotted, with its last value.
ChartData RecordedChart(const Recording& recording, size_t sensor, int64_t originMs);
