#include <doctest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ChartPixels.h"
#include "MessagePump.h"
#include "MouseInput.h"
#include "TestWindow.h"
#include "UrlProtocolRecorder.h"
#include "base/WideString.h"
#include "ui/LinkCtrl.h"

namespace {

const wchar_t kSettingsKey[] = L"Software\\Microsoft\\Internet Explorer\\Settings";
const wchar_t kMainKey[] = L"Software\\Microsoft\\Internet Explorer\\Main";
const wchar_t kScriptsKey[] = L"Software\\Microsoft\\Internet Explorer\\International\\Scripts";
const wchar_t kStylesKey[] = L"Software\\Microsoft\\Internet Explorer\\Styles";
constexpr WORD kHandCursor = 104;

// The browser's settings and faces that links read, removed before and after
// a test.
struct BrowserSettings
{
    const std::wstring script = std::wstring(kScriptsKey) + L"\\77";
    BrowserSettings() { Clear(); }
    ~BrowserSettings() { Clear(); }
    void Clear()
    {
        for (const wchar_t* name :
             {L"Use Anchor Hover Color", L"Anchor Color", L"Anchor Color Hover"})
            RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, name);
        for (const wchar_t* name : {L"Anchor Underline", L"Use_DlgBox_Colors"})
            RegDeleteKeyValueW(HKEY_CURRENT_USER, kMainKey, name);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kScriptsKey, L"Default_Script");
        RegDeleteTreeW(HKEY_CURRENT_USER, script.c_str());
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kStylesKey, L"IEPropFontName");
    }
    static void Set(const wchar_t* key, const wchar_t* name, const wchar_t* text)
    {
        RegSetKeyValueW(HKEY_CURRENT_USER, key, name, REG_SZ, text,
                        static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    }
    // The default script set to one of the test's own, with the face.
    void SetScriptFace(const wchar_t* face)
    {
        const DWORD id = 77;
        RegSetKeyValueW(HKEY_CURRENT_USER, kScriptsKey, L"Default_Script", REG_DWORD, &id, 4);
        Set(script.c_str(), L"IEPropFontName", face);
    }
};

bool Hovering(const LinkCtrl& link)
{
    return (link.Flags() & LINK_HOVERING) != 0;
}

// A static control of 200 x 24 pixels in a shown window, and a link on it.
struct LinkWindow
{
    TestWindow frame{L"TesselLinkTestParent", DefWindowProcW, {100, 100, 500, 300}};
    HWND parent = frame.Handle();
    HWND control = nullptr;
    LinkCtrl link;

    LinkWindow()
    {
        control = CreateWindowExW(
            0, L"STATIC", L"Static", WS_CHILD | WS_VISIBLE | SS_CENTERIMAGE | WS_TABSTOP, 10, 10,
            200, 24, parent, reinterpret_cast<HMENU>(1005), GetModuleHandleW(nullptr), nullptr);
        SetForegroundWindow(parent);
        PumpMessagesFor(50);
    }
    int Attach(const wchar_t* url = nullptr, DWORD flags = 0, const wchar_t* text = L"linking")
    {
        return link.Attach(control, text, url, kHandCursor, flags);
    }
    // Off the control: WM_MOUSELEAVE, on a timer, ends the hovering.
    bool HoverEndsOnLeaving()
    {
        MoveMouse(parent, 300, 150);
        for (int i = 0; i < 100 && Hovering(link); ++i)
            PumpMessagesFor(50);
        return !Hovering(link);
    }
};

void Click()
{
    Mouse(MOUSEEVENTF_LEFTDOWN);
    Mouse(MOUSEEVENTF_LEFTUP);
}

// An underline: a row of pixels in the text colour nine tenths of the text long.
bool IsUnderlined(const LinkCtrl& link, COLORREF color)
{
    const WindowPicture picture(link.Control());
    RECT client;
    GetClientRect(link.Control(), &client);
    int longest = 0;
    for (int y = 0; y < client.bottom; ++y)
        longest = std::max(longest, picture.CountNear({0, y, client.right, y + 1}, color, 0));
    return longest >= link.TextExtent().cx * 9 / 10;
}

struct ActionLog
{
    std::vector<int> actions;
    std::wstring url;
};

void RecordAction(int action, const wchar_t*, const wchar_t* url, LONG_PTR user, LinkCtrl*)
{
    reinterpret_cast<ActionLog*>(user)->actions.push_back(action);
    reinterpret_cast<ActionLog*>(user)->url = url;
}

// Records the heights tried; the text fits from fitsAt down.
struct FitLog
{
    std::vector<int> heights;
    int fitsAt = 0;
};

int SettleAtFit(void* context, int height)
{
    FitLog& log = *static_cast<FitLog*>(context);
    log.heights.push_back(height);
    return height <= log.fitsAt;
}

std::wstring PlainFace(const LinkCtrl& link)
{
    LOGFONTW plain = {};
    GetObjectW(link.PlainFont(), sizeof(plain), &plain);
    return plain.lfFaceName;
}

void Key(WORD key)
{
    INPUT input[2] = {};
    input[0].type = INPUT_KEYBOARD;
    input[0].ki.wVk = key;
    input[1] = input[0];
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof(INPUT));
    PumpMessagesFor(150);
}

} // namespace

TEST_CASE("colour texts and the browser's settings")
{
    COLORREF color = 123;
    CHECK(ParseColorText(L"300,1,2", &color)); // low 8 bits of each
    for (const wchar_t* text : {L"0,0", L"blue", static_cast<const wchar_t*>(nullptr)})
        CHECK_FALSE(ParseColorText(text, &color));
    CHECK(color == RGB(44, 1, 2));

    // Settings compare without case. Before Vista the dialog colours fall back to the default link
    // colour.
    LinkSystemColors system = {RGB(1, 2, 3), RGB(4, 5, 6), false};
    LinkSettingTexts texts;
    texts.useHoverColor = L"NO";
    texts.color = L"0,0,255";
    texts.dialogColors = L"yes";
    LinkStyle style;
    ApplyLinkSettings(texts, system, style);
    CHECK_FALSE(style.hoverColor);
    CHECK(style.normal == LINK_DEFAULT_COLOR);
}

TEST_CASE("display text, hit test, focus rectangle and the font fitted to the control")
{
    WideString display;
    CHECK(BuildDisplayText(L"abc", 1, L"verdana", display));
    CHECK(std::wstring(display.Data()) == L"\x2022\x2022\x2022");

    const RECT client = {0, 0, 100, 20};
    const SIZE extent = {40, 12};
    // {x, y, format, over the text}
    const LONG hits[][4] = {
        {39, 19, DT_LEFT, 1},  {40, 5, DT_LEFT, 0},   {30, 5, DT_CENTER, 0},
        {31, 5, DT_CENTER, 1}, {70, 5, DT_CENTER, 0}, {61, 5, DT_RIGHT, 1},
    };
    for (const auto& hit : hits) {
        CAPTURE(hit[0]);
        CHECK(IsOverText({hit[0], hit[1]}, client, extent, hit[2]) == hit[3]);
    }
    CHECK(IsOverText({500, 500}, client, {0, 0}, DT_LEFT));

    CHECK(std::wstring(AddressWithoutScheme(L"http://www.example.com/tessel/")) ==
          L"www.example.com/tessel/");

    RECT focus = TextFocusRect(client, extent, DT_CENTER | DT_VCENTER);
    CHECK((focus.left == 30 && focus.top == 4 && focus.right == 70 && focus.bottom == 16));

    // The font shrinks one pixel at a time until the text fits, never below 4.
    FitLog log;
    log.fitsAt = 12;
    CHECK(FitTextHeight(16, &SettleAtFit, &log) == 12);
    CHECK(log.heights == std::vector<int>{16, 15, 14, 13, 12});
    log = FitLog();
    CHECK(FitTextHeight(8, &SettleAtFit, &log) == 4);
    CHECK(log.heights == std::vector<int>{8, 7, 6, 5, 4});

    // A link's text fits when at most as wide as the client area and strictly lower.
    CHECK(LinkTextFits({60, 29}, {60, 30}));
    CHECK_FALSE(LinkTextFits({61, 12}, {60, 30}));
    CHECK_FALSE(LinkTextFits({100, 20}, {1000, 20}));
}

TEST_CASE("a link in a real window")
{
    BrowserSettings settings;
    LinkWindow window;
    LinkCtrl& link = window.link;

    SUBCASE("hover, the hand and the underline follow the text only")
    {
        const HCURSOR hand = LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kHandCursor));
        REQUIRE(window.Attach(L"http://example.com/"));
        CHECK(IsUnderlined(link, LINK_DEFAULT_COLOR));
        MoveMouse(window.control, 3, 12);
        CHECK(Hovering(link));
        CHECK(GetCursor() == hand);
        CHECK(link.CurrentColor() == link.Style().hover);
        MoveMouse(window.control, 190, 12); // beside the short, left-aligned text
        CHECK_FALSE(Hovering(link));
        CHECK(GetCursor() != hand);

        // "hover" underlines only while hovering.
        settings.Set(kMainKey, L"Anchor Underline", L"hover");
        REQUIRE(window.Attach());
        CHECK_FALSE(IsUnderlined(link, link.Style().normal));
        MoveMouse(window.control, 3, 12);
        REQUIRE(Hovering(link));
        CHECK(IsUnderlined(link, link.Style().hover));
        CHECK(window.HoverEndsOnLeaving());
        CHECK_FALSE(IsUnderlined(link, link.Style().normal));
    }

    SUBCASE("the browser's colours: \"Anchor Color\", no hover colour, dialog colours")
    {
        settings.Set(kSettingsKey, L"Anchor Color", L"0,0,255");
        settings.Set(kSettingsKey, L"Use Anchor Hover Color", L"no");
        REQUIRE(window.Attach());
        CHECK(link.Style().normal == RGB(0, 0, 255));
        MoveMouse(window.control, 3, 12);
        REQUIRE(Hovering(link));
        CHECK(IsUnderlined(link, RGB(0, 0, 255)));

        // "Use_DlgBox_Colors" overrides "Anchor Color" (the system is Vista or later).
        settings.Set(kSettingsKey, L"Use Anchor Hover Color", L"yes");
        settings.Set(kSettingsKey, L"Anchor Color Hover", L"255,0,0");
        settings.Set(kMainKey, L"Use_DlgBox_Colors", L"Yes");
        REQUIRE(window.Attach());
        CHECK(link.Style().normal == GetSysColor(COLOR_HOTLIGHT));
        CHECK(link.Style().hover == GetSysColor(COLOR_HIGHLIGHT));
    }

    SUBCASE("a disabled link is grey and opens nothing; an enabled one opens by mouse and keys")
    {
        ActionLog log;
        REQUIRE(window.Attach(L"http://a.example/"));
        link.SetExtendedHandler(&RecordAction, reinterpret_cast<LONG_PTR>(&log));
        EnableWindow(window.control, FALSE);
        CHECK(IsUnderlined(link, GetSysColor(COLOR_GRAYTEXT)));
        MoveMouse(window.control, 3, 12);
        Click();
        CHECK(log.actions.empty());

        // Enabled again under the cursor, the link hovers at once.
        EnableWindow(window.control, TRUE);
        CHECK((link.Flags() & (LINK_DISABLED | LINK_HOVERING)) == LINK_HOVERING);
        Click();
        CHECK(log.url == L"http://a.example/");
        // Hovering that began with the enabling ends when the mouse leaves.
        CHECK(window.HoverEndsOnLeaving());

        // Focused, it opens with Enter and with Space, on release of the key.
        SetFocus(window.control);
        PumpMessagesFor(50);
        REQUIRE(GetFocus() == window.control);
        for (WORD key : {WORD(VK_RETURN), WORD(VK_SPACE), WORD('A')})
            Key(key);
        CHECK(log.actions == std::vector<int>{LINK_ACTION_PRESS, LINK_ACTION_RELEASE,
                                              LINK_ACTION_ENTER, LINK_ACTION_SPACE});
    }

    SUBCASE("WM_GETTEXT gives the text while LINK_MASKED shows mask characters")
    {
        REQUIRE(window.Attach(nullptr, LINK_MASKED, L"secret"));
        CHECK(std::wstring(link.DisplayText()) ==
              std::wstring(6, MaskCharacterFor(PlainFace(link).c_str())));
        wchar_t text[32];
        CHECK(GetWindowTextW(window.control, text, 32) == 6);
        CHECK(std::wstring(text) == L"secret");
        CHECK(GetWindowTextW(window.control, text, 4) == 3);
        CHECK(SendMessageW(window.control, WM_GETTEXT, 0, reinterpret_cast<LPARAM>(text)) == 0);
        CHECK(SetWindowTextW(window.control, L"other"));
        CHECK(std::wstring(link.Text()) == L"other");
        CHECK(std::wstring(link.DisplayText()).size() == 5);
    }

    SUBCASE("a control that cannot be subclassed, or a URL too long, is left as it was")
    {
        Subclasser squatter;
        REQUIRE(squatter.Attach(
            window.control, [](HWND, UINT, WPARAM, LPARAM, LRESULT*, void*) { return 0; }, nullptr,
            LINK_SUBCLASS_TAG));
        CHECK(window.Attach(L"http://example.com/") == 0);
        squatter.Detach();
        const std::wstring longUrl(LINK_URL_CAPACITY, L'a');
        CHECK(window.Attach(longUrl.c_str()) == 0);
        wchar_t text[32] = {};
        GetWindowTextW(window.control, text, 32);
        CHECK(std::wstring(text) == L"Static");
        CHECK(window.Attach(longUrl.c_str() + 1));
    }

    SUBCASE("browser faces: an empty one counts as none, the longest a font takes is read whole")
    {
        settings.Set(kStylesKey, L"IEPropFontName", L"Tessel Styles Face");
        const std::wstring longest(LF_FACESIZE - 1, L'F');
        // The script's face and the face the link takes.
        const std::wstring faces[][2] = {
            {L"", L"Tessel Styles Face"}, {longest, longest}, {longest + L"GGGG", longest}};
        for (const auto& face : faces) {
            CAPTURE(face[0]);
            settings.SetScriptFace(face[0].c_str());
            REQUIRE(window.Attach(nullptr, LINK_BROWSER_FONT));
            CHECK(PlainFace(link) == face[1]);
        }
    }

    SUBCASE("a click opens the address through the shell once, on release over the text")
    {
        UrlProtocolRecorder recorder(L"tessel-link-test");
        REQUIRE(recorder.IsRegistered());
        REQUIRE(window.Attach(L"tessel-link-test:opened"));

        MoveMouse(window.control, 3, 12);
        REQUIRE(Hovering(link));
        Mouse(MOUSEEVENTF_LEFTDOWN);
        PumpMessagesFor(500);
        CHECK(recorder.Lines().empty());
        Mouse(MOUSEEVENTF_LEFTUP);
        REQUIRE(recorder.WaitForLines(1, 20000));
        CHECK(recorder.Lines()[0] == L"tessel-link-test:opened");

        // Pressed over the text, released beside it: nothing opens.
        Mouse(MOUSEEVENTF_LEFTDOWN);
        MoveMouse(window.control, 190, 12);
        Mouse(MOUSEEVENTF_LEFTUP);

        MoveMouse(window.control, 3, 12);
        Click();
        REQUIRE(recorder.WaitForLines(2, 20000));
        PumpMessagesFor(1000);
        CHECK(recorder.Lines().size() == 2);
    }
}
