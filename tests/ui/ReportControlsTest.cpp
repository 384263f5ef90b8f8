#include <doctest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "TestWindow.h"
#include "UrlProtocolRecorder.h"
#include "base/WideString.h"
#include "base/ScopedHandle.h"
#include "ui/DividerCtrl.h"
#include "ui/LabelCtrl.h"
#include "ui/SysLinkCtrl.h"

namespace {

int InstalledFrom(const wchar_t* face, void* context)
{
    for (const std::wstring& name : *static_cast<std::vector<std::wstring>*>(context))
        if (name == face)
            return 1;
    return 0;
}

// Text that grows 8 pixels wide and 1 pixel high per pixel of font height.
int MeasureWide(void* context, int height, RECT* measured)
{
    static_cast<std::vector<int>*>(context)->push_back(height);
    *measured = {0, 0, height * 8, height};
    return 1;
}

int MeasureFails(void*, int, RECT*)
{
    return 0;
}

// A parent window that answers WM_COMMAND by recording it.
std::vector<WPARAM> commands;
LRESULT CALLBACK RecordingParent(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND)
        commands.push_back(wParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

struct LabelWindow
{
    TestWindow frame{L"TesselLabelTestParent", RecordingParent, {100, 100, 600, 300}};
    HWND parent = frame.Handle();
    HWND control = nullptr;

    LabelWindow(const wchar_t* text, int width, int height, DWORD style = 0)
    {
        control = CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | style, 10, 10, width,
                                  height, parent, reinterpret_cast<HMENU>(1006),
                                  GetModuleHandleW(nullptr), nullptr);
        commands.clear();
    }
};

int FontHeightOf(HFONT font)
{
    LOGFONTW logFont = {};
    GetObjectW(font, sizeof(logFont), &logFont);
    return logFont.lfHeight;
}

std::wstring FaceOf(HFONT font)
{
    LOGFONTW logFont = {};
    GetObjectW(font, sizeof(logFont), &logFont);
    return logFont.lfFaceName;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

struct Activation
{
    std::vector<int> actions;
};

void RecordActivation(int action, int, LONG_PTR user, LabelCtrl*)
{
    reinterpret_cast<Activation*>(user)->actions.push_back(action);
}

} // namespace

TEST_CASE("label text format, face choice, colours and dialog code")
{
    CHECK(LabelTextFormat(SS_LEFT, 0) == DT_SINGLELINE);
    CHECK(LabelTextFormat(SS_CENTER | SS_NOPREFIX, LABEL_MULTILINE | LABEL_END_ELLIPSIS) ==
          (DT_WORDBREAK | DT_CENTER | DT_NOPREFIX | DT_END_ELLIPSIS));
    CHECK(LabelTextFormat(SS_RIGHT, LABEL_VCENTER) == (DT_SINGLELINE | DT_RIGHT | DT_VCENTER));
    CHECK(LabelTextFormat(SS_LEFT | SS_CENTERIMAGE, 0) == (DT_SINGLELINE | DT_VCENTER));

    std::vector<std::wstring> installed = {L"Verdana", L"MS Sans Serif", L"Tahoma"};
    WideString face;
    // The default list is tried in its order; both separators split.
    CHECK(ChooseLabelFace(nullptr, InstalledFrom, &installed, face));
    CHECK(std::wstring(face.Data()) == L"Verdana");
    CHECK(ChooseLabelFace(L"", InstalledFrom, &installed, face));
    CHECK(std::wstring(face.Data()) == L"Verdana");
    CHECK(ChooseLabelFace(L"Nowhere,Tahoma;Verdana", InstalledFrom, &installed, face));
    CHECK(std::wstring(face.Data()) == L"Tahoma");
    installed.clear();
    CHECK(ChooseLabelFace(L"Nowhere;Neither", InstalledFrom, &installed, face));
    CHECK(std::wstring(face.Data()) == L"Verdana");

    COLORREF color = 1;
    CHECK(LabelTextColor(LABEL_DISABLED | LABEL_HOVERING | LABEL_TRACK_MOUSE, 2, 3, 4, &color));
    CHECK(color == 4);
    CHECK(LabelTextColor(LABEL_HOVERING | LABEL_TRACK_MOUSE, 2, 3, 4, &color));
    CHECK(color == 3);
    CHECK(LabelTextColor(LABEL_HOVERING, 2, 3, 4, &color)); // not tracking: no hover colour
    CHECK(color == 2);
    color = 9;
    CHECK_FALSE(LabelTextColor(LABEL_KEEP_TEXT_COLOR, 2, 3, 4, &color));
    CHECK(color == 9);

    MSG enter = {};
    enter.message = WM_KEYDOWN;
    enter.wParam = VK_RETURN;
    CHECK(LabelDialogCode(&enter) == 0x2024);
    enter.wParam = VK_TAB;
    CHECK(LabelDialogCode(&enter) == 0x2020);
    CHECK(LabelDialogCode(nullptr) == 0x2020);
}

TEST_CASE("fitting the label font")
{
    std::vector<int> heights;
    const RECT limit = {0, 0, 200, 30};
    // Fits when right and bottom are strictly inside: 24 gives 192 x 24.
    CHECK(FitLabelHeight(40, limit, MeasureWide, &heights) == 24);
    CHECK(heights.front() == 40);
    CHECK(heights.size() == 17);
    // A text that never fits stops at 4 pixels.
    heights.clear();
    CHECK(FitLabelHeight(40, {0, 0, 10, 3}, MeasureWide, &heights) == 4);
    CHECK(heights.back() == 4);
    CHECK(FitLabelHeight(40, limit, MeasureFails, nullptr) == 40);
}

TEST_CASE("label on a real static control")
{
    LabelWindow window(L"Tessel has stopped working.", 400, 24);
    LabelCtrl label;
    REQUIRE(label.Attach(window.control, nullptr, 40, 0x753709, 0x753709,
                         LABEL_FIT | LABEL_REFIT_ON_TEXT, 0, nullptr, 0));
    PumpMessagesFor(30);
    // The label owns the text; other programs still read it.
    CHECK(WindowText(window.control) == L"Tessel has stopped working.");
    CHECK((label.Flags() & LABEL_NO_FOCUS) != 0);
    const int fitted = FontHeightOf(label.Font());
    CHECK(fitted < 40);
    CHECK(fitted >= 4);

    SUBCASE("a longer heading shrinks, a shorter one grows back to the given height")
    {
        SetWindowTextW(window.control, L"A much longer product name has stopped working today.");
        CHECK(FontHeightOf(label.Font()) < fitted);
        SetWindowTextW(window.control, L"X");
        CHECK(label.TextExtent().cx > 0);
        // "X" is narrow, but 40 pixels are taller than the control.
        CHECK(FontHeightOf(label.Font()) >= fitted);
        label.Detach();
        LabelWindow tall(L"X", 400, 60);
        REQUIRE(label.Attach(tall.control, nullptr, 40, 0, 0, LABEL_FIT | LABEL_REFIT_ON_TEXT, 0,
                             nullptr, 0));
        SetWindowTextW(tall.control, L"Far too long a text for forty pixels in this box");
        CHECK(FontHeightOf(label.Font()) < 40);
        SetWindowTextW(tall.control, L"X");
        CHECK(FontHeightOf(label.Font()) == 40);
    }
    SUBCASE("a very long heading stops at 4 pixels")
    {
        std::wstring text(600, L'W');
        SetWindowTextW(window.control, text.c_str());
        CHECK(FontHeightOf(label.Font()) == 4);
    }
    SUBCASE("faces of which none is installed give Verdana")
    {
        label.SetFaces(L"No Such Face;Another Missing Face", 0);
        CHECK(std::wstring(label.FaceName()) == L"Verdana");
        SetWindowTextW(window.control, L"again");
        CHECK(FaceOf(label.Font()) == L"Verdana");
    }
    SUBCASE("the control's own font")
    {
        label.Detach();
        LabelWindow plain(L"Your E-mail address:", 300, 14);
        SendMessageW(plain.control, WM_SETFONT,
                     reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
        REQUIRE(label.Attach(plain.control, L"", 0, 0x606060, 0x606060, LABEL_CONTROL_FONT, 0,
                             nullptr, 0));
        LOGFONTW own = {};
        GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(own), &own);
        CHECK(FontHeightOf(label.Font()) == own.lfHeight);
        CHECK(label.Font() != GetStockObject(DEFAULT_GUI_FONT));
        // Drawing in grey on the parent's background leaves grey pixels.
        RedrawWindow(plain.control, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        HDC dc = GetDC(plain.control);
        int grey = 0;
        for (int y = 0; y < 14; ++y)
            for (int x = 0; x < 200; ++x)
                grey += GetPixel(dc, x, y) == 0x606060 ? 1 : 0;
        ReleaseDC(plain.control, dc);
        CHECK(grey > 0);
    }
}

TEST_CASE("a focusable label acts like a push button")
{
    LabelWindow window(L"Press me", 200, 20, WS_TABSTOP);
    Activation activation;
    LabelCtrl label;
    REQUIRE(label.Attach(window.control, nullptr, 0, 0, 0,
                         LABEL_TRACK_MOUSE | LABEL_NOTIFY_PARENT | LABEL_WHOLE_AREA, 0,
                         RecordActivation, reinterpret_cast<LONG_PTR>(&activation)));
    CHECK_FALSE((label.Flags() & LABEL_NO_FOCUS) != 0);
    CHECK((GetWindowLongPtrW(window.control, GWL_STYLE) & SS_NOTIFY) != 0);

    MSG space = {};
    space.message = WM_KEYDOWN;
    space.wParam = VK_SPACE;
    CHECK(SendMessageW(window.control, WM_GETDLGCODE, VK_SPACE, reinterpret_cast<LPARAM>(&space)) ==
          0x2024);
    SendMessageW(window.control, WM_KEYDOWN, VK_RETURN, 0);
    SendMessageW(window.control, WM_KEYDOWN, VK_SPACE, 0);
    SendMessageW(window.control, WM_KEYDOWN, 'A', 0); // swallowed
    CHECK(activation.actions == std::vector<int>{LABEL_ACTION_ENTER, LABEL_ACTION_SPACE});
    REQUIRE(commands.size() == 2);
    CHECK(LOWORD(commands[0]) == 1006);

    // A press away from the label is not a click: no release action.
    SendMessageW(window.control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    CHECK((label.Flags() & LABEL_PRESSED) != 0);
    SendMessageW(window.control, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    CHECK_FALSE((label.Flags() & LABEL_PRESSED) != 0);
    CHECK(activation.actions.back() == LABEL_ACTION_PRESS);
    CHECK(commands.size() == 2);

    // Focus and disabling are state the paint shows.
    SetFocus(window.control);
    CHECK((label.Flags() & LABEL_FOCUSED) != 0);
    EnableWindow(window.control, FALSE);
    CHECK((label.Flags() & LABEL_DISABLED) != 0);
    EnableWindow(window.control, TRUE);
    CHECK_FALSE((label.Flags() & LABEL_DISABLED) != 0);
}

namespace {

// Real input through the system, so hit testing and capture run as for a
// user.
void Mouse(DWORD flags)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof(input));
    PumpMessagesFor(150);
}

void MoveMouse(HWND window, int x, int y)
{
    POINT point = {x, y};
    ClientToScreen(window, &point);
    SetCursorPos(point.x, point.y);
    Mouse(MOUSEEVENTF_MOVE);
}

} // namespace

TEST_CASE("a label that tracks the mouse: hovering, cursor and clicks")
{
    constexpr WORD kHandCursor = 104;
    LabelWindow window(L"Click", 300, 24);
    SetForegroundWindow(window.parent);
    Activation activation;
    LabelCtrl label;
    REQUIRE(label.Attach(window.control, nullptr, 18, 0x000080, 0x0000FF,
                         LABEL_TRACK_MOUSE | LABEL_NOTIFY_PARENT, kHandCursor, RecordActivation,
                         reinterpret_cast<LONG_PTR>(&activation)));
    const HCURSOR hand = LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kHandCursor));
    MoveMouse(window.control, 3, 12);
    CHECK((label.Flags() & LABEL_HOVERING) != 0);
    CHECK(GetCursor() == hand);
    // Beside the short, left-aligned text the label is not hit.
    MoveMouse(window.control, 280, 12);
    CHECK_FALSE((label.Flags() & LABEL_HOVERING) != 0);
    CHECK(GetCursor() != hand);

    MoveMouse(window.control, 3, 12);
    Mouse(MOUSEEVENTF_LEFTDOWN);
    Mouse(MOUSEEVENTF_LEFTUP);
    CHECK(activation.actions == std::vector<int>{LABEL_ACTION_PRESS, LABEL_ACTION_RELEASE});
    REQUIRE(commands.size() == 1);
    CHECK(LOWORD(commands[0]) == 1006);

    // Off the control: the mouse-leave notification ends hovering.
    MoveMouse(window.parent, 450, 150);
    for (int i = 0; i < 100 && (label.Flags() & LABEL_HOVERING); ++i)
        PumpMessagesFor(20);
    CHECK_FALSE((label.Flags() & LABEL_HOVERING) != 0);
}

TEST_CASE("label text replaced from another thread while the window paints")
{
    LabelWindow window(L"start", 300, 24);
    LabelCtrl label;
    REQUIRE(label.Attach(window.control, nullptr, 20, 0, 0, LABEL_REFIT_ON_TEXT, 0, nullptr, 0));
    struct Writer
    {
        LabelCtrl* label;
        static DWORD WINAPI Run(void* context)
        {
            LabelCtrl* target = static_cast<Writer*>(context)->label;
            for (int i = 0; i < 300; ++i)
                target->SetText(i % 2 ? L"a short text" : L"a considerably longer text to fit");
            target->SetText(L"final");
            return 0;
        }
    } writer{&label};
    ScopedHandle thread(CreateThread(nullptr, 0, &Writer::Run, &writer, 0, nullptr));
    REQUIRE(thread.IsValid());
    DWORD waited = WAIT_TIMEOUT;
    for (int round = 0; round < 1000 && waited == WAIT_TIMEOUT; ++round) {
        RedrawWindow(window.control, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        waited = WaitForSingleObject(thread.Get(), 10);
    }
    REQUIRE_MESSAGE(waited == WAIT_OBJECT_0, "the writer thread did not finish within 10 s");
    CHECK(WindowText(window.control) == L"final");
    CHECK(label.TextExtent().cx > 0);
}

TEST_CASE("divider placement and painting")
{
    DividerPlacement line = PlaceDivider({10, 50, 110, 51});
    CHECK(line.horizontal);
    CHECK(line.x == 8);
    CHECK(line.y == 49);
    CHECK(line.width == 103);
    CHECK(line.height == 5);
    DividerPlacement column = PlaceDivider({10, 50, 11, 150});
    CHECK_FALSE(column.horizontal);
    CHECK(column.x == 9);
    CHECK(column.y == 48);
    CHECK(column.width == 5);
    CHECK(column.height == 103);
    const RECT classic = ClassicDividerRect({0, 0, 103, 5});
    CHECK(classic.top == 2);
    CHECK(classic.left == 1);
    CHECK(classic.bottom == 4);

    TestWindow frame(L"TesselDividerTestParent", DefWindowProcW, {100, 100, 500, 300});
    HWND control =
        CreateWindowExW(WS_EX_STATICEDGE, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_ETCHEDHORZ, 0,
                        166, 300, 1, frame.Handle(), nullptr, GetModuleHandleW(nullptr), nullptr);
    RECT before = {};
    GetWindowRect(control, &before);
    DividerCtrl divider;
    REQUIRE(divider.Attach(control));
    RECT rect = {};
    GetWindowRect(control, &rect);
    CHECK(rect.bottom - rect.top == 5);
    CHECK(rect.right - rect.left == before.right - before.left + 3);
    const LONG_PTR exStyle = GetWindowLongPtrW(control, GWL_EXSTYLE);
    CHECK((exStyle & WS_EX_TRANSPARENT) != 0);
    CHECK_FALSE((exStyle & WS_EX_STATICEDGE) != 0);
    // The line is drawn: some pixel of the band differs from the face colour.
    RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    HDC dc = GetDC(control);
    int drawn = 0;
    for (int y = 0; y < 5; ++y)
        drawn += GetPixel(dc, 150, y) != GetSysColor(COLOR_BTNFACE) ? 1 : 0;
    ReleaseDC(control, dc);
    CHECK(drawn > 0);
    divider.Detach();
    CHECK_FALSE(GetPropW(control, L"_C_SubClassing_Property_64697669"));
}

namespace {

struct LinkLog
{
    std::vector<int> indexes;
    std::vector<std::wstring> ids;
};

void RecordLink(int index, const wchar_t* id, LONG_PTR user)
{
    reinterpret_cast<LinkLog*>(user)->indexes.push_back(index);
    reinterpret_cast<LinkLog*>(user)->ids.push_back(id);
}

// A parent that has a font, as a dialog does.
LRESULT CALLBACK ParentWithFont(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_GETFONT)
        return reinterpret_cast<LRESULT>(GetStockObject(DEFAULT_GUI_FONT));
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT SendLinkNotify(HWND parent, HWND from, UINT code, int index, const wchar_t* id,
                       const wchar_t* url)
{
    NMLINK link = {};
    link.hdr.hwndFrom = from;
    link.hdr.code = code;
    link.item.iLink = index;
    wcscpy(link.item.szID, id);
    wcscpy(link.item.szUrl, url);
    return SendMessageW(parent, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&link));
}

} // namespace

TEST_CASE("link control: creation, links with and without an address")
{
    UrlProtocolRecorder recorder(L"tesselreport");
    REQUIRE(recorder.IsRegistered());
    TestWindow frame(L"TesselSysLinkTestParent", ParentWithFont, {100, 100, 600, 300});
    LinkLog log;
    SysLinkCtrl link;
    REQUIRE(link.Create(frame.Handle(), {10, 20, 300, 30},
                        L"Open <a href=\"tesselreport:first\">this</a> or <a id=\"local\">that</a>",
                        SYSLINK_NO_TABSTOP, RecordLink, reinterpret_cast<LONG_PTR>(&log)));
    HWND window = link.Window();
    RECT rect = {};
    GetWindowRect(window, &rect);
    CHECK(rect.right - rect.left == 300);
    CHECK_FALSE((GetWindowLongPtrW(window, GWL_STYLE) & WS_TABSTOP) != 0);
    CHECK(reinterpret_cast<HGDIOBJ>(SendMessageW(window, WM_GETFONT, 0, 0)) ==
          GetStockObject(DEFAULT_GUI_FONT));

    // The parent's subclass forwards every WM_NOTIFY; only clicks and Enter
    // on this link count.
    SendLinkNotify(frame.Handle(), window, NM_CLICK, 1, L"local", L"");
    SendLinkNotify(frame.Handle(), window, NM_RETURN, 1, L"local", L"");
    SendLinkNotify(frame.Handle(), window, NM_RCLICK, 1, L"local", L"");
    SendLinkNotify(frame.Handle(), frame.Handle(), NM_CLICK, 1, L"other", L"");
    CHECK(log.indexes == std::vector<int>{1, 1});
    CHECK(log.ids == std::vector<std::wstring>{L"local", L"local"});
    SendLinkNotify(frame.Handle(), window, NM_CLICK, 0, L"", L"tesselreport:first");
    CHECK(recorder.WaitForLines(1, 10000));
    CHECK(log.indexes.size() == 2);

    link.Destroy();
    CHECK_FALSE(IsWindow(window));
    CHECK_FALSE(GetPropW(frame.Handle(), L"_C_SubClassing_Property_7379736C"));
    SendLinkNotify(frame.Handle(), window, NM_CLICK, 1, L"local", L"");
    CHECK(log.indexes.size() == 2);
}
