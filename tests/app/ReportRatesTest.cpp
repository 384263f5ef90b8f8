#include <doctest.h>

#include "MainWindowFixture.h"
#include "ScenarioFile.h"
#include "app/ReportIntervalDialog.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

using namespace main_window_test;

// Report rates as the main window measures them from the simulator's real
// reports, the properties dialog's rate rows, and the report interval
// dialog with the rate following the interval.

namespace {

// An accelerometer (its simulated minimum interval is 16 ms) with one
// field, numbered as TestSensorId numbers.
std::string SensorSection(const char* name, unsigned number, unsigned intervalMs,
                          const char* extra = "")
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "[%s]\r\nId={%08X-2345-5432-9000-000000000002}\r\n"
                  "Category=MOTION\r\nType=ACCELEROMETER_3D\r\nName=%s\r\nInterval=%u\r\n%s"
                  "[%s.Data]\r\nACCELERATION_X_G=VT_R8, 0.5, ramp, 0.01, 0, 1\r\n",
                  name, 0x7E550000u + number, name, intervalMs, extra, name);
    return text;
}

std::string Scenario(const char* names, const std::string& sections)
{
    return std::string("[Simulator]\r\nSensors=") + names + "\r\nTimeline=1\r\n" + sections;
}

// The main window on the scenario's sensors.
struct RatesFixture : MainWindowFixture
{
    explicit RatesFixture(const std::string& text) : scenario(text)
    {
        REQUIRE(scenario.Path() != nullptr);
        REQUIRE(sim.LoadScenario(scenario.Path()) == 1);
        Open();
    }
    ~RatesFixture()
    {
        window.Close();
        sim.Reset();
    }

    ReportRateReading Reading(unsigned number)
    {
        ReportRateReading reading;
        window.Send(
            [&] { reading = window.App()->Rates().Read(TestSensorId(number), ReportClockUs()); });
        return reading;
    }

    // Waits until the measured rate of the sensor is within 5 % of hertz:
    // the 5 s window must first let go of the arrivals at the old pace.
    bool RateSettlesAt(unsigned number, double hertz)
    {
        return WaitUntil(
            15000,
            [&] {
                const double rate = Reading(number).perSecond;
                return rate > hertz * 0.95 && rate < hertz * 1.05;
            },
            50);
    }

    // The number in the value of the row that starts with name, or -1.
    double RowNumber(HWND dialog, const std::wstring& name)
    {
        for (const std::wstring& row : PropertyRows(dialog)) {
            if (row.compare(0, name.size() + 1, name + L"\t") == 0)
                return std::wcstod(row.c_str() + name.size() + 1, nullptr);
        }
        return -1;
    }
    bool RateTimerRunning()
    {
        bool running = false;
        WithProperties([&](SensorPropertiesDialog& open) { running = open.IsRateTimerRunning(); });
        return running;
    }

    HWND OpenInterval(HWND properties)
    {
        PostMessageW(properties, WM_COMMAND, IDC_REPORT_INTERVAL, 0);
        HWND dialog = nullptr;
        WaitUntil(kPatienceMs, [&] {
            WithProperties([&](SensorPropertiesDialog& open) {
                if (ReportIntervalDialog* interval = open.OpenInterval())
                    dialog = interval->Window();
            });
            return dialog && IsWindowVisible(dialog);
        });
        REQUIRE(dialog != nullptr);
        return dialog;
    }
    // Types the text, presses OK and answers the line the dialog shows.
    std::wstring Apply(HWND dialog, const wchar_t* typed)
    {
        SetDlgItemTextW(dialog, IDC_INTERVAL_RESULT, L"");
        SetDlgItemTextW(dialog, IDC_INTERVAL_EDIT, typed);
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        std::wstring line;
        WaitUntil(kPatienceMs, [&] {
            line = WindowText(GetDlgItem(dialog, IDC_INTERVAL_RESULT));
            return !line.empty();
        });
        return line;
    }

    ScenarioFile scenario;
};

} // namespace

TEST_CASE("the rate rows' texts")
{
    const struct
    {
        double perSecond;
        double ago;
        const wchar_t* rate;
        const wchar_t* last;
    } cases[] = {
        {59.84, 0.021, L"59.8 reports/s", L"0.02 s ago"},
        {0.0, 7.5, L"0.0 reports/s", L"7.50 s ago"},
        {1000.04, 0.0004, L"1000.0 reports/s", L"0.00 s ago"},
    };
    for (const auto& entry : cases) {
        ReportRateReading reading;
        reading.perSecond = entry.perSecond;
        reading.secondsSinceLast = entry.ago;
        WideString rate;
        WideString last;
        RateRowTexts(reading, rate, last);
        CHECK(std::wstring(rate.Data()) == entry.rate);
        CHECK(std::wstring(last.Data()) == entry.last);
    }
}

// How a stopped sensor's rate falls is the rate's own test's; here the
// properties dialog shows it.
TEST_CASE("sensors at 1, 10 and 60 Hz are measured within 5 %")
{
    RatesFixture f(Scenario("Slow, Medium, Fast", SensorSection("Slow", 1, 1000) +
                                                      SensorSection("Medium", 2, 100) +
                                                      SensorSection("Fast", 3, 17)));
    // Enough reports of the slowest sensor for three whole intervals.
    Sleep(4500);
    const struct
    {
        unsigned number;
        double hertz;
    } sensors[] = {{1, 1.0}, {2, 10.0}, {3, 1000.0 / 17}};
    for (const auto& sensor : sensors) {
        CAPTURE(sensor.hertz);
        const ReportRateReading reading = f.Reading(sensor.number);
        CHECK(reading.perSecond == doctest::Approx(sensor.hertz).epsilon(0.05).scale(0));
        CHECK(reading.secondsSinceLast >= 0);
        CHECK(reading.secondsSinceLast < 1.5 / sensor.hertz + 0.1);
    }
}

TEST_CASE("the properties dialog shows the rate live, and rests while minimised")
{
    RatesFixture f(Scenario("Medium", SensorSection("Medium", 2, 100)));
    HWND dialog = f.OpenProperties(L"Medium");
    CHECK(f.RateTimerRunning());
    CHECK(WaitUntil(8000, [&] {
        const double rate = f.RowNumber(dialog, L"Report rate");
        return rate > 9.5 && rate < 10.5;
    }));
    const double ago = f.RowNumber(dialog, L"Last report");
    CHECK(ago >= 0.0);
    CHECK(ago < 0.5);

    SUBCASE("minimised, the rows stand still while reports go on")
    {
        REQUIRE(f.window.Send([&] { ShowWindow(dialog, SW_MINIMIZE); }));
        CHECK(IsIconic(dialog));
        CHECK_FALSE(f.RateTimerRunning());
        const std::vector<std::wstring> frozen = f.PropertyRows(dialog);
        const LONG delivered = f.sim.DeliveredEvents();
        CHECK(WaitUntil(5000, [&] { return f.sim.DeliveredEvents() >= delivered + 5; }));
        CHECK(f.PropertyRows(dialog) == frozen);

        REQUIRE(f.window.Send([&] { ShowWindow(dialog, SW_RESTORE); }));
        CHECK(f.RateTimerRunning());
        CHECK(WaitUntil(5000, [&] { return f.PropertyRows(dialog) != frozen; }));
    }
    SUBCASE("a sensor that stops: the last report grows older, the rate falls")
    {
        REQUIRE(f.sim.StopTimeline() == 1);
        Sleep(200);
        const double rateBefore = f.RowNumber(dialog, L"Report rate");
        double previousAgo = f.RowNumber(dialog, L"Last report");
        for (int step = 0; step < 4; ++step) {
            Sleep(2 * kRateRefreshMs);
            const double nowAgo = f.RowNumber(dialog, L"Last report");
            CHECK(nowAgo > previousAgo);
            previousAgo = nowAgo;
        }
        CHECK(previousAgo > 1.0);
        CHECK(f.RowNumber(dialog, L"Report rate") < rateBefore);
    }
    f.CloseProperties(dialog);
}

TEST_CASE("the report interval: offered where it can be, taken, raised to the minimum, refused; "
          "the rate follows")
{
    RatesFixture f(
        Scenario("Willing, Stubborn, Denied, Garbled",
                 SensorSection("Willing", 1, 100) +
                     SensorSection("Stubborn", 2, 100, "IntervalChange=refuse\r\n") +
                     SensorSection("Denied", 3, 100, "State=ACCESS_DENIED\r\n") +
                     SensorSection("Garbled", 4, 100) +
                     "[Garbled.Properties]\r\nCURRENT_REPORT_INTERVAL=VT_LPWSTR, fast\r\n"));

    SUBCASE("a willing sensor")
    {
        HWND properties = f.OpenProperties(L"Willing");
        CHECK(IsWindowVisible(GetDlgItem(properties, IDC_REPORT_INTERVAL)));
        HWND dialog = f.OpenInterval(properties);
        CHECK(WindowText(GetDlgItem(dialog, IDC_INTERVAL_CURRENT)) == L"100 ms");
        CHECK(WindowText(GetDlgItem(dialog, IDC_INTERVAL_MINIMUM)) == L"16 ms");
        CHECK(WindowText(GetDlgItem(dialog, IDC_INTERVAL_EDIT)) == L"100");

        CHECK(f.Apply(dialog, L"50") == L"The sensor now reports every 50 ms.");
        CHECK(WindowText(GetDlgItem(dialog, IDC_INTERVAL_CURRENT)) == L"50 ms");
        CHECK(f.RateSettlesAt(1, 20.0));

        CHECK(f.Apply(dialog, L"5") == L"The sensor chose 16 ms instead of 5 ms.");
        CHECK(WindowText(GetDlgItem(dialog, IDC_INTERVAL_CURRENT)) == L"16 ms");
        CHECK(f.RateSettlesAt(1, 62.5));

        // Nothing is asked for a text that is no interval.
        CHECK(f.Apply(dialog, L"fast") == L"Enter whole milliseconds, 0 for the default.");
        CHECK(WindowText(GetDlgItem(dialog, IDC_INTERVAL_CURRENT)) == L"16 ms");

        // Closed, the dialog behind shows the interval the sensor uses now.
        f.CloseDialog(dialog);
        const std::vector<std::wstring> rows = f.PropertyRows(properties);
        CHECK(Has(rows, L"CURRENT REPORT INTERVAL\t16"));
        f.CloseProperties(properties);
    }
    SUBCASE("a sensor that left meanwhile: one line, and the dialog behind says it left")
    {
        HWND properties = f.OpenProperties(L"Willing");
        HWND dialog = f.OpenInterval(properties);
        const GUID id = TestSensorId(1);
        REQUIRE(f.sim.RemoveSensor(&id) == 1);
        CHECK(f.Apply(dialog, L"50") == L"The sensor refused the interval (error 0x8007048F).");
        f.CloseDialog(dialog);
        CHECK(f.PropertyRows(properties) ==
              std::vector<std::wstring>{L"This sensor is no longer connected."});
        CHECK_FALSE(IsWindowVisible(GetDlgItem(properties, IDC_REPORT_INTERVAL)));
        f.CloseProperties(properties);
    }
    SUBCASE("a sensor that refuses: one line, and the rate stays")
    {
        HWND properties = f.OpenProperties(L"Stubborn");
        HWND dialog = f.OpenInterval(properties);
        CHECK(f.Apply(dialog, L"20") == L"The sensor refused the interval (error 0x80070005).");
        CHECK(WindowText(GetDlgItem(dialog, IDC_INTERVAL_CURRENT)) == L"100 ms");
        Sleep(1000);
        CHECK(f.Reading(2).perSecond == doctest::Approx(10.0).epsilon(0.05).scale(0));
        f.CloseDialog(dialog);
        f.CloseProperties(properties);
    }
    SUBCASE("none for a sensor kept from the program or one that states no interval")
    {
        for (const wchar_t* name : {L"Denied", L"Garbled"}) {
            CAPTURE(std::wstring(name));
            HWND properties = f.OpenProperties(name);
            CHECK_FALSE(IsWindowVisible(GetDlgItem(properties, IDC_REPORT_INTERVAL)));
            // The command does nothing where the button is not offered.
            PostMessageW(properties, WM_COMMAND, IDC_REPORT_INTERVAL, 0);
            bool opened = true;
            f.window.AfterPosted([&] {
                if (SensorPropertiesDialog* open = f.window.App()->OpenProperties())
                    opened = open->OpenInterval() != nullptr;
            });
            CHECK_FALSE(opened);
            f.CloseProperties(properties);
        }
    }
}
