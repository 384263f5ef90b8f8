#include "sensors/RecordingFormat.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>

const char kRecordingStart[] = "\xEF\xBB\xBF"
                               "Time,Sensor,Sensor ID,Field,Value\r\n";

namespace {

bool NeedsQuotes(const wchar_t* text)
{
    for (; *text; ++text) {
        if (*text == L',' || *text == L'"' || *text == L'\r' || *text == L'\n') {
            return true;
        }
    }
    return false;
}

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

// Skips a run of digits; answers how many there were.
unsigned SkipDigits(const wchar_t*& text)
{
    unsigned count = 0;
    for (; IsDigit(*text); ++text) {
        ++count;
    }
    return count;
}

bool LooksLikeFormula(const wchar_t* text)
{
    switch (text[0]) {
    case L'=':
    case L'+':
    case L'-':
    case L'@':
    case L'\t':
    case L'\r':
        return !IsPlainNumber(text);
    default:
        return false;
    }
}

} // namespace

bool IsPlainNumber(const wchar_t* text)
{
    if (*text == L'+' || *text == L'-') {
        ++text;
    }
    unsigned digits = SkipDigits(text);
    if (*text == L'.') {
        ++text;
        digits += SkipDigits(text);
    }
    if (!digits) {
        return false;
    }
    if (*text == L'e' || *text == L'E') {
        ++text;
        if (*text == L'+' || *text == L'-') {
            ++text;
        }
        if (!SkipDigits(text)) {
            return false;
        }
    }
    return *text == L'\0';
}

int AppendBytes(std::string& text, const char* bytes, size_t count)
{
    try {
        text.append(bytes, count);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
}

int AppendBytes(std::string& text, const char* bytes)
{
    return AppendBytes(text, bytes, strlen(bytes));
}

int AppendCsvField(std::string& row, const wchar_t* text)
{
    if (!text) {
        text = L"";
    }
    const bool formula = LooksLikeFormula(text);
    if (!formula && !NeedsQuotes(text)) {
        return AppendUtf8(text, static_cast<unsigned>(wcslen(text)), row);
    }
    if (!AppendBytes(row, formula ? "\"'" : "\"")) {
        return 0;
    }
    // Each quote ends a piece and is written twice.
    for (const wchar_t* quote; (quote = wcschr(text, L'"')) != nullptr; text = quote + 1) {
        if (!AppendUtf8(text, static_cast<unsigned>(quote - text), row) ||
            !AppendBytes(row, "\"\"")) {
            return 0;
        }
    }
    return AppendUtf8(text, static_cast<unsigned>(wcslen(text)), row) && AppendBytes(row, "\"");
}

int AppendCsvFields(std::string& row, std::initializer_list<const wchar_t*> fields, const char* end)
{
    size_t left = fields.size();
    for (const wchar_t* field : fields) {
        if (!AppendCsvField(row, field) || !AppendBytes(row, --left ? "," : end)) {
            return 0;
        }
    }
    return 1;
}

int ToRecordTime(const SYSTEMTIME& utc, int offsetMinutes, RecordTime& time)
{
    // File times count 100-nanosecond steps.
    constexpr LONGLONG kStepsPerMinute = 600000000;
    FILETIME file;
    if (!SystemTimeToFileTime(&utc, &file)) {
        return 0;
    }
    ULARGE_INTEGER steps;
    steps.LowPart = file.dwLowDateTime;
    steps.HighPart = file.dwHighDateTime;
    steps.QuadPart += static_cast<ULONGLONG>(offsetMinutes * kStepsPerMinute);
    file.dwLowDateTime = steps.LowPart;
    file.dwHighDateTime = steps.HighPart;
    SYSTEMTIME local;
    if (!FileTimeToSystemTime(&file, &local)) {
        return 0;
    }
    time.local = local;
    time.offsetMinutes = offsetMinutes;
    return 1;
}

int AppendRecordTime(std::string& text, const RecordTime& time)
{
    const SYSTEMTIME& local = time.local;
    const unsigned offset =
        static_cast<unsigned>(time.offsetMinutes < 0 ? -time.offsetMinutes : time.offsetMinutes);
    char formatted[48];
    const int length =
        snprintf(formatted, sizeof formatted, "%04u-%02u-%02u %02u:%02u:%02u.%03u %c%02u:%02u",
                 local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                 local.wMilliseconds, time.offsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return length > 0 && static_cast<size_t>(length) < sizeof formatted &&
           AppendBytes(text, formatted, static_cast<size_t>(length));
}

int FormatReportColumns(const RecordTime& time, const wchar_t* sensorName, const wchar_t* sensorId,
                        std::string& columns)
{
    std::string built;
    if (!AppendRecordTime(built, time) || !AppendBytes(built, ",") ||
        !AppendCsvFields(built, {sensorName, sensorId}, ",")) {
        return 0;
    }
    columns.swap(built);
    return 1;
}

int AppendRecordRow(std::string& rows, const std::string& reportColumns, const wchar_t* fieldName,
                    const wchar_t* valueText)
{
    return AppendBytes(rows, reportColumns.data(), reportColumns.size()) &&
           AppendCsvFields(rows, {fieldName, valueText}, "\r\n");
}

namespace {

// ASCII, by far the most of what sensors report, is copied as it is; the
// system's conversion costs two calls per piece.
bool IsAscii(const wchar_t* text, unsigned length)
{
    for (unsigned i = 0; i < length; ++i) {
        if (text[i] >= 0x80) {
            return false;
        }
    }
    return true;
}

} // namespace

int AppendUtf8(const wchar_t* text, unsigned length, std::string& bytes)
{
    if (!length) {
        return 1;
    }
    const size_t start = bytes.size();
    if (IsAscii(text, length)) {
        try {
            bytes.resize(start + length);
        } catch (const std::bad_alloc&) {
            return 0;
        }
        for (unsigned i = 0; i < length; ++i) {
            bytes[start + i] = static_cast<char>(text[i]);
        }
        return 1;
    }
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                           nullptr, nullptr);
    if (needed <= 0) {
        return 0;
    }
    try {
        bytes.resize(start + static_cast<size_t>(needed));
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &bytes[start], needed,
                            nullptr, nullptr) != needed) {
        bytes.resize(start);
        return 0;
    }
    return 1;
}

int DefaultRecordingName(const SYSTEMTIME& time, WideString& name)
{
    return Format(name, L"Tessel %04u-%02u-%02u %02u-%02u-%02u.csv", time.wYear, time.wMonth,
                  time.wDay, time.wHour, time.wMinute, time.wSecond);
}
