#include "app/RecordingCommands.h"

#include "sensors/RecordingFormat.h"
#include "sensors/SensorRecorder.h"

#include <commdlg.h>

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

// The common Save dialog (with OFN_OVERWRITEPROMPT among the flags) or Open
// dialog for a CSV file (or a PNG image); file holds the proposed name. 1
// with the path.
int AskFileName(HWND owner, const wchar_t* title, DWORD flags, wchar_t (&file)[1024],
                WideString& path, bool image = false)
{
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = image ? L"PNG images (*.png)\0*.png\0All files (*.*)\0*.*\0"
                               : L"CSV files (*.csv)\0*.csv\0All files (*.*)\0*.*\0";
    dialog.lpstrFile = file;
    dialog.nMaxFile = 1024;
    dialog.lpstrTitle = title;
    dialog.lpstrDefExt = image ? L"png" : L"csv";
    dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | flags;
    const bool saving = (flags & OFN_OVERWRITEPROMPT) != 0;
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
    wchar_t file[1024] = L"";
    SYSTEMTIME now;
    GetLocalTime(&now);
    WideString proposed;
    if (DefaultRecordingName(now, proposed) && proposed.Length() < 1024) {
        proposed.Data(file);
    }
    return AskFileName(owner, L"Record Values", OFN_OVERWRITEPROMPT, file, path);
}

int AskOpenRecordingPath(HWND owner, WideString& path)
{
    wchar_t file[1024] = L"";
    return AskFileName(owner, L"Open Recording", OFN_FILEMUSTEXIST, file, path);
}

int AskImagePath(HWND owner, WideString& path)
{
    wchar_t file[1024] = L"";
    return AskFileName(owner, L"Save Image", OFN_OVERWRITEPROMPT, file, path, true);
}
