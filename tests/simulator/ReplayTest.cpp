#include <doctest.h>

#include "../../simulator/SensorSimControl.h"
#include "UpdateTestFiles.h"
#include "app/RecordingView.h"
#include "base/Com.h"
#include "sensors/RecordingFormat.h"
#include "sensors/RecordingReader.h"
#include "sensors/SensorList.h"
#include "sensors/SensorRecorder.h"

#include <windows.h>

#include <string>
#include <vector>

using update_test::ReadWholeFile;
using update_test::TempFolder;
using update_test::WriteWholeFile;

namespace {

// The rows of a recording without their time (a row ends at a line end
// outside quotes).
std::vector<std::string> RowsWithoutTime(const std::string& text)
{
    std::vector<std::string> rows;
    std::string row;
    bool quoted = false;
    for (size_t i = text.find("\r\n") + 2; i < text.size(); ++i) {
        quoted ^= text[i] == '"';
        if (!quoted && text.compare(i, 2, "\r\n") == 0) {
            rows.push_back(row.substr(row.find(',')));
            row.clear();
            ++i;
            continue;
        }
        row.push_back(text[i]);
    }
    return rows;
}

std::string ReplayScenario(const wchar_t* file, const char* more)
{
    std::string scenario = "[Simulator]\r\nTimeline=1\r\n[Replay]\r\nFile=";
    for (const wchar_t* c = file; *c; ++c)
        scenario.push_back(static_cast<char>(*c));
    return scenario + "\r\n" + more;
}

// A sensor with a report interval, to which a scenario adds how its driver
// answers a change.
const std::string kIntervalSensor = "[Simulator]\r\nSensors=Odd\r\n"
                                    "[Odd]\r\nId={5E750104-1234-4321-8000-000000000001}\r\n"
                                    "Category=MOTION\r\nType=ACCELEROMETER_3D\r\nInterval=100\r\n";

// Tessel's sensor list and recorder over the simulator.
struct ReplaySession
{
    ReplaySession()
    {
        apartment.Init(1);
        REQUIRE(SensorSimOpen(&sim) == 1);
        HMODULE pinned = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, SENSORSIM_MODULE_NAME, &pinned);
        list.SetReportObserver(SensorRecorder::Observe, &recorder);
    }
    ~ReplaySession()
    {
        recorder.Stop();
        list.SetReportObserver(nullptr, nullptr);
        sim.Reset();
        list.Refresh();
    }

    // Loads the scenario (the default one for an empty name) and records
    // what its sensors report into path.
    void Start(const std::wstring& scenario, const std::wstring& path)
    {
        DWORD error = 0;
        REQUIRE(recorder.Start(path.c_str(), nullptr, 0, &error) == 1);
        REQUIRE(sim.LoadScenario(scenario.empty() ? nullptr : scenario.c_str()) == 1);
        REQUIRE(list.Refresh() != nullptr);
    }
    // Waits until rows rows were taken (failing after timeoutMs), and a
    // little longer for any that should not come; then stops.
    void RecordRows(unsigned long long rows, DWORD timeoutMs)
    {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        while (recorder.RowsTaken() < rows && GetTickCount64() < deadline) {
            Sleep(5);
        }
        REQUIRE(recorder.RowsTaken() >= rows);
        Sleep(300);
        CHECK(recorder.Stop() == 0);
    }
    // Replays file as the scenario name.ini of folder into the recording
    // name.csv until rows rows arrived, and gives them.
    std::vector<std::string> Replay(const TempFolder& folder, const wchar_t* name,
                                    const std::wstring& file, const char* more, size_t rows)
    {
        REQUIRE(WriteWholeFile(folder / name + L".ini", ReplayScenario(file.c_str(), more)));
        Start(folder / name + L".ini", folder / name + L".csv");
        RecordRows(rows, 15000);
        return RowsWithoutTime(ReadWholeFile(folder / name + L".csv"));
    }

    ComApartment apartment;
    SensorSimControl sim = {};
    SensorRecorder recorder;
    SensorList list;
};

// From the first report to the last, in seconds of the recorded times.
double RecordedSpan(const std::wstring& path)
{
    Recording recording;
    REQUIRE(ReadRecordingFile(path.c_str(), recording, nullptr, nullptr) == RecordingRead::Read);
    int64_t origin = 0;
    return RecordingExtent(recording, &origin).last;
}

} // namespace

TEST_CASE("a replayed recording records as the original, at its pace or faster")
{
    TempFolder folder(L"tessel-replay");
    ReplaySession session;
    const std::wstring original = folder / L"original.csv";
    session.Start(std::wstring(), original);
    // Five seconds of the default scenario.
    Sleep(5000);
    REQUIRE(session.recorder.Stop() == 0);
    const std::vector<std::string> originalRows = RowsWithoutTime(ReadWholeFile(original));
    REQUIRE(originalRows.size() > 100);

    CHECK(session.Replay(folder, L"replayed", L"original.csv", "", originalRows.size()) ==
          originalRows);

    SUBCASE("twice the speed takes half the time")
    {
        CHECK(session.Replay(folder, L"faster", L"original.csv", "Speed=2.0\r\n",
                             originalRows.size()) == originalRows);
        const double ratio =
            RecordedSpan(folder / L"faster.csv") / RecordedSpan(folder / L"replayed.csv");
        CHECK(ratio > 0.45);
        CHECK(ratio < 0.55);
    }
    SUBCASE("a looped replay starts again after its last report")
    {
        std::vector<std::string> expected = originalRows;
        expected.insert(expected.end(), originalRows.begin(), originalRows.begin() + 20);
        std::vector<std::string> rows =
            session.Replay(folder, L"looped", original, "Loop=1\r\nSpeed=4\r\n", expected.size());
        rows.resize(expected.size());
        CHECK(rows == expected);
    }
}

TEST_CASE("every kind of recorded value replays as the text it was")
{
    TempFolder folder(L"tessel-replay-kinds");
    std::string text = kRecordingStart;
    auto row = [&](const wchar_t* time, const wchar_t* sensor, const wchar_t* id,
                   const wchar_t* field, const wchar_t* value) {
        REQUIRE(AppendCsvFields(text, {time, sensor, id, field, value}, "\r\n") == 1);
    };
    const wchar_t* gps = L"GPS \"Outdoor\", r\u00fcck";
    const wchar_t* id = L"{5EC0AD00-0042-0002-9000-000000000077}";
    const wchar_t* clockId = L"{6A0B7E32-58C4-4D1F-8E95-3C7A2B1D4F60}";
    for (int i = 0; i < 3; ++i) {
        const std::wstring time = L"2026-12-08 09:11:5" + std::to_wstring(i) + L".000";
        const std::wstring number = std::to_wstring(47 + i) + L".250000";
        const wchar_t* at = time.c_str();
        row(at, gps, id, L"LATITUDE DEGREES", number.c_str());
        row(at, gps, id, L"SATELLITES USED COUNT", i ? L"-3" : L"0");
        row(at, gps, id, L"CITY", L"Seattle, \"WA\"\r\nUSA");
        row(at, gps, id, L"ADDRESS1", L"=cmd|' /C calc'!A0");
        row(at, gps, id, L"HUMAN PRESENCE", i % 2 ? L"True" : L"False");
        row(at, gps, id, L"LIGHT CHROMACITY", L"EA 04 B4 3E");
        row(at, gps, id, L"TIMESTAMP", L"12/8/2026 9:11:50 AM");
        row(at, gps, id, L"{B7E3A1C9-4D62-4F0B-9A85-E2C61D7F3B08}.2", L"112.500000");
        row(at, L"Sample Clock Sensor", clockId, L"SECOND", std::to_wstring(i).c_str());
    }
    REQUIRE(WriteWholeFile(folder / L"kinds.csv", text));
    ReplaySession session;
    CHECK(session.Replay(folder, L"replayed", L"kinds.csv", "Speed=10\r\n", 27) ==
          RowsWithoutTime(text));
}

TEST_CASE("a replay of what is no recording, or a driver that neither accepts nor refuses a "
          "report interval, is no scenario")
{
    TempFolder folder(L"tessel-replay-refused");
    ReplaySession session;
    REQUIRE(WriteWholeFile(folder / L"notes.csv", "Name,Value\r\nx,1\r\n"));
    REQUIRE(WriteWholeFile(folder / L"good.csv", std::string(kRecordingStart)));
    const std::pair<std::string, const char*> scenarios[] = {
        {ReplayScenario(L"notes.csv", ""), "not a recording"},
        {ReplayScenario(L"missing.csv", ""), "no file"},
        {ReplayScenario(L"good.csv", "Speed=0\r\n"), "no speed"},
        {ReplayScenario(L"good.csv", "Speed=fast\r\n"), "a speed that is no number"},
        {ReplayScenario(L"good.csv", "Loop=yes\r\n"), "a loop that is no number"},
        {kIntervalSensor + "IntervalChange=maybe\r\n", "an interval change that is no answer"},
    };
    for (const auto& scenario : scenarios) {
        CAPTURE(scenario.second);
        REQUIRE(WriteWholeFile(folder / L"refused.ini", scenario.first));
        CHECK(session.sim.LoadScenario((folder / L"refused.ini").c_str()) == 0);
    }
    REQUIRE(WriteWholeFile(folder / L"empty.ini", ReplayScenario(L"good.csv", "Loop=1\r\n")));
    CHECK(session.sim.LoadScenario((folder / L"empty.ini").c_str()) == 1);
    REQUIRE(
        WriteWholeFile(folder / L"refusing.ini", kIntervalSensor + "IntervalChange= refuse \r\n"));
    CHECK(session.sim.LoadScenario((folder / L"refusing.ini").c_str()) == 1);
}
