#include "SimScenario.h"
#include "SimNames.h"

#include <cwchar>
#include <cwctype>

namespace {

const int stateCount = 6; // SENSOR_STATE_READY .. SENSOR_STATE_ERROR

const wchar_t* const stateNames[stateCount] = {
    L"READY", L"NOT_AVAILABLE", L"NO_DATA", L"INITIALIZING", L"ACCESS_DENIED", L"ERROR",
};

struct NamedType
{
    const wchar_t* name;
    VARTYPE type;
};

const NamedType varTypes[] = {
    {L"VT_EMPTY", VT_EMPTY},   {L"VT_I1", VT_I1},
    {L"VT_I2", VT_I2},         {L"VT_I4", VT_I4},
    {L"VT_I8", VT_I8},         {L"VT_INT", VT_INT},
    {L"VT_UI1", VT_UI1},       {L"VT_UI2", VT_UI2},
    {L"VT_UI4", VT_UI4},       {L"VT_UI8", VT_UI8},
    {L"VT_UINT", VT_UINT},     {L"VT_R4", VT_R4},
    {L"VT_R8", VT_R8},         {L"VT_BOOL", VT_BOOL},
    {L"VT_DATE", VT_DATE},     {L"VT_ERROR", VT_ERROR},
    {L"VT_LPWSTR", VT_LPWSTR}, {L"VT_BSTR", VT_BSTR},
    {L"VT_CLSID", VT_CLSID},   {L"VT_FILETIME", VT_FILETIME},
};

int HexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

// Reads `digits` hex digits at text[at]; 0 if any is not one.
int ReadHex(const std::wstring& text, size_t at, int digits, unsigned long* value)
{
    unsigned long result = 0;
    for (int i = 0; i < digits; ++i) {
        int digit = at + i < text.size() ? HexDigit(text[at + i]) : -1;
        if (digit < 0) {
            return 0;
        }
        result = result * 16 + static_cast<unsigned long>(digit);
    }
    *value = result;
    return 1;
}

bool IsNumericType(VARTYPE type)
{
    switch (type) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_INT:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_UINT:
    case VT_R4:
    case VT_R8:
    case VT_DATE:
        return true;
    default:
        return false;
    }
}

int ParseBoolText(const std::wstring& text, double* number)
{
    if (text == L"true" || text == L"TRUE" || text == L"True") {
        *number = 1;
        return 1;
    }
    if (text == L"false" || text == L"FALSE" || text == L"False") {
        *number = 0;
        return 1;
    }
    return ParseNumberText(text, number);
}

// The optional generator after a numeric value: parts[2] onwards.
int ParseGenerator(const std::vector<std::wstring>& parts, FieldDefinition* field)
{
    if (parts.size() < 3 || parts[2] == L"constant") {
        field->generator = Generator::Constant;
        return parts.size() <= 3;
    }
    std::vector<double> numbers;
    for (size_t i = 3; i < parts.size(); ++i) {
        double number = 0;
        if (!ParseNumberText(parts[i], &number)) {
            return 0;
        }
        numbers.push_back(number);
    }
    const std::wstring& name = parts[2];
    if (name == L"sine" && numbers.size() == 2 && numbers[1] > 0) {
        field->generator = Generator::Sine;
        field->amplitude = numbers[0];
        field->periodMs = numbers[1];
        return 1;
    }
    if (name == L"ramp" && (numbers.size() == 1 || numbers.size() == 3)) {
        field->generator = Generator::Ramp;
        field->step = numbers[0];
        if (numbers.size() == 3) {
            field->minimum = numbers[1];
            field->maximum = numbers[2];
        }
        return 1;
    }
    if (name == L"walk" && numbers.size() == 3 && numbers[1] <= numbers[2]) {
        field->generator = Generator::Walk;
        field->step = numbers[0];
        field->minimum = numbers[1];
        field->maximum = numbers[2];
        return 1;
    }
    return 0;
}

int ParseByteList(const std::wstring& text, std::vector<BYTE>* bytes)
{
    std::vector<BYTE> result;
    for (const std::wstring& part : SplitList(text, L' ')) {
        if (part.empty()) {
            continue;
        }
        unsigned long long number = 0;
        if (!ParseUnsignedText(part, &number) || number > 255) {
            return 0;
        }
        result.push_back(static_cast<BYTE>(number));
    }
    bytes->swap(result);
    return 1;
}

// The text after the first comma of a value (strings may hold commas).
std::wstring RestAfterType(const std::wstring& text)
{
    size_t comma = text.find(L',');
    return comma == std::wstring::npos ? std::wstring() : Trim(text.substr(comma + 1));
}

int ParseTypedValue(const std::wstring& text, FieldDefinition* field)
{
    std::vector<std::wstring> parts = SplitList(text, L',');
    if (parts.empty() || !ParseVarType(parts[0], &field->type)) {
        return 0;
    }
    const std::wstring value = parts.size() > 1 ? parts[1] : std::wstring();
    switch (field->type) {
    case VT_EMPTY:
        return parts.size() == 1;
    case VT_LPWSTR:
    case VT_BSTR:
        field->text = RestAfterType(text);
        return 1;
    case VT_CLSID:
        return parts.size() == 2 && ParseGuidText(value, &field->guid);
    case VT_VECTOR | VT_UI1:
        return parts.size() == 2 && ParseByteList(value, &field->bytes);
    case VT_FILETIME:
        if (parts.size() != 2) {
            return 0;
        }
        if (value == L"now") {
            field->generator = Generator::Now;
            return 1;
        }
        return ParseTimeText(value, &field->time);
    case VT_ERROR: {
        unsigned long long code = 0;
        if (parts.size() != 2 || !ParseUnsignedText(value, &code) || code > 0xFFFFFFFFull) {
            return 0;
        }
        field->number = static_cast<double>(code);
        return 1;
    }
    case VT_BOOL:
        return parts.size() == 2 && ParseBoolText(value, &field->number);
    default:
        return IsNumericType(field->type) && parts.size() >= 2 &&
               ParseNumberText(value, &field->number) && ParseGenerator(parts, field);
    }
}

} // namespace

std::wstring Trim(const std::wstring& text)
{
    size_t first = 0;
    size_t last = text.size();
    while (first < last && iswspace(text[first])) {
        ++first;
    }
    while (last > first && iswspace(text[last - 1])) {
        --last;
    }
    return text.substr(first, last - first);
}

std::vector<std::wstring> SplitList(const std::wstring& text, wchar_t separator)
{
    std::vector<std::wstring> parts;
    if (Trim(text).empty()) {
        return parts;
    }
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.push_back(Trim(text.substr(start, end - start)));
        if (end == std::wstring::npos) {
            return parts;
        }
        start = end + 1;
    }
}

int ParseGuidText(const std::wstring& text, GUID* guid)
{
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (text.size() != 38 || text[0] != L'{' || text[37] != L'}' || text[9] != L'-' ||
        text[14] != L'-' || text[19] != L'-' || text[24] != L'-') {
        return 0;
    }
    unsigned long data1 = 0, data2 = 0, data3 = 0;
    if (!ReadHex(text, 1, 8, &data1) || !ReadHex(text, 10, 4, &data2) ||
        !ReadHex(text, 15, 4, &data3)) {
        return 0;
    }
    GUID result = {data1, static_cast<WORD>(data2), static_cast<WORD>(data3), {}};
    const size_t byteAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        unsigned long byte = 0;
        if (!ReadHex(text, byteAt[i], 2, &byte)) {
            return 0;
        }
        result.Data4[i] = static_cast<BYTE>(byte);
    }
    *guid = result;
    return 1;
}

int ParseNumberText(const std::wstring& text, double* number)
{
    if (text.empty()) {
        return 0;
    }
    wchar_t* end = nullptr;
    double result = wcstod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) {
        return 0;
    }
    *number = result;
    return 1;
}

int ParseUnsignedText(const std::wstring& text, unsigned long long* number)
{
    if (text.empty() || text[0] == L'-' || text[0] == L'+') {
        return 0;
    }
    wchar_t* end = nullptr;
    unsigned long long result = wcstoull(text.c_str(), &end, 0);
    if (end != text.c_str() + text.size()) {
        return 0;
    }
    *number = result;
    return 1;
}

namespace {

// A key by its name (looked up with lookup) or as "{GUID},pid".
int ParseKey(const std::wstring& text, int (*lookup)(const std::wstring&, PROPERTYKEY*),
             PROPERTYKEY* key)
{
    std::wstring trimmed = Trim(text);
    if (lookup(trimmed, key)) {
        return 1;
    }
    std::vector<std::wstring> parts = SplitList(trimmed, L',');
    GUID format = {};
    unsigned long long pid = 0;
    if (parts.size() != 2 || !ParseGuidText(parts[0], &format) ||
        !ParseUnsignedText(parts[1], &pid) || pid > 0xFFFFFFFFull) {
        return 0;
    }
    key->fmtid = format;
    key->pid = static_cast<DWORD>(pid);
    return 1;
}

} // namespace

int ParseFieldKey(const std::wstring& text, PROPERTYKEY* key)
{
    return ParseKey(text, LookupDataKey, key);
}

int ParsePropertyKey(const std::wstring& text, PROPERTYKEY* key)
{
    return ParseKey(text, LookupPropertyKey, key);
}

int ParseAccessAnswer(const std::wstring& text, bool* grant)
{
    const std::wstring answer = Trim(text);
    if (answer != L"grant" && answer != L"deny") {
        return 0;
    }
    *grant = answer == L"grant";
    return 1;
}

int ParseIntervalAnswer(const std::wstring& text, bool* accept)
{
    const std::wstring answer = Trim(text);
    if (answer != L"accept" && answer != L"refuse") {
        return 0;
    }
    *accept = answer == L"accept";
    return 1;
}

int ParseFieldValue(const std::wstring& text, FieldDefinition* field)
{
    FieldDefinition parsed;
    parsed.key = field->key;
    if (!ParseTypedValue(Trim(text), &parsed)) {
        return 0;
    }
    *field = parsed;
    return 1;
}

int ParseSensorState(const std::wstring& text, int* state)
{
    std::wstring name = Trim(text);
    const std::wstring prefix = L"SENSOR_STATE_";
    if (name.compare(0, prefix.size(), prefix) == 0) {
        name = name.substr(prefix.size());
    }
    for (int i = 0; i < stateCount; ++i) {
        if (name == stateNames[i]) {
            *state = i;
            return 1;
        }
    }
    unsigned long long number = 0;
    if (!ParseUnsignedText(name, &number) || number >= stateCount) {
        return 0;
    }
    *state = static_cast<int>(number);
    return 1;
}

int ParseVarType(const std::wstring& text, VARTYPE* type)
{
    std::vector<std::wstring> parts = SplitList(text, L'|');
    VARTYPE result = 0;
    for (const std::wstring& part : parts) {
        if (part == L"VT_VECTOR") {
            result |= VT_VECTOR;
            continue;
        }
        bool known = false;
        for (const NamedType& entry : varTypes) {
            if (part == entry.name) {
                result |= entry.type;
                known = true;
            }
        }
        if (!known) {
            return 0;
        }
    }
    // Of the vectors only byte vectors are offered.
    if (parts.empty() || ((result & VT_VECTOR) && result != (VT_VECTOR | VT_UI1))) {
        return 0;
    }
    *type = result;
    return 1;
}

int ParseCategory(const std::wstring& text, GUID* category)
{
    std::wstring name = Trim(text);
    return LookupCategory(name, category) || ParseGuidText(name, category);
}

int ParseSensorType(const std::wstring& text, GUID* type)
{
    std::wstring name = Trim(text);
    return LookupSensorType(name, type) || ParseGuidText(name, type);
}

int ParseEventId(const std::wstring& text, GUID* eventId)
{
    std::wstring name = Trim(text);
    return LookupEventId(name, eventId) || ParseGuidText(name, eventId);
}

int ParseTimelineAction(const std::wstring& text, TimelineAction* action)
{
    std::vector<std::wstring> parts = SplitList(text, L',');
    unsigned long long at = 0;
    if (parts.size() < 2 || !ParseUnsignedText(parts[0], &at) || at > 0xFFFFFFFFull) {
        return 0;
    }
    TimelineAction result;
    result.atMs = static_cast<unsigned>(at);
    const std::wstring& kind = parts[1];
    size_t argumentCount = parts.size() - 2;
    bool valid = false;
    if (kind == L"data" || kind == L"leave" || kind == L"enter" || kind == L"recover") {
        result.kind = kind == L"data"    ? ActionKind::Data
                      : kind == L"leave" ? ActionKind::Leave
                      : kind == L"enter" ? ActionKind::Enter
                                         : ActionKind::Recover;
        valid = argumentCount == 0;
    } else if (kind == L"event") {
        result.kind = ActionKind::Event;
        valid = argumentCount == 1 && ParseEventId(parts[2], &result.eventId);
    } else if (kind == L"state") {
        result.kind = ActionKind::State;
        valid = argumentCount == 1 && ParseSensorState(parts[2], &result.state);
    } else if (kind == L"fail") {
        result.kind = ActionKind::Fail;
        unsigned long long hr = static_cast<unsigned long>(E_FAIL);
        valid = argumentCount == 0 || (argumentCount == 1 && ParseUnsignedText(parts[2], &hr) &&
                                       hr <= 0xFFFFFFFFull && FAILED(static_cast<HRESULT>(hr)));
        result.hr = static_cast<HRESULT>(hr);
    }
    if (!valid) {
        return 0;
    }
    *action = result;
    return 1;
}

int ParseTimeText(const std::wstring& text, FILETIME* time)
{
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    wchar_t separator = 0;
    wchar_t rest = 0;
    if (swscanf(text.c_str(), L"%4u-%2u-%2u%lc%2u:%2u:%2u%lc", &year, &month, &day, &separator,
                &hour, &minute, &second, &rest) != 7 ||
        separator != L'T') {
        return 0;
    }
    SYSTEMTIME system = {};
    system.wYear = static_cast<WORD>(year);
    system.wMonth = static_cast<WORD>(month);
    system.wDay = static_cast<WORD>(day);
    system.wHour = static_cast<WORD>(hour);
    system.wMinute = static_cast<WORD>(minute);
    system.wSecond = static_cast<WORD>(second);
    return SystemTimeToFileTime(&system, time) ? 1 : 0;
}
