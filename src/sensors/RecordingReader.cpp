#include "sensors/RecordingReader.h"

#include "base/ScopedHandle.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string_view>

namespace {

const char kHeader[] = "Time,Sensor,Sensor ID,Field,Value";
const char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr unsigned kColumns = 5;
// Progress is told after this many bytes, and cancelling looked at.
constexpr size_t kProgressStep = 1u << 20;

// One field of a row as it lies in the file.
struct Span
{
    const char* data = nullptr;
    size_t size = 0;
    bool quoted = false;
    bool escaped = false; // holds doubled quotes
};

struct ScannedRow
{
    Span fields[kColumns];
    unsigned count = 0; // kColumns + 1 stands for more than kColumns
    bool malformed = false;
    bool terminated = false;
    unsigned lineEnds = 0; // inside quoted values
    const char* next = nullptr;
};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Where the unquoted field starting at p ends (a comma, a line feed or the
// end); notes a quote inside it.
const char* ScanPlainField(const char* p, const char* end, bool& quoteInside)
{
    for (; p < end; ++p) {
        const char c = *p;
        if (c == ',' || c == '\n') {
            break;
        }
        if (c == '"') {
            quoteInside = true;
        }
    }
    return p;
}

// Scans the quoted field whose opening quote is at p; answers where the
// scan stopped (after the closing quote, or at the end).
const char* ScanQuotedField(const char* p, const char* end, Span& field, ScannedRow& row)
{
    field.quoted = true;
    field.data = ++p;
    for (;;) {
        while (p < end && *p != '"' && *p != '\n') {
            ++p;
        }
        if (p == end) {
            // The value never ends: a row cut short.
            field.size = static_cast<size_t>(p - field.data);
            row.malformed = true;
            return p;
        }
        if (*p == '\n') {
            if (++row.lineEnds > kMaxLineEndsInValue) {
                row.malformed = true;
                field.size = static_cast<size_t>(p - field.data);
                return end;
            }
            ++p;
            continue;
        }
        if (p + 1 < end && p[1] == '"') {
            field.escaped = true;
            p += 2;
            continue;
        }
        field.size = static_cast<size_t>(p - field.data);
        return p + 1;
    }
}

bool AtRowEnd(const char* p, const char* end)
{
    return p == end || *p == ',' || *p == '\n' || (*p == '\r' && p + 1 < end && p[1] == '\n');
}

// Splits one row off the text at p after RFC 4180.
void ScanRow(const char* p, const char* end, ScannedRow& row)
{
    for (;;) {
        Span field;
        if (p < end && *p == '"') {
            p = ScanQuotedField(p, end, field, row);
            if (!AtRowEnd(p, end)) {
                bool ignored = false;
                row.malformed = true;
                p = ScanPlainField(p, end, ignored);
            }
        } else {
            bool quoteInside = false;
            field.data = p;
            p = ScanPlainField(p, end, quoteInside);
            field.size = static_cast<size_t>(p - field.data);
            if (p < end && *p == '\n' && field.size && field.data[field.size - 1] == '\r') {
                --field.size;
            }
            row.malformed |= quoteInside;
        }
        if (row.count < kColumns) {
            row.fields[row.count] = field;
        }
        row.count = std::min(row.count + 1, kColumns + 1);
        if (p < end && *p == '\r') {
            ++p;
        }
        if (p >= end) {
            row.next = end;
            return;
        }
        if (*p == '\n') {
            row.terminated = true;
            row.next = p + 1;
            return;
        }
        ++p; // the comma
    }
}

// [+-] digits [. digits] [e [+-] digits], at least one digit before the
// exponent: the form of the numbers the recorder writes.
bool IsNumberForm(const char* text, size_t length)
{
    size_t i = 0;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    size_t digits = 0;
    for (; i < length && IsDigit(text[i]); ++i) {
        ++digits;
    }
    if (i < length && text[i] == '.') {
        for (++i; i < length && IsDigit(text[i]); ++i) {
            ++digits;
        }
    }
    if (!digits) {
        return false;
    }
    if (i < length && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < length && (text[i] == '+' || text[i] == '-')) {
            ++i;
        }
        size_t exponentDigits = 0;
        for (; i < length && IsDigit(text[i]); ++i) {
            ++exponentDigits;
        }
        if (!exponentDigits) {
            return false;
        }
    }
    return i == length;
}

bool LooksLikeFormulaStart(char c)
{
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

// A field's text: the bytes in the file where they are the text as they
// stand, else a copy with its quotes undoubled and without the apostrophe
// the recorder put before a formula-like text.
struct FieldText
{
    std::string_view view;
    std::string copy;
};

void TakeText(const Span& field, FieldText& text)
{
    const bool apostrophe = field.quoted && field.size >= 2 && field.data[0] == '\'' &&
                            LooksLikeFormulaStart(field.data[1]);
    if (!field.escaped && !apostrophe) {
        text.view = std::string_view(field.data, field.size);
        return;
    }
    text.copy.clear();
    for (size_t i = 0; i < field.size; ++i) {
        text.copy.push_back(field.data[i]);
        if (field.data[i] == '"' && i + 1 < field.size && field.data[i + 1] == '"') {
            ++i;
        }
    }
    if (apostrophe && !IsNumberForm(text.copy.data() + 1, text.copy.size() - 1)) {
        text.copy.erase(0, 1);
    }
    text.view = text.copy;
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

void CivilFromDays(int64_t days, int& year, unsigned& month, unsigned& day)
{
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    year = static_cast<int>(static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2));
}

unsigned DaysInMonth(unsigned year, unsigned month)
{
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// Reads count digits at text; 0 if any is not one.
int ReadDigits(const char* text, unsigned count, unsigned* value)
{
    unsigned result = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (!IsDigit(text[i])) {
            return 0;
        }
        result = result * 10 + static_cast<unsigned>(text[i] - '0');
    }
    *value = result;
    return 1;
}

const double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Builds the recording row by row.
class RecordingBuilder
{
public:
    explicit RecordingBuilder(Recording& recording) : recording_(recording) {}

    void TakeRow(const ScannedRow& row, uint64_t line);
    void Damaged(uint64_t line);
    // Decides each field's kind and leaves out the values that do not fit it.
    void Finish();

private:
    int FindSensor();
    int FindField(RecordedSensor& sensor);
    void AddValue(RecordedSensor& sensor, uint32_t field, int64_t localMs, int16_t offset,
                  uint64_t line);
    static bool LeaveOutTexts(RecordedSensor& sensor, std::vector<bool>& kept);

    Recording& recording_;
    std::unordered_map<std::string, uint32_t> sensorIndex_;
    size_t lastSensor_ = SIZE_MAX;
    FieldText time_, name_, id_, field_, value_;
    std::string key_;
    // The last time read, to skip parsing it again for the report's rows.
    std::string lastTime_;
    int64_t lastLocalMs_ = 0;
    int16_t lastOffset_ = kNoUtcOffset;
};

void RecordingBuilder::Damaged(uint64_t line)
{
    if (!recording_.damagedRows++) {
        recording_.firstDamagedLine = line;
    }
}

int RecordingBuilder::FindSensor()
{
    if (lastSensor_ != SIZE_MAX) {
        const RecordedSensor& last = recording_.sensors[lastSensor_];
        if (last.id == id_.view && last.name == name_.view) {
            return static_cast<int>(lastSensor_);
        }
    }
    key_.assign(id_.view);
    key_.push_back('\0');
    key_.append(name_.view);
    const auto found = sensorIndex_.find(key_);
    if (found != sensorIndex_.end()) {
        return static_cast<int>(found->second);
    }
    if (recording_.sensors.size() >= kMaxRecordedSensors) {
        return -1;
    }
    RecordedSensor sensor;
    sensor.name = name_.view;
    sensor.id = id_.view;
    recording_.sensors.push_back(std::move(sensor));
    const auto index = static_cast<uint32_t>(recording_.sensors.size() - 1);
    sensorIndex_.emplace(key_, index);
    return static_cast<int>(index);
}

int RecordingBuilder::FindField(RecordedSensor& sensor)
{
    // Reports name their fields in the same order every time: the field
    // after the last one taken is the likely one.
    if (!sensor.reports.empty()) {
        const RecordedReport& last = sensor.reports.back();
        if (last.valueCount) {
            const uint32_t previous = sensor.values[last.firstValue + last.valueCount - 1].field;
            const uint32_t guess = previous + 1 < sensor.fields.size() ? previous + 1 : 0;
            if (sensor.fields[guess].name == field_.view) {
                return static_cast<int>(guess);
            }
        }
    }
    const std::string name(field_.view);
    const auto found = sensor.fieldIndex.find(name);
    if (found != sensor.fieldIndex.end()) {
        return static_cast<int>(found->second);
    }
    if (sensor.fields.size() >= kMaxRecordedFields) {
        return -1;
    }
    RecordedField field;
    field.name = name;
    sensor.fields.push_back(std::move(field));
    const auto index = static_cast<uint32_t>(sensor.fields.size() - 1);
    sensor.fieldIndex.emplace(name, index);
    return static_cast<int>(index);
}

void RecordingBuilder::TakeRow(const ScannedRow& row, uint64_t line)
{
    TakeText(row.fields[0], time_);
    if (time_.view != lastTime_) {
        if (!ParseRecordTime(time_.view.data(), time_.view.size(), &lastLocalMs_, &lastOffset_)) {
            Damaged(line);
            return;
        }
        lastTime_.assign(time_.view);
    }
    const int64_t localMs = lastLocalMs_;
    const int16_t offset = lastOffset_;
    TakeText(row.fields[1], name_);
    TakeText(row.fields[2], id_);
    TakeText(row.fields[3], field_);
    TakeText(row.fields[4], value_);
    const int sensorIndex = FindSensor();
    if (sensorIndex < 0) {
        Damaged(line);
        return;
    }
    RecordedSensor& sensor = recording_.sensors[static_cast<size_t>(sensorIndex)];
    const int field = FindField(sensor);
    if (field < 0) {
        Damaged(line);
        return;
    }
    AddValue(sensor, static_cast<uint32_t>(field), localMs, offset, line);
    lastSensor_ = static_cast<size_t>(sensorIndex);
    ++recording_.rows;
}

void RecordingBuilder::AddValue(RecordedSensor& sensor, uint32_t fieldIndex, int64_t localMs,
                                int16_t offset, uint64_t line)
{
    RecordedField& field = sensor.fields[fieldIndex];
    const size_t sensorIndex = static_cast<size_t>(&sensor - recording_.sensors.data());
    // A row continues the sensor's last report when it follows that
    // report's rows directly, has its time and names a field not yet in it.
    const bool continues = lastSensor_ == sensorIndex && !sensor.reports.empty() &&
                           sensor.reports.back().localMs == localMs &&
                           sensor.reports.back().utcOffsetMinutes == offset &&
                           field.lastReport != sensor.reports.size() - 1;
    if (!continues) {
        RecordedReport report = {localMs, static_cast<uint32_t>(sensor.values.size()), 0, offset};
        sensor.reports.push_back(report);
        recording_.reportOrder.push_back(static_cast<uint16_t>(sensorIndex));
    }
    RecordedValue value = {fieldIndex, kEmptyText, std::numeric_limits<double>::quiet_NaN()};
    const std::string_view text = value_.view;
    if (!text.empty()) {
        value.text = static_cast<uint32_t>(recording_.texts.size());
        recording_.texts.append(text.data(), text.size());
        recording_.texts.push_back('\0');
    }
    if (ParseRecordNumber(text.data(), text.size(), &value.number)) {
        ++field.numbers;
    } else if (!text.empty() && !field.texts++) {
        field.firstTextLine = line;
    }
    sensor.values.push_back(value);
    ++sensor.reports.back().valueCount;
    field.lastReport = sensor.reports.size() - 1;
}

void RecordingBuilder::Finish()
{
    std::vector<std::vector<bool>> keptReports(recording_.sensors.size());
    bool dropped = false;
    for (size_t index = 0; index < recording_.sensors.size(); ++index) {
        RecordedSensor& sensor = recording_.sensors[index];
        bool damage = false;
        for (RecordedField& field : sensor.fields) {
            field.numeric = field.numbers > field.texts;
            if (field.numeric && field.texts) {
                damage = true;
                recording_.rows -= field.texts;
                const uint64_t first = recording_.firstDamagedLine;
                recording_.damagedRows += field.texts;
                recording_.firstDamagedLine =
                    first ? std::min(first, field.firstTextLine) : field.firstTextLine;
            }
        }
        if (damage) {
            dropped |= LeaveOutTexts(sensor, keptReports[index]);
        }
    }
    if (dropped) {
        // The order loses the reports that went.
        std::vector<size_t> seen(recording_.sensors.size());
        size_t kept = 0;
        for (const uint16_t sensor : recording_.reportOrder) {
            const std::vector<bool>& flags = keptReports[sensor];
            if (flags.empty() || flags[seen[sensor]]) {
                recording_.reportOrder[kept++] = sensor;
            }
            ++seen[sensor];
        }
        recording_.reportOrder.resize(kept);
    }
}

// Leaves out the texts in the sensor's numeric fields, and the reports that
// are then empty; kept tells which reports stayed. True when any went.
bool RecordingBuilder::LeaveOutTexts(RecordedSensor& sensor, std::vector<bool>& kept)
{
    kept.assign(sensor.reports.size(), false);
    size_t keptValues = 0;
    size_t keptReports = 0;
    for (size_t index = 0; index < sensor.reports.size(); ++index) {
        RecordedReport report = sensor.reports[index];
        const size_t first = keptValues;
        for (uint32_t i = report.firstValue; i < report.firstValue + report.valueCount; ++i) {
            const RecordedValue& value = sensor.values[i];
            const bool text = std::isnan(value.number) && value.text != kEmptyText;
            if (!(text && sensor.fields[value.field].numeric)) {
                sensor.values[keptValues++] = value;
            }
        }
        if (keptValues > first) {
            report.firstValue = static_cast<uint32_t>(first);
            report.valueCount = static_cast<uint16_t>(keptValues - first);
            sensor.reports[keptReports++] = report;
            kept[index] = true;
        }
    }
    const bool dropped = keptReports < sensor.reports.size();
    sensor.values.resize(keptValues);
    sensor.reports.resize(keptReports);
    return dropped;
}

bool StartsWith(const char* p, const char* end, const char* prefix, size_t length)
{
    return static_cast<size_t>(end - p) >= length && memcmp(p, prefix, length) == 0;
}

// Skips the byte-order mark and the header row; null when the text does not
// start with them.
const char* SkipHeader(const char* p, const char* end)
{
    if (StartsWith(p, end, kByteOrderMark, 3)) {
        p += 3;
    }
    const size_t length = sizeof kHeader - 1;
    if (!StartsWith(p, end, kHeader, length)) {
        return nullptr;
    }
    p += length;
    if (p == end) {
        return p;
    }
    if (StartsWith(p, end, "\r\n", 2)) {
        return p + 2;
    }
    return *p == '\n' ? p + 1 : nullptr;
}

// Where the line after the one starting at p starts.
const char* NextLine(const char* p, const char* end)
{
    const void* found = memchr(p, '\n', static_cast<size_t>(end - p));
    return found ? static_cast<const char*>(found) + 1 : end;
}

RecordingRead ParseRows(const char* p, const char* end, RecordingBuilder& builder,
                        RecordingProgress progress, void* context, const char* start,
                        uint64_t total)
{
    uint64_t line = 2;
    const char* told = p;
    while (p < end) {
        ScannedRow row;
        ScanRow(p, end, row);
        const bool damaged = row.malformed || row.count != kColumns || !row.terminated;
        if (damaged && row.lineEnds) {
            // A stray quote would swallow the rows after it: only this
            // line is lost.
            builder.Damaged(line);
            p = NextLine(p, end);
            ++line;
        } else {
            if (damaged) {
                builder.Damaged(line);
            } else {
                builder.TakeRow(row, line);
            }
            p = row.next;
            line += 1 + row.lineEnds;
        }
        if (progress && static_cast<size_t>(p - told) >= kProgressStep) {
            told = p;
            if (!progress(static_cast<uint64_t>(p - start), total, context)) {
                return RecordingRead::Cancelled;
            }
        }
    }
    return RecordingRead::Read;
}

RecordingRead ParseFrom(const char* data, size_t size, Recording& recording,
                        RecordingProgress progress, void* context)
{
    const char* end = data + size;
    const char* rows = SkipHeader(data, end);
    if (!rows) {
        return RecordingRead::NotRecording;
    }
    if (size >= std::numeric_limits<uint32_t>::max()) {
        return RecordingRead::TooLarge;
    }
    try {
        Recording built;
        built.texts.assign(1, '\0'); // kEmptyText
        RecordingBuilder builder(built);
        const RecordingRead result = ParseRows(rows, end, builder, progress, context, data, size);
        if (result != RecordingRead::Read) {
            return result;
        }
        builder.Finish();
        built.texts.shrink_to_fit();
        recording = std::move(built);
        return RecordingRead::Read;
    } catch (const std::bad_alloc&) {
        return RecordingRead::OutOfMemory;
    } catch (const std::length_error&) {
        return RecordingRead::OutOfMemory;
    }
}

// A view of a whole file in memory: no copy of a large recording is made,
// and its pages are the file's, not the process's commit charge.
class MappedView
{
public:
    MappedView() = default;
    ~MappedView()
    {
        if (data_) {
            UnmapViewOfFile(data_);
        }
    }
    MappedView(const MappedView&) = delete;
    MappedView& operator=(const MappedView&) = delete;

    RecordingRead Map(const wchar_t* path)
    {
        // The recorder may still be writing the file.
        ScopedHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size;
        if (!file || !GetFileSizeEx(file.Get(), &size)) {
            return RecordingRead::Unreadable;
        }
        if (static_cast<uint64_t>(size.QuadPart) > kMaxRecordingFileBytes) {
            return RecordingRead::TooLarge;
        }
        size_ = static_cast<size_t>(size.QuadPart);
        if (!size_) {
            return RecordingRead::Read; // nothing to map
        }
        ScopedHandle mapping(CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        data_ = mapping ? MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, size_) : nullptr;
        return data_ ? RecordingRead::Read : RecordingRead::Unreadable;
    }
    const char* Data() const { return static_cast<const char*>(data_); }
    size_t Size() const { return size_; }

private:
    void* data_ = nullptr;
    size_t size_ = 0;
};

} // namespace

RecordingRead ParseRecording(const char* data, size_t size, Recording& recording,
                             RecordingProgress progress, void* context)
{
    return ParseFrom(data, size, recording, progress, context);
}

RecordingRead ReadRecordingFile(const wchar_t* path, Recording& recording,
                                RecordingProgress progress, void* context)
{
    MappedView view;
    const RecordingRead mapped = view.Map(path);
    if (mapped != RecordingRead::Read) {
        return mapped;
    }
    return ParseRecording(view.Data(), view.Size(), recording, progress, context);
}

int64_t ReportAxisMs(const RecordedReport& report)
{
    return report.utcOffsetMinutes == kNoUtcOffset
               ? report.localMs
               : report.localMs - int64_t{report.utcOffsetMinutes} * 60000;
}

std::string FormatReportTime(const RecordedReport& report)
{
    const int64_t dayMs = 86400000;
    int64_t days = report.localMs / dayMs;
    int64_t rest = report.localMs % dayMs;
    if (rest < 0) {
        rest += dayMs;
        --days;
    }
    int year = 0;
    unsigned month = 0;
    unsigned day = 0;
    CivilFromDays(days, year, month, day);
    char text[48];
    int length =
        snprintf(text, sizeof text, "%04d-%02u-%02u %02u:%02u:%02u.%03u", year, month, day,
                 static_cast<unsigned>(rest / 3600000), static_cast<unsigned>(rest / 60000 % 60),
                 static_cast<unsigned>(rest / 1000 % 60), static_cast<unsigned>(rest % 1000));
    if (report.utcOffsetMinutes != kNoUtcOffset) {
        const int offset = report.utcOffsetMinutes;
        const int magnitude = offset < 0 ? -offset : offset;
        length += snprintf(text + length, sizeof text - static_cast<size_t>(length), " %c%02d:%02d",
                           offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    }
    return std::string(text, static_cast<size_t>(length));
}

int ParseRecordTime(const char* text, size_t length, int64_t* localMs, int16_t* offsetMinutes)
{
    // 2026-12-08 09:11:50.123[ +01:00]
    if ((length != 23 && length != 30) || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':' || text[19] != '.') {
        return 0;
    }
    unsigned year, month, day, hour, minute, second, millisecond;
    if (!ReadDigits(text, 4, &year) || !ReadDigits(text + 5, 2, &month) ||
        !ReadDigits(text + 8, 2, &day) || !ReadDigits(text + 11, 2, &hour) ||
        !ReadDigits(text + 14, 2, &minute) || !ReadDigits(text + 17, 2, &second) ||
        !ReadDigits(text + 20, 3, &millisecond)) {
        return 0;
    }
    if (year < 1601 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour > 23 || minute > 59 || second > 59) {
        return 0;
    }
    int16_t offset = kNoUtcOffset;
    if (length == 30) {
        unsigned offsetHours, offsetMinutesPart;
        if (text[23] != ' ' || (text[24] != '+' && text[24] != '-') || text[27] != ':' ||
            !ReadDigits(text + 25, 2, &offsetHours) ||
            !ReadDigits(text + 28, 2, &offsetMinutesPart) || offsetHours > 14 ||
            offsetMinutesPart > 59) {
            return 0;
        }
        const int magnitude = static_cast<int>(offsetHours * 60 + offsetMinutesPart);
        offset = static_cast<int16_t>(text[24] == '-' ? -magnitude : magnitude);
    }
    *localMs = ((DaysFromCivil(year, month, day) * 24 + hour) * 60 + minute) * 60000 +
               int64_t{second} * 1000 + millisecond;
    *offsetMinutes = offset;
    return 1;
}

int ParseRecordNumber(const char* text, size_t length, double* number)
{
    if (!IsNumberForm(text, length)) {
        return 0;
    }
    // Up to 15 significant digits and a small power of ten give the
    // correctly rounded number in one operation; the rest goes to strtod.
    size_t i = 0;
    const bool negative = text[0] == '-';
    if (text[0] == '-' || text[0] == '+') {
        ++i;
    }
    uint64_t mantissa = 0;
    int digits = 0;
    int scale = 0;
    bool afterPoint = false;
    bool fast = true;
    for (; i < length && text[i] != 'e' && text[i] != 'E'; ++i) {
        if (text[i] == '.') {
            afterPoint = true;
            continue;
        }
        scale -= afterPoint ? 1 : 0;
        if (mantissa == 0 && text[i] == '0') {
            continue;
        }
        if (++digits > 15) {
            fast = false;
            break;
        }
        mantissa = mantissa * 10 + static_cast<unsigned>(text[i] - '0');
    }
    if (fast && i == length && scale >= -22) {
        const double magnitude = scale < 0 ? static_cast<double>(mantissa) / kPowersOfTen[-scale]
                                           : static_cast<double>(mantissa);
        *number = negative ? -magnitude : magnitude;
        return 1;
    }
    const std::string copy(text, length);
    *number = strtod(copy.c_str(), nullptr);
    return 1;
}

std::wstring WideFromUtf8(const char* text, size_t length)
{
    std::wstring wide;
    wide.reserve(length);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < length;) {
        const unsigned lead = bytes[i];
        if (lead < 0x80) {
            wide.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        unsigned count = lead >= 0xF0 && lead <= 0xF4 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : 0;
        if (lead >= 0xF5) {
            count = 0;
        }
        unsigned code = lead & (0x3F >> count);
        unsigned taken = 0;
        while (taken < count && i + 1 + taken < length && (bytes[i + 1 + taken] & 0xC0) == 0x80) {
            code = (code << 6) | (bytes[i + 1 + taken] & 0x3F);
            ++taken;
        }
        const bool overlong = (count == 2 && code < 0x800) || (count == 3 && code < 0x10000);
        if (!count || taken != count || overlong || code > 0x10FFFF ||
            (code >= 0xD800 && code <= 0xDFFF)) {
            wide.push_back(L'\xFFFD');
            i += 1 + taken;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            wide.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
            wide.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
        } else {
            wide.push_back(static_cast<wchar_t>(code));
        }
        i += 1 + count;
    }
    return wide;
}

std::wstring WideFromUtf8(const std::string& text)
{
    return WideFromUtf8(text.data(), text.size());
}

std::wstring DamageSummary(const Recording& recording)
{
    if (!recording.damagedRows) {
        return std::wstring();
    }
    const std::wstring line = std::to_wstring(recording.firstDamagedLine);
    if (recording.damagedRows == 1) {
        return L"1 damaged row was skipped (line " + line + L").";
    }
    return std::to_wstring(recording.damagedRows) +
           L" damaged rows were skipped (the first on line " + line + L").";
}

RecordedRate MeasureRecordedRate(const RecordedSensor& sensor)
{
    RecordedRate rate;
    if (sensor.reports.size() < 2) {
        return rate;
    }
    std::vector<int64_t> times;
    times.reserve(sensor.reports.size());
    for (const RecordedReport& report : sensor.reports) {
        times.push_back(ReportAxisMs(report));
    }
    std::sort(times.begin(), times.end());
    std::vector<int64_t> intervals(times.size() - 1);
    for (size_t i = 1; i < times.size(); ++i) {
        intervals[i - 1] = times[i] - times[i - 1];
        if (static_cast<double>(intervals[i - 1]) > rate.largestGapMs) {
            rate.largestGapMs = static_cast<double>(intervals[i - 1]);
            rate.largestGapAtMs = times[i - 1];
        }
    }
    const size_t middle = intervals.size() / 2;
    std::nth_element(intervals.begin(), intervals.begin() + middle, intervals.end());
    double median = static_cast<double>(intervals[middle]);
    if (intervals.size() % 2 == 0) {
        const int64_t below = *std::max_element(intervals.begin(), intervals.begin() + middle);
        median = (median + static_cast<double>(below)) / 2;
    }
    rate.medianIntervalMs = median;
    return rate;
}
