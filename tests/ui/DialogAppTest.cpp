#include <doctest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "app/resource.h"
#include "base/WideString.h"
#include "ui/DialogApp.h"

namespace {

constexpr UINT kScenarioMessage = WM_APP + 0x40;
constexpr UINT_PTR kWatchdogTimer = 0x7E57;
constexpr INT_PTR kWatchdogResult = -77;

// Runs the main dialog resource through the host. Once the dialog is on
// screen the steps run, each on its own posted message, so that what one
// step posts is handled before the next step. A watchdog ends a dialog that
// would never close.
class ScriptedDialog : public DialogApp
{
public:
    using Step = std::function<void(ScriptedDialog&)>;
    int initResult = 1;
    int allowClose = 1;
    int canCloseCalls = 0;
    INT_PTR lastCanCloseResult = 12345;
    std::function<void(ScriptedDialog&)> onInit;
    std::vector<Step> steps;

    INT_PTR RunMain() { return Run(GetModuleHandleW(nullptr), IDD_MAIN, 0, nullptr); }

    void Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        PostMessageW(window_, message, wParam, lParam);
    }
    void SetMinimum(int width, int height)
    {
        minimumWidth_ = width;
        minimumHeight_ = height;
    }

    int OnInitDialog() override
    {
        SetTimer(window_, kWatchdogTimer, 10000, nullptr);
        if (onInit) {
            onInit(*this);
        }
        return initResult;
    }
    int CanClose(INT_PTR result) override
    {
        ++canCloseCalls;
        lastCanCloseResult = result;
        return allowClose;
    }
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_SHOWWINDOW && wParam && !shown_) {
            shown_ = true;
            Post(kScenarioMessage);
        }
        if (message == kScenarioMessage && nextStep_ < steps.size()) {
            steps[nextStep_++](*this);
            if (nextStep_ < steps.size()) {
                Post(kScenarioMessage);
            }
            return 1;
        }
        if (message == WM_TIMER && wParam == kWatchdogTimer) {
            EndDialog(window_, kWatchdogResult);
            return 1;
        }
        return DialogApp::OnMessage(message, wParam, lParam);
    }

private:
    bool shown_ = false;
    size_t nextStep_ = 0;
};

SIZE WindowSize(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    SIZE size = {rect.right - rect.left, rect.bottom - rect.top};
    return size;
}

} // namespace

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
    CHECK(failing.lastCanCloseResult == -1);

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
    SIZE shrunk = {};
    SIZE moved = {};
    RECT afterMove = {};
    dialog.steps.push_back([&](ScriptedDialog& d) {
        d.SetMinimum(500, 350);
        SetWindowPos(d.Window(), nullptr, 0, 0, 120, 90, SWP_NOMOVE | SWP_NOZORDER);
        shrunk = WindowSize(d.Window());
        SetWindowPos(d.Window(), nullptr, 0, 0, 600, 400, SWP_NOMOVE | SWP_NOZORDER);
        d.SetMinimum(700, 500);
        // A move alone keeps the size even below the new minimum.
        SetWindowPos(d.Window(), nullptr, 30, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        moved = WindowSize(d.Window());
        GetWindowRect(d.Window(), &afterMove);
        d.EndWindow(0);
    });
    CHECK(dialog.RunMain() == 0);
    CHECK(shrunk.cx == 500);
    CHECK(shrunk.cy == 350);
    CHECK(moved.cx == 600);
    CHECK(moved.cy == 400);
    CHECK(afterMove.left == 30);
    CHECK(afterMove.top == 40);

    WINDOWPOS position = {};
    position.cx = 10;
    ApplyMinimumSize(position, -1, 200);
    CHECK(position.cx == 10);
    CHECK(position.cy == 200);
}

// ---------------------------------------------------------------------------
// Subclasser

namespace {

constexpr UINT kProbeMessage = WM_APP + 0x41;

struct ProbeState
{
    int calls = 0;
    LRESULT answer = 0;
    bool detachOnSetText = false;
    Subclasser* self = nullptr;
    // Names of the callbacks in the order they saw a message.
    std::string* order = nullptr;
    char name = '?';
};

int ProbeCallback(HWND, UINT message, WPARAM, LPARAM, LRESULT* result, void* context)
{
    auto* state = static_cast<ProbeState*>(context);
    if (message == kProbeMessage) {
        ++state->calls;
        if (state->order) {
            *state->order += state->name;
        }
        if (state->answer) {
            *result = state->answer;
            return 1;
        }
    }
    if (message == WM_SETTEXT && state->detachOnSetText) {
        state->self->Detach();
    }
    return 0;
}

class TestWindow
{
public:
    TestWindow()
        : window_(CreateWindowExW(0, L"STATIC", L"start", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr))
    {
    }
    ~TestWindow() { DestroyWindow(window_); }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;
    HWND Get() const { return window_; }
    LONG_PTR Procedure() const { return GetWindowLongPtrW(window_, GWLP_WNDPROC); }

private:
    HWND window_;
};

std::wstring TextOf(HWND window)
{
    wchar_t text[64] = {};
    GetWindowTextW(window, text, 64);
    return text;
}

} // namespace

TEST_CASE("Subclasser attaches once per tag, handles and passes messages, detaches")
{
    TestWindow window;
    REQUIRE(window.Get());
    const LONG_PTR original = window.Procedure();
    ProbeState state;
    state.answer = 42;
    Subclasser subclass;
    REQUIRE(subclass.Attach(window.Get(), ProbeCallback, &state, 0x74726565) == 1);
    CHECK(GetPropW(window.Get(), L"_C_SubClassing_Property_74726565") == &subclass);
    WideString name;
    Subclasser::PropertyName(0xABCDEF01, name);
    CHECK(name.Compare(L"_C_SubClassing_Property_ABCDEF01") == 0);

    Subclasser second;
    ProbeState secondState;
    CHECK(second.Attach(window.Get(), ProbeCallback, &secondState, 0x74726565) == 0);
    CHECK_FALSE(second.IsAttached());

    // Handled by the callback; everything else reaches the static control.
    CHECK(SendMessageW(window.Get(), kProbeMessage, 0, 0) == 42);
    SetWindowTextW(window.Get(), L"passed on");
    CHECK((TextOf(window.Get()) == L"passed on"));

    CHECK(subclass.Detach() == 1);
    CHECK(window.Procedure() == original);
    CHECK(GetPropW(window.Get(), L"_C_SubClassing_Property_74726565") == nullptr);
    CHECK(SendMessageW(window.Get(), kProbeMessage, 0, 0) == 0);
    CHECK(state.calls == 1);
    CHECK(subclass.Detach() == 0);

    // Free again; a callback that detaches itself still passes the message on.
    secondState.detachOnSetText = true;
    secondState.self = &second;
    REQUIRE(second.Attach(window.Get(), ProbeCallback, &secondState, 0x74726565) == 1);
    SetWindowTextW(window.Get(), L"after detach");
    CHECK_FALSE(second.IsAttached());
    CHECK(window.Procedure() == original);
    CHECK((TextOf(window.Get()) == L"after detach"));
}

TEST_CASE("Subclassers with different tags share a window")
{
    TestWindow window;
    REQUIRE(window.Get());
    const LONG_PTR original = window.Procedure();
    std::string order;
    ProbeState a, b, c;
    a.name = 'a';
    b.name = 'b';
    c.name = 'c';
    Subclasser first, second, third;
    REQUIRE(first.Attach(window.Get(), ProbeCallback, &a, 1) == 1);
    REQUIRE(second.Attach(window.Get(), ProbeCallback, &b, 2) == 1);
    REQUIRE(third.Attach(window.Get(), ProbeCallback, &c, 3) == 1);

    a.order = b.order = c.order = &order;
    SendMessageW(window.Get(), kProbeMessage, 0, 0);
    CHECK(order == "cba");

    // Taking out the middle one keeps the chain whole.
    CHECK(second.Detach() == 1);
    order.clear();
    SendMessageW(window.Get(), kProbeMessage, 0, 0);
    CHECK(order == "ca");
    SetWindowTextW(window.Get(), L"still static");
    CHECK((TextOf(window.Get()) == L"still static"));

    // The bottom one next, then the top restores the static's procedure.
    CHECK(first.Detach() == 1);
    order.clear();
    SendMessageW(window.Get(), kProbeMessage, 0, 0);
    CHECK(order == "c");
    CHECK(third.Detach() == 1);
    CHECK(window.Procedure() == original);
}
