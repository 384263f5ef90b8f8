#include <doctest.h>

#include "RecordingText.h"
#include "UpdateTestFiles.h"
#include "sensors/RecordingFormat.h"
#include "sensors/RecordingReader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using update_test::TempFolder;
using update_test::WriteWholeFile;

namespace {

const char kHeaderRow[] = "Time,Sensor,Sensor ID,Field,Value";

// One row as the recorder writes it, through its own CSV functions (a
// value's own line ends stay as they are).
std::string Row(const wchar_t* time, const wchar_t* sensor, const wchar_t* id, const wchar_t* field,
                const wchar_t* value, const char* lineEnd = "\r\n")
{
    std::string row;
    REQUIRE(AppendCsvFields(row, {time, sensor, id, field, value}, lineEnd) == 1);
    return row;
}

const wchar_t kGps[] = L"{E8BA868A-68E4-481A-BB48-1FFAAB993B3B}";
const wchar_t kLight[] = L"{328E4D5D-2F71-46D5-9897-97BBC30B04A8}";

// A small recording of two sensors in the recorder's own form.
std::string TwoSensors(const char* lineEnd, bool byteOrderMark, const wchar_t* offset)
{
    auto row = [&](const wchar_t* clock, const wchar_t* sensor, const wchar_t* id,
                   const wchar_t* field, const wchar_t* value) {
        return Row((clock + std::wstring(offset)).c_str(), sensor, id, field, value, lineEnd);
    };
    std::string text = std::string(byteOrderMark ? "\xEF\xBB\xBF" : "") + kHeaderRow + lineEnd;
    text += row(L"2026-12-08 09:11:50.123", L"GPS, rear", kGps, L"LATITUDE DEGREES", L"47.600000");
    text += row(L"2026-12-08 09:11:50.123", L"GPS, rear", kGps, L"CITY", L"Seattle, \"WA\"\r\nUSA");
    text += row(L"2026-12-08 09:11:50.130", L"Licht \u00fc\u20ac", kLight, L"LIGHT LEVEL LUX",
                L"320.000000");
    text += row(L"2026-12-08 09:11:51.123", L"GPS, rear", kGps, L"LATITUDE DEGREES", L"-47.500000");
    text += row(L"2026-12-08 09:11:51.123", L"GPS, rear", kGps, L"CITY", L"=HYPERLINK(\"x\")");
    return text;
}

// The recording with its rows (all but the header row) "times" times over.
std::string Repeated(const std::string& recording, int times)
{
    const std::string rows = recording.substr(recording.find("\r\n") + 2);
    std::string text = recording;
    for (int i = 1; i < times; ++i)
        text += rows;
    return text;
}

} // namespace

TEST_CASE("the reader takes every form the recorder writes")
{
    for (const char* lineEnd : {"\r\n", "\n"}) {
        for (bool byteOrderMark : {true, false}) {
            for (const wchar_t* offset : {L"", L" +01:00", L" -09:30"}) {
                CAPTURE(lineEnd);
                CAPTURE(byteOrderMark);
                const Recording recording = Parse(TwoSensors(lineEnd, byteOrderMark, offset));
                CHECK(recording.rows == 5);
                CHECK(recording.damagedRows == 0);
                CHECK(DamageSummary(recording).empty());
                // The apostrophe that kept the formula from running is gone.
                CHECK(Summary(recording) ==
                      "GPS, rear {E8BA868A-68E4-481A-BB48-1FFAAB993B3B}: LATITUDE DEGREES# CITY\n"
                      " LATITUDE DEGREES=47.600000 CITY=Seattle, \"WA\"\r\nUSA\n"
                      " LATITUDE DEGREES=-47.500000 CITY==HYPERLINK(\"x\")\n"
                      "Licht \xC3\xBC\xE2\x82\xAC {328E4D5D-2F71-46D5-9897-97BBC30B04A8}: "
                      "LIGHT LEVEL LUX#\n LIGHT LEVEL LUX=320.000000\n");
                const RecordedSensor& gps = recording.sensors[0];
                CHECK(gps.values[2].number == -47.5);
                const int16_t expected = *offset == 0 ? kNoUtcOffset : offset[1] == '+' ? 60 : -570;
                CHECK(gps.reports[0].utcOffsetMinutes == expected);
                CHECK(ReportAxisMs(gps.reports[1]) - ReportAxisMs(gps.reports[0]) == 1000);
                CHECK(FormatReportTime(gps.reports[0]) ==
                      "2026-12-08 09:11:50.123" + std::string(offset, offset + wcslen(offset)));
            }
        }
    }
}

TEST_CASE("rows become the reports of their sensors")
{
    const wchar_t* t = L"2026-12-08 09:11:50.123";
    std::string text = std::string(kHeaderRow) + "\r\n";
    SUBCASE("a report is the run of a sensor's rows of one time")
    {
        text += Row(t, L"A", L"{1}", L"X", L"1");
        text += Row(t, L"A", L"{1}", L"Y", L"2");
        // The same time again with a field already taken: the next report.
        text += Row(t, L"A", L"{1}", L"X", L"3");
        // Another sensor between two rows of one time splits them too.
        text += Row(t, L"B", L"{2}", L"X", L"4");
        text += Row(t, L"A", L"{1}", L"Y", L"5");
        const Recording recording = Parse(text);
        CHECK(Summary(recording) == "A {1}: X# Y#\n X=1 Y=2\n X=3\n Y=5\nB {2}: X#\n X=4\n");
        CHECK(recording.reportOrder == std::vector<uint16_t>{0, 0, 1, 0});
    }
    SUBCASE("sensors are told apart by id and name together")
    {
        text += Row(t, L"A", L"{1}", L"X", L"1");
        text += Row(t, L"A", L"{2}", L"X", L"2");
        text += Row(t, L"B", L"{1}", L"X", L"3");
        text += Row(t, L"A", L"", L"X", L"4");
        text += Row(t, L"A", L"{2}", L"X", L"5");
        CHECK(Summary(Parse(text)) ==
              "A {1}: X#\n X=1\nA {2}: X#\n X=2\n X=5\nB {1}: X#\n X=3\nA : X#\n X=4\n");
    }
    SUBCASE("a field's kind comes from most of its values; empty values are no text")
    {
        text += Row(t, L"A", L"{1}", L"Count", L"7");
        text += Row(t, L"A", L"{1}", L"Model", L"2100");
        text += Row(L"2026-12-08 09:11:51.123", L"A", L"{1}", L"Count", L"");
        text += Row(L"2026-12-08 09:11:51.123", L"A", L"{1}", L"Model", L"Type Cover");
        text += Row(L"2026-12-08 09:11:52.123", L"A", L"{1}", L"Model", L"Type Cover 2");
        const Recording recording = Parse(text);
        CHECK(recording.damagedRows == 0);
        CHECK(Summary(recording) == "A {1}: Count# Model\n Count=7 Model=2100\n Count= Model=Type "
                                    "Cover\n Model=Type Cover 2\n");
        CHECK(std::isnan(recording.sensors[0].values[2].number));
    }
    SUBCASE("a header alone is an empty recording")
    {
        const Recording recording = Parse(text);
        CHECK(recording.sensors.empty());
        CHECK(recording.rows == 0);
        CHECK(Parse(kHeaderRow).sensors.empty());
    }
}

TEST_CASE("what is no recording is refused and changes nothing")
{
    Recording kept = Parse(TwoSensors("\r\n", true, L""));
    const std::string utf16("\xFF\xFE"
                            "T\0i\0m\0e\0",
                            10);
    for (const std::string& text :
         {std::string(), std::string("\xEF\xBB\xBF"), std::string("Time,Sensor,Sensor ID,Field"),
          std::string("Time,Sensor,Sensor ID,Field,Value,Unit\r\n"),
          std::string("time,sensor,sensor id,field,value\r\n"), std::string("\r\n") + kHeaderRow,
          std::string("\"Time\",Sensor,Sensor ID,Field,Value\r\n"), utf16,
          std::string("PK\x03\x04\0\0garbage", 14)}) {
        CAPTURE(text);
        CHECK(ParseRecording(text.data(), text.size(), kept, nullptr, nullptr) ==
              RecordingRead::NotRecording);
        CHECK(kept.rows == 5);
    }
    SUBCASE("and a file that cannot be read is said so")
    {
        CHECK(ReadRecordingFile(L"C:\\no such folder\\values.csv", kept, nullptr, nullptr) ==
              RecordingRead::Unreadable);
        CHECK(kept.rows == 5);
    }
}

TEST_CASE("damaged rows are skipped, counted and the first one named")
{
    const std::string good = "2026-12-08 09:11:50.123,A,{1},X,1.000000\r\n";
    const std::string start = std::string(kHeaderRow) + "\r\n" + good; // good is line 2
    std::string tooManyLines = "2026-12-08 09:11:50.200,A,{1},T,\"";
    for (unsigned i = 0; i <= kMaxLineEndsInValue; ++i)
        tooManyLines += "x\r\n";
    tooManyLines += "\"\r\n";
    struct Damage
    {
        std::string rows;
        bool goodAfter; // a good row follows the damage
        uint64_t taken;
        uint64_t damaged; // 0: at least one
        const wchar_t* summary = nullptr;
    };
    const Damage damages[] = {
        {"2026-12-08 09:11:50.200,A,{1},X\r\n2026-12-08 09:11:50.300,A,{1},X,2,extra\r\n\r\n", true,
         2, 3, L"3 damaged rows were skipped (the first on line 3)."},
        // A time that is none (the times themselves are tried below).
        {"2026-02-29 09:11:50.123,A,{1},X,2\r\n", true, 2, 1,
         L"1 damaged row was skipped (line 3)."},
        // A value not of its field's kind: its report, left empty, is gone.
        {"2026-12-08 09:11:50.200,A,{1},X,n/a\r\n2026-12-08 09:11:50.300,A,{1},X,3.5\r\n", true, 3,
         1},
        // A stray quote costs its own line only.
        {"2026-12-08 09:11:50.200,A,{1},X,\"2\r\n2026-12-08 09:11:50.300,A,{1},X,3\r\n"
         "2026-12-08 09:11:50.400,A\"B,{1},X,4\r\n",
         true, 3, 2},
        // A value of more lines than any sensor text; the rows after it stay.
        {tooManyLines, true, 2, 0},
        // Rows cut short at the end.
        {"2026-12-08 09:11:50.200,A,{1},X,2.5", false, 1, 0},
        {"2026-12-08 09:11:50.200,A,{1},X,\"Seattle", false, 1, 0},
        {"2026-12-08 09:11:50.200,A,{1},X,\"Sea\r\ntt", false, 1, 0},
        {"2026-12-08 09:1", false, 1, 0},
    };
    for (const Damage& damage : damages) {
        CAPTURE(damage.rows);
        const Recording recording = Parse(start + damage.rows + (damage.goodAfter ? good : ""));
        CHECK(recording.rows == damage.taken);
        CHECK(recording.firstDamagedLine == 3);
        CHECK((damage.damaged ? recording.damagedRows == damage.damaged
                              : recording.damagedRows >= 1));
        if (damage.summary)
            CHECK(DamageSummary(recording) == damage.summary);
        // Each row taken is a report of its own, in the file's order too.
        REQUIRE(recording.sensors.size() == 1);
        CHECK(recording.sensors[0].reports.size() == damage.taken);
        CHECK(recording.reportOrder.size() == damage.taken);
        CHECK(recording.sensors[0].fields[0].numeric);
    }
}

TEST_CASE("texts survive the recorder's quoting and the reader's unquoting")
{
    std::vector<std::wstring> texts = {
        L"plain",    L"comma, inside", L"\"quoted\"",  L"\"",        L"lone\rreturn",
        L"=1+2",     L"+cmd",          L"-x",          L"@SUM(A1)",  L"\ttab",
        L"-5",       L"+1.5E-3",       L"'apostrophe", L"'=already", L"",
        L" padded ", L",,,",           L"\"\"\"\""};
    // Line ends and text beyond ASCII and its plane.
    texts.insert(texts.end(), {L"line\r\nbreaks", L"lone\nfeed", L"=\"a\",b\r\n",
                               L"\u00e9\u20ac\U0001F600 \u0416\u0443\u043a"});
    std::string text = kRecordingStart;
    for (size_t i = 0; i < texts.size(); ++i) {
        // Names, ids and fields are texts too.
        text +=
            Row(L"2026-12-08 09:11:50.123", texts[i].c_str(), texts[(i + 3) % texts.size()].c_str(),
                texts[(i + 7) % texts.size()].c_str(), texts[(i + 11) % texts.size()].c_str());
    }
    const Recording recording = Parse(text);
    CHECK(recording.damagedRows == 0);
    REQUIRE(recording.rows == texts.size());
    size_t row = 0;
    for (const RecordedSensor& sensor : recording.sensors) {
        for (const RecordedValue& value : sensor.values) {
            CAPTURE(row);
            CHECK(WideFromUtf8(sensor.name) == texts[row]);
            CHECK(WideFromUtf8(sensor.id) == texts[(row + 3) % texts.size()]);
            CHECK(WideFromUtf8(sensor.fields[value.field].name) == texts[(row + 7) % texts.size()]);
            CHECK(WideFromUtf8(ValueText(recording, value)) == texts[(row + 11) % texts.size()]);
            ++row;
        }
    }
}

TEST_CASE("times, numbers and UTF-8 of a recording as plain values")
{
    SUBCASE("times on both sides of leap days, years and offsets")
    {
        // Valid times read back as they were written; others leave the
        // outputs as they were (-1 ms, -1 min).
        auto parsed = [](const std::string& text) {
            RecordedReport report = {-1, 0, 0, -1};
            const int taken = ParseRecordTime(text.data(), text.size(), &report.localMs,
                                              &report.utcOffsetMinutes);
            return (taken ? "" : "refused, ") + FormatReportTime(report);
        };
        for (const char* text : {"1970-01-01 00:00:00.000", "2024-02-29 23:59:59.999 +14:00",
                                 "1601-01-01 00:00:00.000 -00:30", "2000-02-29 00:00:00.000"})
            CHECK(parsed(text) == text);
        for (const char* text :
             {"2023-02-29 00:00:00.000", "2100-02-29 00:00:00.000", "2026-12-08 09:11:50.1x3",
              "2026-12-08 09:11:50.123 +01-00", "2026-12-08 24:00:00.000", "2026-12-08 09:11:50",
              "2026-12-08T09:11:50.123", "2026-12-08 09:11:50.123 +15:00",
              "2026-12-08 09:11:50.123 01:00", "1500-01-01 00:00:00.000", ""}) {
            CAPTURE(text);
            CHECK(parsed(text) == "refused, 1969-12-31 23:59:59.999 -00:01");
        }
        int64_t ms = -1;
        int16_t offset = 0;
        REQUIRE(ParseRecordTime("2024-02-29 23:59:59.999 +14:00", 30, &ms, &offset) == 1);
        CHECK(ReportAxisMs({ms, 0, 0, offset}) == ms - 840 * 60000);
    }
    SUBCASE("numbers read as the C library reads them")
    {
        std::mt19937 random(7);
        std::uniform_real_distribution<double> spread(-1e7, 1e7);
        for (int i = 0; i < 20000; ++i) {
            char text[64];
            const int length = snprintf(text, sizeof text, i % 2 ? "%f" : "%.0f",
                                        spread(random) / std::pow(10.0, i % 9));
            double number = 0;
            REQUIRE(ParseRecordNumber(text, static_cast<size_t>(length), &number) == 1);
            CAPTURE(text);
            CHECK(number == strtod(text, nullptr));
        }
        double number = 0;
        for (const char* text : {"1E-05", "-2.5e+10", ".5", "5.", "+7", "123456789012345678901",
                                 "0.000000000000000000000000123"}) {
            REQUIRE(ParseRecordNumber(text, strlen(text), &number) == 1);
            CHECK(number == strtod(text, nullptr));
        }
        for (const char* text :
             {"", "-", ".", "1e", "1.2.3", "0x10", "1,5", " 1", "1 ", "inf", "nan", "1.#IND"}) {
            CAPTURE(text);
            number = 42;
            CHECK(ParseRecordNumber(text, strlen(text), &number) == 0);
            CHECK(number == 42);
        }
    }
    SUBCASE("UTF-8 that is malformed becomes replacement characters")
    {
        CHECK(WideFromUtf8(std::string("a\xC3\xA9\xF0\x9F\x98\x80")) == L"a\u00e9\U0001F600");
        CHECK(WideFromUtf8(std::string("\xC3")) == L"\uFFFD");
        CHECK(WideFromUtf8(std::string("\xC0\xAFx")) == L"\uFFFD\uFFFDx");
        CHECK(WideFromUtf8(std::string("\xE0\x80\x80")) == L"\uFFFD");
        CHECK(WideFromUtf8(std::string("\xED\xA0\x80")) == L"\uFFFD");
        CHECK(WideFromUtf8(std::string("\xF4\x90\x80\x80")) == L"\uFFFD");
        CHECK(WideFromUtf8(std::string("\xFF\xE2\x82")) == L"\uFFFD\uFFFD");
    }
    SUBCASE("the report rate: median interval and the largest gap")
    {
        RecordedSensor sensor;
        for (int64_t at : {0, 100, 200, 300, 1300, 1400})
            sensor.reports.push_back({at, 0, 0, kNoUtcOffset});
        RecordedRate rate = MeasureRecordedRate(sensor);
        CHECK(rate.medianIntervalMs == 100);
        CHECK(rate.largestGapMs == 1000);
        CHECK(rate.largestGapAtMs == 300);
        sensor.reports.resize(1);
        rate = MeasureRecordedRate(sensor);
        CHECK(rate.medianIntervalMs == 0);
        CHECK(rate.largestGapMs == 0);
    }
}

namespace {

// Progress that must only grow and is cancelled after the calls allowed.
struct CancelAfter
{
    static bool Progress(uint64_t done, uint64_t total, void* context)
    {
        auto* cancel = static_cast<CancelAfter*>(context);
        CHECK(done >= cancel->lastDone);
        CHECK(done <= total);
        cancel->lastDone = done;
        cancel->total = total;
        return ++cancel->calls <= cancel->allowed;
    }

    int allowed;
    int calls = 0;
    uint64_t lastDone = 0;
    uint64_t total = 0;
};

} // namespace

TEST_CASE("reading tells its progress and stops when cancelled")
{
    // 60,000 rows: 24,000 reports of the GPS, 12,000 of the light sensor.
    const std::string text = Repeated(TwoSensors("\r\n", true, L" +01:00"), 12000);
    TempFolder folder(L"tessel-reader");
    const std::wstring path = folder / L"many.csv";
    REQUIRE(WriteWholeFile(path, text));
    Recording recording;
    recording.rows = 99;
    SUBCASE("cancelled while parsing: the recording stays as it was")
    {
        CancelAfter cancel{1};
        CHECK(ParseRecording(text.data(), text.size(), recording, CancelAfter::Progress, &cancel) ==
              RecordingRead::Cancelled);
        CHECK(cancel.calls == 2);
        CHECK(recording.rows == 99);
    }
    SUBCASE("from a file, told in bytes of the file")
    {
        CancelAfter cancel{1000};
        REQUIRE(ReadRecordingFile(path.c_str(), recording, CancelAfter::Progress, &cancel) ==
                RecordingRead::Read);
        CHECK(cancel.calls >= 2);
        CHECK(cancel.total == text.size());
        CHECK(recording.rows == 60000);
        REQUIRE(recording.sensors.size() == 2);
        CHECK(recording.sensors[0].reports.size() == 24000);
        CHECK(recording.sensors[1].reports.size() == 12000);
    }
    SUBCASE("an empty file is no recording, and a file being recorded can be read")
    {
        const std::wstring empty = folder / L"empty.csv";
        REQUIRE(WriteWholeFile(empty, ""));
        CHECK(ReadRecordingFile(empty.c_str(), recording, nullptr, nullptr) ==
              RecordingRead::NotRecording);
        HANDLE writing = CreateFileW(empty.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     CREATE_ALWAYS, 0, nullptr);
        REQUIRE(writing != INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(writing, text.data(), 4096, &written, nullptr);
        CHECK(ReadRecordingFile(empty.c_str(), recording, nullptr, nullptr) == RecordingRead::Read);
        CloseHandle(writing);
        CHECK(recording.rows > 0);
        CHECK(recording.damagedRows <= 1);
    }
}

namespace {

// One random change of the kinds a damaged file shows.
void Mutate(std::string& text, std::mt19937& random)
{
    auto at = [&](size_t size) {
        return size ? std::uniform_int_distribution<size_t>(0, size - 1)(random) : 0;
    };
    static const char special[] = {'"', ',', '\r', '\n', '\'', '=', '\0', '\xEF', '\xFF', '.'};
    const char character = random() % 2 ? special[random() % sizeof special] : char(random());
    switch (random() % 6) {
    case 0:
        if (!text.empty()) {
            text[at(text.size())] = character;
        }
        break;
    case 1:
        text.insert(at(text.size() + 1), 1, character);
        break;
    case 2:
        text.erase(at(text.size() + 1), 1 + random() % 8);
        break;
    case 3:
        text.resize(at(text.size() + 1));
        break;
    case 4:
        // A piece of the file again somewhere else.
        text.insert(at(text.size() + 1), text.substr(at(text.size() + 1), random() % 200));
        break;
    default:
        // The header kept, a row made of nothing but quotes.
        text.insert(std::min(text.find('\n'), text.size() - 1) + 1, random() % 40, '"');
        break;
    }
}

} // namespace

TEST_CASE("no damaged recording makes the reader fail, hang or grow beyond its file")
{
    // Ten times the rows of two sensors, with every kind of quoting.
    const std::string seed = Repeated(TwoSensors("\r\n", true, L" +01:00"), 10);
    REQUIRE(Parse(seed).rows == 50);

    std::mt19937 random(20261208);
    unsigned read = 0;
    unsigned refused = 0;
    for (int round = 0; round < 10000; ++round) {
        std::string text = seed;
        const int changes = 1 + static_cast<int>(random() % 6);
        for (int i = 0; i < changes; ++i)
            Mutate(text, random);
        Recording recording;
        const RecordingRead result =
            ParseRecording(text.data(), text.size(), recording, nullptr, nullptr);
        if (result == RecordingRead::NotRecording) {
            ++refused;
            continue;
        }
        REQUIRE(result == RecordingRead::Read);
        ++read;
        // Every row is taken or counted as damaged, and what was taken is
        // consistent and no larger than the text it came from.
        uint64_t values = 0;
        for (const RecordedSensor& sensor : recording.sensors) {
            uint64_t inReports = 0;
            for (const RecordedReport& report : sensor.reports) {
                REQUIRE(report.valueCount > 0);
                REQUIRE(report.firstValue == inReports);
                inReports += report.valueCount;
            }
            REQUIRE(inReports == sensor.values.size());
            for (const RecordedValue& value : sensor.values) {
                REQUIRE(value.field < sensor.fields.size());
                REQUIRE(value.text < recording.texts.size());
                const bool fitsKind = !sensor.fields[value.field].numeric ||
                                      !std::isnan(value.number) || value.text == kEmptyText;
                REQUIRE(fitsKind);
            }
            values += sensor.values.size();
        }
        REQUIRE(values == recording.rows);
        // The file's order of reports names each sensor's reports once.
        std::vector<size_t> reportsInOrder(recording.sensors.size());
        for (const uint16_t sensor : recording.reportOrder) {
            REQUIRE(sensor < recording.sensors.size());
            ++reportsInOrder[sensor];
        }
        for (size_t i = 0; i < recording.sensors.size(); ++i) {
            REQUIRE(reportsInOrder[i] == recording.sensors[i].reports.size());
        }
        REQUIRE(recording.texts.size() <= text.size());
        REQUIRE((recording.damagedRows == 0) == (recording.firstDamagedLine == 0));
        const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
        REQUIRE(recording.rows + recording.damagedRows <= lines);
    }
    CHECK(read > 9000);
    CHECK(read + refused == 10000);
}
