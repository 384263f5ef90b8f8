#pragma once

// The properties dialog of a sensor, opened over the harness's main window
// as the menu's command does, and reached on its thread.

#include <functional>

#include "MainWindowHarness.h"
#include "app/PropertiesDialog.h"

namespace main_window_test {

// Runs function with the open properties dialog on its thread; 0 when none
// is open.
inline int WithProperties(MainWindowHarness& window,
                          const std::function<void(SensorPropertiesDialog&)>& function)
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

// Selects the row starting with prefix, opens its sensor's properties and
// waits until the dialog shows; null when it does not.
inline HWND OpenPropertiesOf(MainWindowHarness& window, const wchar_t* prefix)
{
    if (!window.Select(prefix))
        return nullptr;
    PostMessageW(window.Window(), WM_COMMAND, IDM_PROPERTIES, 0);
    for (DWORD waited = 0; waited < kPatienceMs; waited += 10) {
        HWND dialog = nullptr;
        WithProperties(window, [&](SensorPropertiesDialog& open) { dialog = open.Window(); });
        if (dialog && IsWindowVisible(dialog))
            return dialog;
        Sleep(10);
    }
    return nullptr;
}

} // namespace main_window_test
