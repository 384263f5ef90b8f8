#include "SimReplay.h"
#include "SimNames.h"

#include <climits>
#include <cwchar>

namespace {

// The format of the keys given to recorded fields whose name is no known
// data type; the property id is the field's place plus 2.
const GUID kReplayFieldFormat = {
    0x5EC0AD1A, 0x7E91, 0x4C2B, {0x9F, 0x3D, 0x1A, 0x6E, 0x52, 0x08, 0xC4, 0x77}};
// Recorded sensors without a readable id get this one, the last byte
// counting them.
const GUID kReplaySensorBase = {
    0x5EC0AD1B, 0x2D40, 0x4E7A, {0x8B, 0x16, 0x3C, 0x95, 0x70, 0xE2, 0x00, 0x00}};

bool IsAbsolutePath(const std::wstring& path)
{
    return (path.size() >= 2 && path[1] == L':') ||
           (!path.empty() && (path[0] == L'\\' || path[0] == L'/'));
}

// The data-type key the program names as recorded: a known constant's name
// with spaces for underscores, or "{GUID}.pid".
PROPERTYKEY ReplayKey(const std::wstring& name, size_t index)
{
    PROPERTYKEY key = {};
    std::wstring constant = name;
    for (wchar_t& c : constant) {
        c = c == L' ' ? L'_' : c;
    }
    if (!constant.empty() && (LookupDataKey(constant, &key) ||
                              LookupDataKey(L"SAMPLE_SENSOR_DATA_TYPE_" + constant, &key))) {
        return key;
    }
    unsigned long long pid = 0;
    if (name.size() > 39 && name[38] == L'.' && ParseGuidText(name.substr(0, 38), &key.fmtid) &&
        ParseUnsignedText(name.substr(39), &pid) && pid <= 0xFFFFFFFFull) {
        key.pid = static_cast<DWORD>(pid);
        return key;
    }
    key.fmtid = kReplayFieldFormat;
    key.pid = static_cast<DWORD>(index + 2);
    return key;
}

bool IsDigitText(const std::wstring& text, size_t from, size_t to)
{
    if (from >= to) {
        return false;
    }
    for (size_t i = from; i < to; ++i) {
        if (text[i] < L'0' || text[i] > L'9') {
            return false;
        }
    }
    return true;
}

// "-122.332100": what a real number's text is, six decimals.
bool IsSixDecimals(const std::wstring& text)
{
    const size_t start = !text.empty() && text[0] == L'-' ? 1 : 0;
    const size_t point = text.find(L'.');
    return point != std::wstring::npos && point + 7 == text.size() &&
           IsDigitText(text, start, point) && IsDigitText(text, point + 1, text.size());
}

// "-5", "11": an integer as an integer's text is, without leading zeros.
bool IsInt32Text(const std::wstring& text, long* value)
{
    const size_t start = !text.empty() && text[0] == L'-' ? 1 : 0;
    if (!IsDigitText(text, start, text.size()) || text.size() - start > 10 ||
        (text[start] == L'0' && text.size() - start > 1)) {
        return false;
    }
    const long long number = wcstoll(text.c_str(), nullptr, 10);
    if (number < INT_MIN || number > INT_MAX || (number == 0 && start)) {
        return false;
    }
    *value = static_cast<long>(number);
    return true;
}

int HexValue(wchar_t c)
{
    return c >= L'0' && c <= L'9' ? c - L'0' : c >= L'A' && c <= L'F' ? c - L'A' + 10 : -1;
}

// "01 04 07": bytes as the program shows a byte vector.
bool IsHexBytes(const std::wstring& text, std::vector<BYTE>* bytes)
{
    if (text.size() % 3 != 2) {
        return false;
    }
    std::vector<BYTE> parsed;
    for (size_t i = 0; i < text.size(); i += 3) {
        const int high = HexValue(text[i]);
        const int low = HexValue(text[i + 1]);
        if (high < 0 || low < 0 || (i + 2 < text.size() && text[i + 2] != L' ')) {
            return false;
        }
        parsed.push_back(static_cast<BYTE>(high * 16 + low));
    }
    bytes->swap(parsed);
    return true;
}

// A constant field whose value the program shows as text.
FieldDefinition ReplayValue(const PROPERTYKEY& key, const std::wstring& text, bool numeric)
{
    FieldDefinition field;
    field.key = key;
    long integer = 0;
    if (numeric && IsSixDecimals(text)) {
        field.type = VT_R8;
        field.number = wcstod(text.c_str(), nullptr);
    } else if (numeric && IsInt32Text(text, &integer)) {
        field.type = VT_I4;
        field.number = integer;
    } else if (!numeric && (text == L"True" || text == L"False")) {
        field.type = VT_BOOL;
        field.number = text == L"True" ? 1 : 0;
    } else if (!numeric && IsHexBytes(text, &field.bytes)) {
        field.type = VT_VECTOR | VT_UI1;
    } else {
        field.type = VT_LPWSTR;
        field.text = text;
    }
    return field;
}

// Fills the plan's steps: every report in the file's order, timed from the
// first one.
void PlanSteps(ReplayPlan& plan, double speed)
{
    const Recording& recording = plan.recording;
    std::vector<uint32_t> taken(recording.sensors.size());
    int64_t firstMs = 0;
    for (const uint16_t sensor : recording.reportOrder) {
        const RecordedReport& report = recording.sensors[sensor].reports[taken[sensor]];
        const int64_t at = ReportAxisMs(report);
        if (plan.steps.empty()) {
            firstMs = at;
        }
        ReplayStep step;
        step.sensor = sensor;
        step.report = taken[sensor]++;
        // A clock set back makes a report due at once.
        step.atMs = at > firstMs
                        ? static_cast<unsigned long long>(static_cast<double>(at - firstMs) / speed)
                        : 0;
        plan.steps.push_back(step);
    }
    if (!plan.steps.empty()) {
        const unsigned long long last = plan.steps.back().atMs;
        const unsigned long long spacing = last / plan.steps.size();
        plan.periodMs = last + (spacing ? spacing : 1);
    }
}

} // namespace

std::vector<FieldDefinition> ReplayFields(const ReplayPlan& plan, size_t sensor, size_t report)
{
    const RecordedSensor& recorded = plan.recording.sensors[sensor];
    const RecordedReport& values = recorded.reports[report];
    std::vector<FieldDefinition> fields;
    for (uint32_t i = values.firstValue; i < values.firstValue + values.valueCount; ++i) {
        const RecordedValue& value = recorded.values[i];
        fields.push_back(ReplayValue(plan.sensors[sensor].keys[value.field],
                                     WideFromUtf8(ValueText(plan.recording, value)),
                                     recorded.fields[value.field].numeric));
    }
    return fields;
}

int ReadReplay(const std::wstring& path, const std::wstring& scenarioFolder, bool loop,
               double speed, ScenarioDefinition* scenario)
{
    if (!(speed > 0) || speed > 1000 || path.empty()) {
        return 0;
    }
    const std::wstring fullPath = IsAbsolutePath(path) ? path : scenarioFolder + path;
    auto plan = std::make_shared<ReplayPlan>();
    if (ReadRecordingFile(fullPath.c_str(), plan->recording, nullptr, nullptr) !=
        RecordingRead::Read) {
        return 0;
    }
    plan->loop = loop;
    std::vector<SensorDefinition> sensors;
    for (size_t index = 0; index < plan->recording.sensors.size(); ++index) {
        const RecordedSensor& recorded = plan->recording.sensors[index];
        SensorDefinition sensor;
        sensor.section = L"Replay." + std::to_wstring(index + 1);
        if (!ParseGuidText(WideFromUtf8(recorded.id), &sensor.id)) {
            sensor.id = kReplaySensorBase;
            sensor.id.Data4[6] = static_cast<BYTE>(index >> 8);
            sensor.id.Data4[7] = static_cast<BYTE>(index);
        }
        ParseCategory(L"OTHER", &sensor.category);
        ParseSensorType(L"CUSTOM", &sensor.type);
        sensor.hasName = true;
        sensor.name = WideFromUtf8(recorded.name);
        ReplaySensor replayed;
        replayed.id = sensor.id;
        for (size_t field = 0; field < recorded.fields.size(); ++field) {
            replayed.keys.push_back(ReplayKey(WideFromUtf8(recorded.fields[field].name), field));
        }
        plan->sensors.push_back(replayed);
        sensors.push_back(sensor);
    }
    // Until its first report, a sensor reads as it will then.
    for (size_t index = 0; index < sensors.size(); ++index) {
        if (!plan->recording.sensors[index].reports.empty()) {
            sensors[index].fields = ReplayFields(*plan, index, 0);
        }
    }
    PlanSteps(*plan, speed);
    scenario->sensors.insert(scenario->sensors.end(), sensors.begin(), sensors.end());
    scenario->replay = plan;
    return 1;
}

unsigned long long TakeDueReplaySteps(ReplayCursor& cursor, unsigned long long nowMs,
                                      size_t sensorsWithSinks, std::vector<ReplayStep>* due)
{
    const ReplayPlan* plan = cursor.plan.get();
    if (!plan || plan->steps.empty()) {
        return ULLONG_MAX;
    }
    if (!cursor.started) {
        if (sensorsWithSinks && !cursor.sinkSeen) {
            cursor.sinkSeen = true;
            cursor.firstSinkMs = nowMs;
        }
        if (!cursor.sinkSeen || (sensorsWithSinks < plan->sensors.size() &&
                                 nowMs - cursor.firstSinkMs < kReplayWaitForSinksMs)) {
            return 10;
        }
        cursor.started = true;
        cursor.startMs = nowMs;
        cursor.next = 0;
    }
    // A pass delivers a bounded number; the next one goes on at once.
    for (size_t taken = 0; taken < 10000; ++taken) {
        if (cursor.next == plan->steps.size()) {
            if (!plan->loop) {
                return ULLONG_MAX;
            }
            cursor.startMs += plan->periodMs;
            cursor.next = 0;
        }
        const ReplayStep& step = plan->steps[cursor.next];
        const unsigned long long dueMs = cursor.startMs + step.atMs;
        if (dueMs > nowMs) {
            return dueMs - nowMs;
        }
        due->push_back(step);
        ++cursor.next;
    }
    return 0;
}
