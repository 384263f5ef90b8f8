#include <doctest.h>

#include "BoundedThread.h"
#include "ChartPixels.h"
#include "MainWindowFixture.h"
#include "UpdateTestFiles.h"
#include "app/RecordingView.h"
#include "app/RecordingWindow.h"
#include "app/resource.h"
#include "sensors/RecordingFormat.h"

#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <atomic>
#include <string>
#include <vector>

using main_window_test::kPatienceMs;
using main_window_test::WaitUntil;
using update_test::TempFolder;
using update_test::WriteWholeFile;

namespace {

// A recording window shown on a thread of its own, as the main window
// shows it (modally, with the dialog's own message loop).
class OpenedRecording
{
public:
    explicit OpenedRecording(const std::wstring& path)
        : pointerAway_(SetCursorPos(0, 0)), recording_(path.c_str()), thread_([this] {
              recording_.Run(GetModuleHandleW(nullptr), IDD_RECORDING, 0, nullptr);
              ended_ = true;
          })
    {
        REQUIRE(WaitUntil(kPatienceMs, [this] {
            dialog_ = recording_.Window();
            return ended_ || (dialog_ && IsWindowVisible(dialog_));
        }));
        REQUIRE_FALSE(ended_);
    }
    ~OpenedRecording() { Close(); }

    HWND Dialog() const { return dialog_; }
    HWND Control(int id) const { return GetDlgItem(dialog_, id); }
    // The window itself, for what it tells only once its thread ended.
    const RecordingWindow& Window() const { return recording_; }

    // Waits until the reading ended (the Cancel button says "Close").
    void WaitUntilRead()
    {
        REQUIRE(WaitUntil(kPatienceMs, [this] { return Text(IDCANCEL) == L"Close"; }));
    }
    std::wstring Text(int id) const
    {
        wchar_t text[1024] = L"";
        GetDlgItemTextW(dialog_, id, text, 1024);
        return text;
    }
    std::vector<std::wstring> ListRows(int id) const
    {
        std::vector<std::wstring> rows;
        const auto count = SendDlgItemMessageW(dialog_, id, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t text[1024] = L"";
            SendDlgItemMessageW(dialog_, id, LB_GETTEXT, static_cast<WPARAM>(i),
                                reinterpret_cast<LPARAM>(text));
            rows.push_back(text);
        }
        return rows;
    }
    // Chooses the item of the sensor list or the span box as a click does.
    void Choose(int id, int index)
    {
        const bool list = id == IDC_RECORDING_SENSORS;
        SendDlgItemMessageW(dialog_, id, list ? LB_SETCURSEL : CB_SETCURSEL, index, 0);
        SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(id, list ? LBN_SELCHANGE : CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(Control(id)));
    }
    ScrollState Scroll() const
    {
        SCROLLINFO info = {};
        info.cbSize = sizeof info;
        info.fMask = SIF_PAGE | SIF_POS;
        GetScrollInfo(Control(IDC_RECORDING_SCROLL), SB_CTL, &info);
        return {static_cast<int>(info.nPage), info.nPos};
    }
    void Close()
    {
        if (!ended_)
            PostMessageW(dialog_, WM_COMMAND, IDCANCEL, 0);
        thread_.Join(kPatienceMs);
    }
    bool Ended() const { return ended_; }

private:
    // The screen's pointer stays off the chart, whose cursor would follow it.
    BOOL pointerAway_;
    RecordingWindow recording_;
    std::atomic<bool> ended_{false};
    HWND dialog_ = nullptr;
    BoundedThread thread_;
};

// Rows of a recording in the recorder's own form: an accelerometer every
// 100 ms from 09:00:00 with x = the report's number, and a cover switch
// with a text value every second.
std::string KnownRecording(int reports)
{
    std::string text = kRecordingStart;
    std::string columns;
    for (int i = 0; i < reports; ++i) {
        SYSTEMTIME time = {
            2026, 12, 2, 8, 9, 0, static_cast<WORD>(i / 10), static_cast<WORD>(i % 10 * 100)};
        REQUIRE(FormatReportColumns({time, 0}, L"3D Accelerometer",
                                    L"{AE10C594-43A1-4D15-8E44-8FDEBC453CBA}", columns) == 1);
        const std::wstring x = std::to_wstring(i) + L".000000";
        REQUIRE(AppendRecordRow(text, columns, L"ACCELERATION X G", x.c_str()) == 1);
        REQUIRE(AppendRecordRow(text, columns, L"ACCELERATION Y G", L"-1.000000") == 1);
        if (i % 10 == 0) {
            REQUIRE(FormatReportColumns({time, 0}, L"Keyboard Cover",
                                        L"{1F8D6C4B-92A3-4E57-B0C8-7D2E6A9F1B34}", columns) == 1);
            REQUIRE(AppendRecordRow(text, columns, L"BOOLEAN SWITCH STATE",
                                    i % 20 ? L"False" : L"True") == 1);
        }
    }
    return text;
}

size_t ThreadsOfThisProcess()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    size_t count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    CloseHandle(snapshot);
    return count;
}

} // namespace

TEST_CASE("the recording window's time: zoom, pan, spans and the scroll bar as plain values")
{
    const TimeExtent extent = {0, 100};
    const TimeWindow all = WholeWindow(extent);
    CHECK(all.start == 0);
    CHECK(all.end == 100);
    SUBCASE("the wheel's zoom keeps the time under the pointer in place and stays inside")
    {
        const TimeWindow zoomed = ZoomAround(all, 0.5, 20, extent);
        CHECK(zoomed.start == doctest::Approx(10));
        CHECK(zoomed.end == doctest::Approx(60));
        const TimeWindow back = ZoomAround(zoomed, 4, 20, extent);
        CHECK(back.start == 0);
        CHECK(back.end == 100);
        // Never narrower than a millisecond.
        TimeWindow narrow = all;
        for (int i = 0; i < 100; ++i)
            narrow = ZoomAround(narrow, 0.5, 50, extent);
        CHECK(narrow.end - narrow.start == doctest::Approx(kNarrowestWindow));
    }
    SUBCASE("panning stops at either end without changing the width")
    {
        const TimeWindow ten = WithSpan(all, 10, extent);
        CHECK(ten.start == doctest::Approx(45));
        const TimeWindow left = PanBy(ten, -1000, extent);
        CHECK(left.start == 0);
        CHECK(left.end == doctest::Approx(10));
        const TimeWindow right = PanBy(ten, 1000, extent);
        CHECK(right.end == 100);
        CHECK(WithSpan(ten, 0, extent).end == 100);
        CHECK(WithSpan(ten, 3600, extent).end == 100);
    }
    SUBCASE("the scroll bar's page is the window's share, its position the start")
    {
        const TimeWindow ten = PanBy(WithSpan(all, 10, extent), -45, extent);
        ScrollState state = ScrollFor(ten, extent);
        CHECK(state.page == kScrollSteps / 10);
        CHECK(state.position == 0);
        const TimeWindow moved = WindowAtScroll(ten, kScrollSteps / 2, extent);
        CHECK(moved.start == doctest::Approx(50));
        CHECK(moved.end == doctest::Approx(60));
        CHECK(WindowAtScroll(ten, kScrollSteps, extent).end == 100);
        state = ScrollFor(all, extent);
        CHECK(state.page == kScrollSteps);
    }
    SUBCASE("a recording of one moment still has a window")
    {
        const TimeWindow moment = WholeWindow({0, 0});
        CHECK(moment.end - moment.start == doctest::Approx(kNarrowestWindow));
        CHECK(KeepInside({5, 6}, {0, 0}).start == 0);
    }
    SUBCASE("durations for people")
    {
        CHECK(DurationText(16) == L"16 ms");
        CHECK(DurationText(1520) == L"1.52 s");
        CHECK(DurationText(125000) == L"2 min 5 s");
        CHECK(DurationText(3720000) == L"1 h 2 min");
    }
}

TEST_CASE("values at a time and the report rate of a recorded sensor")
{
    Recording recording;
    const std::string text = KnownRecording(50);
    REQUIRE(ParseRecording(text.data(), text.size(), recording, nullptr, nullptr) ==
            RecordingRead::Read);
    int64_t origin = 0;
    const TimeExtent extent = RecordingExtent(recording, &origin);
    CHECK(extent.last == doctest::Approx(4.9));
    using Values = std::vector<std::pair<std::wstring, std::wstring>>;
    CHECK(FieldValuesAt(recording, 0, origin, 1.25) ==
          Values{{L"ACCELERATION X G", L"12.000000"}, {L"ACCELERATION Y G", L"-1.000000"}});
    CHECK(FieldValuesAt(recording, 1, origin, 1.25) == Values{{L"BOOLEAN SWITCH STATE", L"False"}});
    CHECK(FieldValuesAt(recording, 1, origin, -1) == Values{{L"BOOLEAN SWITCH STATE", L""}});
    CHECK(FieldValuesAt(recording, 7, origin, 1).empty());
    CHECK(ReportRateText(recording.sensors[0]) ==
          L"50 reports; median interval 100 ms (10.00 per second); largest gap 100 ms after "
          L"09:00:00.000");
}

TEST_CASE("a recording opened in its window: sensors, values at the cursor, zoom and pan")
{
    TempFolder folder(L"tessel-recording-window");
    const std::wstring path = folder / L"known.csv";
    REQUIRE(WriteWholeFile(path, KnownRecording(100)));
    OpenedRecording opened(path);
    opened.WaitUntilRead();
    CHECK(main_window_test::WindowText(opened.Dialog()) == L"known.csv - Recording");
    CHECK(opened.Text(IDC_RECORDING_STATUS) == L"2 sensors, 9.90 s.");
    CHECK_FALSE(IsWindowVisible(opened.Control(IDC_RECORDING_PROGRESS)));
    CHECK(opened.ListRows(IDC_RECORDING_SENSORS) ==
          std::vector<std::wstring>{L"3D Accelerometer", L"Keyboard Cover"});
    CHECK(opened.Text(IDC_RECORDING_RATE).find(L"100 reports; median interval 100 ms") == 0);
    // The cursor starts at the recording's start.
    CHECK(opened.ListRows(IDC_RECORDING_VALUES) ==
          std::vector<std::wstring>{L"ACCELERATION X G\t0.000000", L"ACCELERATION Y G\t-1.000000"});

    SUBCASE("another sensor: its fields, non-numeric ones too, and its rate")
    {
        opened.Choose(IDC_RECORDING_SENSORS, 1);
        CHECK(opened.ListRows(IDC_RECORDING_VALUES) ==
              std::vector<std::wstring>{L"BOOLEAN SWITCH STATE\tTrue"});
        CHECK(opened.Text(IDC_RECORDING_RATE).find(L"10 reports; median interval 1.00 s") == 0);
    }
    SUBCASE("the span choice, the scroll bar, the arrows, Home and the wheel")
    {
        CHECK(opened.Scroll().page == kScrollSteps);
        opened.Choose(IDC_RECORDING_SPAN, 1); // 1 s around the middle
        ScrollState state = opened.Scroll();
        CHECK(state.page == doctest::Approx(kScrollSteps / 9.9).epsilon(0.01));
        CHECK(state.position == doctest::Approx((4.95 - 0.5) / 9.9 * kScrollSteps).epsilon(0.01));
        SendMessageW(opened.Dialog(), WM_HSCROLL, SB_RIGHT,
                     reinterpret_cast<LPARAM>(opened.Control(IDC_RECORDING_SCROLL)));
        state = opened.Scroll();
        CHECK(state.position + state.page == kScrollSteps);
        SendMessageW(opened.Dialog(), WM_HSCROLL, SB_PAGELEFT,
                     reinterpret_cast<LPARAM>(opened.Control(IDC_RECORDING_SCROLL)));
        CHECK(opened.Scroll().position ==
              doctest::Approx(kScrollSteps - 2 * state.page).epsilon(0.01));
        SendMessageW(opened.Dialog(), WM_KEYDOWN, VK_LEFT, 0);
        CHECK(opened.Scroll().position < kScrollSteps - 2 * state.page);
        SendMessageW(opened.Dialog(), WM_KEYDOWN, VK_HOME, 0);
        CHECK(opened.Scroll().page == kScrollSteps);
        CHECK(opened.Scroll().position == 0);
        // The wheel zooms in and out.
        SendMessageW(opened.Dialog(), WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), 0);
        CHECK(opened.Scroll().page == doctest::Approx(kScrollSteps * 0.8).epsilon(0.01));
        SendMessageW(opened.Dialog(), WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA)),
                     0);
        CHECK(opened.Scroll().page == kScrollSteps);
    }
    SUBCASE("the numeric fields are charted at their times, over the whole recording")
    {
        const ChartCtrl& chart = opened.Window().Chart();
        const WindowPicture picture(chart.Window());
        CHECK(chart.TimeAxis().low == doctest::Approx(0));
        CHECK(chart.TimeAxis().high == doctest::Approx(9.9));
        const std::vector<ChartSeries>& series = chart.Data().series;
        REQUIRE(series.size() == 2);
        CHECK(series[0].points.size() == 100);
        // x is ten times the report's time; y stays at -1.
        for (const ChartPoint& point : series[0].points)
            CHECK(point.value == doctest::Approx(point.time * 10));
        for (const ChartPoint& point : series[1].points)
            CHECK(point.value == -1);
    }
    SUBCASE("the mouse over the plot lists the values at its time; a drag pans")
    {
        const ChartCtrl& chart = opened.Window().Chart();
        const WindowPicture before(chart.Window());
        const RECT plot = chart.Layout().plot;
        const int y = (plot.top + plot.bottom) / 2;
        const int x = static_cast<int>(ValueToPixel(chart.TimeAxis(), 2.05));
        SendMessageW(chart.Window(), WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
        CHECK(opened.ListRows(IDC_RECORDING_VALUES) ==
              std::vector<std::wstring>{L"ACCELERATION X G\t20.000000",
                                        L"ACCELERATION Y G\t-1.000000"});
        opened.Choose(IDC_RECORDING_SPAN, 1);
        const int start = opened.Scroll().position;
        const WindowPicture zoomed(chart.Window());
        const double perPixel = (chart.TimeAxis().high - chart.TimeAxis().low) /
                                (chart.TimeAxis().atHigh - chart.TimeAxis().atLow);
        CHECK(chart.TimeAxis().high - chart.TimeAxis().low == doctest::Approx(1));
        // Dragging to the left by 100 pixels shows later times.
        SendMessageW(chart.Window(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x + 100, y));
        SendMessageW(chart.Window(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
        SendMessageW(chart.Window(), WM_LBUTTONUP, 0, MAKELPARAM(x, y));
        const double moved = (opened.Scroll().position - start) * 9.9 / kScrollSteps;
        CHECK(moved == doctest::Approx(100 * perPixel).epsilon(0.05));
        const WindowPicture panned(chart.Window());
        CHECK(chart.TimeAxis().low == doctest::Approx(4.45 + 100 * perPixel).epsilon(0.01));
    }
}

TEST_CASE("a file that is no recording is refused with one line, and damage is told")
{
    TempFolder folder(L"tessel-recording-refused");
    std::string damaged = KnownRecording(10);
    damaged.insert(damaged.find("\r\n") + 2, "2026-02-30 09:00:00.000,A,{1},X,1\r\nnonsense\r\n");
    const struct
    {
        const wchar_t* name;
        std::string text;
        std::wstring status;
        size_t sensors;
    } files[] = {
        {L"notes.csv", "Name,Value\r\nx,1\r\n",
         L"notes.csv is not a recording of Tessel's: it does not begin with the row "
         L"\"Time,Sensor,Sensor ID,Field,Value\".",
         0},
        {L"damaged.csv", damaged,
         L"2 sensors, 900 ms. 2 damaged rows were skipped (the first on line 2).", 2},
    };
    for (const auto& file : files) {
        CAPTURE(file.name);
        REQUIRE(WriteWholeFile(folder / file.name, file.text));
        OpenedRecording opened(folder / file.name);
        opened.WaitUntilRead();
        CHECK(opened.Text(IDC_RECORDING_STATUS) == file.status);
        CHECK(opened.ListRows(IDC_RECORDING_SENSORS).size() == file.sensors);
    }
}

TEST_CASE("Cancel during a long read leaves nothing running")
{
    TempFolder folder(L"tessel-recording-cancel");
    const std::wstring path = folder / L"long.csv";
    {
        // About 60 MB: a megabyte of rows many times over.
        std::string piece = KnownRecording(5000);
        const std::string rows = piece.substr(piece.find("\r\n") + 2);
        std::string text = piece;
        while (text.size() < (60u << 20))
            text += rows;
        REQUIRE(WriteWholeFile(path, text));
    }
    const size_t threadsBefore = ThreadsOfThisProcess();
    {
        OpenedRecording opened(path);
        auto progress = [&] {
            return SendMessageW(opened.Control(IDC_RECORDING_PROGRESS), PBM_GETPOS, 0, 0);
        };
        WaitUntil(
            kPatienceMs, [&] { return progress() > 0; }, 5);
        const LRESULT position = progress();
        CHECK(position > 0);
        CHECK(position < 100);
        opened.Close();
        REQUIRE(opened.Ended());
        CHECK(opened.Window().ReadResult() == RecordingRead::Cancelled);
        CHECK_FALSE(opened.Window().IsReading());
    }
    // Wine ends a thread's last traces a moment after it returned.
    CHECK(WaitUntil(kPatienceMs, [&] { return ThreadsOfThisProcess() <= threadsBefore; }));
}
