// The floor of the CPU benchmark: a program that subscribes to every sensor
// of the Sensor API as Tessel does, receives every data report and reads
// each of its values, and shows nothing. Whatever it costs, the Sensor API
// (here the simulator, which runs in the process) and Wine's delivery cost
// any sensor viewer. Given a number of windows, it also opens that many
// windows of a chart's size and puts a ready picture of that size on the
// screen in each at a chart's frame rate: what any live chart pays under
// Wine before it draws a single line.
//   bench_sensor_floor.exe SECONDS [WINDOWS]   (ends by itself after SECONDS)

#include <initguid.h>

#include <windows.h>

#include <sensors.h>
#include <sensorsapi.h>
#include <stdlib.h>

#include <vector>

#include "app/ChartWindow.h"
#include "base/Com.h"
#include "base/ScopedHandle.h"
#include "ui/GdiHelpers.h"

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

// The chart control's size in a chart window of the default size at 96 dpi.
constexpr int kPictureWidth = 720;
constexpr int kPictureHeight = 405;

// A window that copies one prepared picture onto itself on every frame.
class FrameWindow
{
public:
    int Open(int index)
    {
        picture_.Reset(MakeDibSection(kPictureWidth, kPictureHeight));
        pictureDc_.Reset(CreateCompatibleDC(nullptr));
        if (!picture_ || !pictureDc_) {
            return 0;
        }
        SelectObject(pictureDc_.Get(), picture_.Get());
        const RECT all = {0, 0, kPictureWidth, kPictureHeight};
        FillRect(pictureDc_.Get(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        RECT frame = all;
        AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
        window_ = CreateWindowExW(0, L"Static", L"Frames", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  40 + 30 * index, 40 + 30 * index, frame.right - frame.left,
                                  frame.bottom - frame.top, nullptr, nullptr, nullptr, nullptr);
        return window_ != nullptr;
    }
    void Present()
    {
        WindowDc dc(window_);
        if (dc.Get()) {
            BitBlt(dc.Get(), 0, 0, kPictureWidth, kPictureHeight, pictureDc_.Get(), 0, 0, SRCCOPY);
        }
    }

private:
    HWND window_ = nullptr;
    ScopedBitmap picture_;
    ScopedCreatedDc pictureDc_;
};

// Presents every window's picture once a frame until the time is up.
void PresentFrames(std::vector<FrameWindow>& windows, DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    const UINT_PTR timer = SetTimer(nullptr, 0, kChartFrameMs, nullptr);
    MSG message;
    while (GetTickCount() - start < milliseconds && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.wParam == timer) {
            for (FrameWindow& window : windows) {
                window.Present();
            }
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    KillTimer(nullptr, timer);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    char* rest = nullptr;
    const DWORD seconds = commandLine && *commandLine ? strtoul(commandLine, &rest, 10) : 20;
    const unsigned long windowCount = rest && *rest ? strtoul(rest, nullptr, 10) : 0;
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
    std::vector<FrameWindow> windows(windowCount);
    for (unsigned long i = 0; i < windowCount; ++i) {
        if (!windows[i].Open(static_cast<int>(i))) {
            return 1;
        }
    }
    if (windows.empty()) {
        Sleep(seconds * 1000);
    } else {
        PresentFrames(windows, seconds * 1000);
    }
    for (ComPtr<ISensor>& sensor : subscribed) {
        sensor->SetEventSink(nullptr);
    }
    return 0;
}
