#include "ui/ChartScale.h"

#include <algorithm>
#include <cmath>

namespace {

// Slack for divisions that should land on whole numbers: -0.004 / 0.002
// gives -2.0000000000000004.
constexpr double kWholeSlack = 1e-9;
// The narrowest range, as a share of its size, that ticks are chosen for.
constexpr double kNarrowestShare = 1e-9;

bool IsFinite(double value)
{
    return std::isfinite(value);
}

// Digits after the point that a step of 1, 2 or 5 x 10^n needs.
int DecimalsFor(double step)
{
    const int exponent = static_cast<int>(std::floor(std::log10(step) + kWholeSlack));
    return exponent < 0 ? -exponent : 0;
}

ChartTicks TicksWithStep(double low, double high, double step)
{
    ChartTicks ticks;
    ticks.step = step;
    double firstIndex = std::floor(low / step + kWholeSlack);
    double lastIndex = std::ceil(high / step - kWholeSlack);
    // Far from zero, index x step can round past the end it should cover.
    if (firstIndex * step > low) {
        firstIndex -= 1.0;
    }
    if (lastIndex * step < high) {
        lastIndex += 1.0;
    }
    ticks.first = firstIndex * step;
    ticks.count = static_cast<int>(lastIndex - firstIndex) + 1;
    ticks.decimals = DecimalsFor(step);
    return ticks;
}

// A range of one value becomes one around it: a tenth of its size on
// either side, or 1 around zero. A range too narrow for round steps that a
// double can tell apart at its size is widened to the narrowest that is.
void WidenNarrowRange(double& low, double& high)
{
    if (low == high) {
        const double half = low == 0.0 ? 1.0 : std::fabs(low) * 0.1;
        low -= half;
        high += half;
        return;
    }
    const double narrowest = std::max(std::fabs(low), std::fabs(high)) * kNarrowestShare;
    if (high - low < narrowest) {
        const double middle = low / 2 + high / 2;
        low = middle - narrowest / 2;
        high = middle + narrowest / 2;
    }
}

} // namespace

void WidenValueRange(ChartValueRange& range, double value)
{
    if (!IsFinite(value)) {
        return;
    }
    if (range.empty) {
        range.low = range.high = value;
        range.empty = false;
        return;
    }
    range.low = std::min(range.low, value);
    range.high = std::max(range.high, value);
}

double RoundTickStep(double rough)
{
    if (!(rough > 0.0) || !IsFinite(rough)) {
        return 1.0;
    }
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        // Slack: 0.2 / 10^-1 is 2.0000000000000004.
        if (factor * power >= rough * (1.0 - kWholeSlack)) {
            return factor * power;
        }
    }
    return 10.0 * power;
}

ChartTicks ChooseTicks(const ChartValueRange& range, int maxTicks)
{
    double low = range.empty ? 0.0 : range.low;
    double high = range.empty ? 1.0 : range.high;
    WidenNarrowRange(low, high);
    // Two intervals at least: a range across zero needs them.
    const int intervals = std::max(2, maxTicks - 1);
    double step = RoundTickStep((high - low) / intervals);
    ChartTicks ticks = TicksWithStep(low, high, step);
    // Rounding outwards can add an interval; a larger round step fits
    // within a few tries.
    for (int tries = 0; ticks.count > intervals + 1 && tries < 8; ++tries) {
        step = RoundTickStep(step * (1.0 + 1e-6));
        ticks = TicksWithStep(low, high, step);
    }
    return ticks;
}

ChartTicks ChooseInnerTicks(double low, double high, int maxTicks)
{
    ChartTicks ticks;
    if (!(high > low) || !IsFinite(low) || !IsFinite(high)) {
        return ticks;
    }
    const int intervals = std::max(1, maxTicks - 1);
    ticks.step = RoundTickStep((high - low) / intervals);
    const double firstIndex = std::ceil(low / ticks.step - kWholeSlack);
    const double lastIndex = std::floor(high / ticks.step + kWholeSlack);
    ticks.first = firstIndex * ticks.step;
    ticks.count = static_cast<int>(lastIndex - firstIndex) + 1;
    ticks.decimals = DecimalsFor(ticks.step);
    return ticks;
}

int FormatTickValue(double value, int decimals, WideString& text)
{
    if (!IsFinite(value)) {
        return 0;
    }
    const double magnitude = std::fabs(value);
    if (magnitude >= 1e15 || decimals > 12) {
        return Format(text, L"%g", value);
    }
    // A sum of steps that should be zero can come out as -1e-17.
    if (magnitude < 0.5 * std::pow(10.0, -decimals)) {
        value = 0.0;
    }
    return Format(text, L"%.*f", decimals, value);
}

double ValueToPixel(const ChartAxis& axis, double value)
{
    const double span = axis.high - axis.low;
    if (span == 0.0) {
        return (axis.atLow + axis.atHigh) / 2;
    }
    return axis.atLow + (value - axis.low) / span * (axis.atHigh - axis.atLow);
}

double PixelToValue(const ChartAxis& axis, double pixel)
{
    const double pixels = axis.atHigh - axis.atLow;
    if (pixels == 0.0) {
        return axis.low;
    }
    return axis.low + (pixel - axis.atLow) / pixels * (axis.high - axis.low);
}

ChartPointSpan VisiblePoints(const ChartPoint* points, size_t count, double start, double end)
{
    ChartPointSpan span;
    if (!points || count == 0 || !(end >= start)) {
        return span;
    }
    const ChartPoint* last = points + count;
    const auto before = [](const ChartPoint& point, double time) { return point.time < time; };
    const auto after = [](double time, const ChartPoint& point) { return time < point.time; };
    const ChartPoint* first = std::lower_bound(points, last, start, before);
    const ChartPoint* beyond = std::upper_bound(first, last, end, after);
    if (first == beyond && (first == points || beyond == last)) {
        return span; // everything lies on one side of the window
    }
    span.first = static_cast<size_t>(first - points) - (first != points ? 1 : 0);
    span.end = static_cast<size_t>(beyond - points) + (beyond != last ? 1 : 0);
    return span;
}

size_t NearestPoint(const ChartPoint* points, size_t count, double time)
{
    size_t nearest = count;
    double best = 0.0;
    if (!points || !IsFinite(time)) {
        return count;
    }
    const ChartPoint* last = points + count;
    const auto before = [](const ChartPoint& point, double at) { return point.time < at; };
    const size_t split = static_cast<size_t>(std::lower_bound(points, last, time, before) - points);
    // Walks out from the split on both sides past points without a value.
    for (size_t index = split; index < count; ++index) {
        if (IsFinite(points[index].value)) {
            nearest = index;
            best = points[index].time - time;
            break;
        }
    }
    for (size_t index = split; index-- > 0;) {
        if (IsFinite(points[index].value)) {
            if (nearest == count || time - points[index].time <= best) {
                nearest = index;
            }
            break;
        }
    }
    return nearest;
}

ChartValueRange ValueRangeOf(const ChartPoint* points, size_t count, double start, double end)
{
    ChartValueRange range;
    if (!points) {
        return range;
    }
    const ChartPoint* last = points + count;
    const auto before = [](const ChartPoint& point, double time) { return point.time < time; };
    for (const ChartPoint* point = std::lower_bound(points, last, start, before);
         point != last && point->time <= end; ++point) {
        WidenValueRange(range, point->value);
    }
    return range;
}

namespace {

// The points of one pixel column: indexes of its first, lowest, highest
// and last point.
struct ColumnPoints
{
    size_t first = 0;
    size_t low = 0;
    size_t high = 0;
    size_t last = 0;
    bool any = false;
};

void FlushColumn(const ChartPoint* points, ColumnPoints& column, std::vector<ChartPoint>& reduced)
{
    if (!column.any) {
        return;
    }
    size_t order[4] = {column.first, column.low, column.high, column.last};
    std::sort(order, order + 4);
    for (size_t index = 0; index < 4; ++index) {
        if (index == 0 || order[index] != order[index - 1]) {
            reduced.push_back(points[order[index]]);
        }
    }
    column.any = false;
}

} // namespace

void ReduceToColumns(const ChartPoint* points, ChartPointSpan span, const ChartAxis& timeAxis,
                     std::vector<ChartPoint>& reduced)
{
    reduced.clear();
    ColumnPoints column;
    double columnX = 0.0;
    for (size_t index = span.first; index < span.end; ++index) {
        const ChartPoint& point = points[index];
        if (!IsFinite(point.value)) {
            FlushColumn(points, column, reduced);
            reduced.push_back(point);
            continue;
        }
        const double x = std::floor(ValueToPixel(timeAxis, point.time));
        if (column.any && x != columnX) {
            FlushColumn(points, column, reduced);
        }
        if (!column.any) {
            column = ColumnPoints{index, index, index, index, true};
            columnX = x;
            continue;
        }
        column.last = index;
        if (point.value < points[column.low].value) {
            column.low = index;
        }
        if (point.value > points[column.high].value) {
            column.high = index;
        }
    }
    FlushColumn(points, column, reduced);
}
