#pragma once

#include <windows.h>

class WideString;
struct CrashSettings;

// The report server's port when the host setting names none.
constexpr WORD REPORT_DEFAULT_PORT = 80;
constexpr WORD REPORT_DEFAULT_SECURE_PORT = 443;

// Splits the host setting "name" or "name:port", optionally after "http://"
// or "https://" (either case), into the host name, the port (80, or 443
// for https, when none is given) and whether the report goes over TLS. 0,
// outputs untouched, for an empty name, a port that is not a number from 1
// to 65535, or anything after the host and port (a path).
int SplitReportHost(const wchar_t* setting, WideString& host, WORD* port, bool* secure = nullptr);

// One field of the report form.
struct ReportFormField
{
    const wchar_t* name;
    const wchar_t* value; // a file's path for file fields
    bool isFile;
};

// The values that make up the report form.
struct ReportValues
{
    const wchar_t* product = L"";
    const wchar_t* extra = L"";
    const wchar_t* version = L"";
    const wchar_t* machineId = L"";
    const wchar_t* email = L"";
    const wchar_t* description = L"";
    const wchar_t* dumpPath = L"";
    const wchar_t* textPath = L"";
};

constexpr int REPORT_FORM_FIELD_COUNT = 9;
// The form's fields in the order they are sent: the text fields "a", "p",
// "s", "v", "g", "e", "x", then the files "d" (dump) and "t" (text report).
void ComposeReportForm(const ReportValues& values,
                       ReportFormField (&fields)[REPORT_FORM_FIELD_COUNT]);

// Offers the written report to the user and sends it to the report server.
// dumpPath is empty when no dump exists. 1 when no report server is
// configured (the system's own error handling should follow), else 0,
// whether the user sent the report or not and whatever the server did.
int SubmitProblemReport(const CrashSettings& settings, const wchar_t* dumpPath,
                        const wchar_t* textPath);
