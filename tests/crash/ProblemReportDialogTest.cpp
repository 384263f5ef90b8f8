#include <doctest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "ReportDialogDriver.h"
#include "crash/ProblemReportDialog.h"
#include "ui/Dpi.h"

namespace {

std::wstring Text(const WideString& text)
{
    return text.Data();
}

struct DriverRun
{
    int result = -1;
    DialogSnapshot shown;
};

// Runs the dialog on this thread while the driver works it from another.
DriverRun RunDriven(ProblemReportParams& params, std::function<void(HWND)> action)
{
    DriverRun run;
    ReportDialogDriver driver(params.productName.Data(), [&](HWND dialog) {
        run.shown = ReportDialogDriver::Read(dialog);
        action(dialog);
    });
    run.result = RunProblemReportDialog(params);
    REQUIRE_MESSAGE(driver.Join(), "the driver thread did not end");
    REQUIRE_MESSAGE(driver.Found(), "the dialog did not appear");
    return run;
}

// Types one character at the end of an edit, as the keyboard would.
void TypeAtEnd(HWND dialog, int id, wchar_t character)
{
    SendDlgItemMessageW(dialog, id, EM_SETSEL, 0x7FFF, 0x7FFF);
    SendDlgItemMessageW(dialog, id, WM_CHAR, character, 1);
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

int IconWidth(HICON icon)
{
    ICONINFO info = {};
    if (!icon || !GetIconInfo(icon, &info))
        return 0;
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

} // namespace

TEST_CASE("web site, file names, icon size and the plain request text")
{
    WideString site(L"untouched");
    CHECK_FALSE(FindWebSite(L"Tessel by Brindle", nullptr, site));
    CHECK(Text(site) == L"untouched");
    CHECK(FindWebSite(L"Tessel by Brindle [http://example.com/tessel] more", L"", site));
    CHECK(Text(site) == L"http://example.com/tessel");
    CHECK(FindWebSite(L"none here", L"see HTTP://Brindle.example/x", site));
    CHECK(Text(site) == L"HTTP://Brindle.example/x");
    WideString display;
    CHECK(WebSiteDisplayForm(L"HTTP://a.example/?next=http://b", display));
    CHECK(Text(display) == L"a.example/?next=b");

    WideString name;
    CHECK(ReportFileName(L"C:\\dir\\sub\\", name));
    CHECK(Text(name) == L"sub");
    CHECK(ReportFileName(L"/tmp/x/Tessel_Debug.txt", name));
    CHECK(Text(name) == L"Tessel_Debug.txt");

    const std::pair<int, int> snaps[] = {{16, 16}, {17, 32}, {48, 48}, {49, 256}};
    for (const auto& snap : snaps)
        CHECK_MESSAGE(SnapBigIconSize(snap.first) == snap.second, "size " << snap.first);

    // Shown in the static control where no link control can be made.
    WideString text;
    CHECK(BuildRequestText(L"", L"http://example.com", 0, text));
    CHECK(Text(text) == L"Please tell us about this problem.\n\nYou can check the website "
                        L"'example.com' for a newer version.");
}

TEST_CASE("the file note names what will be sent, as a link and as plain text")
{
    const wchar_t* report = L"C:\\reports\\Tessel_Debug.txt";
    const struct
    {
        const wchar_t* dump;
        int asLinks;
        const wchar_t* note;
    } rows[] = {
        {L"C:\\reports\\Tessel_Debug.dmp", 1,
         L"The files <a href=\"C:\\reports\\Tessel_Debug.txt\">Tessel_Debug.txt</a> and <a "
         L"href=\"C:\\reports\\Tessel_Debug.dmp\">Tessel_Debug.dmp</a> will be sent. They do not "
         L"contain any personal information."},
        {L"C:\\reports\\Tessel_Debug.dmp", 0,
         L"The files Tessel_Debug.txt and Tessel_Debug.dmp will be sent. They do not contain any "
         L"personal information."},
        {L"", 1,
         L"The file <a href=\"C:\\reports\\Tessel_Debug.txt\">Tessel_Debug.txt</a> will be sent. "
         L"It does not contain any personal information."},
        {nullptr, 0,
         L"The file Tessel_Debug.txt will be sent. It does not contain any personal information."},
    };
    for (const auto& row : rows) {
        CAPTURE(&row - rows);
        WideString text;
        REQUIRE(BuildFileNote(report, row.dump, row.asLinks, text));
        CHECK(Text(text) == row.note);
    }
}

TEST_CASE("the dialog's texts with and without a web site and a dump")
{
    ProblemReportParams params;
    FillParams(params, L"http://example.com/tessel", L"C:\\reports\\Tessel_Debug.dmp");
    DriverRun run = RunDriven(params, [](HWND dialog) { Press(dialog, IDC_REPORT_DONT_SEND); });
    CHECK(run.result == 0);
    CHECK(run.shown.title == L"Tessel Report Test");
    CHECK(run.shown.headline == L"Tessel Report Test has stopped working.");
    CHECK_FALSE(run.shown.requestStaticVisible);
    CHECK_FALSE(run.shown.fileNoteStaticVisible);
    REQUIRE(run.shown.linkUrls.size() == 2);
    CHECK(run.shown.linkUrls[0] == std::vector<std::wstring>{L"http://example.com/tessel"});
    CHECK(run.shown.linkUrls[1] == std::vector<std::wstring>{L"C:\\reports\\Tessel_Debug.txt",
                                                             L"C:\\reports\\Tessel_Debug.dmp"});

    FillParams(params, L"", L"");
    params.companyName.Assign(L"");
    run = RunDriven(params, [](HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); });
    REQUIRE(run.shown.linkUrls.size() == 2);
    CHECK(run.shown.linkUrls[0].empty());
    CHECK(run.shown.linkUrls[1] == std::vector<std::wstring>{L"C:\\reports\\Tessel_Debug.txt"});
    CHECK(run.shown.linkTexts[0].find(L"Please tell us about this problem.") == 0);
}

TEST_CASE("answers of the dialog: typing cancelled, then the longest texts sent")
{
    ProblemReportParams params;
    FillParams(params, L"", L"C:\\reports\\Tessel_Debug.dmp");
    // Escape and the close box after typing leave both buffers empty.
    DriverRun run;
    for (const bool escape : {true, false}) {
        CAPTURE(escape);
        run = RunDriven(params, [escape](HWND dialog) {
            SetText(dialog, IDC_REPORT_DESCRIPTION, L"typed");
            SetText(dialog, IDC_REPORT_EMAIL, L"me@example.com");
            if (escape)
                PostMessageW(GetDlgItem(dialog, IDC_REPORT_DESCRIPTION), WM_KEYDOWN, VK_ESCAPE, 1);
            else
                PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        });
        CHECK(run.result == 0);
        CHECK(params.description.IsEmpty());
        CHECK(params.email.IsEmpty());
    }

    // The longest texts are accepted and one character more refused.
    run = RunDriven(params, [](HWND dialog) {
        SetText(dialog, IDC_REPORT_DESCRIPTION, std::wstring(2045, L'd'));
        TypeAtEnd(dialog, IDC_REPORT_DESCRIPTION, L'e');
        TypeAtEnd(dialog, IDC_REPORT_DESCRIPTION, L'f');
        SetText(dialog, IDC_REPORT_EMAIL, std::wstring(257, L'm'));
        TypeAtEnd(dialog, IDC_REPORT_EMAIL, L'n');
        TypeAtEnd(dialog, IDC_REPORT_EMAIL, L'o');
        Press(dialog, IDC_REPORT_SEND);
    });
    CHECK(run.result == 1);
    CHECK(params.description.Length() == 2046);
    CHECK(params.description.CharAt(2045) == L'e');
    CHECK(params.email.Length() == 258);
    CHECK(params.email.CharAt(257) == L'n');
}

TEST_CASE("the dialog's texts come from the executable's version block")
{
    ProblemReportParams params;
    ReadProblemReportTexts(params);
    CHECK(Text(params.productName) == L"Tessel");
    CHECK(Text(params.companyName) == L"Brindle");
    // The comment carries the maker's address in brackets.
    CHECK(Text(params.webSite).rfind(L"http://", 0) == 0);
    CHECK(Text(params.webSite).find(L']') == std::wstring::npos);
}

// The test command runs this program at 144 and 192 dpi as well.
TEST_CASE("the dialog's pixel sizes follow the DPI: icons, headline, separator")
{
    ProblemReportParams params;
    FillParams(params, L"http://example.com/", L"C:\\reports\\Tessel_Debug.dmp");
    const int dpi = SystemDpi();
    int smallIcon = 0;
    int picture = 0;
    int separatorHeight = 0;
    RECT headline = {};
    LOGFONTW font = {};
    const DriverRun run = RunDriven(params, [&](HWND dialog) {
        smallIcon =
            IconWidth(reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0)));
        picture = IconWidth(reinterpret_cast<HICON>(
            SendDlgItemMessageW(dialog, IDC_REPORT_ICON, STM_GETIMAGE, IMAGE_ICON, 0)));
        RECT separator = {};
        GetWindowRect(GetDlgItem(dialog, IDC_REPORT_SEPARATOR), &separator);
        separatorHeight = separator.bottom - separator.top;
        GetClientRect(GetDlgItem(dialog, IDC_REPORT_HEADLINE), &headline);
        // The label's font, read while the dialog waits in its message loop.
        GetObjectW(params.headline.Font(), sizeof(font), &font);
        Press(dialog, IDC_REPORT_DONT_SEND);
    });
    CHECK(smallIcon == MulDiv(16, dpi, 96));
    CHECK(picture == MulDiv(32, dpi, 96));
    CHECK(separatorHeight == MulDiv(5, dpi, 96));
    // The headline's font starts at 40 pixels at 96 dpi and shrinks until
    // it fits its control, which grows with the dialog's font.
    CHECK(std::abs(font.lfHeight) <= MulDiv(40, dpi, 96));
    CHECK(std::abs(font.lfHeight) >= headline.bottom / 2);
}
