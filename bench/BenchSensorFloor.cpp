// The floor of the CPU benchmark: a program that subscribes to every sensor
// of the Sensor API as Tessel does, receives every data report and reads
// each of its values, and shows nothing. Whatever it costs, the Sensor API
// (here the simulator, which runs in the process) and Wine's delivery cost
// any sensor viewer. Given a number of windows, it also opens that many
// windows of a chart's size and puts a ready picture of that size on the
// screen in each at a chart's frame rate: what any live chart pays under
// Wine before it draws a single line. With "values" it instead shows every
// value as plain text in one window, each changed one drawn again at
// Tessel's refresh pace: the least any viewer of live values pays.
//   bench_sensor_floor.exe SECONDS [WINDOWS] [values]   (ends after SECONDS)

#include <initguid.h>

#include <windows.h>

#include <sensors.h>
#include <sensorsapi.h>
#include <stdlib.h>
#include <string.h>
#include <strsafe.h>

#include <vector>

#include "app/ChartWindow.h"
#include "app/SensorViewerApp.h"
#include "base/Com.h"
#include "base/LockedList.h"
#include "base/ScopedHandle.h"
#include "ui/GdiHelpers.h"

namespace {

// A value as the simplest viewer would write it.
void FormatValue(const PROPVARIANT& value, wchar_t* text, size_t capacity)
{
    text[0] = L'\0';
    switch (value.vt) {
    case VT_R8:
        StringCchPrintfW(text, capacity, L"%g", value.dblVal);
        break;
    case VT_R4:
        StringCchPrintfW(text, capacity, L"%g", static_cast<double>(value.fltVal));
        break;
    case VT_I4:
    case VT_INT:
        StringCchPrintfW(text, capacity, L"%ld", static_cast<long>(value.lVal));
        break;
    case VT_UI4:
    case VT_UINT:
        StringCchPrintfW(text, capacity, L"%lu", static_cast<unsigned long>(value.ulVal));
        break;
    case VT_BOOL:
        StringCchCopyW(text, capacity, value.boolVal ? L"True" : L"False");
        break;
    case VT_FILETIME: {
        SYSTEMTIME time;
        if (FileTimeToSystemTime(&value.filetime, &time)) {
            StringCchPrintfW(text, capacity, L"%04u-%02u-%02u %02u:%02u:%02u.%03u", time.wYear,
                             time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond,
                             time.wMilliseconds);
        }
        break;
    }
    case VT_LPWSTR:
        StringCchCopyW(text, capacity, value.pwszVal ? value.pwszVal : L"");
        break;
    default:
        StringCchPrintfW(text, capacity, L"(type %u)", static_cast<unsigned>(value.vt));
        break;
    }
}

// The newest text of every value, one row each, and which rows changed
// since they were last shown. Written on the events' threads.
class ValueBoard
{
public:
    static constexpr size_t kTextCapacity = 64;
    struct Row
    {
        ISensor* sensor;
        DWORD field;
        wchar_t text[kTextCapacity];
        bool changed;
    };

    ValueBoard() { lock_.Init(); }

    void Set(ISensor* sensor, DWORD field, const wchar_t* text)
    {
        ScopedLock hold(lock_);
        Row* row = Find(sensor, field);
        if (!row) {
            rows_.push_back(Row{sensor, field, {}, false});
            row = &rows_.back();
        }
        if (wcscmp(row->text, text) != 0) {
            StringCchCopyW(row->text, kTextCapacity, text);
            row->changed = true;
        }
    }

    // Copies out the changed rows with their places and clears the marks.
    void TakeChanged(std::vector<std::pair<size_t, Row>>& changed)
    {
        changed.clear();
        ScopedLock hold(lock_);
        for (size_t i = 0; i < rows_.size(); ++i) {
            if (rows_[i].changed) {
                rows_[i].changed = false;
                changed.emplace_back(i, rows_[i]);
            }
        }
    }

private:
    Row* Find(ISensor* sensor, DWORD field)
    {
        for (Row& row : rows_) {
            if (row.sensor == sensor && row.field == field) {
                return &row;
            }
        }
        return nullptr;
    }

    CriticalSection lock_;
    std::vector<Row> rows_;
};

// Reads every value of each report it is given and, given a board, writes
// each value's text on it.
class ReportReader final : public ComObject<ISensorEvents>
{
public:
    explicit ReportReader(ValueBoard* board) : board_(board) {}
    HRESULT STDMETHODCALLTYPE OnStateChanged(ISensor*, SensorState) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDataUpdated(ISensor* sensor, ISensorDataReport* report) override
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
            if (SUCCEEDED(values->GetAt(i, &key, &value)) && board_) {
                wchar_t text[ValueBoard::kTextCapacity];
                FormatValue(value, text, ValueBoard::kTextCapacity);
                board_->Set(sensor, i, text);
            }
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
    ValueBoard* board_;
    volatile LONG reports_ = 0;
};

// Tessel's main window at its default size, a row of the tree's height and
// the value column's place, at 96 dpi.
constexpr int kValueWindowWidth = 740;
constexpr int kValueWindowHeight = 520;
constexpr int kValueRowHeight = 18;
constexpr int kValueColumnLeft = 200;

// Draws the changed values as plain text, each over its own cell, at
// Tessel's refresh pace until the time is up.
void ShowValues(ValueBoard& board, DWORD milliseconds)
{
    HWND window =
        CreateWindowExW(0, L"Static", L"Values", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40,
                        kValueWindowWidth, kValueWindowHeight, nullptr, nullptr, nullptr, nullptr);
    if (!window) {
        return;
    }
    std::vector<std::pair<size_t, ValueBoard::Row>> changed;
    const DWORD start = GetTickCount();
    const UINT_PTR timer = SetTimer(nullptr, 0, kRefreshGapMs, nullptr);
    MSG message;
    while (GetTickCount() - start < milliseconds && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message != WM_TIMER || message.wParam != timer) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
            continue;
        }
        board.TakeChanged(changed);
        if (changed.empty()) {
            continue;
        }
        WindowDc dc(window);
        if (!dc.Get()) {
            continue;
        }
        SavedDcState saved(dc.Get());
        SelectObject(dc.Get(), GetStockObject(DEFAULT_GUI_FONT));
        for (const auto& [place, row] : changed) {
            const int top = static_cast<int>(place) * kValueRowHeight;
            const RECT cell = {kValueColumnLeft, top, kValueWindowWidth, top + kValueRowHeight};
            ExtTextOutW(dc.Get(), cell.left, cell.top, ETO_OPAQUE | ETO_CLIPPED, &cell, row.text,
                        static_cast<UINT>(wcslen(row.text)), nullptr);
        }
    }
    KillTimer(nullptr, timer);
    DestroyWindow(window);
}

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
    const unsigned long windowCount = rest && *rest ? strtoul(rest, &rest, 10) : 0;
    const bool showValues = rest && strstr(rest, "values");
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
    ValueBoard board;
    ComPtr<ReportReader> reader(new ReportReader(showValues ? &board : nullptr));
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
    if (showValues) {
        ShowValues(board, seconds * 1000);
    } else if (windows.empty()) {
        Sleep(seconds * 1000);
    } else {
        PresentFrames(windows, seconds * 1000);
    }
    for (ComPtr<ISensor>& sensor : subscribed) {
        sensor->SetEventSink(nullptr);
    }
    return 0;
}
