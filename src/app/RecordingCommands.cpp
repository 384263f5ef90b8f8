#include "app/RecordingCommands.h"

#include "sensors/RecordingFormat.h"
#include "sensors/SensorRecorder.h"

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
    if (!starting && error == kRecordingUnfinished) {
        return Format(text,
                      L"Recording stopped, but the file\r\n%s\r\ndoes not answer: the values "
                      L"recorded last may be missing from it.",
                      path);
    }
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

namespace {

constexpr wchar_t kCsvFilter[] = L"CSV files (*.csv)\0*.csv\0All files (*.*)\0*.*\0";
constexpr wchar_t kPngFilter[] = L"PNG images (*.png)\0*.png\0All files (*.*)\0*.*\0";

// What the common Save or Open dialog shows: its title, the file types
// (pairs of zero-terminated texts, ending with an empty one), the extension
// added to a name without one, and the proposed name (or null).
struct FileQuestion
{
    const wchar_t* title;
    const wchar_t* filter;
    const wchar_t* extension;
    const wchar_t* proposed;
};

// The common Save dialog (asking before it replaces a file) or Open dialog.
// 1 with the chosen path.
int AskFileName(HWND owner, const FileQuestion& question, bool saving, WideString& path)
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
    dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                   (saving ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    // comdlg32 is loaded only now, from the system folder: linked, under Wine
    // it brings the theme library in at start, looked for beside the program.
    DynamicLibrary dialogs(L"comdlg32.dll");
    const auto ask = dialogs.Symbol<decltype(&::GetSaveFileNameW)>(saving ? "GetSaveFileNameW"
                                                                          : "GetOpenFileNameW");
    if (!ask || !ask(&dialog)) {
        return 0;
    }
    return path.Assign(file);
}

} // namespace

int AskRecordingPath(HWND owner, WideString& path)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    WideString proposed;
    if (!DefaultRecordingName(now, proposed)) {
        proposed.Assign(L"");
    }
    const FileQuestion question = {L"Record Values", kCsvFilter, L"csv", proposed.Data()};
    return AskFileName(owner, question, true, path);
}

int AskOpenRecordingPath(HWND owner, WideString& path)
{
    const FileQuestion question = {L"Open Recording", kCsvFilter, L"csv", nullptr};
    return AskFileName(owner, question, false, path);
}

int AskImagePath(HWND owner, WideString& path)
{
    const FileQuestion question = {L"Save Image", kPngFilter, L"png", L"chart.png"};
    return AskFileName(owner, question, true, path);
}
