#include "sensors/SensorList.h"

#include "base/ComValue.h"
#include "sensors/SensorCatalogue.h"
#include "sensors/SensorValue.h"

#include <new>
#include <sensors.h>
#include <utility>

// ---------------------------------------------------------------- fields

namespace {

// Names the field and makes its value text; a value without text keeps
// the empty text.
void DescribeField(SensorField& field, const PROPVARIANT& value, KeyNamer name)
{
    name(field.key, field.name);
    if (ConvertReportedValue(value, field.value.Get())) {
        FormatSensorValue(field.value.Get(), field.valueText);
    }
}

// Moves every record of one list to the end of another.
void MoveFields(LockedList& from, LockedList& to)
{
    while (ListNode* record = from.First()) {
        from.Remove(record);
        to.Append(record);
    }
}

} // namespace

int BuildFields(ISensorDataReport* report, LockedList& fields)
{
    ComPtr<IPortableDeviceValues> values;
    if (!report || FAILED(report->GetSensorValues(nullptr, values.Put())) || !values) {
        return 0;
    }
    return AppendNamedValues(values.Get(), NameDataType, fields);
}

int AppendNamedValues(IPortableDeviceValues* values, KeyNamer name, LockedList& fields)
{
    DWORD count = 0;
    if (!values || FAILED(values->GetCount(&count))) {
        return 0;
    }
    for (DWORD i = 0; i < count; ++i) {
        SensorField* field = new (std::nothrow) SensorField;
        if (!field) {
            continue;
        }
        ScopedPropVariant value;
        if (FAILED(values->GetAt(i, &field->key, value.Receive()))) {
            delete field;
            continue;
        }
        DescribeField(*field, value.Get(), name);
        fields.Append(field);
    }
    return 1;
}

// ---------------------------------------------------------------- entry

SensorEntry::SensorEntry(SensorList* owner, ISensor* sensor)
    : owner_(owner), sensor_(ComPtr<ISensor>::Share(sensor))
{
}

SensorEntry::~SensorEntry()
{
    Unsubscribe();
    fields_.Clear();
}

SensorField* SensorEntry::ReadFields(ISensorDataReport* report)
{
    ComPtr<ISensorDataReport> current;
    if (!report && sensor_ && SUCCEEDED(sensor_->GetData(current.Put()))) {
        report = current.Get();
    }
    LockedList fresh;
    BuildFields(report, fresh);
    return ReplaceFields(fresh);
}

SensorField* SensorEntry::ReplaceFields(LockedList& fresh)
{
    ScopedLock lock(fields_);
    fields_.Clear();
    MoveFields(fresh, fields_);
    return static_cast<SensorField*>(fields_.First());
}

void SensorEntry::ReadIdentity()
{
    SensorState state = SENSOR_STATE_READY;
    const bool known = sensor_ && SUCCEEDED(sensor_->GetState(&state));
    InterlockedExchange(&state_, known ? static_cast<LONG>(state) : kSensorStateUnknown);
    if (sensor_) {
        sensor_->GetID(&id_);
    }
}

int SensorEntry::Subscribe()
{
    Unsubscribe();
    if (!sensor_) {
        return 0;
    }
    SensorEventSink* sink = new (std::nothrow) SensorEventSink(this);
    if (!sink) {
        return 0;
    }
    sink_.Reset(sink);
    HRESULT registered = sensor_->SetEventSink(sink);
    sensor_->SetEventInterest(nullptr, 0);
    return SUCCEEDED(registered);
}

// The sink is detached first, so an event running on another thread has
// finished and later ones are dropped; only then is it unregistered. The
// entry may be deleted after this returns.
void SensorEntry::Unsubscribe()
{
    if (!sink_) {
        return;
    }
    sink_->Detach();
    if (sensor_) {
        sensor_->SetEventSink(nullptr);
    }
    sink_.Reset();
}

// ---------------------------------------------------------------- list

SensorList::SensorList()
{
    callbackLock_.Init();
    observerLock_.Init();
    apartment_.Init(1);
}

SensorList::~SensorList()
{
    TakeManagerMadeAhead();
    if (managerSink_) {
        managerSink_->Detach();
    }
    if (manager_) {
        manager_->SetEventSink(nullptr);
    }
    manager_.Reset();
    managerSink_.Reset();
    DeleteEntries();
    apartment_.Uninit();
}

void SensorList::SetChangeCallback(SensorChangeCallback callback, void* context)
{
    ScopedLock lock(callbackLock_);
    callback_ = callback;
    context_ = context;
}

void SensorList::Notify(int code, SensorEntry* entry)
{
    SensorChangeCallback callback;
    void* context;
    {
        ScopedLock lock(callbackLock_);
        callback = callback_;
        context = context_;
    }
    if (callback) {
        callback(code, entry, context);
    }
}

void SensorList::SetReportObserver(SensorReportObserver observer, void* context)
{
    ScopedLock lock(observerLock_);
    observer_ = observer;
    observerContext_ = context;
}

void SensorList::ObserveReport(const SensorEntry& entry, ISensorDataReport* report,
                               const LockedList& fields)
{
    ScopedLock lock(observerLock_);
    if (observer_) {
        observer_(entry, report, fields, observerContext_);
    }
}

void SensorList::DeleteEntries()
{
    ScopedLock lock(entries_);
    for (SensorEntry* entry = First(); entry; entry = entry->Next()) {
        entry->Unsubscribe();
    }
    entries_.Clear();
}

namespace {

// __uuidof: IID_ISensorManager lives in the Sensor API's import library,
// which the program does not link.
ComPtr<ISensorManager> NewSensorManager()
{
    return CreateByProgId<ISensorManager>(L"SensorsApi.SensorManager.1", __uuidof(ISensorManager));
}

} // namespace

int SensorList::CreateManagerAhead()
{
    if (manager_ || aheadThread_ || !apartment_.IsInitialised()) {
        return 0;
    }
    aheadThread_.Reset(CreateThread(nullptr, 0, CreateManagerEntry, this, 0, nullptr));
    return aheadThread_ ? 1 : 0;
}

DWORD WINAPI SensorList::CreateManagerEntry(void* list)
{
    auto* self = static_cast<SensorList*>(list);
    ComApartment apartment;
    if (apartment.Init(1)) {
        self->aheadManager_ = NewSensorManager();
    }
    return 0;
}

void SensorList::TakeManagerMadeAhead()
{
    if (!aheadThread_) {
        return;
    }
    WaitForSingleObject(aheadThread_.Get(), INFINITE);
    aheadThread_.Reset();
    if (!manager_) {
        manager_ = std::move(aheadManager_);
    }
    aheadManager_.Reset();
}

int SensorList::CreateManager()
{
    TakeManagerMadeAhead();
    if (!manager_) {
        manager_ = NewSensorManager();
    }
    return manager_ ? 1 : 0;
}

// The new sink is registered before the previous one is detached, so no
// arrival between the two is lost.
void SensorList::RegisterManagerSink()
{
    ManagerEventSink* sink = new (std::nothrow) ManagerEventSink(this);
    if (!sink) {
        return;
    }
    manager_->SetEventSink(sink);
    if (managerSink_) {
        managerSink_->Detach();
    }
    managerSink_.Reset(sink);
}

void SensorList::AddSensor(ISensor* sensor, LockedList& entries)
{
    SensorEntry* entry = new (std::nothrow) SensorEntry(this, sensor);
    if (!entry) {
        return;
    }
    ScopedBstr name;
    if (SUCCEEDED(sensor->GetFriendlyName(name.Receive())) && name) {
        entry->SetName(name.Get());
    }
    entry->ReadIdentity();
    entry->Subscribe();
    entries.Append(entry);
}

namespace {

// True when both are the same COM object (compared as IUnknown, as COM's
// identity rule asks).
bool IsSameObject(IUnknown* first, IUnknown* second)
{
    ComPtr<IUnknown> a;
    ComPtr<IUnknown> b;
    return first && second && SUCCEEDED(first->QueryInterface(IID_IUnknown, a.PutVoid())) &&
           SUCCEEDED(second->QueryInterface(IID_IUnknown, b.PutVoid())) && a.Get() == b.Get();
}

} // namespace

void ReportUtcTime(ISensorDataReport* report, SYSTEMTIME& utc)
{
    if (!report || FAILED(report->GetTimestamp(&utc))) {
        GetSystemTime(&utc);
    }
}

// An entry whose sensor left stays behind even when a sensor of the same id
// is listed again: that is a new arrival, with a sensor object of its own.
// So is a sensor of a known id behind another object (a driver that was
// replaced without a leave): its events reach only a sink of its own.
SensorEntry* SensorList::TakeEntry(ISensor* sensor)
{
    SENSOR_ID id;
    if (FAILED(sensor->GetID(&id))) {
        return nullptr;
    }
    for (SensorEntry* entry = First(); entry; entry = entry->Next()) {
        if (!entry->HasLeft() && IsEqualGUID(entry->Id(), id) &&
            IsSameObject(entry->Sensor(), sensor)) {
            entries_.Remove(entry);
            return entry;
        }
    }
    return nullptr;
}

// Entries of sensors still present keep their event sinks, so a rebuild
// loses none of their reports; new sensors are subscribed before the
// entries of departed ones let go of theirs.
SensorEntry* SensorList::Refresh()
{
    ScopedLock lock(entries_);
    if (!CreateManager()) {
        DeleteEntries();
        return nullptr;
    }
    RegisterManagerSink();
    LockedList present;
    ComPtr<ISensorCollection> sensors;
    ULONG count = 0;
    if (SUCCEEDED(manager_->GetSensorsByCategory(SENSOR_CATEGORY_ALL, sensors.Put())) && sensors &&
        SUCCEEDED(sensors->GetCount(&count))) {
        for (ULONG i = 0; i < count; ++i) {
            ComPtr<ISensor> sensor;
            if (FAILED(sensors->GetAt(i, sensor.Put())) || !sensor) {
                continue;
            }
            if (SensorEntry* kept = TakeEntry(sensor.Get())) {
                present.Append(kept);
            } else {
                AddSensor(sensor.Get(), present);
            }
        }
    }
    DeleteEntries();
    while (ListNode* entry = present.First()) {
        present.Remove(entry);
        entries_.Append(entry);
    }
    return First();
}

// The request takes a collection: one of the manager's own making, emptied
// and given the one sensor.
int SensorList::RequestAccess(const SensorEntry& entry, HWND parent)
{
    ComPtr<ISensorCollection> sensors;
    if (!manager_ || !entry.Sensor() ||
        FAILED(manager_->GetSensorsByCategory(SENSOR_CATEGORY_ALL, sensors.Put())) || !sensors ||
        FAILED(sensors->Clear()) || FAILED(sensors->Add(entry.Sensor()))) {
        return 0;
    }
    return SUCCEEDED(manager_->RequestPermissions(parent, sensors.Get(), TRUE));
}

// ---------------------------------------------------------------- sinks

HRESULT ManagerEventSink::OnSensorEnter(ISensor*, SensorState)
{
    ScopedLock lock(ownerLock_);
    if (owner_) {
        owner_->Notify(SENSOR_CHANGE_ENTER, nullptr);
    }
    return S_OK;
}

void SensorEventSink::Notify(int code, Action action, ISensorDataReport* report, long state)
{
    ScopedLock lock(ownerLock_);
    if (!owner_) {
        return;
    }
    if (action == READ_REPORT) {
        // The observer sees this report's own fields: a refill on the
        // window's thread may replace the entry's fields at any time.
        LockedList fresh;
        BuildFields(report, fresh);
        if (SensorList* list = owner_->Owner()) {
            list->ObserveReport(*owner_, report, fresh);
        }
        owner_->ReplaceFields(fresh);
        InterlockedExchange(&owner_->newData_, 1);
    } else if (action == NEW_STATE) {
        // A sensor that becomes ready may have data now, and one that loses
        // access has none: its fields are read again with the state.
        InterlockedExchange(&owner_->state_, state);
        owner_->ReadFields(nullptr);
        InterlockedExchange(&owner_->newData_, 1);
    } else if (action == MARK_LEFT) {
        InterlockedExchange(&owner_->left_, 1);
    }
    if (SensorList* list = owner_->Owner()) {
        list->Notify(code, owner_);
    }
}

HRESULT SensorEventSink::OnStateChanged(ISensor*, SensorState state)
{
    Notify(SENSOR_CHANGE_STATE, NEW_STATE, nullptr, static_cast<long>(state));
    return S_OK;
}

HRESULT SensorEventSink::OnDataUpdated(ISensor*, ISensorDataReport* report)
{
    Notify(SENSOR_CHANGE_DATA, READ_REPORT, report);
    return S_OK;
}

HRESULT SensorEventSink::OnEvent(ISensor*, REFGUID, IPortableDeviceValues*)
{
    Notify(SENSOR_CHANGE_EVENT, NOTIFY_ONLY, nullptr);
    return S_OK;
}

HRESULT SensorEventSink::OnLeave(REFSENSOR_ID)
{
    Notify(SENSOR_CHANGE_DATA, MARK_LEFT, nullptr);
    return S_OK;
}
