#include <doctest.h>

#include "BreakingPipe.h"
#include "DialogAnswerer.h"
#include "HttpTestServer.h"
#include "MainWindowFixture.h"
#include "UpdateTestFiles.h"
#include "app/RecordingWindow.h"
#include "sensors/RecordingFormat.h"

#include <map>
#include <string>
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

std::string Utf8(const std::wstring& text)
{
    std::string bytes;
    REQUIRE(AppendUtf8(text.c_str(), static_cast<unsigned>(text.size()), bytes) == 1);
    return bytes;
}

size_t CountLines(const std::string& text)
{
    size_t lines = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
        ++lines;
    return lines;
}

// Waits until the simulator delivered no event for a while.
LONG DeliveredWhenQuiet(SensorSimControl& sim)
{
    LONG last = sim.DeliveredEvents();
    for (int waited = 0; waited < 20000; waited += 200) {
        Sleep(200);
        const LONG now = sim.DeliveredEvents();
        if (now == last)
            break;
        last = now;
    }
    return last;
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

// Answers the common Save dialog on the window's thread with a file name:
// types it into the name field (an edit inside a combo box) and saves.
struct SaveDialogAnswerer
{
    SaveDialogAnswerer(DWORD thread, HWND mainWindow, std::wstring path)
        : thread_(thread), mainWindow_(mainWindow), path_(std::move(path)),
          answerer_([this] { Answer(); })
    {
    }
    void Join() { answerer_.Join(); }

private:
    static BOOL CALLBACK Find(HWND window, LPARAM context)
    {
        auto* self = reinterpret_cast<SaveDialogAnswerer*>(context);
        if (window == self->mainWindow_ || !IsWindowVisible(window) ||
            !GetDlgItem(window, kNameField))
            return TRUE;
        self->dialog_ = window;
        return FALSE;
    }
    void Answer()
    {
        for (int waited = 0; waited < 20000 && !dialog_; waited += 20) {
            Sleep(20);
            EnumThreadWindows(thread_, Find, reinterpret_cast<LPARAM>(this));
        }
        HWND combo =
            dialog_ ? FindWindowExW(GetDlgItem(dialog_, kNameField), nullptr, L"ComboBox", nullptr)
                    : nullptr;
        HWND edit = combo ? FindWindowExW(combo, nullptr, L"Edit", nullptr) : nullptr;
        if (!edit)
            return;
        SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path_.c_str()),
                            SMTO_NORMAL, 5000, nullptr);
        PostMessageW(dialog_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }

    // The file name field of the Explorer-style dialog (cmb13).
    static constexpr int kNameField = 0x47C;
    DWORD thread_;
    HWND mainWindow_;
    std::wstring path_;
    HWND dialog_ = nullptr;
    BoundedThread answerer_;
};

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
    const std::wstring plainTitle = WindowText(f.window.Window());

    std::vector<LONG> raisedBefore;
    for (unsigned number = 1; number <= kStormSensors; ++number) {
        const GUID id = TestSensorId(number);
        raisedBefore.push_back(f.sim.RaisedReports(&id));
    }
    REQUIRE(f.StartRecording(path) == 1);
    CHECK(WindowText(f.window.Window()) == plainTitle + L" - Recording to storm.csv");
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
    DeliveredWhenQuiet(f.sim);
    REQUIRE(f.window.Send([&] { f.window.App()->StopRecording(); }) == 1);
    CHECK(WindowText(f.window.Window()) == plainTitle);
    CHECK_FALSE(f.IsRecording());
    CHECK(visits > 10);

    std::vector<std::vector<std::string>> rows;
    REQUIRE(python.CsvRows(ReadWholeFile(path), rows));
    REQUIRE(rows.size() > 1);
    CHECK(rows[0] == std::vector<std::string>{"Time", "Sensor", "Sensor ID", "Field", "Value"});
    std::map<std::string, size_t> rowsPerSensor;
    size_t malformed = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
        const std::vector<std::string>& row = rows[i];
        const bool whole =
            row.size() == 5 && row[0].size() == 30 && row[2].size() == 38 &&
            (row[3] == "LATITUDE DEGREES" || (row[3] == "CITY" && row[4] == "Seattle"));
        malformed += whole ? 0 : 1;
        if (whole)
            ++rowsPerSensor[row[1]];
    }
    CHECK(malformed == 0);
    for (unsigned number = 1; number <= kStormSensors; ++number) {
        const GUID id = TestSensorId(number);
        const LONG raised = f.sim.RaisedReports(&id) - raisedBefore[number - 1];
        CAPTURE(number);
        CHECK(raised > 1000);
        CHECK(rowsPerSensor[Utf8(StormSensorName(number))] ==
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
    SaveDialogAnswerer answerer(f.WindowThread(), f.window.Window(), path);
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
    SaveDialogAnswerer opener(f.WindowThread(), f.window.Window(), path);
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

    SUBCASE("the target goes away in the middle")
    {
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
    SUBCASE("a file that cannot be made")
    {
        const std::wstring missing = f.folder / L"no such folder\\values.csv";
        DialogAnswerer answerer({IDOK}, {}, false, f.WindowThread(), f.window.Window());
        CHECK(f.StartRecording(missing) == 0);
        REQUIRE(answerer.AllAnswered(20000));
        REQUIRE(answerer.Dialogs().size() == 1);
        CHECK(answerer.Dialogs()[0].text.find(L"could not be started") != std::wstring::npos);
        CHECK_FALSE(f.IsRecording());
        CHECK(WindowText(f.window.Window()) == plainTitle);
    }
}
