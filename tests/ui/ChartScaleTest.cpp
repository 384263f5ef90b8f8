#include <doctest.h>

#include "ui/ChartScale.h"

#include <cfloat>
#include <cmath>
#include <cwchar>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

ChartValueRange RangeOf(std::initializer_list<double> values)
{
    ChartValueRange range;
    for (double value : values)
        WidenValueRange(range, value);
    return range;
}

std::wstring Label(double value, int decimals)
{
    WideString text;
    REQUIRE(FormatTickValue(value, decimals, text) == 1);
    return text.Data();
}

// The ticks' labels, separated by spaces.
std::wstring Labels(const ChartTicks& ticks)
{
    std::wstring labels;
    for (int index = 0; index < ticks.count; ++index)
        labels += (index ? L" " : L"") + Label(ticks.At(index), ticks.decimals);
    return labels;
}

// Whether a step is 1, 2 or 5 times a power of ten.
bool IsRoundStep(double step)
{
    const double mantissa = step / std::pow(10.0, std::floor(std::log10(step)));
    for (double round : {1.0, 2.0, 5.0, 10.0})
        if (std::fabs(mantissa - round) < 1e-9)
            return true;
    return false;
}

// The properties every choice of ticks must have for the range it covers.
void CheckTicksCover(const ChartTicks& ticks, double low, double high, int maxTicks)
{
    CHECK(ticks.count >= 2);
    CHECK(ticks.count <= maxTicks);
    CHECK(std::isfinite(ticks.first));
    CHECK(IsRoundStep(ticks.step));
    // first + k x step rounds once more than the tick's own index x step:
    // an end may be missed by a double's last digit at the values' size.
    const double slack =
        std::max(ticks.step * 1e-9, std::max(std::fabs(low), std::fabs(high)) * 4 * DBL_EPSILON);
    CHECK(ticks.first <= low + slack);
    CHECK(ticks.Last() >= high - slack);
    // Not wider than needed (one step less would miss an end), unless the
    // range is too narrow for a double to tell its steps apart.
    if (high - low >= std::max(std::fabs(low), std::fabs(high)) * 1e-9) {
        CHECK(ticks.first > low - ticks.step);
        CHECK(ticks.Last() < high + ticks.step);
    }
}

// Points at 0, 1, 2 ... seconds with the values 0, 1, 2 ...
std::vector<ChartPoint> Ramp(int count)
{
    std::vector<ChartPoint> points;
    for (int index = 0; index < count; ++index)
        points.push_back({static_cast<double>(index), static_cast<double>(index)});
    return points;
}

} // namespace

TEST_CASE("round steps are 1, 2 or 5 times a power of ten and never below the rough step")
{
    // The last four are nonsense and ask for the unit step.
    const double steps[][2] = {{0.17, 0.2}, {0.2, 0.2},   {0.21, 0.5},     {7.0, 10.0},
                               {1.0, 1.0},  {3e-7, 5e-7}, {4.2e8, 5e8},    {0.0, 1.0},
                               {-3.0, 1.0}, {kNaN, 1.0},  {kInfinity, 1.0}};
    for (const auto& step : steps) {
        CAPTURE(step[0]);
        CHECK(RoundTickStep(step[0]) == doctest::Approx(step[1]));
    }
}

TEST_CASE("ticks for ranges of every size land on round values and cover the range")
{
    // Small values of both signs without "-0", a small range far from zero.
    const struct
    {
        double low, high;
        const wchar_t* labels;
    } ranges[] = {
        {0.0, 1.0, L"0.0 0.2 0.4 0.6 0.8 1.0"},
        {-0.004, 0.003, L"-0.004 -0.002 0.000 0.002 0.004"},
        {1e6, 1.00001e6, L"1000000 1000002 1000004 1000006 1000008 1000010"},
    };
    for (const auto& range : ranges) {
        CAPTURE(range.low);
        // The higher value first: the order they come in does not count.
        const ChartTicks ticks = ChooseTicks(RangeOf({range.high, range.low}), 6);
        CheckTicksCover(ticks, range.low, range.high, 6);
        CHECK(Labels(ticks) == range.labels);
    }
    // Ranges across many magnitudes; too few ticks asked for still give three.
    for (double low : {-1e9, -37.5, -1.0, 0.0, 0.001, 9.81, 123456.0}) {
        for (double width : {1e-6, 0.003, 1.0, 7.0, 1234.0, 1e12}) {
            for (int maxTicks : {2, 3, 4, 5, 11}) {
                INFO("low ", low, ", width ", width, ", at most ", maxTicks, " ticks");
                CheckTicksCover(ChooseTicks(RangeOf({low, low + width}), maxTicks), low,
                                low + width, std::max(maxTicks, 3));
            }
        }
    }
}

TEST_CASE("a single value, equal values, no values and non-finite values still give an axis")
{
    // A single value, also at zero or negative, lies inside the axis, not on its edge.
    for (double value : {9.81, 0.0, -250.0}) {
        CAPTURE(value);
        const ChartTicks ticks = ChooseTicks(RangeOf({value, value, value}), 5);
        CHECK(ticks.first < value);
        CHECK(ticks.Last() > value);
        CHECK(ticks.count >= 2);
    }
    // NaN and infinities are skipped, the rest decides.
    ChartValueRange range = RangeOf({kNaN, 2.0, kInfinity, -kInfinity, 5.0, kNaN});
    CHECK_FALSE(range.empty);
    CHECK(range.low == 2.0);
    CHECK(range.high == 5.0);
    CheckTicksCover(ChooseTicks(range, 6), 2.0, 5.0, 6);
    // Nothing finite at all gives 0 .. 1.
    range = RangeOf({kNaN, kInfinity});
    CHECK(range.empty);
    const ChartTicks unit = ChooseTicks(range, 6);
    CHECK(unit.first == 0.0);
    CHECK(unit.Last() == doctest::Approx(1.0));
}

TEST_CASE("time ticks stay inside a fixed window")
{
    const ChartTicks ticks = ChooseInnerTicks(-10.0, 0.0, 6);
    CHECK(Labels(ticks) == L"-10 -8 -6 -4 -2 0");
    const ChartTicks odd = ChooseInnerTicks(3.3, 17.9, 4);
    CHECK(odd.first >= 3.3);
    CHECK(odd.Last() <= 17.9);
    CHECK(odd.count <= 4);
    CHECK(ChooseInnerTicks(5.0, 5.0, 6).count == 0);
    CHECK(ChooseInnerTicks(0.0, kNaN, 6).count == 0);
}

TEST_CASE("tick labels: fixed decimals, exponent form at the extremes, no text for non-finite")
{
    CHECK(Label(1.5, 1) == L"1.5");
    CHECK(Label(-1e-18, 3) == L"0.000");
    const std::wstring huge = Label(2e15, 0);
    CHECK(huge.find(L"e+") != std::wstring::npos);
    CHECK(std::wcstod(huge.c_str(), nullptr) == 2e15);
    WideString text(L"kept");
    CHECK(FormatTickValue(kNaN, 2, text) == 0);
    CHECK(FormatTickValue(kInfinity, 2, text) == 0);
    CHECK(std::wstring(text.Data()) == L"kept");
}

TEST_CASE("values map to pixels and back, a y axis upside down")
{
    const ChartAxis y = {-2.0, 2.0, 200.5, 0.5};
    CHECK(ValueToPixel(y, -2.0) == doctest::Approx(200.5));
    CHECK(ValueToPixel(y, 2.0) == doctest::Approx(0.5));
    CHECK(ValueToPixel(y, 0.0) == doctest::Approx(100.5));
    CHECK(ValueToPixel(y, 3.0) == doctest::Approx(-49.5));
    for (double pixel : {0.5, 17.25, 100.0, 199.0})
        CHECK(ValueToPixel(y, PixelToValue(y, pixel)) == doctest::Approx(pixel));
    // An axis without extent puts everything in its middle, never divides by 0.
    const ChartAxis flat = {5.0, 5.0, 10.0, 30.0};
    CHECK(ValueToPixel(flat, 5.0) == doctest::Approx(20.0));
    const ChartAxis point = {0.0, 1.0, 7.0, 7.0};
    CHECK(PixelToValue(point, 7.0) == 0.0);
}

TEST_CASE("a time window shows its points and one beyond each edge")
{
    const std::vector<ChartPoint> points = Ramp(10); // times 0 .. 9
    // {start, end, first, stop}; a stop of -1 for no points at all.
    const double windows[][4] = {
        {2.5, 5.5, 2, 7},    {3.0, 5.0, 2, 7}, // edges on points keep one beyond
        {-5.0, 1.0, 0, 3},                     // over the start
        {8.5, 20.0, 8, 10},                    // over the end
        {4.2, 4.7, 4, 6},                      // between two points: the segment crossing it
        {-9.0, -1.0, 0, -1},                   // entirely before, after, reversed
        {10.0, 20.0, 0, -1}, {5.0, 4.0, 0, -1},
    };
    for (const auto& window : windows) {
        CAPTURE(window[0]);
        const ChartPointSpan span =
            VisiblePoints(points.data(), points.size(), window[0], window[1]);
        if (window[3] < 0) {
            CHECK(span.first == span.end);
        } else {
            CHECK(span.first == window[2]);
            CHECK(span.end == window[3]);
        }
    }
    const ChartPointSpan none = VisiblePoints(nullptr, 0, 0.0, 1.0);
    CHECK(none.first == none.end);
}

TEST_CASE("the value range counts only the window's finite values")
{
    std::vector<ChartPoint> points = Ramp(10);
    points[4].value = kNaN;
    points[5].value = 1000.0;
    points[6].value = -kInfinity;
    ChartValueRange range = ValueRangeOf(points.data(), points.size(), 3.0, 5.0);
    CHECK(range.low == 3.0);
    CHECK(range.high == 1000.0);
    range = ValueRangeOf(points.data(), points.size(), 6.0, 6.5);
    CHECK(range.empty);
}

TEST_CASE("the point nearest the cursor skips gaps")
{
    std::vector<ChartPoint> points = Ramp(6);
    CHECK(NearestPoint(points.data(), points.size(), 2.4) == 2);
    CHECK(NearestPoint(points.data(), points.size(), 2.6) == 3);
    CHECK(NearestPoint(points.data(), points.size(), -3.0) == 0);
    CHECK(NearestPoint(points.data(), points.size(), 99.0) == 5);
    points[3].value = kNaN;
    CHECK(NearestPoint(points.data(), points.size(), 3.1) == 4);
    CHECK(NearestPoint(points.data(), points.size(), 2.9) == 2);
    CHECK(NearestPoint(points.data(), points.size(), kNaN) == points.size());
    CHECK(NearestPoint(points.data(), 0, 1.0) == 0);
}

TEST_CASE("many points per pixel column reduce to those the picture needs")
{
    // 10,000 points over 100 columns; column 37 holds a spike either way.
    std::vector<ChartPoint> points;
    for (int index = 0; index < 10000; ++index) {
        const double time = index / 1000.0;
        points.push_back({time, std::sin(time)});
    }
    points[3700].value = 50.0;
    points[3750].value = -50.0;
    points[6000].value = kNaN;
    const ChartAxis axis = {0.0, 10.0, 0.0, 100.0};
    std::vector<ChartPoint> reduced;
    ReduceToColumns(points.data(), {0, points.size()}, axis, reduced);
    CHECK(reduced.size() <= 4 * 101 + 1);
    CHECK(reduced.size() >= 100);
    bool spikeUp = false;
    bool spikeDown = false;
    int gaps = 0;
    for (size_t index = 0; index < reduced.size(); ++index) {
        spikeUp |= reduced[index].value == 50.0;
        spikeDown |= reduced[index].value == -50.0;
        gaps += std::isnan(reduced[index].value) ? 1 : 0;
        if (index > 0)
            CHECK(reduced[index].time >= reduced[index - 1].time);
    }
    CHECK(spikeUp);
    CHECK(spikeDown);
    CHECK(gaps == 1);
    CHECK(reduced.front().time == 0.0);
    CHECK(reduced.back().time == points.back().time);
}
