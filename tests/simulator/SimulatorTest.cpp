#include <doctest.h>

#include "../../simulator/SensorSimControl.h"

#include <windows.h>
#include <objbase.h>
// Defines the sensor GUIDs in this test program.
#include <initguid.h>
#include <sensorsapi.h>
#include <sensors.h>

#include <cstdio>
#include <string>

namespace {

const GUID testId = {0x5A1D0001, 0x1111, 0x4222, {0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};
const GUID otherId = {0x5A1D0002, 0x1111, 0x4222, {0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};
const HRESULT notFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

// COM for the test thread, the way the viewer initialises it.
struct MtaThread
{
    MtaThread() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~MtaThread() { CoUninitialize(); }
};

template <class Interface> struct Held
{
    Interface* p = nullptr;
    Held() = default;
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held()
    {
        if (p) {
            p->Release();
        }
    }
    Interface** Out() { return &p; }
    Interface* operator->() const { return p; }
};

// Records what the simulator raises and on which thread.
class RecordingSink : public ISensorEvents, public ISensorManagerEvents
{
public:
    volatile LONG dataUpdates = 0;
    volatile LONG events = 0;
    volatile LONG stateChanges = 0;
    volatile LONG leaves = 0;
    volatile LONG enters = 0;
    DWORD lastThread = 0;
    double lastLatitude = 0;
    GUID lastLeaveId = {};
    GUID lastEventId = {};
    SensorState lastState = SENSOR_STATE_READY;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(ISensorEvents))) {
            *object = static_cast<ISensorEvents*>(this);
        } else if (IsEqualIID(iid, __uuidof(ISensorManagerEvents))) {
            *object = static_cast<ISensorManagerEvents*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    // Lives on the test's stack; the counts only show balance.
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&references); }

    HRESULT STDMETHODCALLTYPE OnStateChanged(ISensor*, SensorState state) override
    {
        lastThread = GetCurrentThreadId();
        lastState = state;
        InterlockedIncrement(&stateChanges);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDataUpdated(ISensor*, ISensorDataReport* report) override
    {
        lastThread = GetCurrentThreadId();
        PROPVARIANT value;
        PropVariantInit(&value);
        if (report &&
            SUCCEEDED(report->GetSensorValue(SENSOR_DATA_TYPE_LATITUDE_DEGREES, &value)) &&
            value.vt == VT_R8) {
            lastLatitude = value.dblVal;
        }
        PropVariantClear(&value);
        InterlockedIncrement(&dataUpdates);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEvent(ISensor*, REFGUID eventId, IPortableDeviceValues*) override
    {
        lastThread = GetCurrentThreadId();
        lastEventId = eventId;
        InterlockedIncrement(&events);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnLeave(REFSENSOR_ID id) override
    {
        lastThread = GetCurrentThreadId();
        lastLeaveId = id;
        InterlockedIncrement(&leaves);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnSensorEnter(ISensor*, SensorState state) override
    {
        lastThread = GetCurrentThreadId();
        lastState = state;
        InterlockedIncrement(&enters);
        return S_OK;
    }

    volatile LONG references = 0;
};

SensorSimControl& Control()
{
    static SensorSimControl control = {};
    static int bound = SensorSimOpen(&control);
    REQUIRE(bound == 1);
    return control;
}

void CreateManager(Held<ISensorManager>* manager)
{
    CLSID classId = {};
    REQUIRE(CLSIDFromProgID(L"SensorsApi.SensorManager.1", &classId) == S_OK);
    CHECK(IsEqualCLSID(classId, CLSID_SensorManager));
    REQUIRE(CoCreateInstance(classId, nullptr, CLSCTX_ALL, __uuidof(ISensorManager),
                             reinterpret_cast<void**>(manager->Out())) == S_OK);
}

// Waits (bounded) until counter reaches at least target.
bool WaitFor(volatile LONG* counter, LONG target)
{
    for (int i = 0; i < 1000 && InterlockedCompareExchange(counter, 0, 0) < target; ++i) {
        Sleep(10);
    }
    return *counter >= target;
}

std::wstring TempScenario(const char* text)
{
    wchar_t folder[MAX_PATH];
    wchar_t path[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"sim", 0, path);
    FILE* file = _wfopen(path, L"wb");
    REQUIRE(file);
    fputs(text, file);
    fclose(file);
    return path;
}

double ReadLatitude(ISensor* sensor, HRESULT* result)
{
    Held<ISensorDataReport> report;
    *result = sensor->GetData(report.Out());
    if (FAILED(*result)) {
        return 0;
    }
    Held<IPortableDeviceValues> values;
    *result = report->GetSensorValues(nullptr, values.Out());
    double latitude = 0;
    if (SUCCEEDED(*result)) {
        PROPVARIANT value;
        PropVariantInit(&value);
        *result = values->GetValue(SENSOR_DATA_TYPE_LATITUDE_DEGREES, &value);
        latitude = value.vt == VT_R8 ? value.dblVal : -1;
        PropVariantClear(&value);
    }
    return latitude;
}

} // namespace

TEST_CASE("the registered simulator enumerates the default laptop sensors")
{
    MtaThread com;
    Held<ISensorManager> manager;
    CreateManager(&manager);
    SensorSimControl& sim = Control();
    REQUIRE(sim.LoadScenario(nullptr) == 1);
    REQUIRE(sim.StopTimeline() == 1);

    Held<ISensorCollection> sensors;
    REQUIRE(manager->GetSensorsByCategory(SENSOR_CATEGORY_ALL, sensors.Out()) == S_OK);
    ULONG count = 0;
    REQUIRE(sensors->GetCount(&count) == S_OK);
    CHECK(count == 6);

    int nameless = 0;
    for (ULONG i = 0; i < count; ++i) {
        Held<ISensor> sensor;
        REQUIRE(sensors->GetAt(i, sensor.Out()) == S_OK);
        BSTR name = nullptr;
        if (FAILED(sensor->GetFriendlyName(&name))) {
            CHECK(name == nullptr);
            ++nameless;
        }
        SysFreeString(name);
    }
    CHECK(nameless == 1);

    SUBCASE("the GPS reports its fixed latitude")
    {
        Held<ISensorCollection> location;
        REQUIRE(manager->GetSensorsByCategory(SENSOR_CATEGORY_LOCATION, location.Out()) == S_OK);
        Held<ISensor> gps;
        REQUIRE(location->GetAt(0, gps.Out()) == S_OK);
        HRESULT hr = E_FAIL;
        CHECK(ReadLatitude(gps.p, &hr) == doctest::Approx(47.6));
        CHECK(hr == S_OK);
        Held<ISensor> again;
        CHECK(location->GetAt(1, again.Out()) == E_INVALIDARG);
    }
    SUBCASE("a category without sensors is an error with no collection")
    {
        Held<ISensorCollection> none;
        CHECK(manager->GetSensorsByCategory(SENSOR_CATEGORY_SCANNER, none.Out()) == notFound);
        CHECK(none.p == nullptr);
    }
}

TEST_CASE("control calls raise events synchronously on a simulator thread")
{
    MtaThread com;
    Held<ISensorManager> manager;
    CreateManager(&manager);
    SensorSimControl& sim = Control();
    REQUIRE(sim.Reset() == 1);
    Held<ISensorCollection> empty;
    CHECK(manager->GetSensorsByCategory(SENSOR_CATEGORY_ALL, empty.Out()) == notFound);

    REQUIRE(sim.AddSensor(&testId, &SENSOR_CATEGORY_LOCATION, &SENSOR_TYPE_LOCATION_GPS, L"GPS",
                          SENSOR_STATE_READY) == 1);
    CHECK(sim.AddSensor(&testId, &SENSOR_CATEGORY_LOCATION, &SENSOR_TYPE_LOCATION_GPS, L"GPS",
                        SENSOR_STATE_READY) == 0);
    REQUIRE(sim.SetFieldText(&testId, L"SENSOR_DATA_TYPE_LATITUDE_DEGREES", L"VT_R8, 12.5") == 1);

    RecordingSink sink;
    Held<ISensor> sensor;
    REQUIRE(manager->GetSensorByID(testId, sensor.Out()) == S_OK);
    CHECK(sim.FireDataUpdated(&testId) == 0); // nobody subscribed yet
    REQUIRE(sensor->SetEventSink(&sink) == S_OK);
    REQUIRE(manager->SetEventSink(&sink) == S_OK);
    CHECK(sim.HasSink(&testId) == 1);

    CHECK(sim.FireDataUpdated(&testId) == 1);
    CHECK(sink.dataUpdates == 1);
    CHECK(sink.lastLatitude == 12.5);
    CHECK(sink.lastThread != GetCurrentThreadId());

    CHECK(sim.FireEvent(&testId, &SENSOR_EVENT_ACCELEROMETER_SHAKE) == 1);
    CHECK(IsEqualGUID(sink.lastEventId, SENSOR_EVENT_ACCELEROMETER_SHAKE));
    CHECK(sim.FireStateChanged(&testId, SENSOR_STATE_NO_DATA) == 1);
    CHECK(sink.lastState == SENSOR_STATE_NO_DATA);
    SensorState state = SENSOR_STATE_READY;
    CHECK(sensor->GetState(&state) == S_OK);
    CHECK(state == SENSOR_STATE_NO_DATA);
    CHECK(sim.FireEnter(&testId) == 1);
    CHECK(sink.enters == 1);
    CHECK(sim.FireLeave(&testId) == 1);
    CHECK(sink.leaves == 1);
    CHECK(sim.FireDataUpdated(&otherId) == 0);

    SUBCASE("GetData fails on demand and data updates stop meanwhile")
    {
        REQUIRE(sim.SetDataFailure(&testId, E_ACCESSDENIED) == 1);
        HRESULT hr = S_OK;
        ReadLatitude(sensor.p, &hr);
        CHECK(hr == E_ACCESSDENIED);
        CHECK(sim.FireDataUpdated(&testId) == 0);
        REQUIRE(sim.SetDataFailure(&testId, S_OK) == 1);
        CHECK(ReadLatitude(sensor.p, &hr) == 12.5);
    }
    SUBCASE("a removed sensor leaves, vanishes and answers no data")
    {
        REQUIRE(sim.RemoveSensor(&testId) == 1);
        CHECK(sink.leaves == 2);
        CHECK(IsEqualGUID(sink.lastLeaveId, testId));
        Held<ISensorCollection> after;
        CHECK(manager->GetSensorsByCategory(SENSOR_CATEGORY_ALL, after.Out()) == notFound);
        HRESULT hr = S_OK;
        ReadLatitude(sensor.p, &hr);
        CHECK(FAILED(hr));
        CHECK(sim.RemoveSensor(&testId) == 0);
    }
    SUBCASE("an emptied sensor reports no values")
    {
        REQUIRE(sim.ClearFields(&testId) == 1);
        Held<ISensorDataReport> report;
        REQUIRE(sensor->GetData(report.Out()) == S_OK);
        Held<IPortableDeviceValues> values;
        REQUIRE(report->GetSensorValues(nullptr, values.Out()) == S_OK);
        DWORD count = 99;
        CHECK(values->GetCount(&count) == S_OK);
        CHECK(count == 0);
    }

    sensor->SetEventSink(nullptr);
    manager->SetEventSink(nullptr);
    CHECK(sink.references == 0);
    CHECK(sim.HasSink(&testId) == 0);
}

TEST_CASE("field values keep their type, and malformed text is refused")
{
    MtaThread com;
    SensorSimControl& sim = Control();
    REQUIRE(sim.Reset() == 1);
    REQUIRE(sim.AddSensor(&testId, &SENSOR_CATEGORY_OTHER, &SENSOR_TYPE_CUSTOM, nullptr,
                          SENSOR_STATE_READY) == 1);
    REQUIRE(sim.SetFieldText(&testId, L"{0123ABCD-4567-89EF-0123-456789ABCDEF},7",
                             L"VT_LPWSTR, a, b and c") == 1);
    REQUIRE(sim.SetFieldText(&testId, L"SATELLITES_USED_PRNS", L"VT_VECTOR|VT_UI1, 3 17 200") == 1);
    REQUIRE(sim.SetFieldText(&testId, L"BOOLEAN_SWITCH_STATE", L"VT_BOOL, true") == 1);
    REQUIRE(sim.SetFieldText(&testId, L"TIMESTAMP", L"VT_FILETIME, 2024-03-15T13:45:30") == 1);
    PROPVARIANT four;
    PropVariantInit(&four);
    four.vt = VT_UI4;
    four.ulVal = 4000000000u;
    REQUIRE(sim.SetField(&testId, &SENSOR_DATA_TYPE_SATELLITES_IN_VIEW, &four) == 1);

    CHECK(sim.SetFieldText(&testId, L"LATITUDE_DEGREES", L"VT_R8, abc") == 0);
    CHECK(sim.SetFieldText(&testId, L"LATITUDE_DEGREES", L"VT_R8, 1, sine, 2") == 0);
    CHECK(sim.SetFieldText(&testId, L"LATITUDE_DEGREES", L"VT_WHATEVER, 1") == 0);
    CHECK(sim.SetFieldText(&testId, L"NO_SUCH_KEY", L"VT_R8, 1") == 0);
    CHECK(sim.SetFieldText(&testId, L"{0123ABCD-4567},7", L"VT_R8, 1") == 0);
    CHECK(sim.SetFieldText(&testId, L"SATELLITES_USED_PRNS", L"VT_VECTOR|VT_UI1, 3 300") == 0);
    CHECK(sim.SetFieldText(&otherId, L"LATITUDE_DEGREES", L"VT_R8, 1") == 0);

    Held<ISensorManager> manager;
    CreateManager(&manager);
    Held<ISensor> sensor;
    REQUIRE(manager->GetSensorByID(testId, sensor.Out()) == S_OK);
    Held<ISensorDataReport> report;
    REQUIRE(sensor->GetData(report.Out()) == S_OK);
    Held<IPortableDeviceValues> values;
    REQUIRE(report->GetSensorValues(nullptr, values.Out()) == S_OK);
    DWORD count = 0;
    REQUIRE(values->GetCount(&count) == S_OK);
    REQUIRE(count == 5);

    PROPERTYKEY key = {};
    PROPVARIANT value;
    PropVariantInit(&value);
    REQUIRE(values->GetAt(0, &key, &value) == S_OK);
    CHECK(key.pid == 7);
    CHECK(value.vt == VT_LPWSTR);
    CHECK(std::wstring(value.pwszVal) == L"a, b and c");
    PropVariantClear(&value);
    REQUIRE(values->GetAt(1, nullptr, &value) == S_OK);
    CHECK(value.vt == (VT_VECTOR | VT_UI1));
    CHECK(value.caub.cElems == 3);
    PropVariantClear(&value);
    CHECK(values->GetAt(5, &key, &value) == E_INVALIDARG);

    WINBOOL on = FALSE;
    CHECK(values->GetBoolValue(SENSOR_DATA_TYPE_BOOLEAN_SWITCH_STATE, &on) == S_OK);
    CHECK(on);
    ULONG satellites = 0;
    CHECK(values->GetUnsignedIntegerValue(SENSOR_DATA_TYPE_SATELLITES_IN_VIEW, &satellites) ==
          S_OK);
    CHECK(satellites == 4000000000u);
    LONG wrongType = 0;
    CHECK(values->GetSignedIntegerValue(SENSOR_DATA_TYPE_SATELLITES_IN_VIEW, &wrongType) ==
          DISP_E_TYPEMISMATCH);
    CHECK(values->GetUnsignedIntegerValue(SENSOR_DATA_TYPE_LATITUDE_DEGREES, &satellites) ==
          notFound);

    BSTR name = reinterpret_cast<BSTR>(1);
    CHECK(FAILED(sensor->GetFriendlyName(&name)));
    CHECK(name == nullptr);
}

TEST_CASE("scenario files drive a timeline; a malformed file changes nothing")
{
    MtaThread com;
    SensorSimControl& sim = Control();
    REQUIRE(sim.Reset() == 1);
    REQUIRE(sim.AddSensor(&otherId, &SENSOR_CATEGORY_LIGHT, &SENSOR_TYPE_AMBIENT_LIGHT, L"Kept",
                          SENSOR_STATE_READY) == 1);

    std::wstring broken = TempScenario("[Simulator]\r\nSensors=A\r\n[A]\r\n"
                                       "Id={5A1D0001-1111-4222-8333-444455556666}\r\n"
                                       "Category=NOT_A_CATEGORY\r\nType=LOCATION_GPS\r\n");
    CHECK(sim.LoadScenario(broken.c_str()) == 0);
    CHECK(sim.LoadScenario(L"C:\\no\\such\\scenario.ini") == 0);
    Held<ISensorManager> manager;
    CreateManager(&manager);
    Held<ISensor> kept;
    CHECK(manager->GetSensorByID(otherId, kept.Out()) == S_OK);
    DeleteFileW(broken.c_str());

    std::wstring timed = TempScenario("[Simulator]\r\nSensors=A, Late\r\nTimeline=0\r\n"
                                      "[A]\r\nId={5A1D0001-1111-4222-8333-444455556666}\r\n"
                                      "Category=SENSOR_CATEGORY_LOCATION\r\nType=LOCATION_GPS\r\n"
                                      "Name=Timed\r\nInterval=20\r\n"
                                      "[A.Data]\r\nLATITUDE_DEGREES=VT_R8, 10, ramp, 1\r\n"
                                      "[A.Timeline]\r\n1=30, event, ACCELEROMETER_SHAKE\r\n"
                                      "[Late]\r\nId={5A1D0002-1111-4222-8333-444455556666}\r\n"
                                      "Category=LIGHT\r\nType=AMBIENT_LIGHT\r\nArriveAfter=40\r\n");
    RecordingSink sink;
    REQUIRE(manager->SetEventSink(&sink) == S_OK);
    REQUIRE(sim.LoadScenario(timed.c_str()) == 1);
    DeleteFileW(timed.c_str());
    // The kept sensor was replaced without a leave event.
    Held<ISensor> gone;
    CHECK(FAILED(manager->GetSensorByID(otherId, gone.Out())));
    CHECK(sink.leaves == 0);

    Held<ISensor> sensor;
    REQUIRE(manager->GetSensorByID(testId, sensor.Out()) == S_OK);
    REQUIRE(sensor->SetEventSink(&sink) == S_OK);
    REQUIRE(sim.StartTimeline() == 1);
    CHECK(WaitFor(&sink.dataUpdates, 3));
    CHECK(WaitFor(&sink.events, 1));
    CHECK(WaitFor(&sink.enters, 1));
    REQUIRE(sim.StopTimeline() == 1);
    // The ramp counts up by one per update.
    CHECK(sink.lastLatitude >= 12);
    CHECK(sink.lastLatitude == static_cast<double>(static_cast<int>(sink.lastLatitude)));

    Held<ISensor> late;
    CHECK(manager->GetSensorByID(otherId, late.Out()) == S_OK);

    SUBCASE("a storm floods every subscribed sensor until stopped")
    {
        LONG before = sink.dataUpdates;
        REQUIRE(sim.SetStorm(500) == 1);
        CHECK(WaitFor(&sink.dataUpdates, before + 50));
        REQUIRE(sim.SetStorm(0) == 1);
        CHECK(sim.DeliveredEvents() >= 50);
    }

    sensor->SetEventSink(nullptr);
    manager->SetEventSink(nullptr);
    CHECK(sink.references == 0);
}

TEST_CASE("released objects are all freed")
{
    MtaThread com;
    SensorSimControl& sim = Control();
    REQUIRE(sim.Reset() == 1);
    REQUIRE(sim.AddSensor(&testId, &SENSOR_CATEGORY_MOTION, &SENSOR_TYPE_ACCELEROMETER_3D,
                          L"Motion", SENSOR_STATE_READY) == 1);
    REQUIRE(sim.SetFieldText(&testId, L"ACCELERATION_X_G", L"VT_R8, 0.5, sine, 0.1, 1000") == 1);
    LONG before = sim.LiveObjects();
    {
        Held<ISensorManager> manager;
        CreateManager(&manager);
        Held<ISensorCollection> sensors;
        REQUIRE(manager->GetSensorsByCategory(SENSOR_CATEGORY_MOTION, sensors.Out()) == S_OK);
        Held<ISensor> sensor;
        REQUIRE(sensors->GetAt(0, sensor.Out()) == S_OK);
        Held<ISensorDataReport> report;
        REQUIRE(sensor->GetData(report.Out()) == S_OK);
        Held<IPortableDeviceValues> values;
        REQUIRE(report->GetSensorValues(nullptr, values.Out()) == S_OK);
        Held<IPortableDeviceKeyCollection> fields;
        REQUIRE(sensor->GetSupportedDataFields(fields.Out()) == S_OK);
        PROPVARIANT id;
        PropVariantInit(&id);
        CHECK(sensor->GetProperty(SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID, &id) == S_OK);
        CHECK((id.vt == VT_CLSID && IsEqualGUID(*id.puuid, testId)));
        PropVariantClear(&id);
        CHECK(sim.LiveObjects() > before);
    }
    CHECK(sim.LiveObjects() == before);
}
