#pragma once

#include "app/resource.h"
#include "ui/DialogApp.h"

// The main dialog with nothing but its frame behaviour: the "Exit" button,
// Escape and the close box end it. Stands in for the sensor viewer window.
class BareMainWindow : public DialogApp
{
public:
    INT_PTR OnCommand(int id, WPARAM wParam, LPARAM lParam) override
    {
        if (id == IDC_EXIT) {
            EndWindow(0);
            return 1;
        }
        return DialogApp::OnCommand(id, wParam, lParam);
    }
};
