#include <doctest.h>

#include "BoundSimulator.h"
#include "BoundedThread.h"
#include "LinuxProgram.h"
#include "RecordingText.h"
#include "UpdateTestFiles.h"
#include "sensors/RecordingFormat.h"
#include "sensors/RecordingReader.h"
#include "sensors/SensorList.h"
#include "sensors/SensorRecorder.h"
#include "base/ScopedHandle.h"

#include <sensors.h>

#include <cstdlib>
#include <cwchar>
#include <memory>
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

const GUID kSensorId = {0x5EC0AD00, 0x1, 0x2, {0x90, 0, 0, 0, 0, 0, 0, 0x03}};

// One sensor whose name needs quoting, with two fields, in a SensorList
// that shows its reports to the recorder; the recorder's failure messages
// go to a message-only window of the test's thread.
struct SimulatedGps
{
    SimulatedGps()
    {
        REQUIRE(sim.Reset() == 1);
        REQUIRE(sim.AddSensor(&kSensorId, &SENSOR_CATEGORY_LOCATION, &SENSOR_TYPE_LOCATION_GPS,
                              L"GPS \"Outdoor\", rear", SENSOR_STATE_READY) == 1);
        REQUIRE(sim.SetFieldText(&kSensorId, L"LATITUDE_DEGREES", L"VT_R8, 47.5, ramp, 0.5") == 1);
        SetCity(L"Seattle");
        list.SetReportObserver(SensorRecorder::Observe, &recorder);
        REQUIRE(list.Refresh() != nullptr);
    }
    ~SimulatedGps()
    {
        list.SetReportObserver(nullptr, nullptr);
        DestroyWindow(failureWindow);
    }
    void SetCity(const std::wstring& city)
    {
        REQUIRE(sim.SetFieldText(&kSensorId, L"CITY", (L"VT_LPWSTR, " + city).c_str()) == 1);
    }
    void Fire(int times)
    {
        for (int i = 0; i < times; ++i)
            REQUIRE(sim.FireDataUpdated(&kSensorId) == 1);
    }
    int Start(const std::wstring& path, DWORD* error = nullptr)
    {
        DWORD ignored = 0;
        return recorder.Start(path.c_str(), failureWindow, kFailed, error ? error : &ignored);
    }
    // The failure messages posted until now: (error, recording number).
    std::vector<std::pair<WPARAM, LPARAM>> TakeFailures()
    {
        std::vector<std::pair<WPARAM, LPARAM>> taken;
        MSG message;
        while (PeekMessageW(&message, failureWindow, kFailed, kFailed, PM_REMOVE))
            taken.push_back({message.wParam, message.lParam});
        return taken;
    }

    static constexpr UINT kFailed = WM_APP + 7;
    SensorSimControl& sim = Simulator();
    SensorRecorder recorder;
    SensorList list;
    HWND failureWindow =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
};

// A tmpfs of 64 KiB mounted over a folder for one test, so that a file there
// fills it after some rows (mounting needs root, as the installer tests'
// chattr does).
class SmallFileSystem
{
public:
    explicit SmallFileSystem(const std::wstring& folder)
        : folder_(folder), unixFolder_(UnixPath(folder))
    {
        mounted_ = !unixFolder_.empty() &&
                   StartLinuxProgram(L"\"Z:\\bin\\mount\" -t tmpfs -o size=64k tessel-small \"" +
                                     unixFolder_ + L"\"") &&
                   AwaitSize(true);
    }
    ~SmallFileSystem()
    {
        if (mounted_ && StartLinuxProgram(L"\"Z:\\bin\\umount\" -l \"" + unixFolder_ + L"\""))
            AwaitSize(false);
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool Mounted() const { return mounted_; }

private:
    bool AwaitSize(bool small) const
    {
        for (int waited = 0; waited < 10000; waited += 50) {
            ULARGE_INTEGER total = {};
            if (GetDiskFreeSpaceExW(folder_.c_str(), nullptr, &total, nullptr) &&
                (total.QuadPart == kSize) == small)
                return true;
            Sleep(50);
        }
        return false;
    }

    static constexpr ULONGLONG kSize = 65536;
    std::wstring folder_;
    std::wstring unixFolder_;
    bool mounted_ = false;
};

// A recording target that hangs, as a network share that stops answering
// does: a named pipe that nobody reads until let go, so that writes to it
// wait once its buffer is full. Let go, it is read until the writer closes
// its end.
class StalledPipe
{
public:
    StalledPipe()
        : path_(L"\\\\.\\pipe\\tessel-stalled-" + std::to_wstring(GetCurrentProcessId())),
          pipe_(CreateNamedPipeW(path_.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                 0, 4096, 0, nullptr))
    {
    }
    ~StalledPipe() { Release(); }

    const std::wstring& Path() const { return path_; }
    void Release()
    {
        if (!reader_)
            reader_ = std::make_unique<BoundedThread>([this] { Read(); });
    }
    // Waits until the writer closed its end; what arrived.
    const std::string& Received()
    {
        Release();
        reader_->Join();
        return received_;
    }

private:
    void Read()
    {
        char buffer[65536];
        DWORD got = 0;
        while (ReadFile(pipe_.Get(), buffer, sizeof buffer, &got, nullptr))
            received_.append(buffer, got);
    }

    std::wstring path_;
    ScopedHandle pipe_;
    std::string received_;
    std::unique_ptr<BoundedThread> reader_;
};

// A time in milliseconds since 1970-01-01 00:00 of its clock.
int64_t Ms(const SYSTEMTIME& time)
{
    FILETIME file = {};
    SystemTimeToFileTime(&time, &file);
    const int64_t ticks = (static_cast<int64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    return (ticks - 116444736000000000) / 10000;
}

} // namespace

TEST_CASE("CSV fields in UTF-8, rows and times of a recording")
{
    SUBCASE("quoted only where RFC 4180 needs it; what a spreadsheet would run gets an apostrophe")
    {
        const std::pair<const wchar_t*, std::string> fields[] = {
            {L"Seattle", "Seattle"},
            {L"", ""},
            {L"a,b", "\"a,b\""},
            {L"say \"hi\"", "\"say \"\"hi\"\"\""},
            {L"\"", "\"\"\"\""},
            {L"two\r\nlines", "\"two\r\nlines\""},
            {L"line\nfeed", "\"line\nfeed\""},
            {L" padded ", " padded "},
            {L"\u00e9, \"\u20ac\"", "\"\xC3\xA9, \"\"\xE2\x82\xAC\"\"\""},
            // UTF-8 beyond the basic plane too; a lone surrogate is replaced.
            {L"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
            {L"a\xD800z", "a\xEF\xBF\xBDz"},
            {L"z\xDC00", "z\xEF\xBF\xBD"},
            {L"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
            {L"@SUM(A1)", "\"'@SUM(A1)\""},
            {L"+cmd|' /C calc'!A0", "\"'+cmd|' /C calc'!A0\""},
            {L"-1.#IND", "\"'-1.#IND\""},
            {L"\tTab", "\"'\tTab\""},
            {L"a=b", "a=b"}};
        for (const auto& field : fields) {
            CAPTURE(field.second);
            CHECK(CsvField(field.first) == field.second);
        }
        for (const wchar_t* number : {L"-122.3", L"+5", L".5", L"5.", L"1E-05", L"-2.5e+10"}) {
            CAPTURE(std::wstring(number));
            CHECK(IsPlainNumber(number));
            CHECK(CsvField(number) == std::string(number, number + wcslen(number)));
        }
        for (const wchar_t* text : {L"-", L"1e", L"--1", L"-1.#IND", L"1.2.3", L"", L"."})
            CHECK_FALSE(IsPlainNumber(text));
    }
    SUBCASE("one row per field, the report's columns shared")
    {
        const SYSTEMTIME time = {2026, 3, 0, 7, 9, 5, 4, 7};
        std::string columns;
        REQUIRE(FormatReportColumns({time, 60}, L"GPS, rear", L"{1-2}", columns) == 1);
        std::string rows;
        REQUIRE(AppendRecordRow(rows, columns, L"CITY", L"Seattle, WA") == 1);
        REQUIRE(AppendRecordRow(rows, columns, L"SPEED KNOTS", L"") == 1);
        CHECK(rows == "2026-03-07 09:05:04.007 +01:00,\"GPS, rear\",{1-2},CITY,\"Seattle, WA\"\r\n"
                      "2026-03-07 09:05:04.007 +01:00,\"GPS, rear\",{1-2},SPEED KNOTS,\r\n");

        WideString name;
        REQUIRE(DefaultRecordingName(time, name) == 1);
        CHECK(std::wstring(name.Data()) == L"Tessel 2026-03-07 09-05-04.csv");
    }
    SUBCASE("UTC becomes local time with its offset, across days, months and years")
    {
        auto recorded = [](SYSTEMTIME utc, int offset) {
            RecordTime time = {};
            REQUIRE(ToRecordTime(utc, offset, time) == 1);
            CHECK(time.offsetMinutes == offset);
            std::string text;
            REQUIRE(AppendRecordTime(text, time) == 1);
            return text;
        };
        CHECK(recorded({2026, 12, 0, 8, 8, 11, 50, 123}, 60) == "2026-12-08 09:11:50.123 +01:00");
        CHECK(recorded({2026, 12, 0, 8, 8, 11, 50, 123}, 0) == "2026-12-08 08:11:50.123 +00:00");
        CHECK(recorded({2026, 12, 0, 31, 23, 30, 0, 0}, 60) == "2027-01-01 00:30:00.000 +01:00");
        CHECK(recorded({2027, 1, 0, 1, 2, 15, 9, 999}, -300) == "2026-12-31 21:15:09.999 -05:00");
        CHECK(recorded({2028, 2, 0, 28, 20, 0, 0, 0}, 330) == "2028-02-29 01:30:00.000 +05:30");
        CHECK(recorded({2026, 3, 0, 1, 0, 10, 0, 1}, -570) == "2026-02-28 14:40:00.001 -09:30");
        CHECK(recorded({2026, 10, 0, 25, 0, 59, 59, 999}, 840) == "2026-10-25 14:59:59.999 +14:00");
        // The hour that a change from summer to winter time repeats reads
        // apart by its offset.
        CHECK(recorded({2026, 10, 0, 25, 0, 30, 0, 0}, 120) == "2026-10-25 02:30:00.000 +02:00");
        CHECK(recorded({2026, 10, 0, 25, 1, 30, 0, 0}, 60) == "2026-10-25 02:30:00.000 +01:00");

        RecordTime untouched = {{2001, 1, 0, 1, 0, 0, 0, 0}, 7};
        CHECK(ToRecordTime({2026, 13, 0, 1, 0, 0, 0, 0}, 60, untouched) == 0);
        CHECK(ToRecordTime({2026, 2, 0, 30, 0, 0, 0, 0}, 60, untouched) == 0);
        CHECK(untouched.local.wYear == 2001);
        CHECK(untouched.offsetMinutes == 7);
    }
}

TEST_CASE("a recorder writes every report from Start to Stop, one row a field")
{
    TempFolder folder(L"tessel-recording");
    const std::wstring path = folder / L"values.csv";
    SimulatedGps sensor;
    sensor.Fire(2);

    DWORD error = 0;
    REQUIRE(sensor.Start(path) == 1);
    CHECK(sensor.recorder.IsRecording());
    // A second recording cannot start while one runs.
    CHECK(sensor.Start(path, &error) == 0);
    CHECK(error == ERROR_BUSY);
    sensor.Fire(5);
    CHECK(sensor.recorder.Stop() == 0);
    CHECK_FALSE(sensor.recorder.IsRecording());
    sensor.Fire(2);
    CHECK(sensor.TakeFailures().empty());

    const std::string text = ReadWholeFile(path);
    CHECK(text.compare(0, 3, "\xEF\xBB\xBF") == 0);
    CHECK(sensor.recorder.RowsTaken() == 10);
    // The ramp goes on from the two reports before the recording.
    const Recording recording = Parse(text);
    CHECK(recording.damagedRows == 0);
    CHECK(Summary(recording) ==
          "GPS \"Outdoor\", rear {5EC0AD00-0001-0002-9000-000000000003}: LATITUDE DEGREES# CITY\n"
          " LATITUDE DEGREES=49.000000 CITY=Seattle\n LATITUDE DEGREES=49.500000 CITY=Seattle\n"
          " LATITUDE DEGREES=50.000000 CITY=Seattle\n LATITUDE DEGREES=50.500000 CITY=Seattle\n"
          " LATITUDE DEGREES=51.000000 CITY=Seattle\n");
    // Each report's time is local time now, and with its offset UTC now (a
    // wrong clock or offset is 15 min off or more).
    SYSTEMTIME utcNow;
    SYSTEMTIME localNow;
    GetSystemTime(&utcNow);
    REQUIRE(SystemTimeToTzSpecificLocalTime(nullptr, &utcNow, &localNow));
    for (const RecordedReport& report : recording.sensors[0].reports) {
        CHECK(report.utcOffsetMinutes != kNoUtcOffset);
        CHECK(std::llabs(report.localMs - Ms(localNow)) < 10 * 60000);
        CHECK(std::llabs(ReportAxisMs(report) - Ms(utcNow)) < 10 * 60000);
    }

    SUBCASE("a new recording replaces the file")
    {
        REQUIRE(sensor.Start(path) == 1);
        sensor.Fire(1);
        CHECK(sensor.recorder.Stop() == 0);
        CHECK(Parse(ReadWholeFile(path)).rows == 2);
    }
    SUBCASE("a file that cannot be made is no recording")
    {
        CHECK(sensor.Start(folder / L"no such folder\\values.csv", &error) == 0);
        CHECK(error == ERROR_PATH_NOT_FOUND);
        CHECK_FALSE(sensor.recorder.IsRecording());
        CHECK(sensor.recorder.Stop() == 0);
    }
}

TEST_CASE("a file system that fills up ends the recording once, after its last whole row")
{
    TempFolder folder(L"tessel-small-fs");
    SmallFileSystem small(folder.Path());
    REQUIRE_MESSAGE(small.Mounted(), "a small tmpfs could not be mounted (needs root)");
    SimulatedGps sensor;
    // Long rows, so that the file system fills up in the middle of one.
    sensor.SetCity(std::wstring(700, L'x'));

    REQUIRE(sensor.Start(folder / L"values.csv") == 1);
    std::vector<std::pair<WPARAM, LPARAM>> failed;
    for (int round = 0; round < 400 && failed.empty(); ++round) {
        sensor.Fire(5);
        Sleep(kRecordingFlushMs / 4);
        failed = sensor.TakeFailures();
    }
    REQUIRE(failed.size() == 1);
    CHECK(failed[0].first == ERROR_DISK_FULL);
    CHECK(failed[0].second == sensor.recorder.RecordingNumber());
    sensor.Fire(3);
    CHECK(sensor.recorder.Stop() == ERROR_DISK_FULL);
    CHECK(sensor.recorder.Stop() == 0);
    CHECK(sensor.TakeFailures().empty());

    const std::string text = ReadWholeFile(folder / L"values.csv");
    CHECK(text.size() > 30000);
    CHECK(text.size() < 65536);
    REQUIRE(text.size() >= 2);
    CHECK(text.compare(text.size() - 2, 2, "\r\n") == 0);
    // Whole rows only: none damaged, every city whole and every latitude
    // with its six decimals.
    const Recording recording = Parse(text);
    CHECK(recording.damagedRows == 0);
    for (const RecordedValue& value : recording.sensors.at(0).values) {
        const std::string whole = ValueText(recording, value);
        CAPTURE(whole.substr(0, 20));
        CHECK((value.field == 1 ? whole == std::string(700, 'x')
                                : whole.find('.') + 7 == whole.size()));
    }
}

TEST_CASE("stopping a recording whose target hangs leaves the writer to finish on its own")
{
    StalledPipe pipe;
    SimulatedGps sensor;
    REQUIRE(sensor.Start(pipe.Path()) == 1);
    // Far more than the pipe holds: the writer waits in its write.
    sensor.SetCity(std::wstring(1000, L'y'));
    sensor.Fire(200);
    Sleep(3 * kRecordingFlushMs);

    HANDLE stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD stopAnswer = 0;
    {
        BoundedThread stopper([&] {
            stopAnswer = sensor.recorder.Stop();
            SetEvent(stopped);
        });
        const bool returned = WaitForSingleObject(stopped, 10000) == WAIT_OBJECT_0;
        // Let the writer go also when Stop hangs, so that the test ends.
        if (!returned)
            pipe.Release();
        CHECK_MESSAGE(returned, "Stop waited for a writer that hangs");
    }
    CloseHandle(stopped);
    CHECK(stopAnswer == kRecordingUnfinished);
    CHECK_FALSE(sensor.recorder.IsRecording());
    CHECK(sensor.recorder.RowsTaken() == 400);

    // Reports after Stop are not taken.
    sensor.Fire(3);
    const std::string& received = pipe.Received();
    CHECK(Parse(received).rows == 400);
    CHECK(received.compare(0, 3, "\xEF\xBB\xBF") == 0);
    // A failure that comes later is no news: the user was told at Stop.
    CHECK(sensor.TakeFailures().empty());
}
