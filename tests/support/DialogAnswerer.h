#pragma once

// Answers the dialogs of one thread from outside the code under test: a
// thread that finds each visible dialog (message box, credentials dialog),
// notes what it shows, may type into its edit fields and ask it for help
// (F1), and then presses the next planned button.

#include <windows.h>

#include <string>
#include <vector>

#include "BoundedThread.h"

class DialogAnswerer
{
public:
    struct Seen
    {
        std::wstring title;
        std::wstring text; // a message box's text
        bool hasHelp;
    };

    // uiThread: the thread the dialogs belong to (0: this one); ignored: a
    // dialog of that thread that is no question (a dialog-based main window).
    explicit DialogAnswerer(std::vector<int> buttons, std::vector<std::wstring> typed = {},
                            bool pressHelp = false, DWORD uiThread = 0, HWND ignored = nullptr)
        : uiThread_(uiThread ? uiThread : GetCurrentThreadId()), ignored_(ignored),
          buttons_(std::move(buttons)), typed_(std::move(typed)), pressHelp_(pressHelp),
          stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          answered_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), thread_([this] { Answer(); })
    {
    }
    ~DialogAnswerer()
    {
        SetEvent(stop_);
        thread_.Join();
        CloseHandle(stop_);
        CloseHandle(answered_);
    }
    DialogAnswerer(const DialogAnswerer&) = delete;
    DialogAnswerer& operator=(const DialogAnswerer&) = delete;

    // Read only once the dialogs are over (destroyed, or AllAnswered).
    const std::vector<Seen>& Dialogs() const { return seen_; }
    // Waits up to waitMs until every planned button was pressed and its
    // dialog closed.
    bool AllAnswered(DWORD waitMs) const
    {
        return WaitForSingleObject(answered_, waitMs) == WAIT_OBJECT_0;
    }

private:
    static BOOL CALLBACK FindDialog(HWND window, LPARAM context)
    {
        auto* self = reinterpret_cast<DialogAnswerer*>(context);
        wchar_t className[16] = {};
        GetClassNameW(window, className, 16);
        if (wcscmp(className, L"#32770") != 0 || !IsWindowVisible(window) ||
            window == self->ignored_)
            return TRUE;
        self->found_ = window;
        return FALSE;
    }
    static std::wstring TextOf(HWND window)
    {
        wchar_t text[1024] = {};
        GetWindowTextW(window, text, 1024);
        return text;
    }
    bool Stopped(DWORD waitMs) const { return WaitForSingleObject(stop_, waitMs) != WAIT_TIMEOUT; }

    // The dialog may still be filling its fields when it first shows:
    // type until the field holds the text.
    void TypeInto(HWND edit, const std::wstring& text)
    {
        for (int attempt = 0; attempt < 50 && TextOf(edit) != text && !Stopped(0); ++attempt) {
            SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                                SMTO_NORMAL, 2000, nullptr);
            Stopped(20);
        }
    }

    void Type(HWND dialog)
    {
        size_t next = 0;
        for (HWND child = GetWindow(dialog, GW_CHILD); child && next < typed_.size();
             child = GetWindow(child, GW_HWNDNEXT)) {
            wchar_t className[16] = {};
            GetClassNameW(child, className, 16);
            if (_wcsicmp(className, L"Edit") == 0)
                TypeInto(child, typed_[next++]);
        }
    }

    void Answer()
    {
        for (size_t next = 0; next < buttons_.size() && !Stopped(20);) {
            found_ = nullptr;
            EnumThreadWindows(uiThread_, FindDialog, reinterpret_cast<LPARAM>(this));
            HWND box = found_;
            if (!box)
                continue;
            HWND help = GetDlgItem(box, IDHELP);
            seen_.push_back({TextOf(box), TextOf(GetDlgItem(box, 0xFFFF)), help != nullptr});
            Type(box);
            if (help && pressHelp_) {
                // F1 in the box; it hands the request on to its owner.
                HELPINFO info = {sizeof(info), HELPINFO_WINDOW, IDHELP, help, 0, {0, 0}};
                SendMessageW(box, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
            }
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(buttons_[next++], BN_CLICKED), 0);
            while (IsWindow(box) && !Stopped(20)) {
            }
            if (next == buttons_.size() && !IsWindow(box))
                SetEvent(answered_);
        }
    }

    DWORD uiThread_;
    HWND ignored_;
    HWND found_ = nullptr;
    std::vector<int> buttons_;
    std::vector<std::wstring> typed_;
    bool pressHelp_;
    std::vector<Seen> seen_;
    HANDLE stop_;
    HANDLE answered_;
    BoundedThread thread_;
};
