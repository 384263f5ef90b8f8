#include <doctest.h>

#include "BreakingPipe.h"
#include "DialogAnswerer.h"
#include "HttpTestServer.h"
#include "MainWindowFixture.h"
#include "TestText.h"
#include "UpdateTestFiles.h"
#include "app/RecordingWindow.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

using namespace main_window_test;
using update_test::ReadWholeFile;
using update_test::TempFolder;

namespace {

constexpr unsigned kStormSensors = 10;
constexpr unsigned kFieldsPerSensor = 2;

// A sensor name that needs quoting and one beyond ASCII, the others plain.
std::wstring StormSensorName(unsigned number)
{
    if (number == 1)
        return L"Storm \"sensor\", 1";
    if (number == 2)
        return L"Sensor \u00e9\u20ac 2";
    return L"Storm sensor " + std::to_wstring(number);
}

size_t CountLines(const std::string& text)
{
    size_t lines = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
        ++lines;
    return lines;
}

// The reports raised so far by each storm sensor, in number order.
std::vector<LONG> RaisedReports(SensorSimControl& sim)
{
    std::vector<LONG> raised;
    for (unsigned number = 1; number <= kStormSensors; ++number) {
        const GUID id = TestSensorId(number);
        raised.push_back(sim.RaisedReports(&id));
    }
    return raised;
}

// Waits until the simulator delivered no event for a while.
void WaitUntilQuiet(SensorSimControl& sim)
{
    LONG last = -1;
    WaitUntil(
        20000,
        [&] {
            const LONG now = sim.DeliveredEvents();
            return std::exchange(last, now) == now;
        },
        200);
}

struct RecordingFixture : MainWindowFixture
{
    void Open()
    {
        MainWindowFixture::Open();
        REQUIRE(window.Settle() == 1);
    }
    DWORD WindowThread() const { return GetWindowThreadProcessId(window.Window(), nullptr); }
    bool IsRecording()
    {
        bool recording = false;
        REQUIRE(window.Send([&] { recording = window.App()->IsRecording(); }) == 1);
        return recording;
    }
    int StartRecording(const std::wstring& path)
    {
        int started = 0;
        REQUIRE(window.Send([&] { started = window.App()->StartRecording(path.c_str()); }) == 1);
        return started;
    }
    void Fire(int times)
    {
        for (int i = 0; i < times; ++i)
            REQUIRE(FireData(1) == 1);
    }

    TempFolder folder{L"tessel-app-recording"};
};

// The file name field of the Explorer-style dialog (cmb13).
constexpr int kNameField = 0x47C;

// search: the window to pass over, then the file dialog found.
BOOL CALLBACK FindFileDialog(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<std::pair<HWND, HWND>*>(context);
    if (window == search->first || !IsWindowVisible(window) || !GetDlgItem(window, kNameField))
        return TRUE;
    search->second = window;
    return FALSE;
}

// Answers the common Save or Open dialog of the main window's thread with a
// file name: types it into the name field (an edit inside a combo box) and
// presses OK.
void AnswerFileDialog(HWND mainWindow, const std::wstring& path)
{
    std::pair<HWND, HWND> search{mainWindow, nullptr};
    const DWORD thread = GetWindowThreadProcessId(mainWindow, nullptr);
    for (int waited = 0; waited < 20000 && !search.second; waited += 20) {
        Sleep(20);
        EnumThreadWindows(thread, FindFileDialog, reinterpret_cast<LPARAM>(&search));
    }
    HWND dialog = search.second;
    HWND combo = dialog
                     ? FindWindowExW(GetDlgItem(dialog, kNameField), nullptr, L"ComboBox", nullptr)
                     : nullptr;
    HWND edit = combo ? FindWindowExW(combo, nullptr, L"Edit", nullptr) : nullptr;
    if (!edit)
        return;
    SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_NORMAL,
                        5000, nullptr);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

} // namespace

TEST_CASE("a recording of an event storm while a sensor comes and goes has every raised report")
{
    HttpTestServer python;
    REQUIRE(python.IsRunning());
    RecordingFixture f;
    const std::vector<std::pair<const wchar_t*, const wchar_t*>> fields = {
        {L"LATITUDE_DEGREES", L"VT_R8, 47.6, ramp, 0.0001"}, {L"CITY", L"VT_LPWSTR, Seattle"}};
    for (unsigned number = 1; number <= kStormSensors; ++number)
        REQUIRE(AddTestSensor(f.sim, number, StormSensorName(number).c_str(), fields) == 1);
    f.Open();
    const std::wstring path = f.folder / L"storm.csv";

    const std::vector<LONG> raisedBefore = RaisedReports(f.sim);
    REQUIRE(f.StartRecording(path) == 1);
    REQUIRE(f.sim.SetStorm(1000) == 1);
    // Every arrival and departure rebuilds the window's tree and enumerates
    // the sensors again while the storm goes on.
    volatile LONG stop = 0;
    LONG visits = 0;
    BoundedThread churn([&] {
        const GUID id = TestSensorId(kStormSensors + 1);
        while (!InterlockedCompareExchange(&stop, 0, 0)) {
            if (AddTestSensor(f.sim, kStormSensors + 1, L"Visitor", fields) == 1 &&
                f.sim.FireEnter(&id) == 1)
                ++visits;
            Sleep(100);
            f.sim.RemoveSensor(&id);
            Sleep(100);
        }
    });
    Sleep(5000);
    InterlockedExchange(&stop, 1);
    churn.Join();
    REQUIRE(f.sim.SetStorm(0) == 1);
    WaitUntilQuiet(f.sim);
    REQUIRE(f.window.Send([&] { f.window.App()->StopRecording(); }) == 1);
    CHECK(visits > 10);

    std::vector<std::vector<std::string>> rows;
    REQUIRE(python.CsvRows(ReadWholeFile(path), rows));
    REQUIRE(rows.size() > 1);
    CHECK(rows[0] == std::vector<std::string>{"Time", "Sensor", "Sensor ID", "Field", "Value"});
    // Whole rows counted by sensor name, the others under the empty name.
    std::map<std::string, size_t> rowsPerSensor;
    for (size_t i = 1; i < rows.size(); ++i) {
        const std::vector<std::string>& row = rows[i];
        const bool whole =
            row.size() == 5 && row[0].size() == 30 && row[2].size() == 38 &&
            (row[3] == "LATITUDE DEGREES" || (row[3] == "CITY" && row[4] == "Seattle"));
        ++rowsPerSensor[whole ? row[1] : std::string()];
    }
    CHECK(rowsPerSensor.count(std::string()) == 0);
    const std::vector<LONG> raisedAfter = RaisedReports(f.sim);
    for (unsigned number = 1; number <= kStormSensors; ++number) {
        const LONG raised = raisedAfter[number - 1] - raisedBefore[number - 1];
        CAPTURE(number);
        CHECK(raised > 1000);
        CHECK(rowsPerSensor[Narrow(StormSensorName(number), CP_UTF8)] ==
              static_cast<size_t>(raised) * kFieldsPerSensor);
    }
}

TEST_CASE("Ctrl+R records to the file asked for until Ctrl+R again, Ctrl+O shows it, and a "
          "close ends both")
{
    RecordingFixture f;
    f.AddGps(1, L"Integrated GPS", L"VT_R8, 47.6, ramp, 0.5");
    f.Open();
    const std::wstring path = f.folder / L"asked here.csv";
    const std::wstring plainTitle = WindowText(f.window.Window());
    HWND main = f.window.Window();
    BoundedThread answerer([&] { AnswerFileDialog(main, path); });
    REQUIRE(f.window.PressInTree('R', true) == 1);
    answerer.Join();
    REQUIRE(WaitUntil(
        kPatienceMs, [&] { return f.IsRecording(); }, 20));
    CHECK(WindowText(f.window.Window()) == plainTitle + L" - Recording to asked here.csv");
    // While it records, the menu offers to stop.
    const std::vector<std::wstring> items = ChooseFromTreeMenu(f.window, -1, 0);
    CHECK(Has(items, L"Stop Recording"));
    CHECK(Has(items, L"Open Recording\u2026\tCtrl+O"));
    f.Fire(3);
    REQUIRE(f.window.PressInTree('R', true) == 1);
    // The key posts the command; it is handled after what was posted before.
    REQUIRE(f.window.AfterPosted([] {}) == 1);
    CHECK_FALSE(f.IsRecording());
    CHECK(WindowText(f.window.Window()) == plainTitle);
    f.Fire(2);
    CHECK(CountLines(ReadWholeFile(path)) == 1 + 3 * 2);

    const std::wstring closed = f.folder / L"closed.csv";
    REQUIRE(f.StartRecording(closed) == 1);
    f.Fire(4);
    BoundedThread opener([&] { AnswerFileDialog(main, path); });
    REQUIRE(f.window.PressInTree('O', true) == 1);
    opener.Join();
    HWND shown = nullptr;
    REQUIRE(WaitUntil(
        kPatienceMs,
        [&] {
            shown = FindWindowW(nullptr, L"asked here.csv - Recording");
            return shown && IsWindowVisible(shown) &&
                   SendDlgItemMessageW(shown, IDC_RECORDING_SENSORS, LB_GETCOUNT, 0, 0) == 1;
        },
        20));
    // The main window waits for the recording's window; its close ends that
    // and the recording, whose file is whole and let go.
    f.window.Close();
    CHECK_FALSE(IsWindow(shown));
    CHECK(CountLines(ReadWholeFile(closed)) == 1 + 4 * 2);
    CHECK(DeleteFileW(closed.c_str()) != 0);
}

TEST_CASE("a recording whose file fails tells the user once and the title shows it ended")
{
    // Before the window: the window's recorder lets go of the pipe before
    // the pipe's reader is awaited.
    BreakingPipe pipe(3000);
    RecordingFixture f;
    f.AddGps(1, L"Integrated GPS", L"VT_R8, 47.6, ramp, 0.5");
    f.Open();
    const std::wstring plainTitle = WindowText(f.window.Window());

    // A file that cannot be made.
    const std::wstring missing = f.folder / L"no such folder\\values.csv";
    DialogAnswerer refusal({IDOK}, {}, false, f.WindowThread(), f.window.Window());
    CHECK(f.StartRecording(missing) == 0);
    REQUIRE(refusal.AllAnswered(20000));
    REQUIRE(refusal.Dialogs().size() == 1);
    CHECK(refusal.Dialogs()[0].text.find(L"could not be started") != std::wstring::npos);
    CHECK_FALSE(f.IsRecording());
    CHECK(WindowText(f.window.Window()) == plainTitle);

    // The target goes away in the middle.
    DialogAnswerer answerer({IDOK}, {}, false, f.WindowThread(), f.window.Window());
    REQUIRE(f.StartRecording(pipe.Path()) == 1);
    for (int round = 0; round < 400 && f.IsRecording(); ++round) {
        f.Fire(10);
        Sleep(20);
    }
    CHECK_FALSE(f.IsRecording());
    REQUIRE(answerer.AllAnswered(20000));
    const std::vector<DialogAnswerer::Seen>& seen = answerer.Dialogs();
    REQUIRE(seen.size() == 1);
    CHECK(seen[0].title == L"Record Values");
    CHECK(seen[0].text.find(L"Recording stopped") == 0);
    CHECK(seen[0].text.find(pipe.Path()) != std::wstring::npos);
    CHECK(WindowText(f.window.Window()) == plainTitle);

    // Later reports record nothing and tell nothing more.
    DialogAnswerer watcher({IDOK}, {}, false, f.WindowThread(), f.window.Window());
    f.Fire(10);
    Sleep(3 * kRecordingFlushMs);
    REQUIRE(f.window.Settle() == 1);
    CHECK_FALSE(f.IsRecording());
    CHECK_FALSE(watcher.AllAnswered(0));
}
