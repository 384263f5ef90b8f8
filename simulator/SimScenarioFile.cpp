// Reading a scenario from its INI file.
#include "SimScenario.h"

namespace {

// Marks a key that is absent (an empty value is a value).
const wchar_t* const missing = L"\x01";

class IniFile
{
public:
    explicit IniFile(const std::wstring& path) : path_(path) {}

    // The value of a key, or `missing` when there is none.
    std::wstring Value(const std::wstring& section, const wchar_t* key) const
    {
        return Read(section.c_str(), key, missing);
    }

    bool Has(const std::wstring& section, const wchar_t* key) const
    {
        return Value(section, key) != missing;
    }

    // The keys of a section in file order.
    std::vector<std::wstring> Keys(const std::wstring& section) const
    {
        std::wstring list = Read(section.c_str(), nullptr, L"");
        std::vector<std::wstring> keys;
        for (size_t at = 0; at < list.size();) {
            size_t end = list.find(L'\0', at);
            if (end == std::wstring::npos) {
                end = list.size();
            }
            if (end > at) {
                keys.push_back(list.substr(at, end - at));
            }
            at = end + 1;
        }
        return keys;
    }

private:
    // Grows the buffer until the answer fits; key lists come back as
    // null-separated names.
    std::wstring Read(const wchar_t* section, const wchar_t* key, const wchar_t* fallback) const
    {
        for (DWORD size = 512; size <= (1u << 24); size *= 4) {
            std::wstring buffer(size, L'\0');
            DWORD length =
                GetPrivateProfileStringW(section, key, fallback, &buffer[0], size, path_.c_str());
            DWORD truncated = key ? size - 1 : size - 2;
            if (length < truncated) {
                buffer.resize(length);
                return buffer;
            }
        }
        return std::wstring();
    }

    std::wstring path_;
};

int ReadUnsigned(const IniFile& file, const std::wstring& section, const wchar_t* key,
                 unsigned* value)
{
    std::wstring text = file.Value(section, key);
    if (text == missing) {
        return 1;
    }
    unsigned long long number = 0;
    if (!ParseUnsignedText(Trim(text), &number) || number > 0xFFFFFFFFull) {
        return 0;
    }
    *value = static_cast<unsigned>(number);
    return 1;
}

void ReadOptionalText(const IniFile& file, const std::wstring& section, const wchar_t* key,
                      std::wstring* text)
{
    std::wstring value = file.Value(section, key);
    if (value != missing) {
        *text = value;
    }
}

int ReadIdentity(const IniFile& file, const std::wstring& section, SensorDefinition* sensor)
{
    if (!ParseGuidText(Trim(file.Value(section, L"Id")), &sensor->id) ||
        !ParseCategory(file.Value(section, L"Category"), &sensor->category) ||
        !ParseSensorType(file.Value(section, L"Type"), &sensor->type)) {
        return 0;
    }
    sensor->hasName = file.Has(section, L"Name");
    if (sensor->hasName) {
        sensor->name = file.Value(section, L"Name");
    }
    ReadOptionalText(file, section, L"Manufacturer", &sensor->manufacturer);
    ReadOptionalText(file, section, L"Model", &sensor->model);
    ReadOptionalText(file, section, L"SerialNumber", &sensor->serialNumber);
    ReadOptionalText(file, section, L"Description", &sensor->description);
    if (file.Has(section, L"AccessRequest") &&
        !ParseAccessAnswer(file.Value(section, L"AccessRequest"), &sensor->grantAccess)) {
        return 0;
    }
    return !file.Has(section, L"State") ||
           ParseSensorState(file.Value(section, L"State"), &sensor->state);
}

int ReadSchedule(const IniFile& file, const std::wstring& section, SensorDefinition* sensor)
{
    unsigned leaveAfter = 0;
    if (!ReadUnsigned(file, section, L"Interval", &sensor->intervalMs) ||
        !ReadUnsigned(file, section, L"ArriveAfter", &sensor->arriveAfterMs) ||
        !ReadUnsigned(file, section, L"LeaveAfter", &leaveAfter)) {
        return 0;
    }
    if (file.Has(section, L"IntervalChange") &&
        !ParseIntervalAnswer(file.Value(section, L"IntervalChange"), &sensor->acceptsInterval)) {
        return 0;
    }
    if (file.Has(section, L"DataFailure")) {
        unsigned long long hr = 0;
        if (!ParseUnsignedText(Trim(file.Value(section, L"DataFailure")), &hr) ||
            hr > 0xFFFFFFFFull) {
            return 0;
        }
        sensor->dataFailure = static_cast<HRESULT>(hr);
    }
    for (const std::wstring& key : file.Keys(section + L".Timeline")) {
        TimelineAction action;
        if (!ParseTimelineAction(file.Value(section + L".Timeline", key.c_str()), &action)) {
            return 0;
        }
        sensor->actions.push_back(action);
    }
    if (leaveAfter) {
        TimelineAction leave;
        leave.atMs = leaveAfter;
        leave.kind = ActionKind::Leave;
        sensor->actions.push_back(leave);
    }
    return 1;
}

int ReadFields(const IniFile& file, const std::wstring& section, SensorDefinition* sensor)
{
    const std::wstring dataSection = section + L".Data";
    for (const std::wstring& key : file.Keys(dataSection)) {
        FieldDefinition field;
        if (!ParseFieldKey(key, &field.key) ||
            !ParseFieldValue(file.Value(dataSection, key.c_str()), &field)) {
            return 0;
        }
        sensor->fields.push_back(field);
    }
    const std::wstring propertySection = section + L".Properties";
    for (const std::wstring& key : file.Keys(propertySection)) {
        FieldDefinition property;
        if (!ParsePropertyKey(key, &property.key) ||
            !ParseFieldValue(file.Value(propertySection, key.c_str()), &property) ||
            property.generator != Generator::Constant) {
            return 0;
        }
        sensor->properties.push_back(property);
    }
    return 1;
}

} // namespace

int ReadScenarioFile(const std::wstring& path, ScenarioDefinition* scenario)
{
    // A relative name would be looked up in the Windows folder.
    wchar_t fullPath[MAX_PATH * 2];
    DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 2, fullPath, nullptr);
    if (!length || length >= MAX_PATH * 2) {
        return 0;
    }
    DWORD attributes = GetFileAttributesW(fullPath);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return 0;
    }
    IniFile file(fullPath);
    ScenarioDefinition result;
    unsigned timeline = 1;
    if (!ReadUnsigned(file, L"Simulator", L"Timeline", &timeline)) {
        return 0;
    }
    result.timeline = timeline != 0;
    for (const std::wstring& section : SplitList(file.Value(L"Simulator", L"Sensors"), L',')) {
        if (section.empty() || section == missing) {
            continue;
        }
        SensorDefinition sensor;
        sensor.section = section;
        if (!ReadIdentity(file, section, &sensor) || !ReadSchedule(file, section, &sensor) ||
            !ReadFields(file, section, &sensor)) {
            return 0;
        }
        result.sensors.push_back(sensor);
    }
    *scenario = result;
    return 1;
}
