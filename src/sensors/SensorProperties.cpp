#include "sensors/SensorProperties.h"

#include "sensors/SensorCatalogue.h"
#include "sensors/SensorList.h"

#include <sensors.h>
#include <sensorsapi.h>

#include <cwchar>
#include <iterator>

namespace {

struct NamedKey
{
    const PROPERTYKEY* key;
    const wchar_t* name;
};

struct NamedGuid
{
    const GUID* id;
    const wchar_t* name;
};

#define KEY(key)                                                                                   \
    {                                                                                              \
        &key, L"" #key                                                                             \
    }
#define ID(id)                                                                                     \
    {                                                                                              \
        &id, L"" #id                                                                               \
    }

const NamedKey kPropertyKeys[] = {
    KEY(SENSOR_PROPERTY_TYPE),
    KEY(SENSOR_PROPERTY_STATE),
    KEY(SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID),
    KEY(SENSOR_PROPERTY_MANUFACTURER),
    KEY(SENSOR_PROPERTY_MODEL),
    KEY(SENSOR_PROPERTY_SERIAL_NUMBER),
    KEY(SENSOR_PROPERTY_FRIENDLY_NAME),
    KEY(SENSOR_PROPERTY_DESCRIPTION),
    KEY(SENSOR_PROPERTY_CONNECTION_TYPE),
    KEY(SENSOR_PROPERTY_MIN_REPORT_INTERVAL),
    KEY(SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL),
    KEY(SENSOR_PROPERTY_CHANGE_SENSITIVITY),
    KEY(SENSOR_PROPERTY_DEVICE_PATH),
    KEY(SENSOR_PROPERTY_LIGHT_RESPONSE_CURVE),
    KEY(SENSOR_PROPERTY_ACCURACY),
    KEY(SENSOR_PROPERTY_RESOLUTION),
    KEY(SENSOR_PROPERTY_LOCATION_DESIRED_ACCURACY),
    KEY(SENSOR_PROPERTY_RANGE_MINIMUM),
    KEY(SENSOR_PROPERTY_RANGE_MAXIMUM),
    KEY(SENSOR_PROPERTY_HID_USAGE),
    KEY(SENSOR_PROPERTY_RADIO_STATE),
    KEY(SENSOR_PROPERTY_RADIO_STATE_PREVIOUS),
    KEY(SENSOR_PROPERTY_CLEAR_ASSISTANCE_DATA),
    KEY(SENSOR_PROPERTY_TURN_ON_OFF_NMEA),
};

const NamedGuid kCategories[] = {
    ID(SENSOR_CATEGORY_ALL),         ID(SENSOR_CATEGORY_BIOMETRIC),
    ID(SENSOR_CATEGORY_ELECTRICAL),  ID(SENSOR_CATEGORY_ENVIRONMENTAL),
    ID(SENSOR_CATEGORY_LIGHT),       ID(SENSOR_CATEGORY_LOCATION),
    ID(SENSOR_CATEGORY_MECHANICAL),  ID(SENSOR_CATEGORY_MOTION),
    ID(SENSOR_CATEGORY_ORIENTATION), ID(SENSOR_CATEGORY_SCANNER),
    ID(SENSOR_CATEGORY_OTHER),       ID(SENSOR_CATEGORY_UNSUPPORTED),
};

const NamedGuid kTypes[] = {
    ID(SENSOR_TYPE_HUMAN_PRESENCE),
    ID(SENSOR_TYPE_HUMAN_PROXIMITY),
    ID(SENSOR_TYPE_TOUCH),
    ID(SENSOR_TYPE_CAPACITANCE),
    ID(SENSOR_TYPE_CURRENT),
    ID(SENSOR_TYPE_ELECTRICAL_POWER),
    ID(SENSOR_TYPE_FREQUENCY),
    ID(SENSOR_TYPE_INDUCTANCE),
    ID(SENSOR_TYPE_POTENTIOMETER),
    ID(SENSOR_TYPE_RESISTANCE),
    ID(SENSOR_TYPE_VOLTAGE),
    ID(SENSOR_TYPE_ENVIRONMENTAL_ATMOSPHERIC_PRESSURE),
    ID(SENSOR_TYPE_ENVIRONMENTAL_HUMIDITY),
    ID(SENSOR_TYPE_ENVIRONMENTAL_TEMPERATURE),
    ID(SENSOR_TYPE_ENVIRONMENTAL_WIND_DIRECTION),
    ID(SENSOR_TYPE_ENVIRONMENTAL_WIND_SPEED),
    ID(SENSOR_TYPE_AMBIENT_LIGHT),
    ID(SENSOR_TYPE_LOCATION_BROADCAST),
    ID(SENSOR_TYPE_LOCATION_DEAD_RECKONING),
    ID(SENSOR_TYPE_LOCATION_GPS),
    ID(SENSOR_TYPE_LOCATION_LOOKUP),
    ID(SENSOR_TYPE_LOCATION_OTHER),
    ID(SENSOR_TYPE_LOCATION_STATIC),
    ID(SENSOR_TYPE_LOCATION_TRIANGULATION),
    ID(SENSOR_TYPE_BOOLEAN_SWITCH),
    ID(SENSOR_TYPE_BOOLEAN_SWITCH_ARRAY),
    ID(SENSOR_TYPE_FORCE),
    ID(SENSOR_TYPE_MULTIVALUE_SWITCH),
    ID(SENSOR_TYPE_PRESSURE),
    ID(SENSOR_TYPE_SCALE),
    ID(SENSOR_TYPE_STRAIN),
    ID(SENSOR_TYPE_ACCELEROMETER_1D),
    ID(SENSOR_TYPE_ACCELEROMETER_2D),
    ID(SENSOR_TYPE_ACCELEROMETER_3D),
    ID(SENSOR_TYPE_MOTION_DETECTOR),
    ID(SENSOR_TYPE_GYROMETER_1D),
    ID(SENSOR_TYPE_GYROMETER_2D),
    ID(SENSOR_TYPE_GYROMETER_3D),
    ID(SENSOR_TYPE_SPEEDOMETER),
    ID(SENSOR_TYPE_AGGREGATED_DEVICE_ORIENTATION),
    ID(SENSOR_TYPE_AGGREGATED_QUADRANT_ORIENTATION),
    ID(SENSOR_TYPE_AGGREGATED_SIMPLE_DEVICE_ORIENTATION),
    ID(SENSOR_TYPE_COMPASS_1D),
    ID(SENSOR_TYPE_COMPASS_2D),
    ID(SENSOR_TYPE_COMPASS_3D),
    ID(SENSOR_TYPE_DISTANCE_1D),
    ID(SENSOR_TYPE_DISTANCE_2D),
    ID(SENSOR_TYPE_DISTANCE_3D),
    ID(SENSOR_TYPE_INCLINOMETER_1D),
    ID(SENSOR_TYPE_INCLINOMETER_2D),
    ID(SENSOR_TYPE_INCLINOMETER_3D),
    ID(SENSOR_TYPE_CUSTOM),
    ID(SENSOR_TYPE_BARCODE_SCANNER),
    ID(SENSOR_TYPE_RFID_SCANNER),
    ID(SENSOR_TYPE_UNKNOWN),
};

#undef KEY
#undef ID

const wchar_t* const kStateTexts[] = {
    L"Ready", L"Not available", L"No data", L"Initializing", L"Access denied", L"Error",
};

const wchar_t* const kConnectionTypes[] = {
    L"SENSOR_CONNECTION_TYPE_PC_INTEGRATED",
    L"SENSOR_CONNECTION_TYPE_PC_ATTACHED",
    L"SENSOR_CONNECTION_TYPE_PC_EXTERNAL",
};

const wchar_t* const kDesiredAccuracies[] = {
    L"LOCATION_DESIRED_ACCURACY_DEFAULT",
    L"LOCATION_DESIRED_ACCURACY_HIGH",
};

const unsigned kGuidTextLength = 64;

// The constant without its prefix, with spaces for underscores.
int DisplayName(const wchar_t* constant, const wchar_t* prefix, WideString& name)
{
    WideString text;
    if (!text.Assign(constant)) {
        return 0;
    }
    EraseEvery(text, prefix);
    text.ReplaceChar(L'_', L' ');
    return name.Assign(text);
}

template <size_t count> const wchar_t* FindGuidName(const GUID& id, const NamedGuid (&table)[count])
{
    for (const NamedGuid& row : table) {
        if (IsEqualGUID(*row.id, id)) {
            return row.name;
        }
    }
    return nullptr;
}

template <size_t count>
int NameGuid(const GUID& id, const NamedGuid (&table)[count], const wchar_t* prefix,
             WideString& name)
{
    const wchar_t* constant = FindGuidName(id, table);
    return constant ? DisplayName(constant, prefix, name) : GuidText(id, name);
}

bool IsKey(const PROPERTYKEY& key, const PROPERTYKEY& wanted)
{
    return key.pid == wanted.pid && IsEqualGUID(key.fmtid, wanted.fmtid);
}

// A value text that is a whole unsigned decimal number, and nothing else.
bool ReadNumber(const wchar_t* text, unsigned long& number)
{
    if (!text || *text < L'0' || *text > L'9') {
        return false;
    }
    wchar_t* end = nullptr;
    number = wcstoul(text, &end, 10);
    return end && *end == L'\0';
}

// The named value of an enumeration whose values count from 0.
template <size_t count>
int NameNumber(const wchar_t* valueText, const wchar_t* const (&constants)[count],
               const wchar_t* prefix, WideString& meaning)
{
    unsigned long number = 0;
    if (!ReadNumber(valueText, number) || number >= count) {
        return 0;
    }
    return DisplayName(constants[number], prefix, meaning);
}

// A value text in registry form that names a sensor type or category.
int NameGuidValue(const wchar_t* valueText, WideString& meaning)
{
    GUID id = {};
    if (!valueText || valueText[0] != L'{' || lstrlenW(valueText) != 38 ||
        FAILED(IIDFromString(valueText, &id))) {
        return 0;
    }
    if (const wchar_t* type = FindGuidName(id, kTypes)) {
        return DisplayName(type, L"SENSOR_TYPE_", meaning);
    }
    if (const wchar_t* category = FindGuidName(id, kCategories)) {
        return DisplayName(category, L"SENSOR_CATEGORY_", meaning);
    }
    return 0;
}

} // namespace

int SensorStateText(long state, WideString& text)
{
    if (state >= 0 && state < static_cast<long>(sizeof(kStateTexts) / sizeof(kStateTexts[0]))) {
        return text.Assign(kStateTexts[state]);
    }
    return Format(text, L"%ld", state);
}

int GuidText(const GUID& id, WideString& text)
{
    wchar_t buffer[kGuidTextLength];
    return StringFromGUID2(id, buffer, kGuidTextLength) && text.Assign(buffer);
}

int NamePropertyKey(const PROPERTYKEY& key, WideString& name)
{
    for (const NamedKey& row : kPropertyKeys) {
        if (row.key->pid == key.pid && IsEqualGUID(row.key->fmtid, key.fmtid)) {
            return DisplayName(row.name, L"SENSOR_PROPERTY_", name);
        }
    }
    WideString guid;
    WideString text;
    return GuidText(key.fmtid, guid) &&
           Format(text, L"%s.%u", guid.Data(), static_cast<unsigned>(key.pid)) && name.Assign(text);
}

int NameSensorType(const GUID& type, WideString& name)
{
    return NameGuid(type, kTypes, L"SENSOR_TYPE_", name);
}

int NameSensorCategory(const GUID& category, WideString& name)
{
    return NameGuid(category, kCategories, L"SENSOR_CATEGORY_", name);
}

int NamePropertyValue(const PROPERTYKEY& key, const wchar_t* valueText, WideString& meaning)
{
    unsigned long number = 0;
    if (IsKey(key, SENSOR_PROPERTY_STATE)) {
        return ReadNumber(valueText, number) && number < std::size(kStateTexts) &&
               meaning.Assign(kStateTexts[number]);
    }
    if (IsKey(key, SENSOR_PROPERTY_CONNECTION_TYPE)) {
        return NameNumber(valueText, kConnectionTypes, L"SENSOR_CONNECTION_TYPE_", meaning);
    }
    if (IsKey(key, SENSOR_PROPERTY_LOCATION_DESIRED_ACCURACY)) {
        return NameNumber(valueText, kDesiredAccuracies, L"LOCATION_DESIRED_ACCURACY_", meaning);
    }
    return NameGuidValue(valueText, meaning);
}

int ExplainPropertyValue(const PROPERTYKEY& key, WideString& valueText)
{
    WideString meaning;
    WideString explained;
    if (!NamePropertyValue(key, valueText.Data(), meaning) ||
        !Format(explained, L"%s (%s)", valueText.Data(), meaning.Data())) {
        return 0;
    }
    return valueText.Assign(explained);
}

int ReadSensorProperties(ISensor* sensor, LockedList& properties)
{
    ComPtr<IPortableDeviceValues> values;
    if (!sensor || FAILED(sensor->GetProperties(nullptr, values.Put())) || !values) {
        return 0;
    }
    if (!AppendNamedValues(values.Get(), NamePropertyKey, properties)) {
        return 0;
    }
    for (auto* property = static_cast<SensorField*>(properties.First()); property;
         property = property->Next()) {
        ExplainPropertyValue(property->key, property->valueText);
    }
    return 1;
}
