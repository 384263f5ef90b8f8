#pragma once

// Control interface of the sensor simulator (SensorSim.dll), the in-process
// stand-in for the Windows Sensor API used where the platform has none.
//
// Tests drive the simulator through these exports. Get them from the module
// that the program under test already loaded (after it created the sensor
// manager, GetModuleHandleW(SENSORSIM_MODULE_NAME)), or load the registered
// server yourself, then call SensorSimBind to fill a SensorSimControl.
//
// Sensors are identified by their sensor id (ISensor::GetID). Every function
// answers 1 for success and 0 for failure unless stated otherwise; none
// throws. The Fire* functions deliver the event on a simulator thread, as the
// Sensor API does, and return only after the program's sink has returned, so
// a test can check the outcome right after the call. They answer how many
// sinks were called (0 when the sensor is unknown or nobody subscribed).
//
// Scenario files are INI files; see simulator/scenarios/default.ini for the
// format. Values in text form ("VT_R8, 47.6, sine, 0.5, 10000") use the same
// syntax as the data sections of a scenario.

#include <windows.h>
#include <objbase.h>
#include <propidl.h>
#include <type_traits>

#define SENSORSIM_MODULE_NAME L"SensorSim.dll"

#ifdef __cplusplus
extern "C" {
#endif

// Replaces all sensors (silently, no events) with those of an INI file and
// starts its timeline unless the file switches it off. A null path loads the
// default scenario: %TESSEL_SENSOR_SCENARIO%, else SensorSim.ini next to the DLL.
typedef int(WINAPI* SensorSimLoadScenarioFn)(const wchar_t* path);
// Removes every sensor without events, stops the timeline and the storm,
// clears all failures and the delivered-event counter.
typedef int(WINAPI* SensorSimResetFn)(void);
// Stops and restarts the spontaneous events of the scenario's timeline
// (periodic data updates, arrivals, departures, scheduled events).
typedef int(WINAPI* SensorSimStopTimelineFn)(void);
typedef int(WINAPI* SensorSimStartTimelineFn)(void);

// Adds a present sensor without raising OnSensorEnter (use SensorSimFireEnter).
// name may be null: the sensor then has no friendly name. state is a
// SensorState value. Fails if a sensor with this id exists.
typedef int(WINAPI* SensorSimAddSensorFn)(const GUID* id, const GUID* category, const GUID* type,
                                          const wchar_t* name, int state);
// Makes the sensor vanish from the manager's collections, then raises its
// OnLeave (if a sink is set) and waits for it. Its objects stay valid for
// holders of references; GetData on them fails from then on.
typedef int(WINAPI* SensorSimRemoveSensorFn)(const GUID* id);

// Adds or replaces one data field with a constant value (copied).
typedef int(WINAPI* SensorSimSetFieldFn)(const GUID* id, const PROPERTYKEY* key,
                                         const PROPVARIANT* value);
// Same, key and value in scenario text form: key "SENSOR_DATA_TYPE_LATITUDE_DEGREES",
// "LATITUDE_DEGREES" or "{GUID},pid"; value "VT_R8, 47.6" with an optional generator.
typedef int(WINAPI* SensorSimSetFieldTextFn)(const GUID* id, const wchar_t* key,
                                             const wchar_t* value);
// Removes all data fields: reports of the sensor then hold no values.
typedef int(WINAPI* SensorSimClearFieldsFn)(const GUID* id);
// Makes ISensor::GetData of the sensor fail with hr; S_OK makes it succeed again.
typedef int(WINAPI* SensorSimSetDataFailureFn)(const GUID* id, HRESULT hr);

// Events: each waits until the sink returned; the result is the number of sinks called.
// OnDataUpdated with a fresh report (generated fields advance one step).
typedef int(WINAPI* SensorSimFireDataUpdatedFn)(const GUID* id);
// OnEvent with eventId (null: SENSOR_EVENT_PROPERTY_CHANGED) and its parameter values.
typedef int(WINAPI* SensorSimFireEventFn)(const GUID* id, const GUID* eventId);
// Sets the sensor's state, then raises OnStateChanged with it.
typedef int(WINAPI* SensorSimFireStateChangedFn)(const GUID* id, int state);
// Raises OnLeave without removing the sensor.
typedef int(WINAPI* SensorSimFireLeaveFn)(const GUID* id);
// Raises OnSensorEnter on every manager's sink for this (present) sensor.
typedef int(WINAPI* SensorSimFireEnterFn)(const GUID* id);

// Event storm: eventsPerSecond data reports per present sensor, from a
// simulator thread, until set to 0; subscribed sensors raise OnDataUpdated
// with them. Independent of the timeline.
typedef int(WINAPI* SensorSimSetStormFn)(unsigned eventsPerSecond);
// Events delivered to the program's sinks since load or reset (all kinds).
typedef LONG(WINAPI* SensorSimDeliveredEventsFn)(void);
// 1 when the sensor has an event sink set, 0 otherwise; a null id asks
// whether any manager has one.
typedef int(WINAPI* SensorSimHasSinkFn)(const GUID* id);
// Data reports the sensor raised since it was added (by the storm, the
// timeline or SensorSimFireDataUpdated), also those raised while it had no
// sink, which reached nobody; -1 for an unknown id.
typedef LONG(WINAPI* SensorSimRaisedReportsFn)(const GUID* id);
// Number of simulator COM objects alive (managers, sensors handed out as
// objects, collections, reports, value sets): shows leaked references.
typedef LONG(WINAPI* SensorSimLiveObjectsFn)(void);

// Adds or replaces one property that ISensor::GetProperties reports, over
// the defaults of the sensor's type; key "SENSOR_PROPERTY_MODEL", "MODEL" or
// "{GUID},pid", value as for SensorSimSetFieldText (constant only).
typedef int(WINAPI* SensorSimSetPropertyTextFn)(const GUID* id, const wchar_t* key,
                                                const wchar_t* value);
// What ISensorManager::RequestPermissions does for the sensor while it is
// denied access: 1 makes it ready (raising OnStateChanged), 0 leaves it denied.
typedef int(WINAPI* SensorSimSetAccessAnswerFn)(const GUID* id, int grant);
// RequestPermissions calls since load or reset; lastParent (may be null)
// receives the parent window of the last one.
typedef LONG(WINAPI* SensorSimPermissionRequestsFn)(HWND* lastParent);

#ifdef __cplusplus
}
#endif

struct SensorSimControl
{
    SensorSimLoadScenarioFn LoadScenario;
    SensorSimResetFn Reset;
    SensorSimStopTimelineFn StopTimeline;
    SensorSimStartTimelineFn StartTimeline;
    SensorSimAddSensorFn AddSensor;
    SensorSimRemoveSensorFn RemoveSensor;
    SensorSimSetFieldFn SetField;
    SensorSimSetFieldTextFn SetFieldText;
    SensorSimClearFieldsFn ClearFields;
    SensorSimSetDataFailureFn SetDataFailure;
    SensorSimFireDataUpdatedFn FireDataUpdated;
    SensorSimFireEventFn FireEvent;
    SensorSimFireStateChangedFn FireStateChanged;
    SensorSimFireLeaveFn FireLeave;
    SensorSimFireEnterFn FireEnter;
    SensorSimSetStormFn SetStorm;
    SensorSimDeliveredEventsFn DeliveredEvents;
    SensorSimHasSinkFn HasSink;
    SensorSimLiveObjectsFn LiveObjects;
    SensorSimSetPropertyTextFn SetPropertyText;
    SensorSimSetAccessAnswerFn SetAccessAnswer;
    SensorSimPermissionRequestsFn PermissionRequests;
    SensorSimRaisedReportsFn RaisedReports;
};

// Fills control from the loaded simulator module; 1 only if every export was found.
inline int SensorSimBind(HMODULE module, SensorSimControl* control)
{
    if (!module || !control) {
        return 0;
    }
    SensorSimControl c = {};
    int found = 1;
    auto bind = [&](auto& slot, const char* name) {
        FARPROC proc = GetProcAddress(module, name);
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
            reinterpret_cast<void*>(proc));
        found &= proc != nullptr;
    };
    bind(c.LoadScenario, "SensorSimLoadScenario");
    bind(c.Reset, "SensorSimReset");
    bind(c.StopTimeline, "SensorSimStopTimeline");
    bind(c.StartTimeline, "SensorSimStartTimeline");
    bind(c.AddSensor, "SensorSimAddSensor");
    bind(c.RemoveSensor, "SensorSimRemoveSensor");
    bind(c.SetField, "SensorSimSetField");
    bind(c.SetFieldText, "SensorSimSetFieldText");
    bind(c.ClearFields, "SensorSimClearFields");
    bind(c.SetDataFailure, "SensorSimSetDataFailure");
    bind(c.FireDataUpdated, "SensorSimFireDataUpdated");
    bind(c.FireEvent, "SensorSimFireEvent");
    bind(c.FireStateChanged, "SensorSimFireStateChanged");
    bind(c.FireLeave, "SensorSimFireLeave");
    bind(c.FireEnter, "SensorSimFireEnter");
    bind(c.SetStorm, "SensorSimSetStorm");
    bind(c.DeliveredEvents, "SensorSimDeliveredEvents");
    bind(c.HasSink, "SensorSimHasSink");
    bind(c.LiveObjects, "SensorSimLiveObjects");
    bind(c.SetPropertyText, "SensorSimSetPropertyText");
    bind(c.SetAccessAnswer, "SensorSimSetAccessAnswer");
    bind(c.PermissionRequests, "SensorSimPermissionRequests");
    bind(c.RaisedReports, "SensorSimRaisedReports");
    if (found) {
        *control = c;
    }
    return found;
}

// Binds control to the simulator, loading it through COM if the program has
// not done so yet (the calling thread must have initialised COM). The module
// stays loaded: the simulator never agrees to be unloaded.
inline int SensorSimOpen(SensorSimControl* control)
{
    HMODULE module = GetModuleHandleW(SENSORSIM_MODULE_NAME);
    if (!module) {
        // CLSID_SensorManager, spelt out so that callers need no GUID library.
        static const CLSID managerClass = {
            0x77A1C827, 0xFCD2, 0x4689, {0x89, 0x15, 0x9D, 0x61, 0x3C, 0xC5, 0xFA, 0x3E}};
        IClassFactory* factory = nullptr;
        if (SUCCEEDED(CoGetClassObject(managerClass, CLSCTX_INPROC_SERVER, nullptr,
                                       IID_IClassFactory, reinterpret_cast<void**>(&factory)))) {
            factory->Release();
        }
        module = GetModuleHandleW(SENSORSIM_MODULE_NAME);
    }
    return SensorSimBind(module, control);
}
