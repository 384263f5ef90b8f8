#include <doctest.h>

#include <windows.h>

#include <string>

#include "TestWindow.h"
#include "ui/Subclasser.h"

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
