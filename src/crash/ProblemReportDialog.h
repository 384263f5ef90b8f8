#pragma once

#include <windows.h>

#include "base/ScopedHandle.h"
#include "base/WideString.h"
#include "ui/GdiHelpers.h"
#include "ui/DividerCtrl.h"
#include "ui/LabelCtrl.h"
#include "ui/SysLinkCtrl.h"
#include "ui/DialogTemplate.h"

// Control ids of the problem report dialog.
constexpr int IDC_REPORT_SEND = 1000;
constexpr int IDC_REPORT_DONT_SEND = 1001;
constexpr int IDC_REPORT_ICON = 1003;
constexpr int IDC_REPORT_DESCRIPTION = 1004;
constexpr int IDC_REPORT_EMAIL = 1005;
constexpr int IDC_REPORT_HEADLINE = 1006;
constexpr int IDC_REPORT_FILE_NOTE = 1008;
constexpr int IDC_REPORT_REQUEST = 1010;
constexpr int IDC_REPORT_DESCRIPTION_PROMPT = 1011;
constexpr int IDC_REPORT_EMAIL_PROMPT = 1012;
constexpr int IDC_REPORT_SEPARATOR = 1013;

// Room of the two answer buffers, terminator included.
constexpr unsigned REPORT_DESCRIPTION_CAPACITY = 2048;
constexpr unsigned REPORT_EMAIL_CAPACITY = 260;
// The template's size in bytes.
constexpr DWORD REPORT_TEMPLATE_SIZE = 520;

// Builds the dialog's in-memory template (classic DLGTEMPLATE).
int BuildProblemReportTemplate(DialogTemplate& result);

// The web site: the first of the two version texts that contains "http://"
// (any case), from there on, cut before the first ']' after it. 0, with
// site untouched, when neither has one.
int FindWebSite(const wchar_t* comments, const wchar_t* specialBuild, WideString& site);
// The site as shown: every "http://" (any case) removed.
int WebSiteDisplayForm(const wchar_t* site, WideString& display);
// The part of a path after its last '\' or '/'; a trailing separator is
// ignored.
int ReportFileName(const wchar_t* path, WideString& name);
// The big icon size for the system's icon size: above 48 gives 256, 33 to
// 48 gives 48, 17 to 32 gives 32, 16 or less stays.
int SnapBigIconSize(int systemSize);

// The request text, with link markup for the link control or plain.
int BuildRequestText(const wchar_t* company, const wchar_t* site, int markup, WideString& text);
// The note naming the files that will be sent.
int BuildFileNote(const wchar_t* textPath, const wchar_t* dumpPath, int markup, WideString& text);

// Everything the dialog shows and answers; owned by the caller while the
// dialog runs.
struct ProblemReportParams
{
    const wchar_t* dumpPath = L"";
    const wchar_t* textPath = L"";
    WORD iconId = 0;
    WideString description{REPORT_DESCRIPTION_CAPACITY};
    WideString email{REPORT_EMAIL_CAPACITY};
    WideString productName;
    WideString companyName;
    WideString webSite; // empty when there is none

    SysLinkCtrl requestLink;
    SysLinkCtrl fileLink;
    LabelCtrl headline;
    LabelCtrl descriptionPrompt;
    LabelCtrl emailPrompt;
    DividerCtrl separator;
    SolidBrush whiteBrush;
    ScopedIcon smallIcon;
    ScopedIcon bigIcon;
    ScopedIcon pictureIcon;
};

// Reads product name, company name and web site from the executable's
// version block.
void ReadProblemReportTexts(ProblemReportParams& params);
// Runs the dialog modally without an owner; 1 when the user chose "Send
// Problem Report" (description and email then hold the typed texts).
int RunProblemReportDialog(ProblemReportParams& params);

// Prepares and shows the dialog; on 1 the buffers hold the typed texts,
// otherwise they are left as they were.
int ShowProblemReportDialog(const wchar_t* dumpPath, const wchar_t* textPath, WORD iconId,
                            WideString& description, WideString& email);
