#include "sensors/RecordingFormat.h"

#include <cstdio>
#include <cwchar>
#include <new>

const char kRecordingStart[] = "\xEF\xBB\xBF"
                               "Time,Sensor,Sensor ID,Field,Value\r\n";

namespace {

bool NeedsQuotes(const wchar_t* text)
{
    for (; *text; ++text) {
        if (*text == L',' || *text == L'"' || *text == L'\r' || *text == L'\n')
            return true;
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
    for (; IsDigit(*text); ++text)
        ++count;
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
    if (*text == L'+' || *text == L'-')
        ++text;
    unsigned digits = SkipDigits(text);
    if (*text == L'.') {
        ++text;
        digits += SkipDigits(text);
    }
    if (!digits)
        return false;
    if (*text == L'e' || *text == L'E') {
        ++text;
        if (*text == L'+' || *text == L'-')
            ++text;
        if (!SkipDigits(text))
            return false;
    }
    return *text == L'\0';
}

int AppendCsvField(std::string& row, const wchar_t* text)
{
    if (!text)
        text = L"";
    const bool formula = LooksLikeFormula(text);
    if (!formula && !NeedsQuotes(text))
        return AppendUtf8(text, static_cast<unsigned>(wcslen(text)), row);
    try {
        row += formula ? "\"'" : "\"";
        // Each quote closes a piece and is written twice.
        for (const wchar_t* quote; (quote = wcschr(text, L'"')) != nullptr; text = quote + 1) {
            if (!AppendUtf8(text, static_cast<unsigned>(quote - text), row))
                return 0;
            row += "\"\"";
        }
        if (!AppendUtf8(text, static_cast<unsigned>(wcslen(text)), row))
            return 0;
        row += '"';
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
}

int AppendRecordTime(std::string& text, const SYSTEMTIME& time)
{
    char formatted[40];
    const int length = snprintf(formatted, sizeof formatted, "%04u-%02u-%02u %02u:%02u:%02u.%03u",
                                time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
                                time.wSecond, time.wMilliseconds);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof formatted)
        return 0;
    try {
        text.append(formatted, static_cast<size_t>(length));
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
}

int FormatReportColumns(const SYSTEMTIME& time, const wchar_t* sensorName, const wchar_t* sensorId,
                        std::string& columns)
{
    std::string built;
    try {
        if (!AppendRecordTime(built, time))
            return 0;
        built += ',';
        if (!AppendCsvField(built, sensorName))
            return 0;
        built += ',';
        if (!AppendCsvField(built, sensorId))
            return 0;
        built += ',';
    } catch (const std::bad_alloc&) {
        return 0;
    }
    columns.swap(built);
    return 1;
}

int AppendRecordRow(std::string& rows, const std::string& reportColumns, const wchar_t* fieldName,
                    const wchar_t* valueText)
{
    try {
        rows += reportColumns;
        if (!AppendCsvField(rows, fieldName))
            return 0;
        rows += ',';
        if (!AppendCsvField(rows, valueText))
            return 0;
        rows += "\r\n";
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
}

namespace {

// ASCII, by far the most of what sensors report, is copied as it is; the
// system's conversion costs two calls per piece.
bool IsAscii(const wchar_t* text, unsigned length)
{
    for (unsigned i = 0; i < length; ++i) {
        if (text[i] >= 0x80)
            return false;
    }
    return true;
}

} // namespace

int AppendUtf8(const wchar_t* text, unsigned length, std::string& bytes)
{
    if (!length)
        return 1;
    const size_t start = bytes.size();
    if (IsAscii(text, length)) {
        try {
            bytes.append(text, text + length);
        } catch (const std::bad_alloc&) {
            return 0;
        }
        return 1;
    }
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                           nullptr, nullptr);
    if (needed <= 0)
        return 0;
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
