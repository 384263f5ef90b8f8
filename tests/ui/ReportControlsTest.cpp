#include <doctest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "ChartPixels.h"
#include "MouseInput.h"
#include "TestWindow.h"
#include "UrlProtocolRecorder.h"
#include "base/ScopedHandle.h"
#include "ui/DividerCtrl.h"
#include "ui/LabelCtrl.h"
#include "ui/SysLinkCtrl.h"

namespace {

int OnlyTahoma(const wchar_t* face, void*)
{
    return wcscmp(face, L"Tahoma") == 0;
}

std::vector<WPARAM> commands;
std::vector<int> actions;

LRESULT CALLBACK RecordingParent(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND)
        commands.push_back(wParam);
    if (message == WM_GETFONT) // as a dialog has one
        return reinterpret_cast<LRESULT>(GetStockObject(DEFAULT_GUI_FONT));
    return DefWindowProcW(window, message, wParam, lParam);
}

void RecordAction(int action, int, LONG_PTR, LabelCtrl*)
{
    actions.push_back(action);
}

// A shown window with one static control (id 1006) of the given size, and
// a label to put on it.
struct ControlWindow
{
    TestWindow frame{L"TesselReportControlsParent", RecordingParent, {100, 100, 600, 300}};
    HWND parent = frame.Handle();
    HWND control = nullptr;
    LabelCtrl label;

    ControlWindow(const wchar_t* text, int width, int height, DWORD style = 0)
    {
        control = CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | style, 10, 10, width,
                                  height, parent, reinterpret_cast<HMENU>(1006),
                                  GetModuleHandleW(nullptr), nullptr);
        commands.clear();
        actions.clear();
        SetForegroundWindow(parent);
    }
    // Attaches the label with the given flags, reporting to RecordAction.
    int AttachLabel(DWORD flags, int fontHeight = 0, WORD cursorId = 0)
    {
        LabelOptions options;
        options.flags = flags;
        options.fontHeight = fontHeight;
        options.cursorId = cursorId;
        options.handler = RecordAction;
        return label.Attach(control, options);
    }
};

int FontHeight(const LabelCtrl& label)
{
    LOGFONTW logFont = {};
    GetObjectW(label.Font(), sizeof(logFont), &logFont);
    return logFont.lfHeight;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[700] = {};
    GetWindowTextW(window, text, 700);
    return text;
}

bool Has(const LabelCtrl& label, DWORD flag)
{
    return (label.Flags() & flag) != 0;
}

DWORD WINAPI ReplaceTexts(void* context)
{
    LabelCtrl* label = static_cast<LabelCtrl*>(context);
    for (int i = 0; i < 300; ++i)
        label->SetText(i % 2 ? L"a short text" : L"a considerably longer text to fit");
    label->SetText(L"final");
    return 0;
}

std::vector<std::wstring> linkIds;

void RecordLink(int, const wchar_t* id, LONG_PTR)
{
    linkIds.push_back(id);
}

void SendLinkNotify(HWND parent, HWND from, UINT code, const wchar_t* id, const wchar_t* url)
{
    NMLINK link = {};
    link.hdr.hwndFrom = from;
    link.hdr.code = code;
    wcscpy(link.item.szID, id);
    wcscpy(link.item.szUrl, url);
    SendMessageW(parent, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&link));
}

} // namespace

TEST_CASE("label face, fitting and colour decisions")
{
    WideString face;
    CHECK(ChooseLabelFace(L"Nowhere,Tahoma;Verdana", OnlyTahoma, nullptr, face));
    CHECK(std::wstring(face.Data()) == L"Tahoma");
    // No face of the list installed: Verdana, even when it is missing too.
    CHECK(ChooseLabelFace(L"Nowhere;Neither", OnlyTahoma, nullptr, face));
    CHECK(std::wstring(face.Data()) == L"Verdana");

    // Right and bottom must lie strictly inside.
    CHECK(LabelTextFits({0, 0, 199, 29}, {0, 0, 200, 30}));
    CHECK_FALSE(LabelTextFits({0, 0, 200, 24}, {0, 0, 200, 30}));
    CHECK_FALSE(LabelTextFits({0, 0, 100, 30}, {0, 0, 200, 30}));

    COLORREF color = 9;
    CHECK(LabelTextColor(LABEL_DISABLED | LABEL_HOVERING | LABEL_TRACK_MOUSE, 2, 3, 4, &color));
    CHECK(color == 4);
    CHECK(LabelTextColor(LABEL_HOVERING, 2, 3, 4, &color)); // hovering counts only when tracked
    CHECK(color == 2);
    color = 9;
    CHECK_FALSE(LabelTextColor(LABEL_KEEP_TEXT_COLOR, 2, 3, 4, &color));
    CHECK(color == 9);
}

TEST_CASE("a fitted heading label on a real static control, its text replaced from another "
          "thread while it paints")
{
    ControlWindow window(L"X", 400, 60);
    REQUIRE(window.AttachLabel(LABEL_FIT | LABEL_REFIT_ON_TEXT, 40));
    // A control takes one label; a second one fails and leaves the text.
    LabelCtrl second;
    CHECK_FALSE(second.Attach(window.control, LabelOptions()));
    CHECK(WindowText(window.control) == L"X");
    CHECK(FontHeight(window.label) == 40);
    SetWindowTextW(window.control, L"Far too long a text for forty pixels in this box");
    CHECK(FontHeight(window.label) < 40);
    // A shorter text grows the font again up to the given height.
    SetWindowTextW(window.control, L"X");
    CHECK(FontHeight(window.label) == 40);

    ScopedHandle thread(CreateThread(nullptr, 0, ReplaceTexts, &window.label, 0, nullptr));
    REQUIRE(thread.IsValid());
    DWORD waited = WAIT_TIMEOUT;
    for (int round = 0; round < 1000 && waited == WAIT_TIMEOUT; ++round) {
        RedrawWindow(window.control, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        waited = WaitForSingleObject(thread.Get(), 10);
    }
    REQUIRE_MESSAGE(waited == WAIT_OBJECT_0, "the writer thread did not finish within 10 s");
    CHECK(WindowText(window.control) == L"final");
}

TEST_CASE("a focusable label that tracks the mouse: keys as on a push button, hovering, cursor "
          "and clicks")
{
    constexpr WORD kHandCursor = 104;
    ControlWindow window(L"Click", 300, 24, WS_TABSTOP);
    REQUIRE(window.AttachLabel(LABEL_TRACK_MOUSE | LABEL_NOTIFY_PARENT, 18, kHandCursor));
    MSG space = {nullptr, WM_KEYDOWN, VK_SPACE, 0, 0, {}};
    CHECK(SendMessageW(window.control, WM_GETDLGCODE, VK_SPACE, reinterpret_cast<LPARAM>(&space)) ==
          0x2024);
    for (WPARAM key : {WPARAM(VK_RETURN), WPARAM(VK_SPACE), WPARAM('A')}) // 'A' is swallowed
        SendMessageW(window.control, WM_KEYDOWN, key, 0);
    // A label's own codes: 4 Enter, 3 Space.
    CHECK(actions == std::vector<int>{4, 3});
    REQUIRE(commands.size() == 2);
    CHECK(LOWORD(commands[0]) == 1006);

    const HCURSOR hand = LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kHandCursor));
    MoveMouse(window.control, 3, 12);
    CHECK(GetCursor() == hand);
    // Beside the short, left-aligned text the label is not hit.
    MoveMouse(window.control, 280, 12);
    CHECK_FALSE(Has(window.label, LABEL_HOVERING));
    CHECK(GetCursor() != hand);
    MoveMouse(window.control, 3, 12);
    Mouse(MOUSEEVENTF_LEFTDOWN);
    Mouse(MOUSEEVENTF_LEFTUP);
    // 1 pressed, 2 released while hovering.
    CHECK(actions == std::vector<int>{4, 3, 1, 2});
    CHECK(commands.size() == 3);

    // Off the control: the mouse-leave notification ends hovering.
    MoveMouse(window.parent, 450, 150);
    for (int i = 0; i < 100 && Has(window.label, LABEL_HOVERING); ++i)
        PumpMessagesFor(20);
    CHECK_FALSE(Has(window.label, LABEL_HOVERING));
}

TEST_CASE("a label without a cursor id leaves the cursor alone while it hovers")
{
    ControlWindow window(L"Plain", 300, 24);
    REQUIRE(window.AttachLabel(LABEL_TRACK_MOUSE));
    const HCURSOR cross = LoadCursorW(nullptr, IDC_CROSS);
    SetCursor(cross);
    // Moves reach the label alone, without the system's WM_SETCURSOR.
    for (int x : {3, 280}) {
        CAPTURE(x);
        POINT point = {x, 12};
        ClientToScreen(window.control, &point);
        SetCursorPos(point.x, point.y);
        SendMessageW(window.control, WM_MOUSEMOVE, 0, MAKELPARAM(x, 12));
        REQUIRE(Has(window.label, LABEL_HOVERING) == (x == 3));
        CHECK(GetCursor() == cross);
    }
}

TEST_CASE("a divider on a 1-pixel static becomes a drawn 5-pixel band")
{
    ControlWindow window(L"", 300, 1, SS_ETCHEDHORZ);
    RECT before = {};
    RECT rect = {};
    GetWindowRect(window.control, &before);
    DividerCtrl divider;
    REQUIRE(divider.Attach(window.control));
    GetWindowRect(window.control, &rect);
    CHECK((rect.left == before.left - 2 && rect.top == before.top - 1));
    CHECK(
        (rect.right - rect.left == before.right - before.left + 3 && rect.bottom - rect.top == 5));
    // Some of the band's pixels are not the face colour.
    CHECK(WindowPicture(window.control).RowsNear(150, 0, 5, GetSysColor(COLOR_BTNFACE), 0) < 5);
    CHECK_FALSE(PlaceDivider({10, 50, 11, 150}).horizontal);
}

TEST_CASE("link control: links with and without an address")
{
    UrlProtocolRecorder recorder(L"tesselreport");
    REQUIRE(recorder.IsRegistered());
    ControlWindow window(L"", 10, 10);
    linkIds.clear();
    SysLinkCtrl link;
    REQUIRE(link.Create(window.parent, {10, 20, 300, 30},
                        L"Open <a href=\"tesselreport:first\">this</a> or <a id=\"local\">that</a>",
                        SYSLINK_NO_TABSTOP, RecordLink, 0));
    HWND control = link.Window();

    // The parent's subclass forwards every WM_NOTIFY; only clicks and Enter
    // on this link count.
    SendLinkNotify(window.parent, control, NM_CLICK, L"local", L"");
    SendLinkNotify(window.parent, control, NM_RETURN, L"local", L"");
    SendLinkNotify(window.parent, control, NM_RCLICK, L"local", L"");
    SendLinkNotify(window.parent, window.parent, NM_CLICK, L"other", L"");
    CHECK(linkIds == std::vector<std::wstring>{L"local", L"local"});
    SendLinkNotify(window.parent, control, NM_CLICK, L"", L"tesselreport:first");
    CHECK(recorder.WaitForLines(1, 10000));

    link.Destroy();
    CHECK_FALSE(IsWindow(control));
    SendLinkNotify(window.parent, control, NM_CLICK, L"local", L"");
    CHECK(linkIds.size() == 2);
}
