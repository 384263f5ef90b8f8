#pragma once

#include "SimCom.h"
#include "SimField.h"
#include "SimScenario.h"
#include "SimValues.h"

#include <sensorsapi.h>
#include <sensors.h>

#include <vector>

// One simulated sensor; the same object is handed out every time the
// sensor is enumerated. Members below the identity are guarded by SimLock.
class SimSensor : public SimObject<ISensor>
{
public:
    // Fails (0) only when memory runs out.
    static int Create(const SensorDefinition& definition, ComPtr<SimSensor>* sensor);

    const GUID& Id() const { return definition_.id; }
    const GUID& Category() const { return definition_.category; }
    const GUID& Type() const { return definition_.type; }
    const SensorDefinition& Definition() const { return definition_; }

    // A report of the current field values (after one generator step when
    // advance is set), or the data failure. Call under SimLock.
    HRESULT MakeReport(bool advance, ISensorDataReport** report);
    // The sensor's properties as ISensor::GetProperty answers them. Call under SimLock.
    HRESULT MakeProperties(ComPtr<PortableValues>* properties) const;
    // The same, taking the lock for the call.
    HRESULT MakeLockedProperties(ComPtr<PortableValues>* properties) const;
    // Adds or replaces a field, or a property. Call under SimLock.
    int PutField(const FieldDefinition& definition);
    int PutProperty(const FieldDefinition& definition);
    // The shortest report interval the sensor reports
    // (SENSOR_PROPERTY_MIN_REPORT_INTERVAL), and the one it falls back to
    // when asked for 0. Call under SimLock.
    unsigned MinimumIntervalMs() const;
    unsigned DefaultIntervalMs() const;

    HRESULT STDMETHODCALLTYPE GetID(SENSOR_ID* id) override;
    HRESULT STDMETHODCALLTYPE GetCategory(SENSOR_CATEGORY_ID* category) override;
    HRESULT STDMETHODCALLTYPE GetType(SENSOR_TYPE_ID* type) override;
    HRESULT STDMETHODCALLTYPE GetFriendlyName(BSTR* name) override;
    HRESULT STDMETHODCALLTYPE GetProperty(REFPROPERTYKEY key, PROPVARIANT* value) override;
    HRESULT STDMETHODCALLTYPE GetProperties(IPortableDeviceKeyCollection* keys,
                                            IPortableDeviceValues** values) override;
    HRESULT STDMETHODCALLTYPE GetSupportedDataFields(IPortableDeviceKeyCollection** keys) override;
    HRESULT STDMETHODCALLTYPE SetProperties(IPortableDeviceValues* properties,
                                            IPortableDeviceValues** results) override;
    HRESULT STDMETHODCALLTYPE SupportsDataField(REFPROPERTYKEY key,
                                                VARIANT_BOOL* supported) override;
    HRESULT STDMETHODCALLTYPE GetState(SensorState* state) override;
    HRESULT STDMETHODCALLTYPE GetData(ISensorDataReport** report) override;
    HRESULT STDMETHODCALLTYPE SupportsEvent(REFGUID eventId, VARIANT_BOOL* supported) override;
    HRESULT STDMETHODCALLTYPE GetEventInterest(GUID** eventIds, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE SetEventInterest(GUID* eventIds, ULONG count) override;
    HRESULT STDMETHODCALLTYPE SetEventSink(ISensorEvents* sink) override;

    // Guarded by SimLock.
    int state = 0;
    bool grantAccess = true;
    // The scenario's properties and those set through the control interface.
    std::vector<FieldDefinition> properties;
    bool present = false;
    HRESULT dataFailure = S_OK;
    std::vector<FieldState> fields;
    ComPtr<ISensorEvents> sink;
    std::vector<GUID> interest;
    // The report interval in force (SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL):
    // the scenario's until a program sets another. A sensor with periodic
    // updates sends them at this pace.
    unsigned intervalMs = 0;
    bool acceptsInterval = true;
    // Timeline progress, in milliseconds of timeline time.
    unsigned long long nextUpdateMs = 0;
    bool arrived = false;
    std::vector<bool> actionsDone;

private:
    explicit SimSensor(const SensorDefinition& definition);
    // One key of SetProperties: its result.
    HRESULT SetOneProperty(const PROPERTYKEY& key, const PROPVARIANT& value);

    SensorDefinition definition_;
};

// A data report: the time it was taken and a snapshot of the values.
class SimReport : public SimObject<ISensorDataReport>
{
public:
    SimReport(const SYSTEMTIME& time, ComPtr<PortableValues> values);

    HRESULT STDMETHODCALLTYPE GetTimestamp(SYSTEMTIME* time) override;
    HRESULT STDMETHODCALLTYPE GetSensorValue(REFPROPERTYKEY key, PROPVARIANT* value) override;
    HRESULT STDMETHODCALLTYPE GetSensorValues(IPortableDeviceKeyCollection* keys,
                                              IPortableDeviceValues** values) override;

private:
    SYSTEMTIME time_;
    ComPtr<PortableValues> values_;
};

class SimCollection : public SimObject<ISensorCollection>
{
public:
    int Append(ISensor* sensor);

    HRESULT STDMETHODCALLTYPE GetAt(ULONG index, ISensor** sensor) override;
    HRESULT STDMETHODCALLTYPE GetCount(ULONG* count) override;
    HRESULT STDMETHODCALLTYPE Add(ISensor* sensor) override;
    HRESULT STDMETHODCALLTYPE Remove(ISensor* sensor) override;
    HRESULT STDMETHODCALLTYPE RemoveByID(REFSENSOR_ID id) override;
    HRESULT STDMETHODCALLTYPE Clear() override;

private:
    std::vector<ComPtr<ISensor>> sensors_;
};

class SimManager : public SimObject<ISensorManager>
{
public:
    SimManager();
    ~SimManager() override;

    HRESULT STDMETHODCALLTYPE GetSensorsByCategory(REFSENSOR_CATEGORY_ID category,
                                                   ISensorCollection** found) override;
    HRESULT STDMETHODCALLTYPE GetSensorsByType(REFSENSOR_TYPE_ID type,
                                               ISensorCollection** found) override;
    HRESULT STDMETHODCALLTYPE GetSensorByID(REFSENSOR_ID id, ISensor** sensor) override;
    HRESULT STDMETHODCALLTYPE SetEventSink(ISensorManagerEvents* sink) override;
    // Grants access to the listed sensors that are denied it and whose
    // scenario grants it, raising their state changes; answers
    // ERROR_ACCESS_DENIED when any listed sensor stays denied.
    HRESULT STDMETHODCALLTYPE RequestPermissions(HWND parent, ISensorCollection* sensors,
                                                 WINBOOL modal) override;

    // Guarded by SimLock.
    ComPtr<ISensorManagerEvents> sink;
};
