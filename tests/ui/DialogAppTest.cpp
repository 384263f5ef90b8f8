#include <doctest.h>

#include <windows.h>

#include "ScriptedDialog.h"

TEST_CASE("Every way of closing asks CanClose with 0, and a refusal keeps the dialog open")
{
    const ScriptedDialog::Step ways[] = {
        [](ScriptedDialog& d) {
            PostMessageW(GetDlgItem(d.Window(), IDC_SENSOR_TREE), WM_KEYDOWN, VK_ESCAPE, 0);
        },
        [](ScriptedDialog& d) { d.Post(WM_SYSCOMMAND, SC_CLOSE); },
        [](ScriptedDialog& d) { d.Post(WM_COMMAND, IDCLOSE); },
        [](ScriptedDialog& d) { d.Post(WM_COMMAND, IDCANCEL); },
    };
    for (const auto& way : ways) {
        INFO("way " << (&way - ways));
        ScriptedDialog dialog;
        dialog.allowClose = 0;
        bool openAfterRefusal = false;
        dialog.steps = {way, [&](ScriptedDialog& d) {
                            openAfterRefusal = IsWindowVisible(d.Window()) != 0;
                            d.allowClose = 1;
                            way(d);
                        }};
        CHECK(dialog.RunMain() == 0);
        CHECK(openAfterRefusal);
        CHECK(dialog.canCloseCalls == 2);
        CHECK(dialog.lastCanCloseResult == 0);
    }
}

TEST_CASE("OnInitDialog: 0 ends the dialog with -1, 2 leaves the focus where it was put")
{
    // 1 lets the dialog manager focus the first tab stop (the tree); after 0
    // no step runs.
    const int focusAfter[] = {0, IDC_SENSOR_TREE, IDC_EXIT};
    for (int initResult : {0, 1, 2}) {
        CAPTURE(initResult);
        ScriptedDialog dialog;
        dialog.initResult = initResult;
        int focusedId = 0;
        dialog.onInit = [](ScriptedDialog& d) { SetFocus(GetDlgItem(d.Window(), IDC_EXIT)); };
        dialog.steps.push_back([&](ScriptedDialog& d) {
            focusedId = GetDlgCtrlID(GetFocus());
            d.EndWindow(0);
        });
        const INT_PTR result = dialog.RunMain();
        CHECK(result == (initResult ? 0 : -1));
        CHECK(focusedId == focusAfter[initResult]);
    }
}

TEST_CASE("The minimum size stops shrinking but not moving")
{
    ScriptedDialog dialog;
    RECT shrunk = {};
    RECT moved = {};
    dialog.steps.push_back([&](ScriptedDialog& d) {
        d.SetMinimum(500, 350);
        SetWindowPos(d.Window(), nullptr, 0, 0, 120, 90, SWP_NOMOVE | SWP_NOZORDER);
        GetWindowRect(d.Window(), &shrunk);
        SetWindowPos(d.Window(), nullptr, 0, 0, 600, 400, SWP_NOMOVE | SWP_NOZORDER);
        // A move alone keeps the size even below a new minimum.
        d.SetMinimum(700, 500);
        SetWindowPos(d.Window(), nullptr, 30, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        GetWindowRect(d.Window(), &moved);
        d.EndWindow(0);
    });
    CHECK(dialog.RunMain() == 0);
    CHECK((shrunk.right - shrunk.left == 500 && shrunk.bottom - shrunk.top == 350));
    CHECK((moved.left == 30 && moved.top == 40 && moved.right == 630 && moved.bottom == 440));
}
