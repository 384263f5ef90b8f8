#include <doctest.h>

#include <windows.h>

#include "ScriptedDialog.h"

TEST_CASE("Escape, the close box and IDCLOSE end the dialog with 0 after CanClose")
{
    const ScriptedDialog::Step ways[] = {
        [](ScriptedDialog& d) {
            PostMessageW(GetDlgItem(d.Window(), IDC_SENSOR_TREE), WM_KEYDOWN, VK_ESCAPE, 0);
        },
        [](ScriptedDialog& d) { d.Post(WM_SYSCOMMAND, SC_CLOSE); },
        [](ScriptedDialog& d) { d.Post(WM_COMMAND, IDCLOSE); },
    };
    for (const auto& way : ways) {
        ScriptedDialog dialog;
        dialog.steps = {way};
        CHECK(dialog.RunMain() == 0);
        CHECK(dialog.canCloseCalls == 1);
        CHECK(dialog.lastCanCloseResult == 0);
    }
}

TEST_CASE("A CanClose answering 0 keeps the dialog open for every way of closing")
{
    ScriptedDialog dialog;
    dialog.allowClose = 0;
    bool openAfterAll = false;
    int refusals = 0;
    dialog.steps.push_back([](ScriptedDialog& d) {
        PostMessageW(GetDlgItem(d.Window(), IDC_SENSOR_TREE), WM_KEYDOWN, VK_ESCAPE, 0);
        d.Post(WM_SYSCOMMAND, SC_CLOSE);
        d.Post(WM_COMMAND, IDCLOSE);
        d.Post(WM_COMMAND, IDCANCEL);
    });
    dialog.steps.push_back([&](ScriptedDialog& d) {
        openAfterAll = d.Window() != nullptr && IsWindowVisible(d.Window());
        refusals = d.canCloseCalls;
        d.allowClose = 1;
        d.EndWindow(7);
    });
    CHECK(dialog.RunMain() == 7);
    CHECK(openAfterAll);
    CHECK(refusals == 4);
}

TEST_CASE("OnInitDialog: 0 ends the dialog with -1, 2 leaves the focus where it was put")
{
    ScriptedDialog failing;
    failing.initResult = 0;
    CHECK(failing.RunMain() == -1);

    // 1 lets the dialog manager focus the first tab stop (the tree).
    for (int initResult : {1, 2}) {
        ScriptedDialog dialog;
        dialog.initResult = initResult;
        int focusedId = 0;
        dialog.onInit = [](ScriptedDialog& d) { SetFocus(GetDlgItem(d.Window(), IDC_EXIT)); };
        dialog.steps.push_back([&](ScriptedDialog& d) {
            focusedId = GetDlgCtrlID(GetFocus());
            d.EndWindow(0);
        });
        dialog.RunMain();
        CHECK(focusedId == (initResult == 2 ? IDC_EXIT : IDC_SENSOR_TREE));
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
