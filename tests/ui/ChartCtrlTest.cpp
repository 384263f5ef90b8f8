#include <doctest.h>

#include <windows.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "ChartPixels.h"
#include "MessagePump.h"
#include "MouseInput.h"
#include "TestWindow.h"
#include "UpdateTestFiles.h"
#include "base/Com.h"
#include "ui/ChartCtrl.h"
#include "ui/Dpi.h"

namespace {

constexpr int kChartId = 77;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// A line's own pixels are at most this far from its colour; anti-aliased
// edges are further.
constexpr int kLineTolerance = 60;

// WM_COMMAND notifications the chart sent its parent.
std::vector<WPARAM> g_commands;

LRESULT CALLBACK RecordingParent(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND) {
        g_commands.push_back(wParam);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The test's DPI when the test command runs it at another scale.
int TestDpi()
{
    const char* dpi = std::getenv("TESSEL_TEST_DPI");
    return dpi ? std::atoi(dpi) : kDefaultDpi;
}

// A chart of 600 x 360 pixels at 96 dpi (scaled to the test's DPI) in a
// shown parent window.
struct ChartHost
{
    ChartHost()
        : frame(L"TesselChartTestParent", RecordingParent,
                {40, 40, 40 + ScaleForDpi(640, TestDpi()), 40 + ScaleForDpi(400, TestDpi())})
    {
        g_commands.clear();
        const RECT bounds = {0, 0, ScaleForDpi(600, TestDpi()), ScaleForDpi(360, TestDpi())};
        REQUIRE(chart.Create(frame.Handle(), kChartId, bounds) == 1);
        SetForegroundWindow(frame.Handle());
        PumpMessagesFor(50);
    }

    // Column x's time, a time's column and the row a value should be drawn at.
    double TimeAt(int x) const { return PixelToValue(chart.TimeAxis(), x + 0.5); }
    int ColumnOf(double time) const
    {
        return static_cast<int>(ValueToPixel(chart.TimeAxis(), time));
    }
    int RowOf(double value) const
    {
        return static_cast<int>(std::floor(ValueToPixel(chart.ValueAxis(), value)));
    }
    // The plot's pixels in a line's colour, freshly painted.
    int LinePixels(COLORREF color) const
    {
        return WindowPicture(chart.Window()).CountNear(chart.Layout().plot, color, kLineTolerance);
    }
    // Clicks the legend's entry of the series with the real mouse.
    void ClickLegendEntry(size_t series)
    {
        const RECT entry = chart.LegendEntryRect(series);
        MoveMouse(chart.Window(), (entry.left + entry.right) / 2, (entry.top + entry.bottom) / 2);
        Mouse(MOUSEEVENTF_LEFTDOWN);
        Mouse(MOUSEEVENTF_LEFTUP);
    }

    TestWindow frame;
    ChartCtrl chart;
};

ChartSeries Series(const wchar_t* name, COLORREF color, std::vector<ChartPoint> points)
{
    ChartSeries series;
    series.name = name;
    series.color = color;
    series.points = std::move(points);
    series.valueText = L"0.000000";
    return series;
}

ChartData DataOf(std::vector<ChartSeries> series, double start = 0.0, double end = 10.0)
{
    ChartData data;
    data.series = std::move(series);
    data.start = start;
    data.end = end;
    data.timeOrigin = end;
    return data;
}

std::vector<ChartPoint> Sampled(double (*function)(double), double step = 0.05)
{
    std::vector<ChartPoint> points;
    for (double time = 0.0; time <= 10.0 + 1e-9; time += step)
        points.push_back({time, function(time)});
    return points;
}

// In every seventh column well inside the plot, the line lies within slack
// rows of the row the axis predicts; with steps, columns within 0.1 s of a
// whole second are left out.
void CheckLineFollows(const ChartHost& host, const WindowPicture& picture, COLORREF color,
                      double (*function)(double), int slack, bool steps = false)
{
    const RECT& plot = host.chart.Layout().plot;
    for (int x = plot.left + 4; x < plot.right - 4; x += 7) {
        const double time = host.TimeAt(x);
        if (steps && std::fabs(time - std::round(time)) < 0.1)
            continue;
        int distance = 0;
        const int row = picture.NearestRow(x, plot.top, plot.bottom, color, &distance);
        CAPTURE(x);
        CHECK(distance <= kLineTolerance);
        CHECK(std::abs(row - host.RowOf(function(time))) <= slack);
    }
}

const auto Constant = [](double) { return 7.25; };
const auto Ramp = [](double time) { return 3.0 * time - 4.0; };
const auto Square = [](double time) { return static_cast<int>(std::floor(time)) % 2 ? 1.0 : -1.0; };

// A square wave as a sampled sensor shows it: each change a vertical step.
std::vector<ChartPoint> SquarePoints()
{
    std::vector<ChartPoint> points;
    for (int second = 0; second < 10; ++second) {
        points.push_back({static_cast<double>(second), Square(second)});
        points.push_back({second + 1.0, Square(second)});
    }
    return points;
}

} // namespace

TEST_CASE("chart lines are drawn at once with ShowData, at the pixels the axes predict "
          "(constant, ramp, square wave)")
{
    ChartHost host;
    const COLORREF blue = ChartSeriesColor(0);
    const COLORREF vermilion = ChartSeriesColor(1);
    const COLORREF green = ChartSeriesColor(2);
    host.chart.SetData(DataOf({Series(L"Constant", blue, Sampled(Constant))}));
    const WindowPicture before(host.chart.Window());
    // Data shown with ShowData are on screen at once, as a repaint draws them.
    host.chart.ShowData(
        DataOf({Series(L"Ramp", blue, Sampled(Ramp)), Series(L"Square", vermilion, SquarePoints()),
                Series(L"Constant", green, Sampled(Constant))}));
    RECT due = {};
    CHECK_FALSE(GetUpdateRect(host.chart.Window(), &due, FALSE));
    const WindowPicture shown(host.chart.Window(), WindowPicture::kAsItIs);
    CHECK(shown.DifferingPixels(before) > 0);
    CHECK(shown.DifferingPixels(WindowPicture(host.chart.Window())) == 0);
    // With GDI+ and without it, on the system's window colour.
    for (bool smooth : {true, false}) {
        CAPTURE(smooth);
        host.chart.SetSmoothLines(smooth);
        const WindowPicture picture(host.chart.Window());
        CHECK(picture.Pixel(1, 1) == GetSysColor(COLOR_WINDOW));
        CHECK(host.chart.ValueTicks().first <= -4.0);
        CHECK(host.chart.ValueTicks().Last() >= 26.0);
        CheckLineFollows(host, picture, blue, Ramp, 2);
        CheckLineFollows(host, picture, green, Constant, 1);
        CheckLineFollows(host, picture, vermilion, Square, 1, true);
        // A step is a vertical run between the two levels.
        const int step = host.ColumnOf(3.0);
        const int high = host.RowOf(1.0);
        const int low = host.RowOf(-1.0);
        int tallest = 0;
        for (int x = step - 2; x <= step + 2; ++x)
            tallest =
                std::max(tallest, picture.RowsNear(x, high, low + 1, vermilion, kLineTolerance));
        CHECK(tallest >= (low - high) * 9 / 10);
    }
}

TEST_CASE("gaps, hidden lines and fields not plotted draw nothing; a legend click shows a line "
          "and tells the parent; a window beyond the data")
{
    ChartHost host;
    const COLORREF blue = ChartSeriesColor(0);
    const COLORREF vermilion = ChartSeriesColor(1);
    std::vector<ChartPoint> points = Sampled(Constant);
    for (ChartPoint& point : points)
        point.value = point.time > 4.0 && point.time < 6.0 ? kNaN : point.value;
    ChartData data =
        DataOf({Series(L"Gappy", blue, points), Series(L"Hidden", vermilion, Sampled(Ramp)),
                Series(L"Time Stamp", RGB(255, 0, 255), {})});
    data.series[1].visible = false;
    data.series[2].plotted = false;
    host.chart.SetData(std::move(data));
    const WindowPicture picture(host.chart.Window());
    const RECT& plot = host.chart.Layout().plot;
    const RECT gap = {host.ColumnOf(4.2), plot.top, host.ColumnOf(5.8), plot.bottom};
    CHECK(picture.CountNear(gap, blue, kLineTolerance) == 0);
    CHECK(picture.CountNear(plot, RGB(255, 0, 255), 30) == 0);
    CHECK(host.LinePixels(vermilion) == 0);
    CHECK(host.LinePixels(blue) > 100);
    // The axis follows the shown line only.
    CHECK(host.chart.ValueTicks().Last() < 26.0);

    // A click on an entry that is not plotted changes nothing.
    host.ClickLegendEntry(2);
    CHECK(g_commands.empty());
    host.ClickLegendEntry(1);
    CHECK(host.chart.Data().series[1].visible);
    CHECK(host.chart.ToggledSeries() == 1);
    REQUIRE(g_commands.size() == 1);
    CHECK(g_commands[0] == MAKEWPARAM(kChartId, CHARTN_SERIES_TOGGLED));
    CHECK(host.LinePixels(vermilion) > 100);
    // The first entry hides the first line.
    host.ClickLegendEntry(0);
    CHECK(host.LinePixels(blue) == 0);

    // Data that lie wholly before the window draw nothing, and the axis
    // falls back to 0 .. 1.
    host.chart.SetData(DataOf({Series(L"Old", blue, Sampled(Constant))}, 100.0, 110.0));
    CHECK(host.LinePixels(blue) == 0);
    CHECK(host.chart.ValueTicks().first == 0.0);
}

TEST_CASE("the cursor follows the mouse over the plot and leaves with it")
{
    ChartHost host;
    host.chart.SetData(DataOf({Series(L"Ramp", ChartSeriesColor(0), Sampled(Ramp))}));
    WindowPicture before(host.chart.Window());
    const RECT plot = host.chart.Layout().plot;
    const int x = (plot.left + plot.right) / 2;
    MoveMouse(host.chart.Window(), x, (plot.top + plot.bottom) / 2);
    CHECK(host.chart.HasCursor());
    CHECK(host.chart.CursorTime() == doctest::Approx(host.TimeAt(x)));
    // A vertical line in the text colour runs down the plot at the cursor.
    const WindowPicture picture(host.chart.Window());
    CHECK(picture.RowsNear(x, plot.top, plot.bottom, GetSysColor(COLOR_WINDOWTEXT), 0) >=
          (plot.bottom - plot.top) / 2);
    // Outside the plot (the legend) there is none.
    MoveMouse(host.chart.Window(), host.chart.Layout().legend.left + 2, plot.top + 2);
    CHECK_FALSE(host.chart.HasCursor());
    MoveMouse(host.chart.Window(), x, (plot.top + plot.bottom) / 2);
    REQUIRE(host.chart.HasCursor());
    // Leaving the window takes it away.
    MoveMouse(host.frame.Handle(), ScaleForDpi(630, TestDpi()), ScaleForDpi(390, TestDpi()));
    PumpMessagesFor(200);
    CHECK_FALSE(host.chart.HasCursor());
}

TEST_CASE("the chart's picture goes to the clipboard as a bitmap and to a PNG file")
{
    ComApartment apartment;
    REQUIRE(apartment.Init(0));
    ChartHost host;
    host.chart.SetData(DataOf({Series(L"Ramp", ChartSeriesColor(0), Sampled(Ramp))}));
    RECT client = {};
    GetClientRect(host.chart.Window(), &client);

    REQUIRE(host.chart.CopyImage(host.frame.Handle()) == 1);
    REQUIRE(OpenClipboard(host.frame.Handle()));
    const auto bitmap = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP));
    BITMAP info = {};
    const bool described = bitmap && GetObjectW(bitmap, sizeof(info), &info) == sizeof(info);
    CloseClipboard();
    REQUIRE(described);
    CHECK(info.bmWidth == client.right);
    CHECK(info.bmHeight == client.bottom);

    wchar_t folder[MAX_PATH];
    REQUIRE(GetTempPathW(MAX_PATH, folder) > 0);
    const std::wstring path = std::wstring(folder) + L"tessel-chart-test.png";
    DeleteFileW(path.c_str());
    REQUIRE(host.chart.SaveImage(path.c_str()) == 1);
    const std::string png = update_test::ReadWholeFile(path);
    DeleteFileW(path.c_str());
    REQUIRE(png.size() > 24);
    CHECK(png.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0);
    // The IHDR chunk's width and height, big-endian.
    const char size[] = {0, 0, char(client.right >> 8),  char(client.right),
                         0, 0, char(client.bottom >> 8), char(client.bottom)};
    CHECK(png.compare(16, 8, size, 8) == 0);

    // A folder that does not exist: no file, and 0.
    const std::wstring nowhere = std::wstring(folder) + L"no-such-folder\\chart.png";
    CHECK(host.chart.SaveImage(nowhere.c_str()) == 0);
    CHECK(GetFileAttributesW(nowhere.c_str()) == INVALID_FILE_ATTRIBUTES);
}

TEST_CASE("chart sizes follow the DPI: line width, text and legend rows")
{
    ChartHost host;
    const int dpi = TestDpi();
    CHECK(host.chart.Dpi() == WindowDpi(host.frame.Handle()));
    host.chart.SetData(DataOf({Series(L"Constant", ChartSeriesColor(0), Sampled(Constant))}));
    const WindowPicture picture(host.chart.Window());
    const RECT& plot = host.chart.Layout().plot;
    // The line is 2 pixels wide at 96 dpi, as many more as the DPI asks.
    const int x = (plot.left + plot.right) / 2 + 3;
    const int thick =
        picture.RowsNear(x, plot.top, plot.bottom, ChartSeriesColor(0), kLineTolerance);
    CHECK(thick >= ScaleForDpi(2, dpi) - 1);
    CHECK(thick <= ScaleForDpi(2, dpi) + 1);
    // Legend rows hold the message font at this DPI.
    CHECK(host.chart.Layout().legendRowHeight >= ScaleForDpi(12, dpi));
    CHECK(host.chart.Layout().legendRowHeight <= ScaleForDpi(30, dpi));
    // Moving to another DPI remakes the sizes.
    host.chart.SetDpi(dpi * 2);
    const WindowPicture doubled(host.chart.Window());
    const RECT& bigger = host.chart.Layout().plot;
    const int wide = doubled.RowsNear((bigger.left + bigger.right) / 2 + 3, bigger.top,
                                      bigger.bottom, ChartSeriesColor(0), kLineTolerance);
    CHECK(wide >= ScaleForDpi(2, dpi * 2) - 1);
}
