#include <doctest.h>

#include <windows.h>

#include <functional>

#include "app/resource.h"
#include "base/WideString.h"
#include "ui/DialogApp.h"
#include "ui/Layout.h"

namespace {

const wchar_t kLayoutTestKey[] = L"Software\\Brindle\\TesselLayoutTest";
const wchar_t kPlacementValue[] = L"Main";

bool SameRect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

RECT MakeRect(int left, int top, int right, int bottom)
{
    RECT rect = {left, top, right, bottom};
    return rect;
}

// The main window's resource with the main window's layout duties; the
// scenario runs once the dialog is on screen, then the dialog ends.
class LayoutTestDialog : public DialogApp
{
public:
    std::function<void(LayoutTestDialog&)> scenario;
    bool restore = false;
    unsigned restoreFlags = 0;
    int restoreResult = -1;
    // Wine's modal loop shows the dialog with SW_SHOWNORMAL once its queue
    // first runs empty, which undoes a maximised state; so it is read here.
    int zoomedAfterRestore = -1;
    bool save = false;
    int saveResult = -1;
    int repositions = 0;
    SizeGrip grip;

    int OnInitDialog() override
    {
        SetIcon(IDI_APP);
        grip.Attach(window_);
        anchors_[0].Setup(Control(IDC_SENSOR_TREE), ANCHOR_SIZE_X | ANCHOR_SIZE_Y);
        anchors_[1].Setup(Control(IDC_WEB_LINK), ANCHOR_MOVE_Y);
        anchors_[2].Setup(Control(IDC_EXIT), ANCHOR_MOVE_X | ANCHOR_MOVE_Y);
        anchors_[3].Setup(Control(IDC_AUTO_UPDATE), ANCHOR_MOVE_Y);
        SetMinimumSize(270, 150, 1);
        if (restore) {
            restoreResult =
                RestorePlacement(HKEY_CURRENT_USER, kLayoutTestKey, kPlacementValue, restoreFlags);
            zoomedAfterRestore = IsZoomed(window_) ? 1 : 0;
        }
        // The dialog manager shows the window when its queue first runs
        // empty; the timer waits for that.
        SetTimer(window_, 1, 10, nullptr);
        return 1;
    }

    int CanClose(INT_PTR) override
    {
        if (save) {
            saveResult =
                SavePlacement(HKEY_CURRENT_USER, kLayoutTestKey, kPlacementValue, nullptr, 0);
        }
        return 1;
    }

    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        switch (message) {
        case WM_SIZE:
            grip.InvalidateGrip();
            for (Anchor& anchor : anchors_) {
                anchor.Apply(wParam, lParam);
            }
            break;
        case WM_PAINT:
            if (grip.Paint()) {
                return 1;
            }
            break;
        case WM_NCHITTEST:
            if (grip.HitTest(wParam, lParam)) {
                return 1;
            }
            break;
        case DM_REPOSITION:
            ++repositions;
            break;
        case WM_TIMER:
            if (IsWindowVisible(window_) && ++ticks_ >= 3) {
                KillTimer(window_, 1);
                if (scenario) {
                    scenario(*this);
                }
                EndWindow(0);
            }
            return 1;
        }
        return DialogApp::OnMessage(message, wParam, lParam);
    }

    INT_PTR RunMain() { return Run(GetModuleHandleW(nullptr), IDD_MAIN, 0, nullptr); }

private:
    Anchor anchors_[4];
    int ticks_ = 0;
};

RECT ChildRect(HWND dialog, int id)
{
    RECT rect = {};
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

RECT NormalRect(HWND window)
{
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    GetWindowPlacement(window, &placement);
    return placement.rcNormalPosition;
}

UINT ShowCommand(HWND window)
{
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    GetWindowPlacement(window, &placement);
    return placement.showCmd;
}

void Resize(HWND window, int width, int height)
{
    SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT HitTestAt(HWND window, int x, int y)
{
    return SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y));
}

// The client corner's last pixel in screen coordinates: inside the client
// area and inside the grip square.
POINT ClientCorner(HWND window)
{
    RECT client = {};
    GetClientRect(window, &client);
    POINT corner = {client.right - 2, client.bottom - 2};
    ClientToScreen(window, &corner);
    return corner;
}

// Pixels in the client area's last 6 x 6 corner (clear of every control)
// that differ from the background just above the grip.
int GripInk(HWND window)
{
    RECT client = {};
    GetClientRect(window, &client);
    HDC dc = GetDC(window);
    COLORREF background = GetPixel(dc, client.right - 1, client.bottom - 20);
    int ink = 0;
    for (int y = client.bottom - 6; y < client.bottom; ++y) {
        for (int x = client.right - 6; x < client.right; ++x) {
            ink += GetPixel(dc, x, y) != background;
        }
    }
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

    void Read(WideString& text)
    {
        wchar_t buffer[260] = {};
        DWORD size = sizeof(buffer);
        RegGetValueW(HKEY_CURRENT_USER, kLayoutTestKey, kPlacementValue, RRF_RT_REG_SZ, nullptr,
                     buffer, &size);
        text.Assign(buffer);
    }
};

// Restores the given text and hands the dialog to check while it is shown.
void RunRestored(const wchar_t* text, unsigned flags,
                 const std::function<void(LayoutTestDialog&)>& check)
{
    PlacementKey key;
    key.Write(text);
    LayoutTestDialog dialog;
    dialog.restore = true;
    dialog.restoreFlags = flags;
    dialog.scenario = check;
    dialog.RunMain();
    CHECK(dialog.restoreResult == 1);
}

} // namespace

TEST_CASE("anchored boxes follow the client size")
{
    const RECT reference = MakeRect(0, 0, 600, 400);
    const RECT control = MakeRect(10, 20, 110, 70);

    SUBCASE("no flag keeps position and size")
    {
        ControlBox box = AnchoredBox(0, control, reference, 500, 350);
        CHECK(box.x == 10);
        CHECK(box.y == 20);
        CHECK(box.width == 100);
        CHECK(box.height == 50);
    }
    SUBCASE("moving and sizing combine independently")
    {
        ControlBox box = AnchoredBox(ANCHOR_MOVE_X | ANCHOR_SIZE_X | ANCHOR_SIZE_Y, control,
                                     reference, 500, 350);
        CHECK(box.x == -90);
        CHECK(box.y == 20);
        CHECK(box.width == 0);
        CHECK(box.height == 0);
    }
    SUBCASE("scaling keeps the proportion, truncated")
    {
        ControlBox box = AnchoredBox(ANCHOR_SCALE_X | ANCHOR_SCALE_Y, control, reference, 899, 401);
        CHECK(box.x == 14); // 10 / 600 * 899 = 14.98
        CHECK(box.y == 20); // 20 / 400 * 401 = 20.05
        CHECK(box.width == 100);
    }
    SUBCASE("moving wins over scaling")
    {
        ControlBox box = AnchoredBox(ANCHOR_MOVE_Y | ANCHOR_SCALE_Y, control, reference, 600, 200);
        CHECK(box.y == -180);
    }
    SUBCASE("a reference without area gives no proportion")
    {
        ControlBox box =
            AnchoredBox(ANCHOR_SCALE_X | ANCHOR_SCALE_Y, control, MakeRect(0, 0, 0, 0), 300, 200);
        CHECK(box.x == 10);
        CHECK(box.y == 20);
    }
}

TEST_CASE("placement text")
{
    SavedPlacement placement = {7, {1, 2, 3, 4}};

    SUBCASE("writing and reading back, negative coordinates included")
    {
        WideString text;
        SavedPlacement saved = {3, {-1200, -30, -200, 570}};
        REQUIRE(FormatPlacement(saved, text) == 1);
        CHECK(text.Compare(L"3,-1200,-30,-200,570") == 0);
        REQUIRE(ParsePlacement(text.Data(), placement) == 1);
        CHECK(placement.showCommand == 3);
        CHECK(SameRect(placement.normal, saved.normal));
    }
    SUBCASE("missing fields stay 0")
    {
        REQUIRE(ParsePlacement(L"1,10,20", placement) == 1);
        CHECK(placement.showCommand == 1);
        CHECK(SameRect(placement.normal, MakeRect(10, 20, 0, 0)));
        REQUIRE(ParsePlacement(L"2", placement) == 1);
        CHECK(SameRect(placement.normal, MakeRect(0, 0, 0, 0)));
    }
    SUBCASE("a text without a number is no placement")
    {
        CHECK(ParsePlacement(L"", placement) == 0);
        CHECK(ParsePlacement(L"   ", placement) == 0);
        CHECK(ParsePlacement(L"x,1,2,3,4", placement) == 0);
        CHECK(ParsePlacement(nullptr, placement) == 0);
        CHECK(placement.showCommand == 7);
        CHECK(SameRect(placement.normal, MakeRect(1, 2, 3, 4)));
    }
}

TEST_CASE("show command rules")
{
    CHECK(ShowCommandToSave(SW_SHOWMAXIMIZED, 1, 0) == SW_SHOWMAXIMIZED);
    CHECK(ShowCommandToSave(SW_SHOWNORMAL, 0, 0) == SW_HIDE);
    CHECK(ShowCommandToSave(SW_SHOWNORMAL, 0, PLACE_KEEP_SHOW_STATE) == SW_SHOWNORMAL);

    CHECK(ShowCommandToRestore(SW_SHOWMINIMIZED, 0) == SW_SHOWNORMAL);
    CHECK(ShowCommandToRestore(SW_SHOWMINIMIZED, PLACE_ALLOW_MINIMIZED) == SW_SHOWMINIMIZED);
    CHECK(ShowCommandToRestore(SW_HIDE, 0) == SW_SHOWNORMAL);
    CHECK(ShowCommandToRestore(SW_HIDE, PLACE_ALLOW_HIDDEN) == SW_HIDE);
    CHECK(ShowCommandToRestore(SW_SHOWMAXIMIZED, 0) == SW_SHOWMAXIMIZED);
    CHECK(ShowCommandToRestore(SW_SHOWMAXIMIZED, PLACE_FORCE_HIDDEN) == SW_HIDE);
    CHECK(ShowCommandToRestore(SW_HIDE, PLACE_FORCE_HIDDEN | PLACE_FORCE_MINNOACTIVE) ==
          SW_SHOWMINNOACTIVE);
}

TEST_CASE("restored rectangles")
{
    const RECT saved = MakeRect(100, 50, 500, 350);
    const RECT current = MakeRect(-20, 30, 580, 530);
    CHECK(SameRect(KeepCurrentParts(saved, current, 0), saved));
    CHECK(SameRect(KeepCurrentParts(saved, current, PLACE_KEEP_SIZE), MakeRect(100, 50, 700, 550)));
    CHECK(SameRect(KeepCurrentParts(saved, current, PLACE_KEEP_POSITION),
                   MakeRect(-20, 30, 380, 330)));
    CHECK(SameRect(MoveIntoWorkArea(MakeRect(-900, -700, -500, -400), MakeRect(0, 40, 1024, 768)),
                   MakeRect(10, 50, 410, 350)));
    CHECK(StandardIconSize(16) == 16);
    CHECK(StandardIconSize(24) == 32);
    CHECK(StandardIconSize(40) == 48);
    CHECK(StandardIconSize(64) == 256);
}

TEST_CASE("grip hit rectangle")
{
    // A window on a monitor left of and above the primary one.
    const RECT window = MakeRect(-800, -600, -200, -100);
    POINT corner = HitTestPoint(MAKELPARAM(-205, -105));
    CHECK(corner.x == -205);
    CHECK(corner.y == -105);
    CHECK(GripHitCode(HTCLIENT, 0, window, corner, 17, 17) == HTBOTTOMRIGHT);
    CHECK(GripHitCode(HTCLIENT, 1, window, corner, 17, 17) == HTCLIENT);
    CHECK(GripHitCode(HTCAPTION, 0, window, corner, 17, 17) == HTCAPTION);
    CHECK(GripHitCode(HTCLIENT, 0, window, HitTestPoint(MAKELPARAM(-218, -105)), 17, 17) ==
          HTCLIENT);
    CHECK(GripHitCode(HTCLIENT, 0, window, HitTestPoint(MAKELPARAM(-200, -105)), 17, 17) ==
          HTCLIENT);
}

TEST_CASE("anchored controls of the main window")
{
    LayoutTestDialog dialog;
    dialog.scenario = [](LayoutTestDialog& self) {
        HWND window = self.Window();
        const int ids[] = {IDC_SENSOR_TREE, IDC_WEB_LINK, IDC_EXIT, IDC_AUTO_UPDATE};
        RECT before[4];
        for (int i = 0; i < 4; ++i) {
            before[i] = ChildRect(window, ids[i]);
        }
        RECT outer = {};
        GetWindowRect(window, &outer);
        Resize(window, outer.right - outer.left - 100, outer.bottom - outer.top - 50);

        RECT tree = ChildRect(window, IDC_SENSOR_TREE);
        CHECK(SameRect(tree, MakeRect(before[0].left, before[0].top, before[0].right - 100,
                                      before[0].bottom - 50)));
        RECT link = ChildRect(window, IDC_WEB_LINK);
        CHECK(SameRect(link, MakeRect(before[1].left, before[1].top - 50, before[1].right,
                                      before[1].bottom - 50)));
        RECT exit = ChildRect(window, IDC_EXIT);
        CHECK(SameRect(exit, MakeRect(before[2].left - 100, before[2].top - 50,
                                      before[2].right - 100, before[2].bottom - 50)));
        RECT check = ChildRect(window, IDC_AUTO_UPDATE);
        CHECK(SameRect(check, MakeRect(before[3].left, before[3].top - 50, before[3].right,
                                       before[3].bottom - 50)));

        RECT shrunk[4];
        for (int i = 0; i < 4; ++i) {
            shrunk[i] = ChildRect(window, ids[i]);
        }
        ShowWindow(window, SW_MINIMIZE);
        CHECK(IsIconic(window));
        ShowWindow(window, SW_RESTORE);
        CHECK_FALSE(IsIconic(window));
        for (int i = 0; i < 4; ++i) {
            CHECK(SameRect(ChildRect(window, ids[i]), shrunk[i]));
        }
    };
    dialog.RunMain();
}

TEST_CASE("minimum size and size grip")
{
    LayoutTestDialog dialog;
    dialog.scenario = [](LayoutTestDialog& self) {
        HWND window = self.Window();

        // The client area cannot become smaller than 270 x 150 dialog units.
        Resize(window, 50, 40);
        RECT minimum = MakeRect(0, 0, 270, 150);
        MapDialogRect(window, &minimum);
        RECT client = {};
        GetClientRect(window, &client);
        CHECK(client.right == minimum.right);
        CHECK(client.bottom == minimum.bottom);
        Resize(window, 700, 500);

        UpdateWindow(window);
        GetClientRect(window, &client);
        CHECK(SameRect(self.grip.LastGripRect(),
                       MakeRect(client.right - GetSystemMetrics(SM_CXHSCROLL),
                                client.bottom - GetSystemMetrics(SM_CYVSCROLL), client.right,
                                client.bottom)));

        CHECK(GripInk(window) > 0);

        POINT corner = ClientCorner(window);
        CHECK(HitTestAt(window, corner.x, corner.y) == HTBOTTOMRIGHT);
        CHECK(HitTestAt(window, corner.x - 40, corner.y - 40) == HTCLIENT);

        // Left of and above the primary monitor.
        SetWindowPos(window, nullptr, -800, -600, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        corner = ClientCorner(window);
        CHECK(corner.x < 0);
        CHECK(corner.y < 0);
        CHECK(HitTestAt(window, corner.x, corner.y) == HTBOTTOMRIGHT);

        ShowWindow(window, SW_MAXIMIZE);
        CHECK(IsZoomed(window));
        UpdateWindow(window);
        corner = ClientCorner(window);
        CHECK(HitTestAt(window, corner.x, corner.y) == HTCLIENT);
        CHECK(IsRectEmpty(&self.grip.LastGripRect()));
        CHECK(GripInk(window) == 0);
    };
    dialog.RunMain();
}

TEST_CASE("saving the placement")
{
    PlacementKey key;
    WideString text;

    SUBCASE("a shown window")
    {
        LayoutTestDialog dialog;
        dialog.save = true;
        dialog.scenario = [](LayoutTestDialog& self) {
            SetWindowPos(self.Window(), nullptr, 120, 90, 640, 420, SWP_NOZORDER);
        };
        dialog.RunMain();
        CHECK(dialog.saveResult == 1);
        key.Read(text);
        CHECK(text.Compare(L"1,120,90,760,510") == 0);
    }
    SUBCASE("an invisible window is saved hidden")
    {
        LayoutTestDialog dialog;
        dialog.save = true;
        dialog.scenario = [](LayoutTestDialog& self) {
            SetWindowPos(self.Window(), nullptr, 130, 70, 600, 400, SWP_NOZORDER);
            ShowWindow(self.Window(), SW_HIDE);
        };
        dialog.RunMain();
        key.Read(text);
        CHECK(text.Compare(L"0,130,70,730,470") == 0);
    }
}

TEST_CASE("restoring the placement")
{
    SUBCASE("a short text fills the rest with 0")
    {
        // Wine pulls a rectangle that ends left of or above the work area
        // onto it, so only the size shows where the text went: right and
        // bottom 0 ask for less than the minimum, which then holds.
        RunRestored(L"1,10,20", 0, [](LayoutTestDialog& self) {
            CHECK(ShowCommand(self.Window()) == SW_SHOWNORMAL);
            RECT rect = {};
            GetWindowRect(self.Window(), &rect);
            CHECK(rect.right - rect.left == self.MinimumWidth());
            CHECK(rect.bottom - rect.top == self.MinimumHeight());
            CHECK(self.repositions == 1);
        });
    }
    SUBCASE("minimised and hidden come back normal")
    {
        for (const wchar_t* text : {L"2,50,60,650,460", L"0,50,60,650,460"}) {
            RunRestored(text, 0, [](LayoutTestDialog& self) {
                CHECK(ShowCommand(self.Window()) == SW_SHOWNORMAL);
                CHECK_FALSE(IsIconic(self.Window()));
                CHECK(SameRect(NormalRect(self.Window()), MakeRect(50, 60, 650, 460)));
            });
        }
    }
    SUBCASE("maximised without a reposition")
    {
        RunRestored(L"3,50,60,650,460", 0, [](LayoutTestDialog& self) {
            CHECK(self.zoomedAfterRestore == 1);
            CHECK(self.repositions == 0);
            CHECK(SameRect(NormalRect(self.Window()), MakeRect(50, 60, 650, 460)));
        });
    }
    SUBCASE("off every monitor moves inside the nearest work area")
    {
        for (const wchar_t* text : {L"1,3000,2000,3600,2400", L"1,-900,-700,-300,-300"}) {
            RunRestored(text, 0, [](LayoutTestDialog& self) {
                CHECK(SameRect(NormalRect(self.Window()), MakeRect(10, 10, 610, 410)));
            });
        }
    }
    SUBCASE("a bottom-right corner on a monitor is enough when asked for")
    {
        const wchar_t* text = L"1,-100,-50,500,350";
        RunRestored(text, PLACE_ACCEPT_BOTTOM_RIGHT | PLACE_NO_REPOSITION,
                    [](LayoutTestDialog& self) {
                        CHECK(SameRect(NormalRect(self.Window()), MakeRect(-100, -50, 500, 350)));
                        CHECK(self.repositions == 0);
                    });
        RunRestored(text, PLACE_NO_REPOSITION, [](LayoutTestDialog& self) {
            CHECK(SameRect(NormalRect(self.Window()), MakeRect(10, 10, 610, 410)));
        });
        RunRestored(text, PLACE_NO_MONITOR_CHECK | PLACE_NO_REPOSITION, [](LayoutTestDialog& self) {
            CHECK(SameRect(NormalRect(self.Window()), MakeRect(-100, -50, 500, 350)));
        });
    }
    SUBCASE("keeping the current size")
    {
        RunRestored(L"1,40,30,41,31", PLACE_KEEP_SIZE, [](LayoutTestDialog& self) {
            RECT rect = NormalRect(self.Window());
            CHECK(rect.left == 40);
            CHECK(rect.top == 30);
            CHECK(rect.right - rect.left > self.MinimumWidth());
        });
    }
    SUBCASE("no value leaves the window alone")
    {
        PlacementKey key;
        LayoutTestDialog dialog;
        dialog.restore = true;
        dialog.RunMain();
        CHECK(dialog.restoreResult == 0);
        CHECK(dialog.repositions == 0);
    }
}
