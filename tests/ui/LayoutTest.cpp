#include <doctest.h>

#include <windows.h>

#include <string>

#include "ScriptedDialog.h"
#include "base/WideString.h"

namespace {

const wchar_t kLayoutTestKey[] = L"Software\\Brindle\\TesselLayoutTest";
const wchar_t kPlacementValue[] = L"Main";

bool SameRect(const RECT& a, const RECT& b)
{
    return EqualRect(&a, &b) != 0;
}

// Runs dialog 102 with the scenario once it is on screen, then ends it.
void RunScenario(ScriptedDialog& dialog, const ScriptedDialog::Step& scenario)
{
    dialog.steps = {scenario, [](ScriptedDialog& self) { self.EndWindow(0); }};
    dialog.RunMain();
}

WINDOWPLACEMENT Placement(HWND window)
{
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    GetWindowPlacement(window, &placement);
    return placement;
}

void Resize(HWND window, int width, int height)
{
    SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The grip's hit code at the client corner's last pixel but one.
LRESULT HitTestCorner(HWND window, int inset = 2)
{
    RECT client = {};
    GetClientRect(window, &client);
    POINT corner = {client.right - inset, client.bottom - inset};
    ClientToScreen(window, &corner);
    return SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(corner.x, corner.y));
}

// Pixels in the client's last 6 x 6 corner unlike the background above the grip.
int GripInk(HWND window)
{
    RECT client = {};
    GetClientRect(window, &client);
    HDC dc = GetDC(window);
    COLORREF background = GetPixel(dc, client.right - 1, client.bottom - 20);
    int ink = 0;
    for (int y = client.bottom - 6; y < client.bottom; ++y)
        for (int x = client.right - 6; x < client.right; ++x)
            ink += GetPixel(dc, x, y) != background;
    ReleaseDC(window, dc);
    return ink;
}

struct PlacementKey
{
    PlacementKey() { RegDeleteTreeW(HKEY_CURRENT_USER, kLayoutTestKey); }
    ~PlacementKey() { RegDeleteTreeW(HKEY_CURRENT_USER, kLayoutTestKey); }

    void Write(const wchar_t* text)
    {
        RegSetKeyValueW(HKEY_CURRENT_USER, kLayoutTestKey, kPlacementValue, REG_SZ, text,
                        static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    }
    std::wstring Read()
    {
        wchar_t buffer[260] = {};
        DWORD size = sizeof(buffer);
        RegGetValueW(HKEY_CURRENT_USER, kLayoutTestKey, kPlacementValue, RRF_RT_REG_SZ, nullptr,
                     buffer, &size);
        return buffer;
    }
};

// Restores the text and checks the normal rectangle (if given), the
// maximised state and the number of repositions (unless -1). Wine's modal loop
// later undoes a maximised state, so that is read right after the restore.
void RunRestored(const wchar_t* text, unsigned flags, const RECT* normal, bool zoomed,
                 int repositions = -1)
{
    WideString shown(text ? text : L"no value");
    INFO("restoring " << std::string(shown.ToNarrow(WideString::kRaw)));
    PlacementKey key;
    if (text)
        key.Write(text);
    ScriptedDialog dialog;
    int restored = -1;
    bool restoredZoomed = false;
    dialog.onInit = [&](ScriptedDialog& self) {
        restored = self.RestorePlacement(HKEY_CURRENT_USER, kLayoutTestKey, kPlacementValue, flags);
        restoredZoomed = IsZoomed(self.Window()) != 0;
    };
    RunScenario(dialog, [&](ScriptedDialog& self) {
        if (normal)
            CHECK(SameRect(Placement(self.Window()).rcNormalPosition, *normal));
        if (repositions >= 0)
            CHECK(self.repositions == repositions);
    });
    CHECK(restored == (text ? 1 : 0));
    CHECK(restoredZoomed == zoomed);
}

} // namespace

TEST_CASE("anchored boxes follow the client size")
{
    const RECT reference = {0, 0, 600, 400};
    const RECT control = {10, 20, 110, 70};
    struct Case
    {
        unsigned flags;
        int width, height;
        ControlBox box;
    };
    const Case cases[] = {
        {ANCHOR_MOVE_X | ANCHOR_SIZE_X | ANCHOR_SIZE_Y, 500, 350, {-90, 20, 0, 0}},
        {ANCHOR_SCALE_X | ANCHOR_SCALE_Y, 899, 401, {14, 20, 100, 50}},  // truncated
        {ANCHOR_MOVE_Y | ANCHOR_SCALE_Y, 600, 200, {10, -180, 100, 50}}, // moving wins
    };
    for (const Case& c : cases) {
        CAPTURE(c.flags);
        ControlBox box = AnchoredBox(c.flags, control, reference, c.width, c.height);
        CHECK((box.x == c.box.x && box.y == c.box.y));
        CHECK((box.width == c.box.width && box.height == c.box.height));
    }
    // A reference without area gives no proportion.
    ControlBox box = AnchoredBox(ANCHOR_SCALE_X | ANCHOR_SCALE_Y, control, {}, 300, 200);
    CHECK((box.x == 10 && box.y == 20));
}

TEST_CASE("placement text, show commands, restored rectangles and icon sizes")
{
    SavedPlacement placement = {7, {1, 2, 3, 4}};
    WideString text;
    const SavedPlacement saved = {3, {-1200, -30, -200, 570}};
    REQUIRE(FormatPlacement(saved, text) == 1);
    CHECK(text.Compare(L"3,-1200,-30,-200,570") == 0);
    REQUIRE(ParsePlacement(text.Data(), placement) == 1);
    CHECK(SameRect(placement.normal, saved.normal));

    // Missing fields stay 0; a text without a number is no placement.
    REQUIRE(ParsePlacement(L"1,10,20", placement) == 1);
    CHECK(SameRect(placement.normal, {10, 20, 0, 0}));
    for (const wchar_t* bad : {L"   ", L"x,1,2,3,4", static_cast<const wchar_t*>(nullptr)})
        CHECK(ParsePlacement(bad, placement) == 0);
    CHECK(SameRect(placement.normal, {10, 20, 0, 0}));

    // Show commands, restored rectangles and icon sizes.
    CHECK(ShowCommandToSave(SW_SHOWNORMAL, 0, PLACE_KEEP_SHOW_STATE) == SW_SHOWNORMAL);
    CHECK(ShowCommandToRestore(SW_SHOWMINIMIZED, 0) == SW_SHOWNORMAL);
    CHECK(ShowCommandToRestore(SW_HIDE, PLACE_ALLOW_HIDDEN) == SW_HIDE);
    CHECK(ShowCommandToRestore(SW_HIDE, PLACE_FORCE_HIDDEN | PLACE_FORCE_MINNOACTIVE) ==
          SW_SHOWMINNOACTIVE);

    const RECT savedRect = {100, 50, 500, 350};
    const RECT current = {-20, 30, 580, 530};
    CHECK(SameRect(KeepCurrentParts(savedRect, current, PLACE_KEEP_SIZE), {100, 50, 700, 550}));
    CHECK(SameRect(KeepCurrentParts(savedRect, current, PLACE_KEEP_POSITION), {-20, 30, 380, 330}));
    CHECK(SameRect(MoveIntoWorkArea({-900, -700, -500, -400}, {0, 40, 1024, 768}),
                   {10, 50, 410, 350}));
    CHECK(StandardIconSize(40) == 48);
}

TEST_CASE("the size grip: drawn in the corner, sizing from it, gone when maximised")
{
    ScriptedDialog dialog;
    RunScenario(dialog, [](ScriptedDialog& self) {
        HWND window = self.Window();
        RECT client = {};
        Resize(window, 700, 500);
        UpdateWindow(window);
        GetClientRect(window, &client);
        CHECK(SameRect(self.grip.LastGripRect(), {client.right - GetSystemMetrics(SM_CXHSCROLL),
                                                  client.bottom - GetSystemMetrics(SM_CYVSCROLL),
                                                  client.right, client.bottom}));
        CHECK(GripInk(window) > 0);
        CHECK(HitTestCorner(window, 42) == HTCLIENT);
        SetWindowPos(window, nullptr, -800, -600, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        CHECK(HitTestCorner(window) == HTBOTTOMRIGHT);

        ShowWindow(window, SW_MAXIMIZE);
        REQUIRE(IsZoomed(window));
        UpdateWindow(window);
        CHECK(HitTestCorner(window) == HTCLIENT);
        CHECK(GripInk(window) == 0);
    });
}

// A shown window's placement: the main window's tests.
TEST_CASE("an invisible window's placement is saved hidden")
{
    PlacementKey key;
    ScriptedDialog dialog;
    RunScenario(dialog, [](ScriptedDialog& self) {
        SetWindowPos(self.Window(), nullptr, 120, 90, 640, 420, SWP_NOZORDER);
        ShowWindow(self.Window(), SW_HIDE);
        CHECK(self.SavePlacement(HKEY_CURRENT_USER, kLayoutTestKey, kPlacementValue, nullptr, 0) ==
              1);
    });
    CHECK(key.Read() == L"0,120,90,760,510");
}

TEST_CASE("restoring the placement")
{
    const RECT saved = {50, 60, 650, 460};
    const RECT nearest = {10, 10, 610, 410}; // 10 pixels inside the work area
    const RECT cornerOnMonitor = {-100, -50, 500, 350};
    // Maximised without a reposition.
    RunRestored(L"3,50,60,650,460", 0, &saved, true, 0);
    // Off every monitor: moved inside the nearest work area.
    RunRestored(L"1,3000,2000,3600,2400", 0, &nearest, false, 1);
    RunRestored(L"1,-900,-700,-300,-300", 0, &nearest, false);
    // A bottom-right corner on a monitor is enough when asked for.
    RunRestored(L"1,-100,-50,500,350", PLACE_ACCEPT_BOTTOM_RIGHT | PLACE_NO_REPOSITION,
                &cornerOnMonitor, false, 0);
    RunRestored(L"1,-100,-50,500,350", PLACE_NO_REPOSITION, &nearest, false);
    // No value leaves the window alone.
    RunRestored(nullptr, 0, nullptr, false, 0);
}
