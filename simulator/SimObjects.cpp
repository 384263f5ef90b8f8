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

} // namespace

SimSensor::SimSensor(const SensorSpec& spec) : spec_(spec)
{
}

int SimSensor::Create(const SensorSpec& spec, Ref<SimSensor>* sensor)
{
    try {
        Ref<SimSensor> created(new SimSensor(spec));
        created->state = spec.state;
        created->dataFailure = spec.dataFailure;
        for (const FieldSpec& field : spec.fields) {
            created->fields.push_back(StartField(field));
        }
        created->actionsDone.assign(spec.actions.size(), false);
        *sensor = std::move(created);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SimSensor::PutField(const FieldSpec& spec)
{
    try {
        for (FieldState& field : fields) {
            if (SameKey(field.spec.key, spec.key)) {
                field = StartField(spec);
                return 1;
            }
        }
        fields.push_back(StartField(spec));
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
    Ref<PortableValues> values(new (std::nothrow) PortableValues);
    if (!values) {
        return E_OUTOFMEMORY;
    }
    SYSTEMTIME time;
    GetSystemTime(&time);
    FILETIME now;
    SystemTimeToFileTime(&time, &now);
    for (FieldState& field : fields) {
        if (advance) {
            AdvanceField(&field, spec_.intervalMs);
        }
        PROPVARIANT value;
        if (!FieldValue(field, now, &value) || !values->Adopt(field.spec.key, &value)) {
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

HRESULT SimSensor::MakeProperties(Ref<PortableValues>* properties) const
{
    Ref<PortableValues> values(new (std::nothrow) PortableValues);
    if (!values) {
        return E_OUTOFMEMORY;
    }
    bool stored = SUCCEEDED(values->SetGuidValue(SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID, spec_.id)) &&
                  SUCCEEDED(values->SetGuidValue(SENSOR_PROPERTY_TYPE, spec_.type)) &&
                  SUCCEEDED(values->SetUnsignedIntegerValue(SENSOR_PROPERTY_STATE,
                                                            static_cast<ULONG>(state))) &&
                  SUCCEEDED(values->SetUnsignedIntegerValue(SENSOR_PROPERTY_CONNECTION_TYPE, 0));
    if (stored && spec_.hasName) {
        stored = PutText(values.Get(), SENSOR_PROPERTY_FRIENDLY_NAME, spec_.name);
    }
    if (stored && spec_.intervalMs) {
        stored = SUCCEEDED(values->SetUnsignedIntegerValue(SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL,
                                                           spec_.intervalMs)) &&
                 SUCCEEDED(values->SetUnsignedIntegerValue(SENSOR_PROPERTY_MIN_REPORT_INTERVAL,
                                                           spec_.intervalMs));
    }
    const struct
    {
        const PROPERTYKEY& key;
        const std::wstring& text;
    } texts[] = {
        {SENSOR_PROPERTY_MANUFACTURER, spec_.manufacturer},
        {SENSOR_PROPERTY_MODEL, spec_.model},
        {SENSOR_PROPERTY_SERIAL_NUMBER, spec_.serialNumber},
        {SENSOR_PROPERTY_DESCRIPTION, spec_.description},
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

HRESULT SimSensor::GetID(SENSOR_ID* id)
{
    if (!id) {
        return E_POINTER;
    }
    *id = spec_.id;
    return S_OK;
}

HRESULT SimSensor::GetCategory(SENSOR_CATEGORY_ID* category)
{
    if (!category) {
        return E_POINTER;
    }
    *category = spec_.category;
    return S_OK;
}

HRESULT SimSensor::GetType(SENSOR_TYPE_ID* type)
{
    if (!type) {
        return E_POINTER;
    }
    *type = spec_.type;
    return S_OK;
}

HRESULT SimSensor::GetFriendlyName(BSTR* name)
{
    if (!name) {
        return E_POINTER;
    }
    *name = nullptr;
    if (!spec_.hasName) {
        return notFound;
    }
    *name = SysAllocStringLen(spec_.name.c_str(), static_cast<UINT>(spec_.name.size()));
    return *name ? S_OK : E_OUTOFMEMORY;
}

HRESULT SimSensor::GetProperty(REFPROPERTYKEY key, PROPVARIANT* value)
{
    if (!value) {
        return E_POINTER;
    }
    Ref<PortableValues> properties;
    HRESULT hr;
    {
        SimLock lock;
        hr = MakeProperties(&properties);
    }
    return SUCCEEDED(hr) ? properties->GetValue(key, value) : hr;
}

HRESULT SimSensor::GetProperties(IPortableDeviceKeyCollection* keys, IPortableDeviceValues** values)
{
    if (!values) {
        return E_POINTER;
    }
    *values = nullptr;
    Ref<PortableValues> properties;
    HRESULT hr;
    {
        SimLock lock;
        hr = MakeProperties(&properties);
    }
    return SUCCEEDED(hr) ? properties->Select(keys, values) : hr;
}

HRESULT SimSensor::GetSupportedDataFields(IPortableDeviceKeyCollection** keys)
{
    if (!keys) {
        return E_POINTER;
    }
    *keys = nullptr;
    Ref<KeyCollection> collection(new (std::nothrow) KeyCollection);
    if (!collection) {
        return E_OUTOFMEMORY;
    }
    SimLock lock;
    for (const FieldState& field : fields) {
        if (!collection->Append(field.spec.key)) {
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
        if (SameKey(field.spec.key, key)) {
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
    Ref<ISensorEvents> replacement = Ref<ISensorEvents>::Share(newSink);
    {
        SimLock lock;
        std::swap(sink, replacement);
    }
    // The previous sink is released here, outside the lock.
    return S_OK;
}

SimReport::SimReport(const SYSTEMTIME& time, Ref<PortableValues> values)
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
        sensors_.push_back(Ref<ISensor>::Share(sensor));
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
    if (!found) {
        return E_POINTER;
    }
    *found = nullptr;
    Ref<SimCollection> collection;
    bool all = IsEqualGUID(category, SENSOR_CATEGORY_ALL);
    if (!SimCollectSensors(all ? nullptr : &category, nullptr, &collection)) {
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

HRESULT SimManager::GetSensorsByType(REFSENSOR_TYPE_ID type, ISensorCollection** found)
{
    if (!found) {
        return E_POINTER;
    }
    *found = nullptr;
    Ref<SimCollection> collection;
    if (!SimCollectSensors(nullptr, &type, &collection)) {
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

HRESULT SimManager::GetSensorByID(REFSENSOR_ID id, ISensor** sensor)
{
    if (!sensor) {
        return E_POINTER;
    }
    *sensor = nullptr;
    Ref<SimSensor> match = SimFindSensor(id);
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
    Ref<ISensorManagerEvents> replacement = Ref<ISensorManagerEvents>::Share(newSink);
    {
        SimLock lock;
        std::swap(sink, replacement);
    }
    return S_OK;
}

HRESULT SimManager::RequestPermissions(HWND, ISensorCollection*, WINBOOL)
{
    return E_NOTIMPL;
}
