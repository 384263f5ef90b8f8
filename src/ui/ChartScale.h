#pragma once

#include "base/WideString.h"

#include <stddef.h>

#include <vector>

// The arithmetic of a chart, in plain values: which round values the axes
// mark, where a value or a time lands in pixels, and which points of a
// series a time window shows.

struct ChartPoint
{
    double time = 0.0; // seconds
    double value = 0.0;
};

// The smallest and largest finite value seen; empty until one is added.
struct ChartValueRange
{
    double low = 0.0;
    double high = 0.0;
    bool empty = true;
};
// Widens the range by a value; NaN and infinities are skipped.
void WidenValueRange(ChartValueRange& range, double value);

// Round marks on an axis: count values first, first + step, ... each
// labelled with decimals digits after the point.
struct ChartTicks
{
    double first = 0.0;
    double step = 1.0;
    int count = 0;
    int decimals = 0;

    double At(int index) const { return first + step * index; }
    double Last() const { return At(count > 0 ? count - 1 : 0); }
};

// The smallest step of 1, 2 or 5 x 10^n that is at least rough; 1 for a
// rough step that is no positive finite number.
double RoundTickStep(double rough);

// Ticks that span the range with at most maxTicks marks (at least 3) on
// round values; the first lies at or below range.low and the last at or
// above range.high. An empty range gives 0..1; a range of one value is
// widened around it, so that a constant line runs through the middle.
ChartTicks ChooseTicks(const ChartValueRange& range, int maxTicks);

// Ticks inside low..high only (for a time axis whose ends are fixed).
ChartTicks ChooseInnerTicks(double low, double high, int maxTicks);

// The text of a tick value: decimals digits after the point, "0" rather
// than "-0"; very large or small values in exponent form. 1 or 0.
int FormatTickValue(double value, int decimals, WideString& text);

// A linear map of values low..high onto pixels atLow..atHigh (for a y axis
// atLow is the bottom pixel, larger than atHigh).
struct ChartAxis
{
    double low = 0.0;
    double high = 1.0;
    double atLow = 0.0;
    double atHigh = 1.0;
};
double ValueToPixel(const ChartAxis& axis, double value);
double PixelToValue(const ChartAxis& axis, double pixel);

// The points of a series (ascending by time) that a window start..end
// shows: [first, end) with one point on either side beyond the window, so
// that a line reaches the window's edges. first == end when none shows.
struct ChartPointSpan
{
    size_t first = 0;
    size_t end = 0;
};
ChartPointSpan VisiblePoints(const ChartPoint* points, size_t count, double start, double end);

// The point nearest in time to the given time among points with a finite
// value; count when there is none.
size_t NearestPoint(const ChartPoint* points, size_t count, double time);

// The finite values of the points whose time lies in start..end.
ChartValueRange ValueRangeOf(const ChartPoint* points, size_t count, double start, double end);

// The points of the span as few as a line through them needs at the
// axis's pixel columns: per column its first, lowest, highest and last
// point, in time order. A point without a finite value is kept as a gap.
void ReduceToColumns(const ChartPoint* points, ChartPointSpan span, const ChartAxis& timeAxis,
                     std::vector<ChartPoint>& reduced);
