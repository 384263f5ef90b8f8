#pragma once
// The main window tests' common start: a fresh simulator, the program's
// "Main" value out of the way and a known clipboard; the real main window
// is opened by the test once its sensors are in place. Also the sensor
// properties dialog, opened over it as the menu's command does.

#include <doctest.h>

#include "MainWindowHarness.h"
#include "app/PropertiesDialog.h"
#include "system/Clipboard.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace main_window_test {

inline SensorSimControl& FreshSimulator()
{
    SensorSimControl* sim = Simulator();
    REQUIRE(sim != nullptr);
    REQUIRE(sim->Reset() == 1);
    // A copy that fails must not find a text of an earlier test.
    REQUIRE(CopyTextToClipboard(nullptr, L"before") == 1);
    return *sim;
}

// The text of the n-th row that starts with prefix, or "<none>".
inline std::wstring RowText(const std::vector<TreeRow>& rows, const std::wstring& prefix,
                            int nth = 0)
{
    const TreeRow* row = NthRow(rows, prefix, nth);
    return row ? row->text : L"<none>";
}

// A control's rectangle in its window's client coordinates.
inline RECT RectIn(HWND window, HWND control)
{
    RECT rect = {};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The DPI the test command set the prefix to, or 0 when not told.
inline int TestDpi()
{
    const char* value = std::getenv("TESSEL_TEST_DPI");
    return value ? std::atoi(value) : 0;
}

inline std::wstring WindowText(HWND window)
{
    wchar_t text[256] = L"";
    GetWindowTextW(window, text, 256);
    return text;
}

// The tree's context menu; "Request Access..." only for a sensor kept from
// the program.
inline std::vector<std::wstring> TreeMenuItems(bool requestAccess = false)
{
    std::vector<std::wstring> items = {L"Copy",
                                       L"Copy All",
                                       L"",
                                       L"Properties\tAlt+Enter",
                                       L"Chart\tCtrl+G",
                                       L"",
                                       L"Record Values\u2026\tCtrl+R",
                                       L"Open Recording\u2026\tCtrl+O"};
    if (requestAccess)
        items.insert(items.begin() + 4, L"Request Access\u2026");
    return items;
}

inline bool Has(const std::vector<std::wstring>& rows, const std::wstring& row)
{
    return std::find(rows.begin(), rows.end(), row) != rows.end();
}

// The selected row's position in tree order, or -1.
inline int SelectedIndex(const std::vector<TreeRow>& rows)
{
    auto selected =
        std::find_if(rows.begin(), rows.end(), [](const TreeRow& row) { return row.selected; });
    return selected == rows.end() ? -1 : static_cast<int>(selected - rows.begin());
}

inline std::wstring SelectedText(const std::vector<TreeRow>& rows)
{
    const int index = SelectedIndex(rows);
    return index < 0 ? L"<none>" : rows[index].text;
}

struct MainWindowFixture
{
    void Open() { REQUIRE(window.Start() == 1); }
    // A location sensor with a latitude and the city Seattle.
    void AddGps(unsigned number, const wchar_t* name, const wchar_t* latitude = L"VT_R8, 47.6",
                int state = kStateReady)
    {
        REQUIRE(AddTestSensor(sim, number, name,
                              {{L"LATITUDE_DEGREES", latitude}, {L"CITY", L"VT_LPWSTR, Seattle"}},
                              state));
    }
    int FireData(unsigned number)
    {
        const GUID id = TestSensorId(number);
        return sim.FireDataUpdated(&id);
    }
    int SetField(unsigned number, const wchar_t* key, const wchar_t* value)
    {
        const GUID id = TestSensorId(number);
        return sim.SetFieldText(&id, key, value);
    }

    // Runs function with the open properties dialog on the window's
    // thread; 0 when none is open.
    int WithProperties(const std::function<void(SensorPropertiesDialog&)>& function)
    {
        int ran = 0;
        window.Send([&] {
            if (SensorPropertiesDialog* open = window.App()->OpenProperties()) {
                function(*open);
                ran = 1;
            }
        });
        return ran;
    }
    HWND PropertiesWindow()
    {
        HWND dialog = nullptr;
        WithProperties([&](SensorPropertiesDialog& open) { dialog = open.Window(); });
        return dialog;
    }
    HWND WaitForProperties()
    {
        HWND dialog = nullptr;
        const bool shown = WaitUntil(kPatienceMs, [&] {
            dialog = PropertiesWindow();
            return dialog && IsWindowVisible(dialog);
        });
        REQUIRE_MESSAGE(shown, "the properties dialog did not show");
        return dialog;
    }
    // Selects the row starting with prefix and opens its sensor's
    // properties as the menu's command does.
    HWND OpenProperties(const wchar_t* prefix)
    {
        REQUIRE(window.Select(prefix) == 1);
        PostMessageW(window.Window(), WM_COMMAND, IDM_PROPERTIES, 0);
        return WaitForProperties();
    }
    // The dialog's rows once the main window showed every change.
    std::vector<std::wstring> PropertyRows(HWND dialog)
    {
        std::vector<TreeRow> rows;
        window.Settle();
        window.AfterPosted([&] { rows = ReadTree(GetDlgItem(dialog, IDC_PROPERTY_TREE)); });
        return Texts(rows);
    }
    // Cancels a dialog and waits until it is gone.
    void CloseDialog(HWND dialog)
    {
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        CHECK(WaitUntil(kPatienceMs, [dialog] { return !IsWindow(dialog); }));
    }
    // The main window lets go of its properties dialog as well.
    void CloseProperties(HWND dialog)
    {
        CloseDialog(dialog);
        CHECK(WaitUntil(kPatienceMs, [&] { return !PropertiesWindow(); }));
    }

    // The pointer stays off the windows: a menu or a chart under it would
    // follow it.
    BOOL pointerAway =
        SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);
    PlacementValueGuard placement;
    SensorSimControl& sim = FreshSimulator();
    MainWindowHarness window;
};

} // namespace main_window_test
