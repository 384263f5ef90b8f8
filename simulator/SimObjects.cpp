#include "Simulator.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

const HRESULT notFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
// What a sensor that has left answers when asked for data.
const HRESULT notConnected = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);

int PutText(PortableValues* values, const PROPERTYKEY& key, const std::wstring& text)
{
    return SUCCEEDED(values->SetStringValue(key, text.c_str()));
}

// Copies a fixed identity value to a caller's out-parameter.
template <class Value> HRESULT AnswerCopy(const Value& value, Value* out)
{
    if (!out) {
        return E_POINTER;
    }
    *out = value;
    return S_OK;
}

// Replaces an event sink under the lock; the previous one is released
// afterwards, outside it.
template <class Sink> HRESULT ReplaceSink(ComPtr<Sink>* sink, Sink* newSink)
{
    ComPtr<Sink> replacement = ComPtr<Sink>::Share(newSink);
    {
        SimLock lock;
        std::swap(*sink, replacement);
    }
    return S_OK;
}

// The present sensors of a category or a type, as a new collection.
HRESULT AnswerCollection(const GUID* category, const GUID* type, ISensorCollection** found)
{
    if (!found) {
        return E_POINTER;
    }
    *found = nullptr;
    ComPtr<SimCollection> collection;
    if (!SimCollectSensors(category, type, &collection)) {
        return E_OUTOFMEMORY;
    }
    ULONG count = 0;
    collection->GetCount(&count);
    if (!count) {
        return notFound;
    }
    *found = collection.Detach();
    return S_OK;
}

// What the simulator says about a sensor of a type when its scenario does
// not: the model, the description and the shortest report interval.
struct TypeDefaults
{
    const GUID* type;
    const wchar_t* model;
    const wchar_t* description;
    ULONG minIntervalMs;
};

const TypeDefaults typeDefaults[] = {
    {&SENSOR_TYPE_LOCATION_GPS, L"Simulated GNSS Receiver", L"Satellite positioning receiver",
     1000},
    {&SENSOR_TYPE_LOCATION_TRIANGULATION, L"Simulated Wi-Fi Locator",
     L"Position from nearby wireless networks", 1000},
    {&SENSOR_TYPE_LOCATION_STATIC, L"Simulated Default Location", L"A location set by the user", 0},
    {&SENSOR_TYPE_LOCATION_LOOKUP, L"Simulated Address Lookup", L"Position from a network lookup",
     5000},
    {&SENSOR_TYPE_ACCELEROMETER_3D, L"Simulated Accelerometer", L"Three-axis accelerometer", 16},
    {&SENSOR_TYPE_GYROMETER_3D, L"Simulated Gyrometer", L"Three-axis gyrometer", 16},
    {&SENSOR_TYPE_COMPASS_3D, L"Simulated Compass", L"Three-axis magnetometer", 16},
    {&SENSOR_TYPE_INCLINOMETER_3D, L"Simulated Inclinometer", L"Three-axis inclinometer", 16},
    {&SENSOR_TYPE_AGGREGATED_DEVICE_ORIENTATION, L"Simulated Orientation Sensor",
     L"Device orientation from fused sensors", 16},
    {&SENSOR_TYPE_AMBIENT_LIGHT, L"Simulated Light Sensor", L"Ambient light sensor", 100},
    {&SENSOR_TYPE_ENVIRONMENTAL_TEMPERATURE, L"Simulated Weather Station",
     L"Temperature, humidity, pressure and wind", 1000},
    {&SENSOR_TYPE_ENVIRONMENTAL_HUMIDITY, L"Simulated Hygrometer", L"Relative humidity sensor",
     1000},
    {&SENSOR_TYPE_ENVIRONMENTAL_ATMOSPHERIC_PRESSURE, L"Simulated Barometer",
     L"Atmospheric pressure sensor", 1000},
    {&SENSOR_TYPE_HUMAN_PRESENCE, L"Simulated Presence Sensor", L"Detects a person at the screen",
     200},
    {&SENSOR_TYPE_HUMAN_PROXIMITY, L"Simulated Proximity Sensor",
     L"Distance to a person at the screen", 200},
    {&SENSOR_TYPE_VOLTAGE, L"Simulated Battery Monitor", L"Battery voltage, current and power",
     500},
    {&SENSOR_TYPE_BOOLEAN_SWITCH, L"Simulated Switch", L"A switch that is open or closed", 0},
    {&SENSOR_TYPE_CUSTOM, L"Simulated Custom Sensor", L"A sensor with the vendor's own data", 100},
};

const TypeDefaults* DefaultsFor(const GUID& type)
{
    for (const TypeDefaults& defaults : typeDefaults) {
        if (IsEqualGUID(*defaults.type, type)) {
            return &defaults;
        }
    }
    return nullptr;
}

// "SIM-" and the first group of the sensor id: stable and unique enough.
std::wstring DefaultSerialNumber(const GUID& id)
{
    wchar_t text[16];
    swprintf(text, 16, L"SIM-%08lX", static_cast<unsigned long>(id.Data1));
    return text;
}

std::wstring DefaultDevicePath(const GUID& id)
{
    wchar_t guid[64] = L"";
    StringFromGUID2(id, guid, 64);
    return std::wstring(L"\\\\?\\SENSORSIM#SENSOR#") + guid;
}

// Puts every value of the definitions, replacing values of the same key.
bool PutDefinitions(PortableValues* values, const std::vector<FieldDefinition>& definitions)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    for (const FieldDefinition& definition : definitions) {
        PROPVARIANT value;
        if (!FieldValue(StartField(definition), now, &value) ||
            !values->Adopt(definition.key, &value)) {
            return false;
        }
    }
    return true;
}

} // namespace

SimSensor::SimSensor(const SensorDefinition& definition) : definition_(definition)
{
}

int SimSensor::Create(const SensorDefinition& definition, ComPtr<SimSensor>* sensor)
{
    try {
        ComPtr<SimSensor> created(new SimSensor(definition));
        created->state = definition.state;
        created->grantAccess = definition.grantAccess;
        created->properties = definition.properties;
        created->dataFailure = definition.dataFailure;
        created->acceptsInterval = definition.acceptsInterval;
        created->intervalMs = created->DefaultIntervalMs();
        for (const FieldDefinition& field : definition.fields) {
            created->fields.push_back(StartField(field));
        }
        created->actionsDone.assign(definition.actions.size(), false);
        *sensor = std::move(created);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SimSensor::PutField(const FieldDefinition& definition)
{
    try {
        for (FieldState& field : fields) {
            if (SameKey(field.definition.key, definition.key)) {
                field = StartField(definition);
                return 1;
            }
        }
        fields.push_back(StartField(definition));
        return 1;
    } catch (...) {
        return 0;
    }
}

int SimSensor::PutProperty(const FieldDefinition& definition)
{
    try {
        for (FieldDefinition& property : properties) {
            if (SameKey(property.key, definition.key)) {
                property = definition;
                return 1;
            }
        }
        properties.push_back(definition);
        return 1;
    } catch (...) {
        return 0;
    }
}

unsigned SimSensor::DefaultIntervalMs() const
{
    const TypeDefaults* defaults = DefaultsFor(definition_.type);
    const unsigned typeMinimum = defaults ? defaults->minIntervalMs : 100;
    return definition_.intervalMs ? definition_.intervalMs : typeMinimum;
}

// The type's minimum, no longer than the scenario's interval, unless the
// scenario's property lines say otherwise.
unsigned SimSensor::MinimumIntervalMs() const
{
    for (const FieldDefinition& property : properties) {
        if (SameKey(property.key, SENSOR_PROPERTY_MIN_REPORT_INTERVAL) && property.type == VT_UI4 &&
            property.number >= 0 && property.number <= 0xFFFFFFFFu) {
            return static_cast<unsigned>(property.number);
        }
    }
    const TypeDefaults* defaults = DefaultsFor(definition_.type);
    const unsigned typeMinimum = defaults ? defaults->minIntervalMs : 100;
    return std::min(typeMinimum, DefaultIntervalMs());
}

HRESULT SimSensor::MakeReport(bool advance, ISensorDataReport** report)
{
    *report = nullptr;
    if (!present) {
        return notConnected;
    }
    if (FAILED(dataFailure)) {
        return dataFailure;
    }
    // As the Sensor API does, a sensor kept from the program gives no
    // data, and neither does one that is not ready.
    if (state == SENSOR_STATE_ACCESS_DENIED) {
        return E_ACCESSDENIED;
    }
    if (state != SENSOR_STATE_READY) {
        return HRESULT_FROM_WIN32(ERROR_NOT_READY);
    }
    ComPtr<PortableValues> values(new (std::nothrow) PortableValues);
    if (!values) {
        return E_OUTOFMEMORY;
    }
    SYSTEMTIME time;
    GetSystemTime(&time);
    FILETIME now;
    SystemTimeToFileTime(&time, &now);
    for (FieldState& field : fields) {
        if (advance) {
            AdvanceField(&field, definition_.intervalMs ? intervalMs : 0);
        }
        PROPVARIANT value;
        if (!FieldValue(field, now, &value) || !values->Adopt(field.definition.key, &value)) {
            return E_OUTOFMEMORY;
        }
    }
    SimReport* created = new (std::nothrow) SimReport(time, std::move(values));
    if (!created) {
        return E_OUTOFMEMORY;
    }
    *report = created;
    return S_OK;
}

// The identity and the scenario's texts first, then the defaults of the
// sensor's type for what the scenario leaves out, then the scenario's own
// property lines over all of them.
HRESULT SimSensor::MakeProperties(ComPtr<PortableValues>* properties) const
{
    ComPtr<PortableValues> values(new (std::nothrow) PortableValues);
    if (!values) {
        return E_OUTOFMEMORY;
    }
    const TypeDefaults* defaults = DefaultsFor(definition_.type);
    bool stored =
        SUCCEEDED(values->SetGuidValue(SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID, definition_.id)) &&
        SUCCEEDED(values->SetGuidValue(SENSOR_PROPERTY_TYPE, definition_.type)) &&
        SUCCEEDED(
            values->SetUnsignedIntegerValue(SENSOR_PROPERTY_STATE, static_cast<ULONG>(state))) &&
        SUCCEEDED(values->SetUnsignedIntegerValue(SENSOR_PROPERTY_CONNECTION_TYPE, 0)) &&
        SUCCEEDED(values->SetUnsignedIntegerValue(SENSOR_PROPERTY_MIN_REPORT_INTERVAL,
                                                  MinimumIntervalMs())) &&
        SUCCEEDED(
            values->SetUnsignedIntegerValue(SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL, intervalMs));
    if (stored && definition_.hasName) {
        stored = PutText(values.Get(), SENSOR_PROPERTY_FRIENDLY_NAME, definition_.name);
    }
    const struct
    {
        const PROPERTYKEY& key;
        const std::wstring& text;
        std::wstring fallback;
    } texts[] = {
        {SENSOR_PROPERTY_MANUFACTURER, definition_.manufacturer, L"Tessel Sensor Simulator"},
        {SENSOR_PROPERTY_MODEL, definition_.model,
         defaults ? defaults->model : L"Simulated Sensor"},
        {SENSOR_PROPERTY_SERIAL_NUMBER, definition_.serialNumber,
         DefaultSerialNumber(definition_.id)},
        {SENSOR_PROPERTY_DESCRIPTION, definition_.description,
         defaults ? defaults->description : L"Simulated sensor"},
        {SENSOR_PROPERTY_DEVICE_PATH, std::wstring(), DefaultDevicePath(definition_.id)},
    };
    for (const auto& text : texts) {
        if (stored) {
            stored = PutText(values.Get(), text.key, text.text.empty() ? text.fallback : text.text);
        }
    }
    if (stored && IsEqualGUID(definition_.category, SENSOR_CATEGORY_LOCATION)) {
        stored = SUCCEEDED(values->SetUnsignedIntegerValue(
            SENSOR_PROPERTY_LOCATION_DESIRED_ACCURACY, LOCATION_DESIRED_ACCURACY_DEFAULT));
    }
    if (!stored || !PutDefinitions(values.Get(), this->properties)) {
        return E_OUTOFMEMORY;
    }
    *properties = std::move(values);
    return S_OK;
}

HRESULT SimSensor::MakeLockedProperties(ComPtr<PortableValues>* properties) const
{
    SimLock lock;
    return MakeProperties(properties);
}

HRESULT SimSensor::GetID(SENSOR_ID* id)
{
    return AnswerCopy(definition_.id, id);
}

HRESULT SimSensor::GetCategory(SENSOR_CATEGORY_ID* category)
{
    return AnswerCopy(definition_.category, category);
}

HRESULT SimSensor::GetType(SENSOR_TYPE_ID* type)
{
    return AnswerCopy(definition_.type, type);
}

HRESULT SimSensor::GetFriendlyName(BSTR* name)
{
    if (!name) {
        return E_POINTER;
    }
    *name = nullptr;
    if (!definition_.hasName) {
        return notFound;
    }
    *name = SysAllocStringLen(definition_.name.c_str(), static_cast<UINT>(definition_.name.size()));
    return *name ? S_OK : E_OUTOFMEMORY;
}

HRESULT SimSensor::GetProperty(REFPROPERTYKEY key, PROPVARIANT* value)
{
    if (!value) {
        return E_POINTER;
    }
    ComPtr<PortableValues> properties;
    HRESULT hr = MakeLockedProperties(&properties);
    return SUCCEEDED(hr) ? properties->GetValue(key, value) : hr;
}

HRESULT SimSensor::GetProperties(IPortableDeviceKeyCollection* keys, IPortableDeviceValues** values)
{
    if (!values) {
        return E_POINTER;
    }
    *values = nullptr;
    ComPtr<PortableValues> properties;
    HRESULT hr = MakeLockedProperties(&properties);
    return SUCCEEDED(hr) ? properties->Select(keys, values) : hr;
}

HRESULT SimSensor::GetSupportedDataFields(IPortableDeviceKeyCollection** keys)
{
    if (!keys) {
        return E_POINTER;
    }
    *keys = nullptr;
    ComPtr<KeyCollection> collection(new (std::nothrow) KeyCollection);
    if (!collection) {
        return E_OUTOFMEMORY;
    }
    SimLock lock;
    for (const FieldState& field : fields) {
        if (!collection->Append(field.definition.key)) {
            return E_OUTOFMEMORY;
        }
    }
    *keys = collection.Detach();
    return S_OK;
}

// As the Sensor API does: every key asked for comes back in the results
// with its HRESULT, and the call answers S_FALSE when any key failed. Only
// the current report interval can be set.
HRESULT SimSensor::SetProperties(IPortableDeviceValues* requested, IPortableDeviceValues** results)
{
    if (!results) {
        return E_POINTER;
    }
    *results = nullptr;
    DWORD count = 0;
    if (!requested || FAILED(requested->GetCount(&count))) {
        return E_POINTER;
    }
    ComPtr<PortableValues> answers(new (std::nothrow) PortableValues);
    if (!answers) {
        return E_OUTOFMEMORY;
    }
    bool allSet = true;
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key = {};
        PROPVARIANT value;
        PropVariantInit(&value);
        if (FAILED(requested->GetAt(i, &key, &value))) {
            return E_INVALIDARG;
        }
        const HRESULT hr = SetOneProperty(key, value);
        PropVariantClear(&value);
        allSet = allSet && SUCCEEDED(hr);
        if (FAILED(answers->SetErrorValue(key, hr))) {
            return E_OUTOFMEMORY;
        }
    }
    *results = answers.Detach();
    return allSet ? S_OK : S_FALSE;
}

HRESULT SimSensor::SetOneProperty(const PROPERTYKEY& key, const PROPVARIANT& value)
{
    if (!SameKey(key, SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL)) {
        return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    }
    if (value.vt != VT_UI4) {
        return E_INVALIDARG;
    }
    {
        SimLock lock;
        if (!present) {
            return notConnected;
        }
        if (!acceptsInterval) {
            return E_ACCESSDENIED;
        }
        intervalMs = AcceptedIntervalMs(value.ulVal, MinimumIntervalMs(), DefaultIntervalMs());
    }
    SimFollowInterval(this);
    return S_OK;
}

HRESULT SimSensor::SupportsDataField(REFPROPERTYKEY key, VARIANT_BOOL* supported)
{
    if (!supported) {
        return E_POINTER;
    }
    SimLock lock;
    *supported = VARIANT_FALSE;
    for (const FieldState& field : fields) {
        if (SameKey(field.definition.key, key)) {
            *supported = VARIANT_TRUE;
        }
    }
    return S_OK;
}

HRESULT SimSensor::GetState(SensorState* current)
{
    if (!current) {
        return E_POINTER;
    }
    SimLock lock;
    *current = static_cast<SensorState>(state);
    return S_OK;
}

HRESULT SimSensor::GetData(ISensorDataReport** report)
{
    if (!report) {
        return E_POINTER;
    }
    SimLock lock;
    return MakeReport(false, report);
}

HRESULT SimSensor::SupportsEvent(REFGUID eventId, VARIANT_BOOL* supported)
{
    if (!supported) {
        return E_POINTER;
    }
    bool known = IsEqualGUID(eventId, SENSOR_EVENT_DATA_UPDATED) ||
                 IsEqualGUID(eventId, SENSOR_EVENT_STATE_CHANGED) ||
                 IsEqualGUID(eventId, SENSOR_EVENT_PROPERTY_CHANGED);
    *supported = known ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT SimSensor::GetEventInterest(GUID** eventIds, ULONG* count)
{
    if (!eventIds || !count) {
        return E_POINTER;
    }
    SimLock lock;
    ULONG size = static_cast<ULONG>(interest.size());
    GUID* copy = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID) * (size ? size : 1)));
    if (!copy) {
        return E_OUTOFMEMORY;
    }
    if (size) {
        memcpy(copy, interest.data(), sizeof(GUID) * size);
    }
    *eventIds = copy;
    *count = size;
    return S_OK;
}

// Events are raised whatever the interest says; it is only remembered.
HRESULT SimSensor::SetEventInterest(GUID* eventIds, ULONG count)
{
    if (!eventIds && count) {
        return E_POINTER;
    }
    try {
        SimLock lock;
        interest.assign(eventIds, eventIds + count);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT SimSensor::SetEventSink(ISensorEvents* newSink)
{
    return ReplaceSink(&sink, newSink);
}

SimReport::SimReport(const SYSTEMTIME& time, ComPtr<PortableValues> values)
    : time_(time), values_(std::move(values))
{
}

HRESULT SimReport::GetTimestamp(SYSTEMTIME* time)
{
    if (!time) {
        return E_POINTER;
    }
    *time = time_;
    return S_OK;
}

HRESULT SimReport::GetSensorValue(REFPROPERTYKEY key, PROPVARIANT* value)
{
    return values_->GetValue(key, value);
}

HRESULT SimReport::GetSensorValues(IPortableDeviceKeyCollection* keys,
                                   IPortableDeviceValues** values)
{
    return values_->Select(keys, values);
}

int SimCollection::Append(ISensor* sensor)
{
    try {
        sensors_.push_back(ComPtr<ISensor>::Share(sensor));
        return 1;
    } catch (...) {
        return 0;
    }
}

HRESULT SimCollection::GetAt(ULONG index, ISensor** sensor)
{
    if (!sensor) {
        return E_POINTER;
    }
    *sensor = nullptr;
    if (index >= sensors_.size()) {
        return E_INVALIDARG;
    }
    *sensor = sensors_[index].Get();
    (*sensor)->AddRef();
    return S_OK;
}

HRESULT SimCollection::GetCount(ULONG* count)
{
    if (!count) {
        return E_POINTER;
    }
    *count = static_cast<ULONG>(sensors_.size());
    return S_OK;
}

HRESULT SimCollection::Add(ISensor* sensor)
{
    if (!sensor) {
        return E_POINTER;
    }
    return Append(sensor) ? S_OK : E_OUTOFMEMORY;
}

HRESULT SimCollection::Remove(ISensor* sensor)
{
    for (auto entry = sensors_.begin(); entry != sensors_.end(); ++entry) {
        if (entry->Get() == sensor) {
            sensors_.erase(entry);
            return S_OK;
        }
    }
    return notFound;
}

HRESULT SimCollection::RemoveByID(REFSENSOR_ID id)
{
    for (auto entry = sensors_.begin(); entry != sensors_.end(); ++entry) {
        SENSOR_ID entryId = {};
        if (SUCCEEDED((*entry)->GetID(&entryId)) && IsEqualGUID(entryId, id)) {
            sensors_.erase(entry);
            return S_OK;
        }
    }
    return notFound;
}

HRESULT SimCollection::Clear()
{
    sensors_.clear();
    return S_OK;
}

SimManager::SimManager()
{
    SimAddManager(this);
}

SimManager::~SimManager()
{
    SimRemoveManager(this);
}

HRESULT SimManager::GetSensorsByCategory(REFSENSOR_CATEGORY_ID category, ISensorCollection** found)
{
    bool all = IsEqualGUID(category, SENSOR_CATEGORY_ALL);
    return AnswerCollection(all ? nullptr : &category, nullptr, found);
}

HRESULT SimManager::GetSensorsByType(REFSENSOR_TYPE_ID type, ISensorCollection** found)
{
    return AnswerCollection(nullptr, &type, found);
}

HRESULT SimManager::GetSensorByID(REFSENSOR_ID id, ISensor** sensor)
{
    if (!sensor) {
        return E_POINTER;
    }
    *sensor = nullptr;
    ComPtr<SimSensor> match = SimFindSensor(id);
    bool present = false;
    if (match) {
        SimLock lock;
        present = match->present;
    }
    if (!present) {
        return notFound;
    }
    *sensor = match.Detach();
    return S_OK;
}

HRESULT SimManager::SetEventSink(ISensorManagerEvents* newSink)
{
    return ReplaceSink(&sink, newSink);
}

HRESULT SimManager::RequestPermissions(HWND parent, ISensorCollection* sensors, WINBOOL)
{
    ULONG count = 0;
    if (!sensors || FAILED(sensors->GetCount(&count))) {
        return E_POINTER;
    }
    if (!count) {
        return E_INVALIDARG;
    }
    SimNotePermissionRequest(parent);
    bool allGranted = true;
    for (ULONG i = 0; i < count; ++i) {
        ComPtr<ISensor> listed;
        SENSOR_ID id = {};
        if (FAILED(sensors->GetAt(i, listed.Put())) || !listed || FAILED(listed->GetID(&id))) {
            return E_INVALIDARG;
        }
        ComPtr<SimSensor> sensor = SimFindSensor(id);
        if (!sensor) {
            return E_INVALIDARG;
        }
        bool grant = false;
        {
            SimLock lock;
            if (sensor->state != SENSOR_STATE_ACCESS_DENIED) {
                continue;
            }
            grant = sensor->grantAccess;
        }
        if (!grant) {
            allGranted = false;
            continue;
        }
        // As the Sensor API does, the answer arrives as a state change on
        // one of the simulator's threads.
        SimSensor* target = sensor.Get();
        SimRunOnEventThread(
            [target]() { return SimDeliverStateChanged(target, SENSOR_STATE_READY); });
    }
    return allGranted ? S_OK : HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
}
