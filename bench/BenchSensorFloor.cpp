// The floor of the CPU benchmark: a program that subscribes to every sensor
// of the Sensor API as Tessel does, receives every data report and reads
// each of its values, and shows nothing. Whatever it costs, the Sensor API
// (here the simulator, which runs in the process) and Wine's delivery cost
// any sensor viewer.
//   bench_sensor_floor.exe SECONDS   (ends by itself after that long)

#include <initguid.h>

#include <windows.h>

#include <sensors.h>
#include <sensorsapi.h>
#include <stdlib.h>

#include <vector>

#include "base/Com.h"

namespace {

// Reads every value of each report it is given.
class ReportReader final : public ComObject<ISensorEvents>
{
public:
    HRESULT STDMETHODCALLTYPE OnStateChanged(ISensor*, SensorState) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDataUpdated(ISensor*, ISensorDataReport* report) override
    {
        ComPtr<IPortableDeviceValues> values;
        DWORD count = 0;
        if (!report || FAILED(report->GetSensorValues(nullptr, values.Put())) || !values ||
            FAILED(values->GetCount(&count))) {
            return S_OK;
        }
        for (DWORD i = 0; i < count; ++i) {
            PROPERTYKEY key;
            PROPVARIANT value;
            PropVariantInit(&value);
            values->GetAt(i, &key, &value);
            PropVariantClear(&value);
        }
        InterlockedIncrement(&reports_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEvent(ISensor*, REFGUID, IPortableDeviceValues*) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnLeave(REFSENSOR_ID) override { return S_OK; }

private:
    ~ReportReader() override = default;
    volatile LONG reports_ = 0;
};

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    const DWORD seconds = commandLine && *commandLine ? strtoul(commandLine, nullptr, 10) : 20;
    ComApartment apartment;
    apartment.Init(1);
    ComPtr<ISensorManager> manager =
        CreateByProgId<ISensorManager>(L"SensorsApi.SensorManager.1", __uuidof(ISensorManager));
    ComPtr<ISensorCollection> sensors;
    ULONG count = 0;
    if (!manager || FAILED(manager->GetSensorsByCategory(SENSOR_CATEGORY_ALL, sensors.Put())) ||
        !sensors || FAILED(sensors->GetCount(&count))) {
        return 1;
    }
    std::vector<ComPtr<ISensor>> subscribed;
    ComPtr<ReportReader> reader(new ReportReader);
    for (ULONG i = 0; i < count; ++i) {
        ComPtr<ISensor> sensor;
        if (SUCCEEDED(sensors->GetAt(i, sensor.Put())) && sensor &&
            SUCCEEDED(sensor->SetEventSink(reader.Get()))) {
            sensor->SetEventInterest(nullptr, 0);
            subscribed.push_back(std::move(sensor));
        }
    }
    Sleep(seconds * 1000);
    for (ComPtr<ISensor>& sensor : subscribed) {
        sensor->SetEventSink(nullptr);
    }
    return 0;
}
