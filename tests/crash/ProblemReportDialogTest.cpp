#include <doctest.h>

#include <windows.h>

#include <string>

#include "ReportDialogDriver.h"
#include "crash/ProblemReportDialog.h"

namespace {

std::wstring Text(const WideString& text)
{
    return text.Data();
}

// Control entries of a classic template: id and class atom, in order.
struct TemplateItem
{
    WORD id;
    WORD classAtom;
    DWORD offset;
};

// Walks the entries; end receives the offset after the last one.
std::vector<TemplateItem> ReadItems(const DialogTemplate& built, DWORD* end)
{
    const BYTE* data = built.Bytes();
    const WORD count = *reinterpret_cast<const WORD*>(data + 8);
    DialogFontBlock font;
    REQUIRE(LocateDialogFont(data, built.Size(), font));
    std::vector<TemplateItem> items;
    DWORD at = font.itemsAt;
    for (WORD i = 0; i < count; ++i) {
        REQUIRE(at + 18 <= built.Size());
        TemplateItem item;
        item.offset = at;
        item.id = *reinterpret_cast<const WORD*>(data + at + 16);
        const WORD* cursor = reinterpret_cast<const WORD*>(data + at + 18);
        REQUIRE(cursor[0] == 0xFFFF);
        item.classAtom = cursor[1];
        cursor += 2;
        while (*cursor++) {
        }
        ++cursor; // creation data size, always 0 here
        items.push_back(item);
        at = (static_cast<DWORD>(reinterpret_cast<const BYTE*>(cursor) - data) + 3) & ~3u;
    }
    *end = at;
    return items;
}

// Runs the dialog on this thread while the driver works it from another.
struct DriverRun
{
    int result = -1;
    DialogSnapshot snapshot;
    bool found = false;
};

DriverRun RunDriven(ProblemReportParams& params, std::function<void(HWND)> action)
{
    DriverRun run;
    ReportDialogDriver driver(params.productName.Data(), [&](HWND dialog) {
        run.snapshot = ReportDialogDriver::Read(dialog);
        action(dialog);
    });
    run.result = RunProblemReportDialog(params);
    REQUIRE_MESSAGE(driver.Join(), "the driver thread did not end");
    run.found = driver.Found();
    return run;
}

void Press(HWND dialog, int id)
{
    SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void Type(HWND edit, wchar_t character)
{
    SendMessageW(edit, WM_CHAR, character, 1);
}

void FillParams(ProblemReportParams& params, const wchar_t* site, const wchar_t* dump)
{
    params.productName.Assign(L"Tessel Report Test");
    params.companyName.Assign(L"Brindle");
    params.webSite.Assign(site);
    params.textPath = L"C:\\reports\\Tessel_Debug.txt";
    params.dumpPath = dump;
    params.iconId = 101;
}

} // namespace

TEST_CASE("the dialog template")
{
    DialogTemplate built;
    REQUIRE(BuildProblemReportTemplate(built));
    CHECK(built.Size() == REPORT_TEMPLATE_SIZE);
    const DLGTEMPLATE* header = built.Get();
    CHECK(header->style == 0x80C808C0);
    CHECK(header->cx == 428);
    CHECK(header->cy == 201);
    DWORD end = 0;
    const std::vector<TemplateItem> items = ReadItems(built, &end);
    CHECK(end == built.Size());
    const WORD ids[] = {0xFFFF, 1000, 1001, 1004, 1005, 1008, 1010, 1003, 1006, 1011, 1012, 1013};
    const WORD classes[] = {0x82, 0x80, 0x80, 0x81, 0x81, 0x82, 0x82, 0x82, 0x82, 0x82, 0x82, 0x82};
    REQUIRE(items.size() == 12);
    for (size_t i = 0; i < items.size(); ++i) {
        CHECK(items[i].id == ids[i]);
        CHECK(items[i].classAtom == classes[i]);
        CHECK(items[i].offset % 4 == 0);
    }
    // The font replacement keeps it a valid template with aligned entries.
    DialogTemplate replaced;
    if (ReplaceDialogFont(built.Bytes(), built.Size(), 0, replaced))
        CHECK(ReadItems(replaced, &end).size() == 12);
}

TEST_CASE("web site, file names and icon sizes")
{
    WideString site(L"untouched");
    CHECK_FALSE(FindWebSite(L"Tessel by Brindle", L"", site));
    CHECK_FALSE(FindWebSite(nullptr, nullptr, site));
    CHECK(Text(site) == L"untouched");
    CHECK(FindWebSite(L"Tessel by Brindle [http://example.com/tessel] more", L"", site));
    CHECK(Text(site) == L"http://example.com/tessel");
    // Found without regard to case; "Comments" before "SpecialBuild".
    CHECK(FindWebSite(L"none here", L"see HTTP://Brindle.example/x", site));
    CHECK(Text(site) == L"HTTP://Brindle.example/x");
    CHECK(FindWebSite(L"http://first.example]", L"http://second.example", site));
    CHECK(Text(site) == L"http://first.example");

    WideString display;
    CHECK(WebSiteDisplayForm(L"HTTP://a.example/?next=http://b", display));
    CHECK(Text(display) == L"a.example/?next=b");

    WideString name;
    const std::pair<const wchar_t*, const wchar_t*> names[] = {
        {L"C:\\dir\\Tessel_Debug.dmp", L"Tessel_Debug.dmp"},
        {L"/tmp/x/Tessel_Debug.txt", L"Tessel_Debug.txt"},
        {L"C:\\dir\\sub\\", L"sub"},
        {L"plain.txt", L"plain.txt"},
        {L"", L""},
    };
    for (const auto& [path, expected] : names) {
        CHECK(ReportFileName(path, name));
        CHECK(Text(name) == expected);
    }

    const std::pair<int, int> sizes[] = {{16, 16}, {17, 32},  {32, 32}, {33, 48},
                                         {48, 48}, {49, 256}, {12, 12}};
    for (const auto& [system, snapped] : sizes)
        CHECK(SnapBigIconSize(system) == snapped);
}

TEST_CASE("request text and file note")
{
    WideString text;
    CHECK(BuildRequestText(L"Brindle", L"", 1, text));
    CHECK(Text(text) == L"Please tell Brindle about this problem.");
    CHECK(BuildRequestText(L"", nullptr, 0, text));
    CHECK(Text(text) == L"Please tell us about this problem.");
    CHECK(BuildRequestText(L"Brindle", L"http://example.com", 1, text));
    CHECK(Text(text) == L"Please tell Brindle about this problem.\n\nYou can check the website "
                        L"<a href=\"http://example.com\">example.com</a> for a newer version.");
    CHECK(BuildRequestText(L"Brindle", L"http://example.com", 0, text));
    CHECK(Text(text) == L"Please tell Brindle about this problem.\n\nYou can check the website "
                        L"'example.com' for a newer version.");

    CHECK(BuildFileNote(L"C:\\r\\T_Debug.txt", L"C:\\r\\T_Debug.dmp", 1, text));
    CHECK(Text(text) == L"The files <a href=\"C:\\r\\T_Debug.txt\">T_Debug.txt</a> and "
                        L"<a href=\"C:\\r\\T_Debug.dmp\">T_Debug.dmp</a> will be send. They do "
                        L"not contain any personal information.");
    CHECK(BuildFileNote(L"C:\\r\\T_Debug.txt", L"C:\\r\\T_Debug.dmp", 0, text));
    CHECK(Text(text) == L"The files T_Debug.txt and T_Debug.dmp will be send. They do not "
                        L"contain any personal information.");
    CHECK(BuildFileNote(L"C:\\r\\T_Debug.txt", L"", 0, text));
    CHECK(Text(text) ==
          L"The file T_Debug.txt will be send. It does not contain any personal information.");
}

TEST_CASE("the dialog's texts with and without a web site and a dump")
{
    SUBCASE("web site and dump")
    {
        ProblemReportParams params;
        FillParams(params, L"http://example.com/tessel", L"C:\\reports\\Tessel_Debug.dmp");
        const DriverRun run =
            RunDriven(params, [](HWND dialog) { Press(dialog, IDC_REPORT_DONT_SEND); });
        REQUIRE(run.found);
        CHECK(run.result == 0);
        const DialogSnapshot& shown = run.snapshot;
        CHECK(shown.title == L"Tessel Report Test");
        CHECK(shown.headline == L"Tessel Report Test has stopped working.");
        CHECK_FALSE(shown.requestStaticVisible);
        CHECK_FALSE(shown.fileNoteStaticVisible);
        REQUIRE(shown.linkUrls.size() == 2);
        CHECK(shown.linkUrls[0] == std::vector<std::wstring>{L"http://example.com/tessel"});
        CHECK(shown.linkUrls[1] == std::vector<std::wstring>{L"C:\\reports\\Tessel_Debug.txt",
                                                             L"C:\\reports\\Tessel_Debug.dmp"});
    }
    SUBCASE("neither web site nor dump")
    {
        ProblemReportParams params;
        FillParams(params, L"", L"");
        params.companyName.Assign(L"");
        const DriverRun run = RunDriven(
            params, [](HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); });
        REQUIRE(run.found);
        CHECK(run.result == 0);
        REQUIRE(run.snapshot.linkUrls.size() == 2);
        CHECK(run.snapshot.linkUrls[0].empty());
        CHECK(run.snapshot.linkUrls[1] ==
              std::vector<std::wstring>{L"C:\\reports\\Tessel_Debug.txt"});
        REQUIRE(run.snapshot.linkTexts.size() == 2);
        CHECK(run.snapshot.linkTexts[0].find(L"Please tell us about this problem.") == 0);
        CHECK(run.snapshot.linkTexts[1].find(L"Tessel_Debug.dmp") == std::wstring::npos);
    }
}

TEST_CASE("answers of the dialog")
{
    ProblemReportParams params;
    FillParams(params, L"", L"C:\\reports\\Tessel_Debug.dmp");

    SUBCASE("Escape and the close box after typing leave both buffers empty")
    {
        for (const bool escape : {true, false}) {
            const DriverRun run = RunDriven(params, [escape](HWND dialog) {
                HWND edit = GetDlgItem(dialog, IDC_REPORT_DESCRIPTION);
                SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"typed"));
                SendMessageW(GetDlgItem(dialog, IDC_REPORT_EMAIL), WM_SETTEXT, 0,
                             reinterpret_cast<LPARAM>(L"me@example.com"));
                if (escape)
                    PostMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 1);
                else
                    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            });
            REQUIRE(run.found);
            CHECK(run.result == 0);
            CHECK(params.description.IsEmpty());
            CHECK(params.email.IsEmpty());
        }
    }
    SUBCASE("Send with empty fields")
    {
        const DriverRun run =
            RunDriven(params, [](HWND dialog) { Press(dialog, IDC_REPORT_SEND); });
        REQUIRE(run.found);
        CHECK(run.result == 1);
        CHECK(params.description.IsEmpty());
        CHECK(params.email.IsEmpty());
    }
    SUBCASE("the longest description is accepted and one character more refused")
    {
        size_t afterOneMore = 0;
        const DriverRun run = RunDriven(params, [&afterOneMore](HWND dialog) {
            HWND edit = GetDlgItem(dialog, IDC_REPORT_DESCRIPTION);
            const std::wstring almost(2045, L'd');
            SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(almost.c_str()));
            SendMessageW(edit, EM_SETSEL, 2045, 2045);
            Type(edit, L'e');
            Type(edit, L'f');
            afterOneMore = static_cast<size_t>(GetWindowTextLengthW(edit));
            HWND email = GetDlgItem(dialog, IDC_REPORT_EMAIL);
            SendMessageW(email, WM_SETTEXT, 0,
                         reinterpret_cast<LPARAM>(std::wstring(258, L'm').c_str()));
            SendMessageW(email, EM_SETSEL, 258, 258);
            Type(email, L'x');
            Press(dialog, IDC_REPORT_SEND);
        });
        REQUIRE(run.found);
        CHECK(run.result == 1);
        CHECK(afterOneMore == 2046);
        CHECK(params.description.Length() == 2046);
        CHECK(params.description.CharAt(2045) == L'e');
        CHECK(params.email.Length() == 258);
    }
}

TEST_CASE("the dialog's texts come from the executable's version block")
{
    ProblemReportParams params;
    ReadProblemReportTexts(params);
    CHECK(Text(params.productName) == L"Tessel");
    CHECK_FALSE(params.companyName.IsEmpty());
    // The version block's comment carries the maker's address in brackets.
    CHECK(std::wstring(params.webSite.Data()).rfind(L"http://", 0) == 0);
    CHECK(std::wstring(params.webSite.Data()).find(L']') == std::wstring::npos);
}
