// The yardsticks of the start-up benchmark: a program that shows one small,
// empty dialog from a template built in memory and does nothing else; with
// the argument "sensors" it first does what any sensor viewer must do
// before it can show the sensors: it creates the Sensor API's manager,
// lists every sensor and reads each sensor's data once. It ends when the
// dialog is closed. Built with TESSEL_BENCH_COMMON_CONTROLS (and Tessel's
// manifest) it also loads the common controls, and with them the visual
// styles, before its dialog: what any viewer with a tree control pays; with
// the argument "controls" that build shows the main window's controls (a
// tree, a label, a check box and a button, from a template like Tessel's)
// instead of the empty dialog.

#include <initguid.h>

#include <windows.h>
#include <commctrl.h>

#include <sensors.h>
#include <sensorsapi.h>
#include <string.h>

namespace {

constexpr int kControlsDialog = 100;

// A dialog template with no menu, the default class, a title and no
// controls, laid out as the dialog manager reads it.
struct alignas(4) MinimalTemplate
{
    DLGTEMPLATE header;
    WORD menu;
    WORD windowClass;
    wchar_t title[8];
};

INT_PTR CALLBACK MinimalDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

template <typename Interface> void Release(Interface*& pointer)
{
    if (pointer) {
        pointer->Release();
        pointer = nullptr;
    }
}

// Reads the sensor's current report and the count of its values.
void ReadOnce(ISensor* sensor)
{
    ISensorDataReport* report = nullptr;
    IPortableDeviceValues* values = nullptr;
    DWORD count = 0;
    if (SUCCEEDED(sensor->GetData(&report)) && report &&
        SUCCEEDED(report->GetSensorValues(nullptr, &values)) && values) {
        values->GetCount(&count);
    }
    Release(values);
    Release(report);
}

// The manager, kept for the dialog's life as a viewer keeps it; null when
// the Sensor API is missing.
ISensorManager* ReadAllSensors()
{
    CLSID manager = {};
    ISensorManager* sensorManager = nullptr;
    if (FAILED(CLSIDFromProgID(L"SensorsApi.SensorManager.1", &manager)) ||
        FAILED(CoCreateInstance(manager, nullptr, CLSCTX_INPROC_SERVER, __uuidof(ISensorManager),
                                reinterpret_cast<void**>(&sensorManager)))) {
        return nullptr;
    }
    ISensorCollection* sensors = nullptr;
    ULONG count = 0;
    if (SUCCEEDED(sensorManager->GetSensorsByCategory(SENSOR_CATEGORY_ALL, &sensors)) && sensors &&
        SUCCEEDED(sensors->GetCount(&count))) {
        for (ULONG i = 0; i < count; ++i) {
            ISensor* sensor = nullptr;
            if (SUCCEEDED(sensors->GetAt(i, &sensor)) && sensor) {
                ReadOnce(sensor);
            }
            Release(sensor);
        }
    }
    Release(sensors);
    return sensorManager;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    const bool withSensors = commandLine && strstr(commandLine, "sensors") != nullptr;
#ifdef TESSEL_BENCH_COMMON_CONTROLS
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&controls);
#endif
    ISensorManager* manager = nullptr;
    if (withSensors) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        manager = ReadAllSensors();
    }
    MinimalTemplate dialog = {};
    dialog.header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;
    dialog.header.cx = 160;
    dialog.header.cy = 60;
    lstrcpyW(dialog.title, L"Minimal");
#ifdef TESSEL_BENCH_COMMON_CONTROLS
    if (commandLine && strstr(commandLine, "controls") != nullptr) {
        DialogBoxParamW(instance, MAKEINTRESOURCEW(kControlsDialog), nullptr, MinimalDialogProc, 0);
    } else
#endif
        DialogBoxIndirectParamW(instance, &dialog.header, nullptr, MinimalDialogProc, 0);
    Release(manager);
    if (withSensors) {
        CoUninitialize();
    }
    return 0;
}
