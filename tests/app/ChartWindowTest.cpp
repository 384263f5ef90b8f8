#include <doctest.h>

#include "MainWindowFixture.h"
#include "app/ChartWindow.h"
#include "ui/Dpi.h"

#include <cstdlib>
#include <string>
#include <vector>

using namespace main_window_test;

namespace {

constexpr long long kSecond = 10000000;

int ChartWindowCount()
{
    int count = 0;
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"TesselChartWindow", nullptr)) != nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        count += process == GetCurrentProcessId() ? 1 : 0;
    }
    return count;
}

struct ChartFixture : MainWindowFixture
{
    void AddSensor(unsigned number, const wchar_t* name)
    {
        REQUIRE(AddTestSensor(sim, number, name,
                              {{L"LATITUDE_DEGREES", L"VT_R8, 5.5"},
                               {L"LONGITUDE_DEGREES", L"VT_R8, 10, ramp, 1"},
                               {L"CITY", L"VT_LPWSTR, Seattle"}}));
    }
    void Fire(unsigned number, int times = 1)
    {
        for (int index = 0; index < times; ++index)
            REQUIRE(FireData(number) == 1);
    }
    // The usual start: sensor 1, "Integrated GPS", in a started window with
    // the given number of reports, its chart open.
    void OpenGpsChart(int reports)
    {
        AddSensor(1, L"Integrated GPS");
        Open();
        Fire(1, reports);
        OpenChart(L"Integrated GPS");
    }
    void OpenChart(const wchar_t* sensorName)
    {
        REQUIRE(window.Select(sensorName) == 1);
        REQUIRE(window.PressInTree('G', true) == 1);
        REQUIRE(window.Settle() == 1);
    }
    // Runs function with the sensor's chart on the window's thread.
    template <typename Function> void WithChart(unsigned number, Function function)
    {
        bool found = false;
        REQUIRE(window.AfterPosted([&] {
            ChartWindow* chart = window.App()->Charts().Find(TestSensorId(number));
            found = chart != nullptr;
            if (chart) {
                function(*chart);
            }
        }));
        REQUIRE(found);
    }
    HWND ChartWindowOf(unsigned number, bool plot = false)
    {
        HWND handle = nullptr;
        WithChart(number, [&](ChartWindow& chart) {
            handle = plot ? chart.Chart().Window() : chart.Window();
        });
        return handle;
    }
    unsigned Frames(unsigned number)
    {
        unsigned frames = 0;
        WithChart(number, [&](ChartWindow& chart) { frames = chart.Frames(); });
        return frames;
    }
    void WaitForFrames(unsigned number, unsigned count)
    {
        const unsigned start = Frames(number);
        REQUIRE_MESSAGE(WaitUntil(
                            5000, [&] { return Frames(number) >= start + count; }, 20),
                        "the chart took no new pictures within 5 s");
    }
};

} // namespace

TEST_CASE("chart data from a history: every field, times in seconds, hidden fields by name")
{
    HistorySnapshot snapshot;
    snapshot.fields.resize(2);
    snapshot.fields[0].name = L"X";
    snapshot.fields[0].numeric = true;
    snapshot.fields[0].newestText = L"2.000000";
    snapshot.fields[0].samples = {{100 * kSecond, 1.0}, {105 * kSecond, 2.0}};
    snapshot.fields[1].name = L"Time Stamp";
    ChartData data;
    BuildChartData(snapshot, 100 * kSecond, 110 * kSecond, 60.0, {L"X"}, data);
    CHECK(data.end == 10.0);
    CHECK(data.start == -50.0);
    CHECK(data.timeOrigin == 10.0);
    REQUIRE(data.series.size() == 2);
    CHECK_FALSE(data.series[0].visible);
    CHECK(data.series[0].valueText == L"2.000000");
    REQUIRE(data.series[0].points.size() == 2);
    CHECK(data.series[0].points[1].time == 5.0);
    CHECK(data.series[0].points[1].value == 2.0);
    CHECK_FALSE(data.series[1].plotted);
    CHECK(data.series[1].visible);
    CHECK(data.series[0].color == ChartSeriesColor(0));

    WideString title;
    REQUIRE(ChartTitle(L"Accelerometer", true, true, title));
    CHECK(std::wstring(title.Data()) == L"Accelerometer - Chart - Paused - Sensor removed");

    // 30 pictures a second at most, fewer when the lines move slower.
    CHECK(ChartFrameInterval(10.0, 600) == kChartFrameMs);
    CHECK(ChartFrameInterval(600.0, 600) == 1000);
    CHECK(ChartFrameInterval(10.0, 0) == kChartFrameMs);

    const ChartWindowLayout layout = LayOutChartWindow({720, 440}, 96);
    CHECK(layout.save.right == 712);
    CHECK(layout.copy.right < layout.save.left);
    CHECK(layout.span.right < layout.copy.left);
    CHECK(layout.header.right < layout.span.left);
    CHECK(layout.chart.top >= layout.save.bottom);
    CHECK(layout.chart.bottom == 440);
    // Too small a window keeps its rectangles the right way round.
    const ChartWindowLayout tiny = LayOutChartWindow({50, 20}, 192);
    CHECK(tiny.header.right >= tiny.header.left);
    CHECK(tiny.chart.bottom >= tiny.chart.top);
}

TEST_CASE("Chart opens one window per sensor, brings it to the front again, keeps it while "
          "its sensor is away, and Exit closes all")
{
    ChartFixture f;
    f.AddSensor(1, L"First GPS");
    f.AddSensor(2, L"Second GPS");
    f.Open();
    f.Fire(1, 10);
    f.OpenChart(L"First GPS");
    CHECK(ChartWindowCount() == 1);
    const HWND first = f.ChartWindowOf(1);
    CHECK(WindowText(first) == L"First GPS - Chart");
    // From a field row of the same sensor: the same window.
    REQUIRE(f.window.Select(L"CITY\t") == 1);
    PostMessageW(f.window.Window(), WM_COMMAND, IDM_CHART, 0);
    REQUIRE(f.window.Settle() == 1);
    CHECK(ChartWindowCount() == 1);
    f.OpenChart(L"Second GPS");
    CHECK(ChartWindowCount() == 2);
    CHECK(WindowText(f.ChartWindowOf(2)) == L"Second GPS - Chart");

    // A sensor that leaves keeps its chart, titled so, which goes on when
    // it returns.
    const GUID id = TestSensorId(1);
    REQUIRE(f.sim.RemoveSensor(&id) == 1);
    REQUIRE(f.window.Settle() == 1);
    CHECK(WindowText(first) == L"First GPS - Chart - Sensor removed");
    auto points = [&] {
        size_t count = 0;
        f.WithChart(1, [&](ChartWindow& chart) {
            chart.Update();
            count = chart.Chart().Data().series.at(0).points.size();
        });
        return count;
    };
    const size_t pointsWhileAway = points();
    CHECK(pointsWhileAway >= 10);
    f.AddSensor(1, L"First GPS");
    REQUIRE(f.sim.FireEnter(&id) == 1);
    REQUIRE(f.window.Settle() == 1);
    CHECK(WindowText(first) == L"First GPS - Chart");
    f.Fire(1, 5);
    CHECK(points() >= pointsWhileAway + 5);

    // The user closes one; asking again opens a new one.
    PostMessageW(first, WM_CLOSE, 0, 0);
    REQUIRE(f.window.Settle() == 1);
    CHECK(ChartWindowCount() == 1);
    f.OpenChart(L"First GPS");
    CHECK(ChartWindowCount() == 2);
    f.window.Close();
    CHECK(ChartWindowCount() == 0);
}

TEST_CASE("the chart shows the history from before it opened and the legend the tree's texts")
{
    ChartFixture f;
    f.AddSensor(1, L"Integrated GPS");
    f.Open();
    f.Fire(1, 20);
    f.OpenChart(L"Integrated GPS");
    f.WithChart(1, [](ChartWindow& chart) {
        const ChartData& data = chart.Chart().Data();
        REQUIRE(data.series.size() == 3);
        // Reports from before the window opened lie before its time 0.
        REQUIRE(data.series[1].points.size() >= 20);
        CHECK(data.series[1].points.front().time < 0.0);
        CHECK(data.series[0].points.back().value == 5.5);
        CHECK_FALSE(data.series[2].plotted);
    });
    // Once both have shown the last report, the legend says what the tree says.
    f.Fire(1, 3);
    const std::vector<std::wstring> rows = Texts(f.window.SettledTree());
    f.WithChart(1, [&rows](ChartWindow& chart) {
        chart.Update();
        for (const ChartSeries& series : chart.Chart().Data().series) {
            const std::wstring row = series.name + L"\t" + series.valueText;
            CHECK_MESSAGE(Has(rows, row), std::string(row.begin(), row.end()));
        }
        CHECK(std::wstring(chart.HeaderText()).find(L"reports/s, last") != std::wstring::npos);
    });
}

TEST_CASE("Space pauses the picture while reports go on; a hidden line stays hidden; a "
          "minimised chart takes none")
{
    ChartFixture f;
    f.OpenGpsChart(5);
    const HWND chartWindow = f.ChartWindowOf(1);
    const HWND plot = f.ChartWindowOf(1, true);
    // Reports that the chart, paused or minimised, takes no picture of.
    auto checkNoFramesOf = [&](int reports) {
        const unsigned frames = f.Frames(1);
        f.Fire(1, reports);
        Sleep(300);
        REQUIRE(f.window.Settle() == 1);
        CHECK(f.Frames(1) == frames);
    };
    // Space reaches the window through the focused chart.
    PostMessageW(plot, WM_KEYDOWN, VK_SPACE, 0);
    REQUIRE(f.window.Settle() == 1);
    CHECK(WindowText(chartWindow) == L"Integrated GPS - Chart - Paused");
    checkNoFramesOf(30);
    PostMessageW(plot, WM_KEYDOWN, VK_SPACE, 0);
    REQUIRE(f.window.Settle() == 1);
    CHECK(WindowText(chartWindow) == L"Integrated GPS - Chart");
    f.WaitForFrames(1, 2);

    // A legend click hides the ramp; later pictures keep it hidden.
    RECT entry = {};
    f.WithChart(1, [&](ChartWindow& chart) { entry = chart.Chart().LegendEntryRect(1); });
    const LPARAM at = MAKELPARAM((entry.left + entry.right) / 2, (entry.top + entry.bottom) / 2);
    PostMessageW(plot, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(plot, WM_LBUTTONUP, 0, at);
    f.Fire(1, 5);
    f.WaitForFrames(1, 2);
    f.WithChart(1, [](ChartWindow& chart) {
        CHECK(chart.Chart().Data().series[0].visible);
        CHECK_FALSE(chart.Chart().Data().series[1].visible);
    });

    ShowWindow(chartWindow, SW_MINIMIZE);
    REQUIRE(f.window.Settle() == 1);
    checkNoFramesOf(10);
    ShowWindow(chartWindow, SW_RESTORE);
    f.WaitForFrames(1, 2);
}

TEST_CASE("the chart window follows the DPI")
{
    ChartFixture f;
    f.OpenGpsChart(5);
    const int dpi = TestDpi() ? TestDpi() : kDefaultDpi;
    f.WithChart(1, [dpi](ChartWindow& chart) {
        CHECK(chart.Chart().Dpi() == dpi);
        RECT client = {};
        GetClientRect(chart.Window(), &client);
        CHECK(client.right == ScaleForDpi(720, dpi));
        CHECK(client.bottom == ScaleForDpi(440, dpi));
        // A move to a monitor of twice the DPI remakes the sizes.
        RECT suggested = {};
        GetWindowRect(chart.Window(), &suggested);
        SendMessageW(chart.Window(), kWmDpiChanged, MAKEWPARAM(dpi * 2, dpi * 2),
                     reinterpret_cast<LPARAM>(&suggested));
        CHECK(chart.Chart().Dpi() == dpi * 2);
    });
}
