#include <doctest.h>

#include <windows.h>

#include <string>

#include "ScriptedDialog.h"
#include "TestWindow.h"
#include "base/WideString.h"
#include "ui/Subclasser.h"

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

namespace {

constexpr UINT kProbeMessage = WM_APP + 0x41;

// Logs its name for the probe message, answers it if given an answer, and can
// detach itself on WM_SETTEXT.
struct Probe
{
    char name;
    std::string* log;
    LRESULT answer = 0;
    Subclasser* detachOnSetText = nullptr;

    static int Callback(HWND, UINT message, WPARAM, LPARAM, LRESULT* result, void* context)
    {
        auto* probe = static_cast<Probe*>(context);
        if (message == kProbeMessage) {
            *probe->log += probe->name;
            *result = probe->answer;
            return probe->answer != 0;
        }
        if (message == WM_SETTEXT && probe->detachOnSetText)
            probe->detachOnSetText->Detach();
        return 0;
    }
};

struct StaticWindow
{
    TestWindow window{L"STATIC", nullptr, {0, 0, 50, 20}};
    HWND handle = window.Handle();
    const LONG_PTR original = GetWindowLongPtrW(handle, GWLP_WNDPROC);

    bool HasOriginalProcedure() const
    {
        return GetWindowLongPtrW(handle, GWLP_WNDPROC) == original;
    }
    // Sets a text through the chain and reads it back from the static control.
    std::wstring RoundTrip(const wchar_t* text) const
    {
        wchar_t read[64] = {};
        SetWindowTextW(handle, text);
        GetWindowTextW(handle, read, 64);
        return read;
    }
};

} // namespace

TEST_CASE("Subclasser attaches once per tag, handles and passes messages, detaches")
{
    StaticWindow window;
    REQUIRE(window.handle);
    std::string log;
    Probe probe = {'a', &log, 42};
    Subclasser subclass;
    REQUIRE(subclass.Attach(window.handle, Probe::Callback, &probe, 0x74726565) == 1);
    Subclasser second;
    Probe secondProbe = {'b', &log, 0, &second};
    CHECK(second.Attach(window.handle, Probe::Callback, &secondProbe, 0x74726565) == 0);

    // Handled by the callback; everything else reaches the static control.
    CHECK(SendMessageW(window.handle, kProbeMessage, 0, 0) == 42);
    CHECK(window.RoundTrip(L"passed on") == L"passed on");

    CHECK(subclass.Detach() == 1);
    CHECK(window.HasOriginalProcedure());
    CHECK(GetPropW(window.handle, L"_C_SubClassing_Property_74726565") == nullptr);
    CHECK(subclass.Detach() == 0);

    // Free again; a callback that detaches itself still passes the message on.
    REQUIRE(second.Attach(window.handle, Probe::Callback, &secondProbe, 0x74726565) == 1);
    CHECK(window.RoundTrip(L"after detach") == L"after detach");
    CHECK_FALSE(second.IsAttached());
    CHECK(window.HasOriginalProcedure());
}

TEST_CASE("Subclassers with different tags chain, and the lower one can leave first")
{
    StaticWindow window;
    REQUIRE(window.handle);
    std::string log;
    Probe lower = {'a', &log}, upper = {'b', &log};
    Subclasser subclasses[2];
    REQUIRE(subclasses[0].Attach(window.handle, Probe::Callback, &lower, 1) == 1);
    REQUIRE(subclasses[1].Attach(window.handle, Probe::Callback, &upper, 2) == 1);
    SendMessageW(window.handle, kProbeMessage, 0, 0);
    CHECK(log == "ba");

    CHECK(subclasses[0].Detach() == 1);
    SendMessageW(window.handle, kProbeMessage, 0, 0);
    CHECK(log == "bab");
    CHECK(subclasses[1].Detach() == 1);
    CHECK(window.HasOriginalProcedure());
}
