#include "Simulator.h"

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

} // namespace

SimSensor::SimSensor(const SensorDefinition& definition) : definition_(definition)
{
}

int SimSensor::Create(const SensorDefinition& definition, ComPtr<SimSensor>* sensor)
{
    try {
        ComPtr<SimSensor> created(new SimSensor(definition));
        created->state = definition.state;
        created->dataFailure = definition.dataFailure;
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

HRESULT SimSensor::MakeReport(bool advance, ISensorDataReport** report)
{
    *report = nullptr;
    if (!present) {
        return notConnected;
    }
    if (FAILED(dataFailure)) {
        return dataFailure;
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
            AdvanceField(&field, definition_.intervalMs);
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

HRESULT SimSensor::MakeProperties(ComPtr<PortableValues>* properties) const
{
    ComPtr<PortableValues> values(new (std::nothrow) PortableValues);
    if (!values) {
        return E_OUTOFMEMORY;
    }
    bool stored =
        SUCCEEDED(values->SetGuidValue(SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID, definition_.id)) &&
        SUCCEEDED(values->SetGuidValue(SENSOR_PROPERTY_TYPE, definition_.type)) &&
        SUCCEEDED(
            values->SetUnsignedIntegerValue(SENSOR_PROPERTY_STATE, static_cast<ULONG>(state))) &&
        SUCCEEDED(values->SetUnsignedIntegerValue(SENSOR_PROPERTY_CONNECTION_TYPE, 0));
    if (stored && definition_.hasName) {
        stored = PutText(values.Get(), SENSOR_PROPERTY_FRIENDLY_NAME, definition_.name);
    }
    if (stored && definition_.intervalMs) {
        stored = SUCCEEDED(values->SetUnsignedIntegerValue(SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL,
                                                           definition_.intervalMs)) &&
                 SUCCEEDED(values->SetUnsignedIntegerValue(SENSOR_PROPERTY_MIN_REPORT_INTERVAL,
                                                           definition_.intervalMs));
    }
    const struct
    {
        const PROPERTYKEY& key;
        const std::wstring& text;
    } texts[] = {
        {SENSOR_PROPERTY_MANUFACTURER, definition_.manufacturer},
        {SENSOR_PROPERTY_MODEL, definition_.model},
        {SENSOR_PROPERTY_SERIAL_NUMBER, definition_.serialNumber},
        {SENSOR_PROPERTY_DESCRIPTION, definition_.description},
    };
    for (const auto& text : texts) {
        if (stored && !text.text.empty()) {
            stored = PutText(values.Get(), text.key, text.text);
        }
    }
    if (!stored) {
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

HRESULT SimSensor::SetProperties(IPortableDeviceValues*, IPortableDeviceValues** results)
{
    if (results) {
        *results = nullptr;
    }
    return E_NOTIMPL;
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

HRESULT SimManager::RequestPermissions(HWND, ISensorCollection*, WINBOOL)
{
    return E_NOTIMPL;
}
