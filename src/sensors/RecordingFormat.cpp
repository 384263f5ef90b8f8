#include "sensors/RecordingFormat.h"

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

int AppendCsvField(WideString& row, const wchar_t* text)
{
    if (!text)
        text = L"";
    const bool formula = LooksLikeFormula(text);
    if (!formula && !NeedsQuotes(text))
        return row.Append(text);
    int ok = row.Append(L'"');
    if (formula)
        ok &= row.Append(L'\'');
    for (; *text && ok; ++text) {
        if (*text == L'"')
            ok &= row.Append(L'"');
        ok &= row.Append(*text);
    }
    return ok & row.Append(L'"');
}

int FormatRecordTime(const SYSTEMTIME& time, WideString& text)
{
    return Format(text, L"%04u-%02u-%02u %02u:%02u:%02u.%03u", time.wYear, time.wMonth, time.wDay,
                  time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
}

int FormatReportColumns(const SYSTEMTIME& time, const wchar_t* sensorName, const wchar_t* sensorId,
                        WideString& columns)
{
    WideString built;
    if (!FormatRecordTime(time, built) || !built.Append(L',') ||
        !AppendCsvField(built, sensorName) || !built.Append(L',') ||
        !AppendCsvField(built, sensorId) || !built.Append(L',')) {
        return 0;
    }
    return columns.Assign(built);
}

int AppendRecordRow(WideString& rows, const WideString& reportColumns, const wchar_t* fieldName,
                    const wchar_t* valueText)
{
    return rows.Append(reportColumns) && AppendCsvField(rows, fieldName) && rows.Append(L',') &&
           AppendCsvField(rows, valueText) && rows.Append(L"\r\n");
}

int AppendUtf8(const wchar_t* text, unsigned length, std::string& bytes)
{
    if (!length)
        return 1;
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                           nullptr, nullptr);
    if (needed <= 0)
        return 0;
    const size_t start = bytes.size();
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
