// The exports through which tests drive the simulator.
#include "SensorSimControl.h"
#include "Simulator.h"

namespace {

// Runs work once the simulator has started; 0 if it could not start.
template <class Work> int AfterStart(Work work)
{
    if (!SimStart()) {
        return 0;
    }
    work();
    return 1;
}

// The sensor with this id once the simulator has started, or null.
ComPtr<SimSensor> StartedSensor(const GUID* id)
{
    return id && SimStart() ? SimFindSensor(*id) : ComPtr<SimSensor>();
}

// Runs an event on the event thread for the sensor with this id.
template <class Deliver> int FireFor(const GUID* id, Deliver deliver)
{
    ComPtr<SimSensor> sensor = StartedSensor(id);
    if (!sensor) {
        return 0;
    }
    SimSensor* target = sensor.Get();
    return SimRunOnEventThread([&]() { return deliver(target); });
}

// Applies change to the sensor under the lock.
template <class Change> int ChangeSensor(const GUID* id, Change change)
{
    ComPtr<SimSensor> sensor = StartedSensor(id);
    if (!sensor) {
        return 0;
    }
    SimLock lock;
    return change(sensor.Get());
}

} // namespace

extern "C" {

int WINAPI SensorSimLoadScenario(const wchar_t* path)
{
    if (!SimStart()) {
        return 0;
    }
    try {
        return SimLoadScenario(path ? std::wstring(path) : SimDefaultScenarioPath());
    } catch (...) {
        return 0;
    }
}

int WINAPI SensorSimReset(void)
{
    return AfterStart([] { SimReset(); });
}

int WINAPI SensorSimStopTimeline(void)
{
    return AfterStart([] { SimSetTimeline(false); });
}

int WINAPI SensorSimStartTimeline(void)
{
    return AfterStart([] { SimSetTimeline(true); });
}

int WINAPI SensorSimAddSensor(const GUID* id, const GUID* category, const GUID* type,
                              const wchar_t* name, int state)
{
    if (!id || !category || !type || state < SENSOR_STATE_MIN || state > SENSOR_STATE_MAX ||
        !SimStart()) {
        return 0;
    }
    try {
        SensorDefinition definition;
        definition.id = *id;
        definition.category = *category;
        definition.type = *type;
        definition.hasName = name != nullptr;
        definition.name = name ? name : L"";
        definition.state = state;
        return SimAddSensor(definition);
    } catch (...) {
        return 0;
    }
}

int WINAPI SensorSimRemoveSensor(const GUID* id)
{
    if (!id || !SimStart()) {
        return 0;
    }
    ComPtr<SimSensor> sensor = SimTakeSensor(*id);
    if (!sensor) {
        return 0;
    }
    SimSensor* target = sensor.Get();
    SimRunOnEventThread([target]() { return SimDeliverLeave(target, true); });
    return 1;
}

int WINAPI SensorSimSetField(const GUID* id, const PROPERTYKEY* key, const PROPVARIANT* value)
{
    if (!key || !value) {
        return 0;
    }
    // The constant value is kept as a scenario field of the same type.
    FieldDefinition field;
    field.key = *key;
    field.type = value->vt;
    switch (value->vt) {
    case VT_EMPTY:
        break;
    case VT_LPWSTR:
        field.text = value->pwszVal ? value->pwszVal : L"";
        break;
    case VT_BSTR:
        field.text = value->bstrVal ? std::wstring(value->bstrVal, SysStringLen(value->bstrVal))
                                    : std::wstring();
        break;
    case VT_CLSID:
        if (!value->puuid) {
            return 0;
        }
        field.guid = *value->puuid;
        break;
    case VT_FILETIME:
        field.time = value->filetime;
        break;
    case VT_VECTOR | VT_UI1:
        field.bytes.assign(value->caub.pElems, value->caub.pElems + value->caub.cElems);
        break;
    case VT_I1:
        field.number = value->cVal;
        break;
    case VT_I2:
        field.number = value->iVal;
        break;
    case VT_I4:
        field.number = value->lVal;
        break;
    case VT_INT:
        field.number = value->intVal;
        break;
    case VT_I8:
        field.number = static_cast<double>(value->hVal.QuadPart);
        break;
    case VT_UI1:
        field.number = value->bVal;
        break;
    case VT_UI2:
        field.number = value->uiVal;
        break;
    case VT_UI4:
        field.number = value->ulVal;
        break;
    case VT_UINT:
        field.number = value->uintVal;
        break;
    case VT_UI8:
        field.number = static_cast<double>(value->uhVal.QuadPart);
        break;
    case VT_R4:
        field.number = value->fltVal;
        break;
    case VT_R8:
        field.number = value->dblVal;
        break;
    case VT_DATE:
        field.number = value->date;
        break;
    case VT_BOOL:
        field.number = value->boolVal != VARIANT_FALSE;
        break;
    case VT_ERROR:
        field.number = static_cast<double>(static_cast<unsigned long>(value->scode));
        break;
    default:
        return 0;
    }
    return ChangeSensor(id, [&](SimSensor* sensor) { return sensor->PutField(field); });
}

int WINAPI SensorSimSetFieldText(const GUID* id, const wchar_t* key, const wchar_t* value)
{
    if (!key || !value) {
        return 0;
    }
    try {
        FieldDefinition field;
        if (!ParseFieldKey(key, &field.key) || !ParseFieldValue(value, &field)) {
            return 0;
        }
        return ChangeSensor(id, [&](SimSensor* sensor) { return sensor->PutField(field); });
    } catch (...) {
        return 0;
    }
}

int WINAPI SensorSimClearFields(const GUID* id)
{
    return ChangeSensor(id, [](SimSensor* sensor) {
        sensor->fields.clear();
        return 1;
    });
}

int WINAPI SensorSimSetDataFailure(const GUID* id, HRESULT hr)
{
    return ChangeSensor(id, [hr](SimSensor* sensor) {
        sensor->dataFailure = SUCCEEDED(hr) ? S_OK : hr;
        return 1;
    });
}

int WINAPI SensorSimFireDataUpdated(const GUID* id)
{
    return FireFor(id, [](SimSensor* sensor) { return SimDeliverDataUpdated(sensor); });
}

int WINAPI SensorSimFireEvent(const GUID* id, const GUID* eventId)
{
    GUID chosen = eventId ? *eventId : SENSOR_EVENT_PROPERTY_CHANGED;
    return FireFor(id, [chosen](SimSensor* sensor) { return SimDeliverEvent(sensor, chosen); });
}

int WINAPI SensorSimFireStateChanged(const GUID* id, int state)
{
    if (state < SENSOR_STATE_MIN || state > SENSOR_STATE_MAX) {
        return 0;
    }
    return FireFor(id,
                   [state](SimSensor* sensor) { return SimDeliverStateChanged(sensor, state); });
}

int WINAPI SensorSimFireLeave(const GUID* id)
{
    // Only the event: the sensor stays enumerable and keeps answering.
    return FireFor(id, [](SimSensor* sensor) { return SimDeliverLeave(sensor, false); });
}

int WINAPI SensorSimFireEnter(const GUID* id)
{
    return FireFor(id, [](SimSensor* sensor) { return SimDeliverEnter(sensor); });
}

int WINAPI SensorSimSetStorm(unsigned eventsPerSecond)
{
    return AfterStart([eventsPerSecond] { SimSetStorm(eventsPerSecond); });
}

LONG WINAPI SensorSimDeliveredEvents(void)
{
    return SimDeliveredEvents();
}

int WINAPI SensorSimHasSink(const GUID* id)
{
    return SimHasSink(id);
}

LONG WINAPI SensorSimRaisedReports(const GUID* id)
{
    return id ? SimRaisedReports(*id) : -1;
}

LONG WINAPI SensorSimLiveObjects(void)
{
    return InterlockedCompareExchange(&g_liveObjects, 0, 0);
}

int WINAPI SensorSimSetPropertyText(const GUID* id, const wchar_t* key, const wchar_t* value)
{
    if (!key || !value) {
        return 0;
    }
    try {
        FieldDefinition property;
        if (!ParsePropertyKey(key, &property.key) || !ParseFieldValue(value, &property) ||
            property.generator != Generator::Constant) {
            return 0;
        }
        return ChangeSensor(id, [&](SimSensor* sensor) { return sensor->PutProperty(property); });
    } catch (...) {
        return 0;
    }
}

int WINAPI SensorSimSetAccessAnswer(const GUID* id, int grant)
{
    return ChangeSensor(id, [grant](SimSensor* sensor) {
        sensor->grantAccess = grant != 0;
        return 1;
    });
}

LONG WINAPI SensorSimPermissionRequests(HWND* lastParent)
{
    return SimPermissionRequests(lastParent);
}

} // extern "C"

// The exports must match the types that tests cast them to.
static_assert(std::is_same<decltype(&SensorSimLoadScenario), SensorSimLoadScenarioFn>::value,
              "SensorSimLoadScenario");
static_assert(std::is_same<decltype(&SensorSimReset), SensorSimResetFn>::value, "SensorSimReset");
static_assert(std::is_same<decltype(&SensorSimStopTimeline), SensorSimStopTimelineFn>::value,
              "SensorSimStopTimeline");
static_assert(std::is_same<decltype(&SensorSimStartTimeline), SensorSimStartTimelineFn>::value,
              "SensorSimStartTimeline");
static_assert(std::is_same<decltype(&SensorSimAddSensor), SensorSimAddSensorFn>::value,
              "SensorSimAddSensor");
static_assert(std::is_same<decltype(&SensorSimRemoveSensor), SensorSimRemoveSensorFn>::value,
              "SensorSimRemoveSensor");
static_assert(std::is_same<decltype(&SensorSimSetField), SensorSimSetFieldFn>::value,
              "SensorSimSetField");
static_assert(std::is_same<decltype(&SensorSimSetFieldText), SensorSimSetFieldTextFn>::value,
              "SensorSimSetFieldText");
static_assert(std::is_same<decltype(&SensorSimClearFields), SensorSimClearFieldsFn>::value,
              "SensorSimClearFields");
static_assert(std::is_same<decltype(&SensorSimSetDataFailure), SensorSimSetDataFailureFn>::value,
              "SensorSimSetDataFailure");
static_assert(std::is_same<decltype(&SensorSimFireDataUpdated), SensorSimFireDataUpdatedFn>::value,
              "SensorSimFireDataUpdated");
static_assert(std::is_same<decltype(&SensorSimFireEvent), SensorSimFireEventFn>::value,
              "SensorSimFireEvent");
static_assert(
    std::is_same<decltype(&SensorSimFireStateChanged), SensorSimFireStateChangedFn>::value,
    "SensorSimFireStateChanged");
static_assert(std::is_same<decltype(&SensorSimFireLeave), SensorSimFireLeaveFn>::value,
              "SensorSimFireLeave");
static_assert(std::is_same<decltype(&SensorSimFireEnter), SensorSimFireEnterFn>::value,
              "SensorSimFireEnter");
static_assert(std::is_same<decltype(&SensorSimSetStorm), SensorSimSetStormFn>::value,
              "SensorSimSetStorm");
static_assert(std::is_same<decltype(&SensorSimDeliveredEvents), SensorSimDeliveredEventsFn>::value,
              "SensorSimDeliveredEvents");
static_assert(std::is_same<decltype(&SensorSimRaisedReports), SensorSimRaisedReportsFn>::value,
              "SensorSimRaisedReports");
static_assert(std::is_same<decltype(&SensorSimHasSink), SensorSimHasSinkFn>::value,
              "SensorSimHasSink");
static_assert(std::is_same<decltype(&SensorSimLiveObjects), SensorSimLiveObjectsFn>::value,
              "SensorSimLiveObjects");
static_assert(std::is_same<decltype(&SensorSimSetPropertyText), SensorSimSetPropertyTextFn>::value,
              "SensorSimSetPropertyText");
static_assert(std::is_same<decltype(&SensorSimSetAccessAnswer), SensorSimSetAccessAnswerFn>::value,
              "SensorSimSetAccessAnswer");
static_assert(
    std::is_same<decltype(&SensorSimPermissionRequests), SensorSimPermissionRequestsFn>::value,
    "SensorSimPermissionRequests");
