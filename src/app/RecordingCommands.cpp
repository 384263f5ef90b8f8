#include "app/RecordingCommands.h"

#include "sensors/RecordingFormat.h"

#include <commdlg.h>

#include <cwchar>

#include "base/DynamicLibrary.h"

int RecordingTitle(const wchar_t* title, const wchar_t* path, WideString& text)
{
    return Format(text, L"%s - Recording to %s", title, FileNamePart(path));
}

int RecordingFailureText(const wchar_t* path, DWORD error, bool starting, WideString& text)
{
    wchar_t reason[260];
    const wchar_t* systemText = SystemErrorText(error, reason);
    if (starting) {
        return Format(text, L"The recording could not be started in\r\n%s\r\n\r\n%s", path,
                      systemText ? systemText : L"");
    }
    return Format(text,
                  L"Recording stopped: the file\r\n%s\r\ncould not be written any more.\r\n\r\n"
                  L"%s\r\nThe values recorded until then are in the file.",
                  path, systemText ? systemText : L"");
}

void AppendRecordingItems(HMENU menu, UINT command, bool recording)
{
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, command,
                recording ? L"Stop Recording" : L"Record Values\u2026\tCtrl+R");
}

int AskRecordingPath(HWND owner, WideString& path)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    WideString proposed;
    if (!DefaultRecordingName(now, proposed)) {
        proposed.Assign(L"");
    }
    const SaveFileQuestion question = {L"Record Values",
                                       L"CSV files (*.csv)\0*.csv\0All files (*.*)\0*.*\0", L"csv",
                                       proposed.Data()};
    return AskSaveFile(owner, question, path);
}

int AskSaveFile(HWND owner, const SaveFileQuestion& question, WideString& path)
{
    wchar_t file[1024] = L"";
    if (question.proposed && wcslen(question.proposed) < 1024) {
        lstrcpynW(file, question.proposed, 1024);
    }
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = question.filter;
    dialog.lpstrFile = file;
    dialog.nMaxFile = 1024;
    dialog.lpstrTitle = question.title;
    dialog.lpstrDefExt = question.extension;
    dialog.Flags =
        OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    // comdlg32 is loaded only now, from the system folder: linked, under Wine
    // it brings the theme library in at start, looked for beside the program.
    DynamicLibrary dialogs(L"comdlg32.dll");
    const auto getSaveFileName = dialogs.Symbol<decltype(&::GetSaveFileNameW)>("GetSaveFileNameW");
    if (!getSaveFileName || !getSaveFileName(&dialog)) {
        return 0;
    }
    return path.Assign(file);
}
