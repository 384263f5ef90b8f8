#include <doctest.h>

#include "../../simulator/SensorSimControl.h"
#include "base/Com.h"
#include "base/ComValue.h"
#include "base/ScopedHandle.h"

#include <windows.h>
#include <objbase.h>
// Defines the sensor GUIDs in this test program.
#include <initguid.h>
#include <sensorsapi.h>
#include <sensors.h>
#include <string>

namespace {

const GUID testId = {0x5A1D0001, 0x1111, 0x4222, {0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};
const HRESULT notFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

// Counts what the simulator raises and notes the thread it came from.
class RecordingSink : public ISensorEvents, public ISensorManagerEvents
{
public:
    LONG enters = 0, leaves = 0, updates = 0, events = 0, states = 0;
    DWORD thread = 0;
    LONG references = 0;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (IsEqualIID(iid, __uuidof(ISensorManagerEvents)))
            *object = static_cast<ISensorManagerEvents*>(this);
        else if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(ISensorEvents)))
            *object = static_cast<ISensorEvents*>(this);
        else
            *object = nullptr;
        return *object ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&references); }
    STDMETHODIMP OnStateChanged(ISensor*, SensorState) override { return Note(states); }
    STDMETHODIMP OnDataUpdated(ISensor*, ISensorDataReport*) override { return Note(updates); }
    STDMETHODIMP OnEvent(ISensor*, REFGUID, IPortableDeviceValues*) override
    {
        return Note(events);
    }
    STDMETHODIMP OnLeave(REFSENSOR_ID) override { return Note(leaves); }
    STDMETHODIMP OnSensorEnter(ISensor*, SensorState) override { return Note(enters); }

private:
    HRESULT Note(LONG& counter)
    {
        thread = GetCurrentThreadId();
        InterlockedIncrement(&counter);
        return S_OK;
    }
};

SensorSimControl& Simulator()
{
    static SensorSimControl control = {};
    static int bound = SensorSimOpen(&control);
    REQUIRE(bound == 1);
    return control;
}

// Creates the manager the way the viewer does: by ProgID, through COM.
void CreateManager(ComPtr<ISensorManager>& manager)
{
    CLSID classId = {};
    REQUIRE(CLSIDFromProgID(L"SensorsApi.SensorManager.1", &classId) == S_OK);
    CHECK(IsEqualCLSID(classId, CLSID_SensorManager));
    REQUIRE(CoCreateInstance(classId, nullptr, CLSCTX_ALL, __uuidof(ISensorManager),
                             manager.PutVoid()) == S_OK);
}

struct MtaThread
{
    MtaThread() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~MtaThread() { CoUninitialize(); }
};

struct SimulatorFixture
{
    SimulatorFixture() { CreateManager(manager); }
    MtaThread com;
    SensorSimControl& sim = Simulator();
    ComPtr<ISensorManager> manager;
};

} // namespace

TEST_CASE_FIXTURE(SimulatorFixture, "the default scenario is enumerated through the manager")
{
    REQUIRE(sim.LoadScenario(nullptr) == 1);
    REQUIRE(sim.StopTimeline() == 1);
    ComPtr<ISensorCollection> sensors;
    REQUIRE(manager->GetSensorsByCategory(SENSOR_CATEGORY_ALL, sensors.Put()) == S_OK);
    ULONG count = 0;
    REQUIRE(sensors->GetCount(&count) == S_OK);
    CHECK(count == 11);
    int nameless = 0;
    for (ULONG i = 0; i < count; ++i) {
        ComPtr<ISensor> sensor;
        REQUIRE(sensors->GetAt(i, sensor.Put()) == S_OK);
        ScopedBstr name;
        if (FAILED(sensor->GetFriendlyName(name.Receive()))) {
            CHECK_FALSE(name);
            ++nameless;
        }
    }
    CHECK(nameless == 1);

    ComPtr<ISensorCollection> location;
    REQUIRE(manager->GetSensorsByCategory(SENSOR_CATEGORY_LOCATION, location.Put()) == S_OK);
    ComPtr<ISensor> gps;
    REQUIRE(location->GetAt(0, gps.Put()) == S_OK);
    ComPtr<ISensorDataReport> report;
    REQUIRE(gps->GetData(report.Put()) == S_OK);
    ScopedPropVariant latitude;
    REQUIRE(report->GetSensorValue(SENSOR_DATA_TYPE_LATITUDE_DEGREES, latitude.Receive()) == S_OK);
    CHECK(latitude.Get().vt == VT_R8);
    CHECK(latitude.Get().dblVal == doctest::Approx(47.6));

    ComPtr<ISensorCollection> none;
    CHECK(manager->GetSensorsByCategory(SENSOR_CATEGORY_SCANNER, none.Put()) == notFound);
    CHECK(none.Get() == nullptr);
}

TEST_CASE_FIXTURE(SimulatorFixture, "each event is raised on a simulator thread; all is freed")
{
    REQUIRE(sim.Reset() == 1);
    REQUIRE(sim.AddSensor(&testId, &SENSOR_CATEGORY_MOTION, &SENSOR_TYPE_ACCELEROMETER_3D,
                          L"Motion", SENSOR_STATE_READY) == 1);
    CHECK(sim.AddSensor(&testId, &SENSOR_CATEGORY_MOTION, &SENSOR_TYPE_ACCELEROMETER_3D, L"Motion",
                        SENSOR_STATE_READY) == 0);
    REQUIRE(sim.SetFieldText(&testId, L"ACCELERATION_X_G", L"VT_R8, 0.5, sine, 0.1, 1000") == 1);
    const LONG before = sim.LiveObjects();
    {
        ComPtr<ISensorManager> second;
        CreateManager(second);
        ComPtr<ISensor> sensor;
        REQUIRE(second->GetSensorByID(testId, sensor.Put()) == S_OK);
        ComPtr<ISensorDataReport> report;
        REQUIRE(sensor->GetData(report.Put()) == S_OK);
        ComPtr<IPortableDeviceValues> values;
        REQUIRE(report->GetSensorValues(nullptr, values.Put()) == S_OK);
        ComPtr<IPortableDeviceKeyCollection> fields;
        REQUIRE(sensor->GetSupportedDataFields(fields.Put()) == S_OK);
        CHECK(sim.LiveObjects() > before);
    }
    CHECK(sim.LiveObjects() == before);

    ComPtr<ISensor> sensor;
    REQUIRE(manager->GetSensorByID(testId, sensor.Put()) == S_OK);
    CHECK(sim.FireDataUpdated(&testId) == 0);

    RecordingSink sink;
    REQUIRE(sensor->SetEventSink(&sink) == S_OK);
    REQUIRE(manager->SetEventSink(&sink) == S_OK);
    CHECK(sim.FireDataUpdated(&testId) == 1);
    CHECK(sink.thread != GetCurrentThreadId());
    CHECK(sim.FireEvent(&testId, &SENSOR_EVENT_ACCELEROMETER_SHAKE) == 1);
    CHECK(sim.FireStateChanged(&testId, SENSOR_STATE_NO_DATA) == 1);
    SensorState state = SENSOR_STATE_READY;
    CHECK(sensor->GetState(&state) == S_OK);
    CHECK(state == SENSOR_STATE_NO_DATA);
    CHECK(sim.FireEnter(&testId) == 1);
    REQUIRE(sim.SetDataFailure(&testId, E_ACCESSDENIED) == 1);
    ComPtr<ISensorDataReport> report;
    CHECK(sensor->GetData(report.Put()) == E_ACCESSDENIED);
    REQUIRE(sim.RemoveSensor(&testId) == 1);
    CHECK((sink.updates == 1 && sink.events == 1 && sink.states == 1));
    CHECK((sink.enters == 1 && sink.leaves == 1));

    ComPtr<ISensorCollection> after;
    CHECK(manager->GetSensorsByCategory(SENSOR_CATEGORY_ALL, after.Put()) == notFound);
    CHECK(sim.RemoveSensor(&testId) == 0);
    sensor->SetEventSink(nullptr);
    manager->SetEventSink(nullptr);
    CHECK(sink.references == 0);
    CHECK(sim.HasSink(&testId) == 0);
}

namespace {

// A scenario of the simulator's own folder, where the build puts them.
std::wstring ScenarioPath(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(SENSORSIM_MODULE_NAME), path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + L"scenarios\\" + name;
}

// A text property as it is, a number one as "#2000", else "<none>".
std::wstring Property(ISensor* sensor, const PROPERTYKEY& key)
{
    ScopedPropVariant value;
    if (FAILED(sensor->GetProperty(key, value.Receive())))
        return L"<none>";
    if (value.Get().vt == VT_LPWSTR)
        return value.Get().pwszVal;
    return value.Get().vt == VT_UI4 ? L"#" + std::to_wstring(value.Get().ulVal) : L"<none>";
}

ComPtr<ISensor> SensorById(ISensorManager* manager, const wchar_t* id)
{
    GUID guid = {};
    CLSIDFromString(id, &guid);
    ComPtr<ISensor> sensor;
    manager->GetSensorByID(guid, sensor.Put());
    return sensor;
}

} // namespace

TEST_CASE_FIXTURE(SimulatorFixture, "the states scenario: properties, states and access requests")
{
    REQUIRE(sim.LoadScenario(ScenarioPath(L"states.ini").c_str()) == 1);
    REQUIRE(sim.StopTimeline() == 1);
    ComPtr<ISensor> gps = SensorById(manager.Get(), L"{3C0A5E21-7B94-4D18-9E6A-2F4B8C1D7E05}");
    ComPtr<ISensor> wifi = SensorById(manager.Get(), L"{8E17C4B2-5A63-4F90-B1D8-3C72E9A06F14}");
    REQUIRE((gps.Get() && wifi.Get()));
    SensorState state = SENSOR_STATE_READY;
    REQUIRE(gps->GetState(&state) == S_OK);
    CHECK(state == SENSOR_STATE_INITIALIZING);

    // What the scenario gives, then the type's defaults, then its own lines.
    CHECK(Property(gps.Get(), SENSOR_PROPERTY_MODEL) == L"GNSS 2100");
    CHECK(Property(wifi.Get(), SENSOR_PROPERTY_MODEL) == L"Simulated Wi-Fi Locator");
    CHECK(Property(wifi.Get(), SENSOR_PROPERTY_SERIAL_NUMBER) == L"SIM-8E17C4B2");
    CHECK(Property(wifi.Get(), SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL) == L"#2000");
    CHECK(Property(wifi.Get(), SENSOR_PROPERTY_MIN_REPORT_INTERVAL) == L"#1000");
    CHECK(Property(wifi.Get(), SENSOR_PROPERTY_RADIO_STATE) == L"#1");
    const PROPERTYKEY vendorKey = {
        {0xD6E1A8F3, 0x27B4, 0x4C59, {0x9A, 0x0E, 0x5B, 0x3F, 0x7C, 0x2D, 0x8E, 0x61}}, 2};
    CHECK(Property(wifi.Get(), vendorKey) == L"Vendor build 7.31.2");
    const GUID wifiId = {
        0x8E17C4B2, 0x5A63, 0x4F90, {0xB1, 0xD8, 0x3C, 0x72, 0xE9, 0xA0, 0x6F, 0x14}};
    REQUIRE(sim.SetPropertyText(&wifiId, L"SENSOR_PROPERTY_MODEL", L"VT_LPWSTR, Replaced") == 1);
    CHECK(Property(wifi.Get(), SENSOR_PROPERTY_MODEL) == L"Replaced");
    CHECK(sim.SetPropertyText(&wifiId, L"NO_SUCH_PROPERTY", L"VT_I4, 1") == 0);
    CHECK(sim.SetPropertyText(&wifiId, L"MODEL", L"VT_R8, 1, sine, 1, 1000") == 0);

    // A denied sensor gives no data until a request grants access, which
    // arrives as a state change on a simulator thread. That the sensor is
    // then ready with data, and the parent each request names, are read in
    // the main window's tests.
    ComPtr<ISensorDataReport> report;
    CHECK(wifi->GetData(report.Put()) == E_ACCESSDENIED);
    RecordingSink sink;
    REQUIRE(wifi->SetEventSink(&sink) == S_OK);
    ComPtr<ISensorCollection> request;
    REQUIRE(manager->GetSensorsByCategory(SENSOR_CATEGORY_LOCATION, request.Put()) == S_OK);
    REQUIRE(request->Clear() == S_OK);
    CHECK(manager->RequestPermissions(nullptr, request.Get(), TRUE) == E_INVALIDARG);
    REQUIRE(request->Add(wifi.Get()) == S_OK);
    REQUIRE(sim.SetAccessAnswer(&wifiId, 0) == 1);
    HWND parent = reinterpret_cast<HWND>(0x1234);
    CHECK(manager->RequestPermissions(parent, request.Get(), TRUE) ==
          HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    CHECK(sink.states == 0);
    REQUIRE(sim.SetAccessAnswer(&wifiId, 1) == 1);
    CHECK(manager->RequestPermissions(parent, request.Get(), TRUE) == S_OK);
    CHECK(sink.states == 1);
    CHECK(sink.thread != GetCurrentThreadId());
    wifi->SetEventSink(nullptr);
}
