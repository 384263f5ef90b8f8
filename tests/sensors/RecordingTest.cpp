#include <doctest.h>

#include "../../simulator/SensorSimControl.h"
#include "UpdateTestFiles.h"
#include "sensors/RecordingFormat.h"
#include "sensors/SensorList.h"
#include "sensors/SensorRecorder.h"

#include <sensors.h>

#include <cwchar>
#include <string>
#include <vector>

using update_test::ReadWholeFile;
using update_test::TempFolder;

namespace {

std::string CsvField(const wchar_t* text)
{
    std::string row;
    REQUIRE(AppendCsvField(row, text) == 1);
    return row;
}

std::string Utf8(const wchar_t* text, unsigned length)
{
    std::string bytes = "x";
    REQUIRE(AppendUtf8(text, length, bytes) == 1);
    return bytes.substr(1);
}

constexpr UINT kFailed = WM_APP + 7;

// Receives the recorder's failure messages on the test's thread.
struct FailureWindow
{
    FailureWindow()
        : window(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr))
    {
    }
    ~FailureWindow() { DestroyWindow(window); }
    // The failure messages posted until now: (error, recording number).
    std::vector<std::pair<WPARAM, LPARAM>> Take()
    {
        std::vector<std::pair<WPARAM, LPARAM>> taken;
        MSG message;
        while (PeekMessageW(&message, window, kFailed, kFailed, PM_REMOVE))
            taken.push_back({message.wParam, message.lParam});
        return taken;
    }
    // Waits until the recorder ended its recording by itself.
    std::vector<std::pair<WPARAM, LPARAM>> WaitForFailure()
    {
        MSG message;
        for (int waited = 0; waited < 20000; waited += 10) {
            if (PeekMessageW(&message, window, kFailed, kFailed, PM_NOREMOVE))
                break;
            Sleep(10);
        }
        return Take();
    }
    HWND window;
};

const GUID kSensorId = {0x5EC0AD00, 0x1, 0x2, {0x90, 0, 0, 0, 0, 0, 0, 0x03}};

// One sensor whose name needs quoting, with two fields, in a SensorList
// that shows its reports to the recorder.
struct RecordedSensor
{
    RecordedSensor()
    {
        apartment.Init(1);
        REQUIRE(SensorSimOpen(&sim) == 1);
        HMODULE pinned = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, SENSORSIM_MODULE_NAME, &pinned);
        REQUIRE(sim.Reset() == 1);
        REQUIRE(sim.AddSensor(&kSensorId, &SENSOR_CATEGORY_LOCATION, &SENSOR_TYPE_LOCATION_GPS,
                              L"GPS \"Outdoor\", rear", SENSOR_STATE_READY) == 1);
        REQUIRE(sim.SetFieldText(&kSensorId, L"LATITUDE_DEGREES", L"VT_R8, 47.5, ramp, 0.5") == 1);
        REQUIRE(sim.SetFieldText(&kSensorId, L"CITY", L"VT_LPWSTR, Seattle") == 1);
        list.SetReportObserver(SensorRecorder::Observe, &recorder);
        REQUIRE(list.Refresh() != nullptr);
    }
    ~RecordedSensor() { list.SetReportObserver(nullptr, nullptr); }
    void Fire(int times)
    {
        for (int i = 0; i < times; ++i)
            REQUIRE(sim.FireDataUpdated(&kSensorId) == 1);
    }

    ComApartment apartment;
    SensorSimControl sim = {};
    SensorRecorder recorder;
    SensorList list;
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

} // namespace

TEST_CASE("CSV fields, rows, times and UTF-8 of a recording")
{
    SUBCASE("fields are quoted only where RFC 4180 needs it")
    {
        CHECK(CsvField(L"Seattle") == "Seattle");
        CHECK(CsvField(L"") == "");
        CHECK(CsvField(L"a,b") == "\"a,b\"");
        CHECK(CsvField(L"say \"hi\"") == "\"say \"\"hi\"\"\"");
        CHECK(CsvField(L"\"") == "\"\"\"\"");
        CHECK(CsvField(L"two\r\nlines") == "\"two\r\nlines\"");
        CHECK(CsvField(L"line\nfeed") == "\"line\nfeed\"");
        CHECK(CsvField(L" padded ") == " padded ");
        CHECK(CsvField(L"\u00e9, \"\u20ac\"") == "\"\xC3\xA9, \"\"\xE2\x82\xAC\"\"\"");
    }
    SUBCASE("numbers stay numbers; what a spreadsheet would run gets an apostrophe")
    {
        for (const wchar_t* number : {L"-122.3", L"+5", L".5", L"5.", L"1E-05", L"-2.5e+10"}) {
            CAPTURE(std::wstring(number));
            CHECK(IsPlainNumber(number));
            CHECK(CsvField(number) == std::string(number, number + wcslen(number)));
        }
        for (const wchar_t* text : {L"-", L"1e", L"--1", L"-1.#IND", L"1.2.3", L"", L"."})
            CHECK_FALSE(IsPlainNumber(text));
        CHECK(CsvField(L"=HYPERLINK(\"x\")") == "\"'=HYPERLINK(\"\"x\"\")\"");
        CHECK(CsvField(L"@SUM(A1)") == "\"'@SUM(A1)\"");
        CHECK(CsvField(L"+cmd|' /C calc'!A0") == "\"'+cmd|' /C calc'!A0\"");
        CHECK(CsvField(L"-1.#IND") == "\"'-1.#IND\"");
        CHECK(CsvField(L"\tTab") == "\"'\tTab\"");
        CHECK(CsvField(L"a=b") == "a=b");
    }
    SUBCASE("one row per field, the report's columns shared")
    {
        SYSTEMTIME time = {2026, 3, 0, 7, 9, 5, 4, 7};
        std::string columns;
        REQUIRE(FormatReportColumns(time, L"GPS, rear", L"{1-2}", columns) == 1);
        CHECK(columns == "2026-03-07 09:05:04.007,\"GPS, rear\",{1-2},");
        std::string rows;
        REQUIRE(AppendRecordRow(rows, columns, L"CITY", L"Seattle, WA") == 1);
        REQUIRE(AppendRecordRow(rows, columns, L"SPEED KNOTS", L"") == 1);
        CHECK(rows == "2026-03-07 09:05:04.007,\"GPS, rear\",{1-2},CITY,\"Seattle, WA\"\r\n"
                      "2026-03-07 09:05:04.007,\"GPS, rear\",{1-2},SPEED KNOTS,\r\n");

        WideString name;
        REQUIRE(DefaultRecordingName(time, name) == 1);
        CHECK(std::wstring(name.Data()) == L"Tessel 2026-03-07 09-05-04.csv");
    }
    SUBCASE("UTF-8, also beyond the basic plane; a lone surrogate is replaced")
    {
        CHECK(Utf8(L"abc", 3) == "abc");
        CHECK(Utf8(L"\u00e9\u20ac", 2) == "\xC3\xA9\xE2\x82\xAC");
        CHECK(Utf8(L"\xD83D\xDE00", 2) == "\xF0\x9F\x98\x80");
        CHECK(Utf8(L"a\xD800z", 3) == "a\xEF\xBF\xBDz");
        CHECK(Utf8(L"", 0) == "");
        CHECK(std::string(kRecordingStart) == "\xEF\xBB\xBFTime,Sensor,Sensor ID,Field,Value\r\n");
    }
}

TEST_CASE("a recorder writes every report from Start to Stop, one row a field")
{
    TempFolder folder(L"tessel-recording");
    const std::wstring path = folder / L"values.csv";
    FailureWindow failures;
    RecordedSensor sensor;
    sensor.Fire(2);

    DWORD error = 0;
    REQUIRE(sensor.recorder.Start(path.c_str(), failures.window, kFailed, &error) == 1);
    CHECK(sensor.recorder.IsRecording());
    // A second recording cannot start while one runs.
    CHECK(sensor.recorder.Start(path.c_str(), failures.window, kFailed, &error) == 0);
    CHECK(error == ERROR_BUSY);
    sensor.Fire(5);
    CHECK(sensor.recorder.Stop() == 0);
    CHECK_FALSE(sensor.recorder.IsRecording());
    sensor.Fire(2);
    CHECK(failures.Take().empty());

    const std::string text = ReadWholeFile(path);
    const std::vector<std::string> lines = Lines(text);
    REQUIRE(lines.size() == 11);
    CHECK(text.compare(0, 3, "\xEF\xBB\xBF") == 0);
    CHECK(sensor.recorder.RowsTaken() == 10);
    // The ramp goes on from the two reports before the recording.
    const std::string sensorColumns =
        ",\"GPS \"\"Outdoor\"\", rear\",{5EC0AD00-0001-0002-9000-000000000003},";
    for (int report = 0; report < 5; ++report) {
        const std::string& latitude = lines[1 + 2 * report];
        const std::string& city = lines[2 + 2 * report];
        CAPTURE(latitude);
        // "2026-12-08 00:53:13.123" and the sensor's columns.
        CHECK(latitude.size() > 23);
        CHECK(latitude[4] == '-');
        CHECK(latitude[19] == '.');
        CHECK(latitude.compare(23, sensorColumns.size(), sensorColumns) == 0);
        CHECK(latitude.substr(23 + sensorColumns.size()) ==
              "LATITUDE DEGREES," + std::to_string(49 + report / 2) +
                  (report % 2 ? ".500000" : ".000000"));
        CHECK(city.substr(23) == sensorColumns + "CITY,Seattle");
    }

    SUBCASE("a new recording replaces the file")
    {
        REQUIRE(sensor.recorder.Start(path.c_str(), failures.window, kFailed, &error) == 1);
        sensor.Fire(1);
        CHECK(sensor.recorder.Stop() == 0);
        CHECK(Lines(ReadWholeFile(path)).size() == 3);
    }
    SUBCASE("a file that cannot be made is no recording")
    {
        const std::wstring missing = folder / L"no such folder\\values.csv";
        error = 0;
        CHECK(sensor.recorder.Start(missing.c_str(), failures.window, kFailed, &error) == 0);
        CHECK(error == ERROR_PATH_NOT_FOUND);
        CHECK_FALSE(sensor.recorder.IsRecording());
        CHECK(sensor.recorder.Stop() == 0);
    }
}

TEST_CASE("a full disk ends the recording once")
{
    FailureWindow failures;
    RecordedSensor sensor;
    DWORD error = 0;
    // Every write to the Linux device /dev/full fails with ENOSPC.
    REQUIRE(sensor.recorder.Start(L"Z:\\dev\\full", failures.window, kFailed, &error) == 1);
    sensor.Fire(3);
    const auto failed = failures.WaitForFailure();
    REQUIRE(failed.size() == 1);
    CHECK(failed[0].first == ERROR_DISK_FULL);
    CHECK(failed[0].second == sensor.recorder.RecordingNumber());
    sensor.Fire(3);
    CHECK(sensor.recorder.Stop() == ERROR_DISK_FULL);
    CHECK(sensor.recorder.Stop() == 0);
    CHECK(failures.Take().empty());
}
