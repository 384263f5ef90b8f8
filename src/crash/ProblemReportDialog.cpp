#include "crash/ProblemReportDialog.h"

#include <wchar.h>

#include "system/ModuleVersion.h"
#include "ui/Dpi.h"

namespace {

constexpr DWORD kDialogStyle =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_MODALFRAME | DS_SETFONT; // 0x80C808C0
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;
constexpr WORD kNoId = 0xFFFF;

constexpr COLORREF kHeadlineColor = RGB(9, 55, 117);
constexpr COLORREF kGreyText = RGB(96, 96, 96);
constexpr int kHeadlineFontHeight = 40;
constexpr unsigned kDescriptionLimit = REPORT_DESCRIPTION_CAPACITY - 2;
constexpr unsigned kEmailLimit = REPORT_EMAIL_CAPACITY - 2;
constexpr UINT kSetCueBanner = 0x1501; // EM_SETCUEBANNER
const wchar_t kCueBanner[] = L" optional";
const wchar_t kHttp[] = L"http://";

struct ReportControl
{
    WORD id;
    WORD classAtom;
    const wchar_t* text;
    DWORD style;
    short x, y, cx, cy;
};

const ReportControl kControls[] = {
    {kNoId, kStaticClass, L"", 0x50000006, 0, 0, 429, 167},
    {IDC_REPORT_SEND, kButtonClass, L"Send Problem Report", 0x50010001, 241, 177, 100, 14},
    {IDC_REPORT_DONT_SEND, kButtonClass, L"Don't Send", 0x50010000, 351, 177, 60, 14},
    {IDC_REPORT_DESCRIPTION, kEditClass, L"", 0x50810080, 40, 86, 370, 14},
    {IDC_REPORT_EMAIL, kEditClass, L"", 0x50810080, 40, 119, 370, 14},
    {IDC_REPORT_FILE_NOTE, kStaticClass, L"Static", 0x50020000, 40, 144, 370, 18},
    {IDC_REPORT_REQUEST, kStaticClass, L"Static", 0x50020000, 40, 35, 370, 26},
    {IDC_REPORT_ICON, kStaticClass, L"", 0x50000003, 10, 10, 20, 20},
    {IDC_REPORT_HEADLINE, kStaticClass, L"Static", 0x50020200, 40, 12, 370, 14},
    {IDC_REPORT_DESCRIPTION_PROMPT, kStaticClass, L"Static", 0x50020000, 40, 74, 370, 8},
    {IDC_REPORT_EMAIL_PROMPT, kStaticClass, L"Static", 0x50020000, 40, 107, 370, 8},
    {IDC_REPORT_SEPARATOR, kStaticClass, L"", 0x50000010, 0, 166, 429, 1},
};

const ControlBounds kRequestBounds = {40, 35, 370, 26};
const ControlBounds kFileNoteBounds = {40, 144, 370, 18};
constexpr DWORD kLinkOptions = SYSLINK_DIALOG_UNITS | SYSLINK_NO_SUBCLASS;

// Writes the template's 16- and 32-bit fields in order; counts only when
// no buffer is given.
class TemplateWriter
{
public:
    explicit TemplateWriter(BYTE* buffer) : buffer_(buffer) {}

    void Word(WORD value) { Put(&value, sizeof(value)); }
    void Dword(DWORD value) { Put(&value, sizeof(value)); }
    void Text(const wchar_t* text) { Put(text, (wcslen(text) + 1) * sizeof(wchar_t)); }
    void AlignToDword() { at_ = (at_ + 3) & ~static_cast<DWORD>(3); }
    DWORD Size() const { return at_; }

private:
    void Put(const void* data, size_t size)
    {
        if (buffer_) {
            memcpy(buffer_ + at_, data, size);
        }
        at_ += static_cast<DWORD>(size);
    }

    BYTE* buffer_;
    DWORD at_ = 0;
};

void WriteTemplate(TemplateWriter& writer)
{
    writer.Dword(kDialogStyle);
    writer.Dword(0);
    writer.Word(static_cast<WORD>(sizeof(kControls) / sizeof(kControls[0])));
    for (short value : {0, 0, 428, 201}) {
        writer.Word(static_cast<WORD>(value));
    }
    writer.Word(0); // no menu
    writer.Word(0); // default class
    writer.Text(L"Dialog");
    writer.Word(8);
    writer.Text(L"MS Sans Serif");
    for (const ReportControl& control : kControls) {
        writer.AlignToDword();
        writer.Dword(control.style);
        writer.Dword(0);
        for (short value : {control.x, control.y, control.cx, control.cy}) {
            writer.Word(static_cast<WORD>(value));
        }
        writer.Word(control.id);
        writer.Word(0xFFFF);
        writer.Word(control.classAtom);
        writer.Text(control.text);
        writer.Word(0); // no creation data
    }
    writer.AlignToDword();
}

ProblemReportParams* ParamsOf(HWND dialog)
{
    return reinterpret_cast<ProblemReportParams*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
}

void SetIcons(HWND dialog, ProblemReportParams& params)
{
    const HINSTANCE module = GetModuleHandleW(nullptr);
    const wchar_t* id = MAKEINTRESOURCEW(params.iconId);
    const int dpi = WindowDpi(dialog);
    params.smallIcon.Reset(
        static_cast<HICON>(LoadImageW(module, id, IMAGE_ICON, MetricForDpi(SM_CXSMICON, dpi),
                                      MetricForDpi(SM_CYSMICON, dpi), 0)));
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(params.smallIcon.Get()));
    const int big = SnapBigIconSize(MetricForDpi(SM_CXICON, dpi));
    params.bigIcon.Reset(static_cast<HICON>(LoadImageW(module, id, IMAGE_ICON, big, big, 0)));
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(params.bigIcon.Get()));
    // The picture beside the headline, at the icon size of the dialog's DPI
    // rather than LoadIcon's system size.
    const int picture = MetricForDpi(SM_CXICON, dpi);
    params.pictureIcon.Reset(
        static_cast<HICON>(LoadImageW(module, id, IMAGE_ICON, picture, picture, 0)));
    SendDlgItemMessageW(dialog, IDC_REPORT_ICON, STM_SETIMAGE, IMAGE_ICON,
                        reinterpret_cast<LPARAM>(params.pictureIcon.Get()));
}

// Shows the marked-up text in a link control, or the plain text in the
// static that holds its place when no link control can be made.
void ShowLinkedText(HWND dialog, SysLinkCtrl& link, ControlBounds bounds, int staticId,
                    const WideString& markup, const WideString& plain)
{
    if (link.Create(dialog, bounds, markup.Data(), kLinkOptions, nullptr, 0)) {
        ShowWindow(GetDlgItem(dialog, staticId), SW_HIDE);
    } else {
        SetDlgItemTextW(dialog, staticId, plain.Data());
    }
}

void SetUpEdit(HWND dialog, int id, unsigned limit)
{
    SendDlgItemMessageW(dialog, id, EM_LIMITTEXT, limit, 0);
    SendDlgItemMessageW(dialog, id, kSetCueBanner, 0, reinterpret_cast<LPARAM>(kCueBanner));
}

void SetUpPrompt(HWND dialog, LabelCtrl& label, int id, const wchar_t* text)
{
    SetDlgItemTextW(dialog, id, text);
    LabelOptions options;
    options.faces = L"";
    options.normalColor = kGreyText;
    options.hoverColor = kGreyText;
    options.flags = LABEL_CONTROL_FONT;
    label.Attach(GetDlgItem(dialog, id), options);
}

void SetUpHeadline(HWND dialog, ProblemReportParams& params)
{
    WideString headline;
    Format(headline, L"%s has stopped working.", params.productName.Data());
    SetDlgItemTextW(dialog, IDC_REPORT_HEADLINE, headline.Data());
    LabelOptions options;
    options.fontHeight = ScaleForDpi(kHeadlineFontHeight, WindowDpi(dialog));
    options.normalColor = kHeadlineColor;
    options.hoverColor = kHeadlineColor;
    options.flags = LABEL_FIT | LABEL_REFIT_ON_TEXT;
    params.headline.Attach(GetDlgItem(dialog, IDC_REPORT_HEADLINE), options);
}

void SetUpRequest(HWND dialog, ProblemReportParams& params)
{
    WideString markup;
    WideString plain;
    BuildRequestText(params.companyName.Data(), params.webSite.Data(), 1, markup);
    BuildRequestText(params.companyName.Data(), params.webSite.Data(), 0, plain);
    ShowLinkedText(dialog, params.requestLink, kRequestBounds, IDC_REPORT_REQUEST, markup, plain);
}

void SetUpFileNote(HWND dialog, ProblemReportParams& params)
{
    WideString markup;
    WideString plain;
    BuildFileNote(params.textPath, params.dumpPath, 1, markup);
    BuildFileNote(params.textPath, params.dumpPath, 0, plain);
    ShowLinkedText(dialog, params.fileLink, kFileNoteBounds, IDC_REPORT_FILE_NOTE, markup, plain);
}

INT_PTR OnInitDialog(HWND dialog, ProblemReportParams& params)
{
    SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&params));
    params.whiteBrush.Create(RGB(255, 255, 255));
    SetWindowTextW(dialog, params.productName.Data());
    SetIcons(dialog, params);
    SetUpHeadline(dialog, params);
    SetUpRequest(dialog, params);
    SetUpPrompt(dialog, params.descriptionPrompt, IDC_REPORT_DESCRIPTION_PROMPT,
                L"Can you please describe what you were doing when the problem occurred?");
    SetUpEdit(dialog, IDC_REPORT_DESCRIPTION, kDescriptionLimit);
    SetUpPrompt(dialog, params.emailPrompt, IDC_REPORT_EMAIL_PROMPT, L"Your E-mail address:");
    SetUpEdit(dialog, IDC_REPORT_EMAIL, kEmailLimit);
    SetUpFileNote(dialog, params);
    params.separator.Attach(GetDlgItem(dialog, IDC_REPORT_SEPARATOR));
    return TRUE;
}

// Copies an edit's text into a buffer with room for capacity - 1
// characters and the terminator.
void TakeText(HWND dialog, int id, WideString& buffer, unsigned capacity)
{
    if (!buffer.Reserve(capacity)) {
        return;
    }
    GetDlgItemTextW(dialog, id, buffer.Data(), static_cast<int>(capacity - 1));
    buffer.RefreshCount();
}

INT_PTR OnCommand(HWND dialog, ProblemReportParams& params, int id)
{
    if (id == IDCANCEL || id == IDC_REPORT_DONT_SEND) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    if (id == IDC_REPORT_SEND) {
        TakeText(dialog, IDC_REPORT_DESCRIPTION, params.description, REPORT_DESCRIPTION_CAPACITY);
        TakeText(dialog, IDC_REPORT_EMAIL, params.email, REPORT_EMAIL_CAPACITY);
        EndDialog(dialog, 1);
        return TRUE;
    }
    return FALSE;
}

INT_PTR OnColorStatic(ProblemReportParams& params, HDC dc, HWND control)
{
    const HWND dialog = GetParent(control);
    if (control == params.fileLink.Window() ||
        control == GetDlgItem(dialog, IDC_REPORT_FILE_NOTE)) {
        SetTextColor(dc, kGreyText);
    }
    return reinterpret_cast<INT_PTR>(params.whiteBrush.ForControl(dc));
}

void OnDestroy(ProblemReportParams& params)
{
    params.headline.Detach();
    params.requestLink.Destroy();
    params.fileLink.Destroy();
    params.separator.Detach();
    params.whiteBrush.Delete();
}

INT_PTR CALLBACK ProblemReportProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        return OnInitDialog(dialog, *reinterpret_cast<ProblemReportParams*>(lParam));
    }
    ProblemReportParams* params = ParamsOf(dialog);
    if (!params) {
        return FALSE;
    }
    switch (message) {
    case WM_NOTIFY: {
        const NMHDR* notification = reinterpret_cast<const NMHDR*>(lParam);
        params->requestLink.HandleNotify(dialog, wParam, notification);
        params->fileLink.HandleNotify(dialog, wParam, notification);
        return FALSE;
    }
    case WM_CTLCOLORSTATIC:
        return OnColorStatic(*params, reinterpret_cast<HDC>(wParam),
                             reinterpret_cast<HWND>(lParam));
    case WM_COMMAND:
        return OnCommand(dialog, *params, LOWORD(wParam));
    case WM_DESTROY:
        OnDestroy(*params);
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

int BuildProblemReportTemplate(DialogTemplate& result)
{
    TemplateWriter counter(nullptr);
    WriteTemplate(counter);
    DialogTemplate built;
    if (!built.Allocate(counter.Size())) {
        return 0;
    }
    TemplateWriter writer(built.Bytes());
    WriteTemplate(writer);
    result = std::move(built);
    return 1;
}

int FindWebSite(const wchar_t* comments, const wchar_t* specialBuild, WideString& site)
{
    for (const wchar_t* text : {comments, specialBuild}) {
        if (!text) {
            continue;
        }
        WideString value(text);
        const int start = value.FindNoCaseIndex(kHttp);
        if (start < 0) {
            continue;
        }
        value.Mid(start);
        const int end = value.FindChar(L']');
        if (end >= 0) {
            value.TruncateAt(end);
        }
        return site.Assign(value);
    }
    return 0;
}

int WebSiteDisplayForm(const wchar_t* site, WideString& display)
{
    if (!display.Assign(site ? site : L"")) {
        return 0;
    }
    display.ReplaceNoCase(kHttp, L"");
    return 1;
}

int ReportFileName(const wchar_t* path, WideString& name)
{
    if (!path) {
        path = L"";
    }
    size_t end = wcslen(path);
    if (end > 0 && (path[end - 1] == L'\\' || path[end - 1] == L'/')) {
        --end;
    }
    size_t start = end;
    while (start > 0 && path[start - 1] != L'\\' && path[start - 1] != L'/') {
        --start;
    }
    return name.Assign(path + start, static_cast<unsigned>(end - start));
}

int SnapBigIconSize(int systemSize)
{
    if (systemSize > 48) {
        return 256;
    }
    if (systemSize > 32) {
        return 48;
    }
    if (systemSize > 16) {
        return 32;
    }
    return systemSize;
}

int BuildRequestText(const wchar_t* company, const wchar_t* site, int markup, WideString& text)
{
    const wchar_t* name = company && company[0] ? company : L"us";
    if (!site || !site[0]) {
        return Format(text, L"Please tell %s about this problem.", name);
    }
    WideString display;
    WebSiteDisplayForm(site, display);
    if (markup) {
        return Format(text,
                      L"Please tell %s about this problem.\n\nYou can check the website "
                      L"<a href=\"%s\">%s</a> for a newer version.",
                      name, site, display.Data());
    }
    return Format(text,
                  L"Please tell %s about this problem.\n\nYou can check the website '%s' for a "
                  L"newer version.",
                  name, display.Data());
}

int BuildFileNote(const wchar_t* textPath, const wchar_t* dumpPath, int markup, WideString& text)
{
    WideString textName;
    WideString dumpName;
    ReportFileName(textPath, textName);
    ReportFileName(dumpPath, dumpName);
    if (!textPath) {
        textPath = L"";
    }
    if (dumpPath && dumpPath[0]) {
        if (markup) {
            return Format(text,
                          L"The files <a href=\"%s\">%s</a> and <a href=\"%s\">%s</a> will be "
                          L"sent. They do not contain any personal information.",
                          textPath, textName.Data(), dumpPath, dumpName.Data());
        }
        return Format(text,
                      L"The files %s and %s will be sent. They do not contain any personal "
                      L"information.",
                      textName.Data(), dumpName.Data());
    }
    if (markup) {
        return Format(text,
                      L"The file <a href=\"%s\">%s</a> will be sent. It does not contain any "
                      L"personal information.",
                      textPath, textName.Data());
    }
    return Format(text, L"The file %s will be sent. It does not contain any personal information.",
                  textName.Data());
}

void ReadProblemReportTexts(ProblemReportParams& params)
{
    ReadVersionString(params.productName, L"ProductName");
    ReadVersionString(params.companyName, L"CompanyName");
    WideString comments;
    WideString specialBuild;
    ReadVersionString(comments, L"Comments");
    ReadVersionString(specialBuild, L"SpecialBuild");
    FindWebSite(comments.Data(), specialBuild.Data(), params.webSite);
}

int RunProblemReportDialog(ProblemReportParams& params)
{
    DialogTemplate built;
    if (!BuildProblemReportTemplate(built)) {
        return 0;
    }
    DialogTemplate replaced;
    ReplaceDialogFont(built.Bytes(), built.Size(), 0, replaced);
    const DLGTEMPLATE* dialogTemplate = replaced.IsEmpty() ? built.Get() : replaced.Get();
    const INT_PTR result =
        DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialogTemplate, nullptr,
                                &ProblemReportProcedure, reinterpret_cast<LPARAM>(&params));
    // The prompts outlive the window; the headline went with WM_DESTROY.
    params.descriptionPrompt.Detach();
    params.emailPrompt.Detach();
    return result == 1 ? 1 : 0;
}

int ShowProblemReportDialog(const wchar_t* dumpPath, const wchar_t* textPath, WORD iconId,
                            WideString& description, WideString& email)
{
    ProblemReportParams params;
    params.dumpPath = dumpPath ? dumpPath : L"";
    params.textPath = textPath ? textPath : L"";
    params.iconId = iconId;
    ReadProblemReportTexts(params);
    if (!RunProblemReportDialog(params)) {
        return 0;
    }
    description.Assign(params.description);
    email.Assign(params.email);
    return 1;
}
