#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "base/ScopedHandle.h"
#include "crash/ProblemReportDialog.h"

// What the driver read from the open dialog.
struct DialogSnapshot
{
    std::wstring title;
    std::wstring headline;
    std::vector<std::wstring> linkTexts;             // each link control's text
    std::vector<std::vector<std::wstring>> linkUrls; // each link control's targets
    bool requestStaticVisible = true;
    bool fileNoteStaticVisible = true;
};

inline std::wstring TextOf(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(window, &text[0], length + 1);
    text.resize(wcslen(text.c_str()));
    return text;
}

inline void Press(HWND dialog, int id)
{
    SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

inline void SetText(HWND dialog, int id, const std::wstring& text)
{
    SendDlgItemMessageW(dialog, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// Drives the problem report dialog from a thread of its own, as a user or
// another program would: it finds the dialog by its title, reads and
// changes its controls with window messages, and ends it. The dialog runs
// modally on the test's thread meanwhile.
class ReportDialogDriver
{
public:
    using Steps = std::function<void(HWND dialog)>;

    ReportDialogDriver(const wchar_t* title, Steps steps) : title_(title), steps_(std::move(steps))
    {
        thread_.Reset(CreateThread(nullptr, 0, &Run, this, 0, nullptr));
    }
    ~ReportDialogDriver() { Join(); }
    ReportDialogDriver(const ReportDialogDriver&) = delete;
    ReportDialogDriver& operator=(const ReportDialogDriver&) = delete;

    // True when the thread ended within 90 s.
    bool Join()
    {
        return thread_.IsValid() && WaitForSingleObject(thread_.Get(), 90000) == WAIT_OBJECT_0;
    }
    bool Found() const { return dialog_ != nullptr; }

    // Finds the open dialog within 60 s: a crashed program writes its
    // report first, which takes seconds.
    static HWND FindDialog(const wchar_t* title)
    {
        for (int round = 0; round < 3000; ++round) {
            HWND dialog = FindWindowW(L"#32770", title);
            if (dialog && IsWindowVisible(dialog))
                return dialog;
            Sleep(20);
        }
        return nullptr;
    }

    static DialogSnapshot Read(HWND dialog)
    {
        DialogSnapshot snapshot;
        snapshot.title = TextOf(dialog);
        snapshot.headline = TextOf(GetDlgItem(dialog, IDC_REPORT_HEADLINE));
        HWND request = GetDlgItem(dialog, IDC_REPORT_REQUEST);
        HWND note = GetDlgItem(dialog, IDC_REPORT_FILE_NOTE);
        snapshot.requestStaticVisible = IsWindowVisible(request) != 0;
        snapshot.fileNoteStaticVisible = IsWindowVisible(note) != 0;
        for (HWND child = GetWindow(dialog, GW_CHILD); child;
             child = GetWindow(child, GW_HWNDNEXT)) {
            wchar_t className[32] = {};
            GetClassNameW(child, className, 32);
            if (_wcsicmp(className, L"SysLink") != 0)
                continue;
            snapshot.linkTexts.push_back(TextOf(child));
            std::vector<std::wstring> urls;
            for (int index = 0; index < 8; ++index) {
                LITEM item = {};
                item.mask = LIF_ITEMINDEX | LIF_URL;
                item.iLink = index;
                if (!SendMessageW(child, LM_GETITEM, 0, reinterpret_cast<LPARAM>(&item)))
                    break;
                urls.push_back(item.szUrl);
            }
            snapshot.linkUrls.push_back(urls);
        }
        return snapshot;
    }

private:
    static DWORD WINAPI Run(void* context)
    {
        ReportDialogDriver& driver = *static_cast<ReportDialogDriver*>(context);
        driver.dialog_ = FindDialog(driver.title_.c_str());
        if (!driver.dialog_)
            return 1;
        driver.steps_(driver.dialog_);
        // A step that left the dialog open must not leave the test waiting.
        for (int round = 0; round < 250 && IsWindow(driver.dialog_); ++round)
            Sleep(20);
        if (IsWindow(driver.dialog_))
            PostMessageW(driver.dialog_, WM_COMMAND, IDCANCEL, 0);
        return 0;
    }

    std::wstring title_;
    Steps steps_;
    HWND dialog_ = nullptr;
    ScopedHandle thread_;
};
