#include <doctest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "UrlProtocolRecorder.h"
#include "base/WideString.h"
#include "ui/LinkCtrl.h"

namespace {

const wchar_t kSettingsKey[] = L"Software\\Microsoft\\Internet Explorer\\Settings";
const wchar_t kMainKey[] = L"Software\\Microsoft\\Internet Explorer\\Main";
constexpr WORD kHandCursor = 104;

// Keeps one registry value of the current user as it was and puts it back;
// a key that had to be created is removed again when empty.
class SavedSetting
{
public:
    SavedSetting(const wchar_t* key, const wchar_t* name) : name_(name)
    {
        DWORD disposition = 0;
        RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                        &disposition);
        keyPath_ = key;
        createdKey_ = disposition == REG_CREATED_NEW_KEY;
        DWORD size = sizeof(data_);
        existed_ = RegQueryValueExW(key_, name, nullptr, &type_, reinterpret_cast<BYTE*>(data_),
                                    &size) == ERROR_SUCCESS;
        size_ = size;
        RegDeleteValueW(key_, name);
    }
    ~SavedSetting()
    {
        if (existed_) {
            RegSetValueExW(key_, name_.c_str(), 0, type_, reinterpret_cast<BYTE*>(data_), size_);
        } else {
            RegDeleteValueW(key_, name_.c_str());
        }
        RegCloseKey(key_);
        if (createdKey_) {
            RegDeleteKeyW(HKEY_CURRENT_USER, keyPath_.c_str()); // fails unless empty
        }
    }
    void Set(const wchar_t* text)
    {
        RegSetValueExW(key_, name_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    }

private:
    HKEY key_ = nullptr;
    std::wstring keyPath_;
    std::wstring name_;
    bool createdKey_ = false;
    bool existed_ = false;
    DWORD type_ = 0;
    DWORD size_ = 0;
    wchar_t data_[512] = {};
};

// The browser's link settings, all removed for the test's length.
struct BrowserSettings
{
    SavedSetting useHoverColor{kSettingsKey, L"Use Anchor Hover Color"};
    SavedSetting color{kSettingsKey, L"Anchor Color"};
    SavedSetting hoverColor{kSettingsKey, L"Anchor Color Hover"};
    SavedSetting underline{kMainKey, L"Anchor Underline"};
    SavedSetting dialogColors{kMainKey, L"Use_DlgBox_Colors"};
};

const wchar_t* ParentClass()
{
    static ATOM atom = [] {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = L"TesselLinkTestParent";
        return RegisterClassW(&windowClass);
    }();
    return atom ? L"TesselLinkTestParent" : nullptr;
}

// A shown top-level window with one static control, as a dialog has it.
struct LinkWindow
{
    HWND parent = nullptr;
    HWND control = nullptr;

    LinkWindow(int width, int height, DWORD style = SS_CENTERIMAGE | WS_TABSTOP)
    {
        parent = CreateWindowExW(0, ParentClass(), L"Link test", WS_POPUP | WS_VISIBLE, 100, 100,
                                 400, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        control = CreateWindowExW(0, L"STATIC", L"Static", WS_CHILD | WS_VISIBLE | style, 10, 10,
                                  width, height, parent, reinterpret_cast<HMENU>(1005),
                                  GetModuleHandleW(nullptr), nullptr);
        SetForegroundWindow(parent);
        UpdateWindow(parent);
        PumpMessagesFor(50);
    }
    ~LinkWindow()
    {
        DestroyWindow(parent);
        PumpMessagesFor(20);
    }
};

void SendMouse(DWORD flags)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof(input));
}

// Puts the real cursor on a point of the window and lets the messages run.
void MoveMouse(HWND window, int x, int y)
{
    POINT point = {x, y};
    ClientToScreen(window, &point);
    SetCursorPos(point.x, point.y);
    SendMouse(MOUSEEVENTF_MOVE);
    PumpMessagesFor(150);
}

// Lets messages run until the link stops hovering (the system checks for
// the mouse leaving on a timer of its own); false when it never does.
bool WaitUntilNotHovering(const LinkCtrl& link)
{
    for (int i = 0; i < 100 && (link.Flags() & LINK_HOVERING); ++i) {
        PumpMessagesFor(50);
    }
    return (link.Flags() & LINK_HOVERING) == 0;
}

void PressLeft()
{
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    PumpMessagesFor(150);
}

void ReleaseLeft()
{
    SendMouse(MOUSEEVENTF_LEFTUP);
    PumpMessagesFor(150);
}

void Redraw(HWND control)
{
    RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    PumpMessagesFor(30);
}

// Number of pixels of exactly the colour in the longest such row of the
// control: an underline is one unbroken row in the text colour.
int LongestRowOf(HWND control, COLORREF color)
{
    Redraw(control);
    RECT client;
    GetClientRect(control, &client);
    HDC dc = GetDC(control);
    int longest = 0;
    for (int y = 0; y < client.bottom; ++y) {
        int count = 0;
        for (int x = 0; x < client.right; ++x) {
            count += GetPixel(dc, x, y) == color ? 1 : 0;
        }
        longest = count > longest ? count : longest;
    }
    ReleaseDC(control, dc);
    return longest;
}

bool IsUnderlined(const LinkCtrl& link, COLORREF color)
{
    return LongestRowOf(link.Control(), color) >= link.TextExtent().cx * 9 / 10;
}

int FontHeight(HFONT font)
{
    LOGFONTW logFont = {};
    GetObjectW(font, sizeof(logFont), &logFont);
    return logFont.lfHeight;
}

HCURSOR HandCursor()
{
    return LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kHandCursor));
}

struct ActionLog
{
    std::vector<int> actions;
    std::wstring url;
};

void RecordAction(int action, const wchar_t*, const wchar_t* url, LONG_PTR user, LinkCtrl*)
{
    ActionLog* log = reinterpret_cast<ActionLog*>(user);
    log->actions.push_back(action);
    log->url = url;
}

// Records every measured height; widths grow with the height.
struct MeasureLog
{
    std::vector<int> heights;
    int charactersWide = 10;
    int failBelow = 0;
};

int MeasureProportional(void* context, int height, SIZE* extent)
{
    MeasureLog& log = *static_cast<MeasureLog*>(context);
    log.heights.push_back(height);
    if (height < log.failBelow) {
        return 0;
    }
    extent->cx = height * log.charactersWide / 2;
    extent->cy = height;
    return 1;
}

} // namespace

TEST_CASE("colour texts need all three numbers")
{
    COLORREF color = 123;
    CHECK(ParseColorText(L"0,0,255", &color));
    CHECK(color == RGB(0, 0, 255));
    CHECK(ParseColorText(L"300,1,2", &color)); // low 8 bits of each
    CHECK(color == RGB(44, 1, 2));
    color = 123;
    CHECK_FALSE(ParseColorText(L"0,0", &color));
    CHECK_FALSE(ParseColorText(L"", &color));
    CHECK_FALSE(ParseColorText(L"blue", &color));
    CHECK_FALSE(ParseColorText(nullptr, &color));
    CHECK(color == 123);
}

TEST_CASE("the browser's settings decide colours and underline")
{
    LinkSystemColors system;
    system.hotLight = RGB(1, 2, 3);
    system.highlight = RGB(4, 5, 6);

    SUBCASE("nothing set keeps the defaults")
    {
        LinkStyle style;
        ApplyLinkSettings(LinkSettingTexts(), system, style);
        CHECK(style.normal == LINK_DEFAULT_COLOR);
        CHECK(style.underline == LINK_UNDERLINE_ALWAYS);
        CHECK(style.hoverColor);
    }
    SUBCASE("texts are compared without case; unknown texts change nothing")
    {
        LinkSettingTexts texts;
        texts.useHoverColor = L"YES";
        texts.underline = L"Hover";
        LinkStyle style;
        ApplyLinkSettings(texts, system, style);
        CHECK(style.hoverColor);
        CHECK(style.underline == LINK_UNDERLINE_HOVER);
        texts.useHoverColor = L"no";
        texts.underline = L"sometimes";
        ApplyLinkSettings(texts, system, style);
        CHECK_FALSE(style.hoverColor);
        CHECK(style.underline == LINK_UNDERLINE_HOVER);
        texts.underline = L"no";
        ApplyLinkSettings(texts, system, style);
        CHECK(style.underline == LINK_UNDERLINE_NEVER);
    }
    SUBCASE("colours; two numbers are ignored; dialog colours override")
    {
        LinkSettingTexts texts;
        texts.color = L"0,0,255";
        texts.hoverColor = L"10,20";
        LinkStyle style;
        ApplyLinkSettings(texts, system, style);
        CHECK(style.normal == RGB(0, 0, 255));
        CHECK(style.hover == LinkStyle().hover);
        texts.dialogColors = L"yes";
        ApplyLinkSettings(texts, system, style);
        CHECK(style.normal == system.hotLight);
        CHECK(style.hover == system.highlight);
        system.vistaOrLater = false;
        ApplyLinkSettings(texts, system, style);
        CHECK(style.normal == LINK_DEFAULT_COLOR);
    }
}

TEST_CASE("display text, text format, hit test and focus rectangle")
{
    WideString display;
    CHECK(BuildDisplayText(L"abc", 1, L"verdana", display));
    CHECK(std::wstring(display.Data()) == L"\x2022\x2022\x2022");
    CHECK(BuildDisplayText(L"abc", 1, L"Tahoma", display));
    CHECK(std::wstring(display.Data()) == L"***");
    CHECK(BuildDisplayText(L"abc", 0, L"Verdana", display));
    CHECK(std::wstring(display.Data()) == L"abc");

    CHECK(LinkTextFormat(SS_LEFT | SS_CENTERIMAGE, 0) ==
          (DT_SINGLELINE | DT_NOPREFIX | DT_VCENTER));
    CHECK(LinkTextFormat(SS_CENTER, LINK_END_ELLIPSIS) ==
          (DT_SINGLELINE | DT_NOPREFIX | DT_CENTER | DT_END_ELLIPSIS));
    CHECK(LinkTextFormat(SS_RIGHT, LINK_PATH_ELLIPSIS) ==
          (DT_SINGLELINE | DT_NOPREFIX | DT_RIGHT | DT_PATH_ELLIPSIS));
    CHECK((LinkTextFormat(SS_ICON, 0) & (DT_CENTER | DT_RIGHT)) == 0); // not a text alignment

    const RECT client = {0, 0, 100, 20};
    const SIZE extent = {40, 12};
    // Left-aligned: only left of the text's width; the height does not matter.
    CHECK(IsOverLinkText({39, 19}, client, extent, DT_LEFT));
    CHECK_FALSE(IsOverLinkText({40, 5}, client, extent, DT_LEFT));
    CHECK_FALSE(IsOverLinkText({-1, 5}, client, extent, DT_LEFT));
    // Centred: strictly between 30 and 70.
    CHECK_FALSE(IsOverLinkText({30, 5}, client, extent, DT_CENTER));
    CHECK(IsOverLinkText({31, 5}, client, extent, DT_CENTER));
    CHECK_FALSE(IsOverLinkText({70, 5}, client, extent, DT_CENTER));
    // Right-aligned: strictly right of 60.
    CHECK_FALSE(IsOverLinkText({60, 5}, client, extent, DT_RIGHT));
    CHECK(IsOverLinkText({61, 5}, client, extent, DT_RIGHT));
    // Unmeasured text: the whole control counts.
    CHECK(IsOverLinkText({500, 500}, client, {0, 0}, DT_LEFT));

    CHECK(std::wstring(AddressWithoutScheme(L"http://www.example.com/tessel/")) ==
          L"www.example.com/tessel/");
    CHECK(std::wstring(AddressWithoutScheme(L"example.com")) == L"example.com");

    RECT focus = LinkFocusRect(client, extent, DT_CENTER | DT_VCENTER);
    CHECK((focus.left == 30 && focus.top == 4 && focus.right == 70 && focus.bottom == 16));
    focus = LinkFocusRect(client, extent, DT_RIGHT);
    CHECK((focus.left == 60 && focus.top == 0 && focus.right == 100 && focus.bottom == 12));
    focus = LinkFocusRect(client, extent, DT_LEFT);
    CHECK((focus.left == 0 && focus.right == 40));
}

TEST_CASE("the font shrinks one pixel at a time and never below 4")
{
    MeasureLog log;
    CHECK(FitFontHeight(16, {100, 30}, &MeasureProportional, &log) == 16);
    CHECK(log.heights == std::vector<int>{16});

    log = MeasureLog();
    CHECK(FitFontHeight(16, {60, 30}, &MeasureProportional, &log) == 12);
    CHECK(log.heights == std::vector<int>{16, 15, 14, 13, 12});

    // Equal height does not fit: the text must be strictly lower.
    log = MeasureLog();
    CHECK(FitFontHeight(20, {1000, 20}, &MeasureProportional, &log) == 19);

    log = MeasureLog();
    CHECK(FitFontHeight(8, {1, 30}, &MeasureProportional, &log) == 4);
    CHECK(log.heights == std::vector<int>{8, 7, 6, 5, 4});

    log = MeasureLog();
    log.failBelow = 14;
    CHECK(FitFontHeight(16, {1, 30}, &MeasureProportional, &log) == 13);
}

TEST_CASE("a link in a real window")
{
    BrowserSettings settings;
    LinkWindow window(200, 24);
    LinkCtrl link;

    SUBCASE("defaults, cursor id, and the hand only over the text")
    {
        REQUIRE(link.Attach(window.control, L"linking", L"http://example.com/", kHandCursor, 0));
        CHECK(link.Style().normal == LINK_DEFAULT_COLOR);
        CHECK(link.Style().hover == GetSysColor(COLOR_HOTLIGHT));
        CHECK(link.DisabledColor() == GetSysColor(COLOR_GRAYTEXT));
        CHECK((link.Flags() & LINK_HOVER_COLOR) != 0);
        CHECK((GetWindowLongPtrW(window.control, GWL_STYLE) & SS_NOTIFY) != 0);
        CHECK(std::wstring(link.Url()) == L"http://example.com/");
        REQUIRE(link.TextExtent().cx > 0);
        REQUIRE(link.TextExtent().cx < 150);
        CHECK(IsUnderlined(link, LINK_DEFAULT_COLOR));

        MoveMouse(window.control, 3, 12);
        CHECK((link.Flags() & LINK_HOVERING) != 0);
        CHECK(GetCursor() == HandCursor());
        CHECK(link.CurrentColor() == link.Style().hover);

        // Beside the shorter, left-aligned text: no hover, no hand.
        MoveMouse(window.control, 190, 12);
        CHECK((link.Flags() & LINK_HOVERING) == 0);
        CHECK(GetCursor() != HandCursor());

        MoveMouse(window.control, 3, 12);
        CHECK((link.Flags() & LINK_HOVERING) != 0);
        MoveMouse(window.parent, 300, 150); // off the control: WM_MOUSELEAVE
        CHECK(WaitUntilNotHovering(link));
    }

    SUBCASE("\"hover\" underlines only while hovering")
    {
        settings.underline.Set(L"hover");
        REQUIRE(link.Attach(window.control, L"linking", nullptr, kHandCursor, 0));
        CHECK(link.Style().underline == LINK_UNDERLINE_HOVER);
        CHECK_FALSE(IsUnderlined(link, link.Style().normal));
        MoveMouse(window.control, 3, 12);
        REQUIRE((link.Flags() & LINK_HOVERING) != 0);
        CHECK(link.CurrentFont() == link.LinkFont());
        CHECK(IsUnderlined(link, link.Style().hover));
        MoveMouse(window.control, 190, 12);
        CHECK(link.CurrentFont() == link.PlainFont());
        CHECK_FALSE(IsUnderlined(link, link.Style().normal));
    }

    SUBCASE("\"Use Anchor Hover Color\" \"no\" keeps the colour while hovering")
    {
        settings.useHoverColor.Set(L"no");
        REQUIRE(link.Attach(window.control, L"linking", nullptr, kHandCursor, 0));
        CHECK((link.Flags() & LINK_HOVER_COLOR) == 0);
        MoveMouse(window.control, 3, 12);
        REQUIRE((link.Flags() & LINK_HOVERING) != 0);
        CHECK(GetCursor() == HandCursor());
        CHECK(link.CurrentColor() == LINK_DEFAULT_COLOR);
        CHECK(IsUnderlined(link, LINK_DEFAULT_COLOR));
    }

    SUBCASE("\"Anchor Color\" \"0,0,255\" is pure blue; two numbers are ignored")
    {
        settings.color.Set(L"0,0,255");
        REQUIRE(link.Attach(window.control, L"linking", nullptr, kHandCursor, 0));
        CHECK(link.Style().normal == RGB(0, 0, 255));
        CHECK(IsUnderlined(link, RGB(0, 0, 255)));

        settings.color.Set(L"0,255");
        REQUIRE(link.Attach(window.control, L"linking", nullptr, kHandCursor, 0));
        CHECK(link.Style().normal == LINK_DEFAULT_COLOR);
    }

    SUBCASE("\"Use_DlgBox_Colors\" \"yes\" overrides \"Anchor Color\"")
    {
        settings.color.Set(L"0,0,255");
        settings.hoverColor.Set(L"255,0,0");
        settings.dialogColors.Set(L"Yes");
        REQUIRE(link.Attach(window.control, L"linking", nullptr, kHandCursor, 0));
        CHECK(link.Style().normal == GetSysColor(COLOR_HOTLIGHT)); // the system is Vista or later
        CHECK(link.Style().hover == GetSysColor(COLOR_HIGHLIGHT));
    }

    SUBCASE("a disabled link is grey and opens nothing")
    {
        ActionLog log;
        REQUIRE(link.Attach(window.control, L"linking", L"http://example.com/", kHandCursor, 0));
        link.SetExtendedHandler(&RecordAction, reinterpret_cast<LONG_PTR>(&log));
        EnableWindow(window.control, FALSE);
        CHECK((link.Flags() & LINK_DISABLED) != 0);
        CHECK(link.CurrentColor() == GetSysColor(COLOR_GRAYTEXT));
        CHECK(IsUnderlined(link, GetSysColor(COLOR_GRAYTEXT)));
        MoveMouse(window.control, 3, 12);
        PressLeft();
        ReleaseLeft();
        CHECK(log.actions.empty());

        // Enabled again under the cursor, the link hovers at once.
        EnableWindow(window.control, TRUE);
        CHECK((link.Flags() & (LINK_DISABLED | LINK_HOVERING)) == LINK_HOVERING);
        PressLeft();
        ReleaseLeft();
        CHECK(log.actions == std::vector<int>{LINK_ACTION_PRESS, LINK_ACTION_RELEASE});
        CHECK(log.url == L"http://example.com/");
    }

    SUBCASE("keyboard activation and focus")
    {
        ActionLog log;
        REQUIRE(link.Attach(window.control, L"linking", nullptr, kHandCursor, LINK_NOTIFY_PARENT));
        link.SetExtendedHandler(&RecordAction, reinterpret_cast<LONG_PTR>(&log));
        SetFocus(window.control);
        PumpMessagesFor(30);
        CHECK((link.Flags() & LINK_FOCUSED) != 0);
        SendMessageW(window.control, WM_KEYUP, VK_RETURN, 0);
        SendMessageW(window.control, WM_KEYUP, VK_SPACE, 0);
        SendMessageW(window.control, WM_KEYUP, 'A', 0);
        CHECK(log.actions == std::vector<int>{LINK_ACTION_ENTER, LINK_ACTION_SPACE});
        SetFocus(window.parent);
        PumpMessagesFor(30);
        CHECK((link.Flags() & LINK_FOCUSED) == 0);
    }

    SUBCASE("WM_GETTEXT gives the text while LINK_MASKED shows mask characters")
    {
        REQUIRE(link.Attach(window.control, L"secret", nullptr, kHandCursor, LINK_MASKED));
        LOGFONTW plain = {};
        GetObjectW(link.PlainFont(), sizeof(plain), &plain);
        CHECK(std::wstring(link.DisplayText()) ==
              std::wstring(6, MaskCharacterFor(plain.lfFaceName)));
        wchar_t text[32];
        CHECK(GetWindowTextW(window.control, text, 32) == 6);
        CHECK(std::wstring(text) == L"secret");
        CHECK(GetWindowTextLengthW(window.control) == 6);
        CHECK(GetWindowTextW(window.control, text, 4) == 3);
        CHECK(std::wstring(text) == L"sec");
        CHECK(SendMessageW(window.control, WM_GETTEXT, 0, reinterpret_cast<LPARAM>(text)) == 0);

        CHECK(SetWindowTextW(window.control, L"other"));
        CHECK(std::wstring(link.Text()) == L"other");
        CHECK(std::wstring(link.DisplayText()).size() == 5);
    }

    SUBCASE("a URL that does not fit the buffer is refused")
    {
        const std::wstring longUrl(LINK_URL_CAPACITY, L'a');
        CHECK_FALSE(link.Attach(window.control, L"linking", longUrl.c_str(), kHandCursor, 0));
        const std::wstring fitting(LINK_URL_CAPACITY - 1, L'a');
        CHECK(link.Attach(window.control, L"linking", fitting.c_str(), kHandCursor, 0));
    }
}

TEST_CASE("a link's font fits its control")
{
    BrowserSettings settings;

    SUBCASE("a too long text shrinks to at least 4 pixels")
    {
        LinkWindow window(30, 20);
        LinkCtrl link;
        REQUIRE(link.Attach(window.control, L"a text far too long for thirty pixels", nullptr,
                            kHandCursor, 0));
        CHECK(FontHeight(link.LinkFont()) == 4);
        CHECK(FontHeight(link.PlainFont()) == 4);
        LOGFONTW plain = {};
        GetObjectW(link.PlainFont(), sizeof(plain), &plain);
        CHECK_FALSE(plain.lfUnderline);
    }

    SUBCASE("fitting from the client height stops below it")
    {
        LinkWindow window(300, 20);
        LinkCtrl link;
        REQUIRE(link.Attach(window.control, L"ab", nullptr, kHandCursor, LINK_FIT_HEIGHT));
        const int height = FontHeight(link.LinkFont());
        CHECK(height < 20);
        CHECK(height >= 15);
        CHECK(link.TextExtent().cy < 20);
    }

    SUBCASE("the control's own font")
    {
        LinkWindow window(300, 20);
        HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        SendMessageW(window.control, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
        LinkCtrl link;
        REQUIRE(link.Attach(window.control, L"ab", nullptr, kHandCursor, LINK_CONTROL_FONT));
        CHECK(FontHeight(link.LinkFont()) == FontHeight(font));
    }
}

TEST_CASE("a click opens the address through the shell once, on release over the text")
{
    BrowserSettings settings;
    UrlProtocolRecorder recorder(L"tessel-link-test");
    REQUIRE(recorder.IsRegistered());
    LinkWindow window(200, 24);
    LinkCtrl link;
    REQUIRE(link.Attach(window.control, L"linking", L"tessel-link-test:opened", kHandCursor, 0));

    MoveMouse(window.control, 3, 12);
    REQUIRE((link.Flags() & LINK_HOVERING) != 0);
    PressLeft();
    PumpMessagesFor(500);
    CHECK(recorder.Lines().empty());
    ReleaseLeft();
    REQUIRE(recorder.WaitForLines(1, 20000));
    CHECK(recorder.Lines()[0] == L"tessel-link-test:opened");

    // Pressed over the text, released beside it: nothing opens.
    MoveMouse(window.control, 3, 12);
    PressLeft();
    MoveMouse(window.control, 190, 12);
    ReleaseLeft();

    MoveMouse(window.control, 3, 12);
    PressLeft();
    ReleaseLeft();
    REQUIRE(recorder.WaitForLines(2, 20000));
    PumpMessagesFor(1000);
    CHECK(recorder.Lines().size() == 2);
}
