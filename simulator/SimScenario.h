#pragma once

#include <windows.h>
#include <wtypes.h>

#include <string>
#include <vector>

// How a data field's value changes from one data update to the next.
enum class Generator
{
    Constant,
    Sine, // base + amplitude * sin(2 pi t / period), t = updates * interval
    Ramp, // base + updates * step, wrapping from maximum back to minimum
    Walk, // random walk by at most step per update, kept within [minimum, maximum]
    Now,  // the time of the update (VT_FILETIME only)
};

// One data field as a scenario describes it.
struct FieldDefinition
{
    PROPERTYKEY key = {};
    VARTYPE type = VT_EMPTY;
    double number = 0;       // numeric types, VT_BOOL, VT_DATE, VT_ERROR
    std::wstring text;       // VT_LPWSTR, VT_BSTR
    GUID guid = {};          // VT_CLSID
    FILETIME time = {};      // VT_FILETIME with a fixed time
    std::vector<BYTE> bytes; // VT_VECTOR | VT_UI1
    Generator generator = Generator::Constant;
    double amplitude = 0;
    double periodMs = 0;
    double step = 0;
    double minimum = 0;
    double maximum = 0;
};

enum class ActionKind
{
    Data,    // raise OnDataUpdated
    Event,   // raise OnEvent with eventId
    State,   // change the state and raise OnStateChanged
    Fail,    // GetData fails with hr from now on
    Recover, // GetData succeeds again
    Leave,   // the sensor vanishes and raises OnLeave
    Enter,   // the sensor (re)appears and raises OnSensorEnter
};

// One scheduled step of a sensor's timeline, atMs after the timeline started.
struct TimelineAction
{
    unsigned atMs = 0;
    ActionKind kind = ActionKind::Data;
    GUID eventId = {};
    int state = 0;
    HRESULT hr = E_FAIL;
};

struct SensorDefinition
{
    std::wstring section;
    GUID id = {};
    GUID category = {};
    GUID type = {};
    bool hasName = false;
    std::wstring name;
    int state = 0; // SENSOR_STATE_READY
    std::wstring manufacturer;
    std::wstring model;
    std::wstring serialNumber;
    std::wstring description;
    // What RequestPermissions does while the sensor is in the access-denied
    // state: grant makes it ready, deny leaves it denied.
    bool grantAccess = true;
    // Properties beyond and over the defaults (ISensor::GetProperties).
    std::vector<FieldDefinition> properties;
    unsigned intervalMs = 0;    // periodic data updates; 0 for none
    unsigned arriveAfterMs = 0; // absent until then; 0 present from the start
    HRESULT dataFailure = S_OK; // GetData fails with this from the start
    // Whether ISensor::SetProperties may change the report interval; a
    // driver that refuses answers E_ACCESSDENIED for the key.
    bool acceptsInterval = true;
    std::vector<FieldDefinition> fields;
    std::vector<TimelineAction> actions;
};

struct ScenarioDefinition
{
    bool timeline = true;
    std::vector<SensorDefinition> sensors;
};

// Text helpers shared by the scenario reader and the control interface.
std::wstring Trim(const std::wstring& text);
std::vector<std::wstring> SplitList(const std::wstring& text, wchar_t separator);
int ParseGuidText(const std::wstring& text, GUID* guid);
int ParseNumberText(const std::wstring& text, double* number);
int ParseUnsignedText(const std::wstring& text, unsigned long long* number);

// Parsers of scenario values. Each answers 1 and fills its output, or 0 and
// leaves it untouched.
// "SENSOR_DATA_TYPE_LATITUDE_DEGREES", "LATITUDE_DEGREES" or "{GUID},pid".
int ParseFieldKey(const std::wstring& text, PROPERTYKEY* key);
// "SENSOR_PROPERTY_MODEL", "MODEL" or "{GUID},pid".
int ParsePropertyKey(const std::wstring& text, PROPERTYKEY* key);
// "grant" or "deny".
int ParseAccessAnswer(const std::wstring& text, bool* grant);
// "accept" or "refuse".
int ParseIntervalAnswer(const std::wstring& text, bool* accept);
// "VT_R8, 47.6", "VT_R8, 0, sine, 1.5, 10000", "VT_LPWSTR, any text", ...
int ParseFieldValue(const std::wstring& text, FieldDefinition* field);
// "READY", "SENSOR_STATE_NO_DATA" or a number.
int ParseSensorState(const std::wstring& text, int* state);
// "VT_R8", "VT_VECTOR|VT_UI1", ...
int ParseVarType(const std::wstring& text, VARTYPE* type);
// A category, sensor type or event id: its name or "{GUID}".
int ParseCategory(const std::wstring& text, GUID* category);
int ParseSensorType(const std::wstring& text, GUID* type);
int ParseEventId(const std::wstring& text, GUID* eventId);
// "2500, event, ACCELEROMETER_SHAKE", "4000, state, NO_DATA", "6000, fail, 0x80004005".
int ParseTimelineAction(const std::wstring& text, TimelineAction* action);
// "2024-03-15T13:45:30" (UTC).
int ParseTimeText(const std::wstring& text, FILETIME* time);

// Reads a scenario file; 0 if the file is missing or any part is malformed.
int ReadScenarioFile(const std::wstring& path, ScenarioDefinition* scenario);
