#pragma once

#include <windows.h>

#include "base/WideString.h"
#include "net/HttpClient.h"
#include "system/WorkerThread.h"
#include "ui/Subclasser.h"
#include "update/UpdateSignature.h"

class XmlDocument;

// Start flags.
constexpr DWORD UPDATE_INVENTORY_REQUEST = 0x1; // inventory form, answer under Elmstead
constexpr DWORD UPDATE_NO_WORKER = 0x2;         // subclass only, no check

// Tag of the main window's subclass ("aupp").
constexpr DWORD UPDATE_SUBCLASS_TAG = 0x61757570;
// wParam of the update message: which question to show.
constexpr WPARAM UPDATE_ASK_INSTALL = 0;
constexpr WPARAM UPDATE_ASK_RESTART = 1;
// The handler's answers to the update message. Anything else (0, which
// SendMessageW also gives when the window is gone) means the question was
// not asked, which is no decline.
constexpr LRESULT UPDATE_ANSWER_YES = 1;
constexpr LRESULT UPDATE_ANSWER_NO = 2;

// What a check asks and where its schedule lives. With a value name the
// check runs only when LastCheck under root and subkey is a week old;
// without one it always runs.
struct UpdateCheckOptions
{
    const wchar_t* baseUrl = nullptr;
    HKEY root = nullptr;
    const wchar_t* subkey = nullptr;
    const wchar_t* valueName = nullptr; // null: no schedule, check at once
    DWORD flags = 0;                    // UPDATE_INVENTORY_REQUEST, UPDATE_NO_WORKER
    const wchar_t* itemType = L"1";     // inventory form only
    const wchar_t* itemName = nullptr;  // inventory form only
    // The maker's public keys (they must outlive the updater). With keys an
    // answer counts only when one of them signed it, and every file it
    // names must carry its sha256; without keys answers are read unsigned.
    UpdateKeyList keys = nullptr;
    // Where the highest accepted serial of signed answers ("UpdateSerial")
    // is kept; without it every serial counts as new.
    HKEY stateRoot = nullptr;
    const wchar_t* stateSubkey = nullptr;
};

// How long closing waits for a transfer that cannot be cancelled.
constexpr DWORD UPDATE_CLOSING_PATIENCE_MS = 700;

// The weekly (or forced) update check of one main window. The check runs on
// a worker thread; its questions are shown on the window's own thread,
// which the worker reaches by sending the registered message
// "_C_AutoUpdate" to the window it has subclassed.
class AutoUpdater
{
public:
    AutoUpdater() = default;
    // Cancels the check, waits for it (at most UPDATE_CLOSING_PATIENCE_MS
    // while it is in a transfer, which a stalled server could hold much
    // longer; nothing is installed then), ends a worker that still runs and
    // gives the window its procedure back.
    ~AutoUpdater();
    AutoUpdater(const AutoUpdater&) = delete;
    AutoUpdater& operator=(const AutoUpdater&) = delete;

    // 1 when a check was started (or, with UPDATE_NO_WORKER, would have
    // been). A Start from inside the wait of another Start or Stop (the
    // checkbox ticked twice quickly) is refused.
    int Start(HWND mainWindow, const UpdateCheckOptions& options);
    // Waits for a running check with the window's messages flowing, so a
    // question it asks meanwhile is still shown and answered, and restores
    // the window's procedure. Only closing cancels a check: when the window
    // is destroyed (its transfer is closed, no more questions are asked,
    // nothing more is downloaded; installing files already under way
    // finishes) or the updater goes.
    void Stop();
    // Waits at most the given time for a running check; 1 when it ended.
    int Wait(DWORD milliseconds);
    // 1 when the last check ended by restarting the application.
    DWORD Result() const { return worker_.Result(); }
    UINT UpdateMessage() const { return updateMessage_; }

private:
    // What one check has learnt so far.
    struct Progress;

    static DWORD Run(void* updater, DWORD value);
    static int HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                             LRESULT* result, void* context);
    int StartCheck(HWND mainWindow, const UpdateCheckOptions& options);
    DWORD Check();
    int FetchAnswer(Progress& progress);
    void BuildRequest(const Progress& progress, WideString& request) const;
    int LoadAnswer(Progress& progress, const WideString& answer);
    int AskToInstall(Progress& progress);
    int Install(Progress& progress);
    int AskToRestart(Progress& progress);
    int ReadAnswer(XmlDocument& document, IUnknown* base, const wchar_t* language);
    int IsDeclined(const WideString& offered) const;
    void Decline(const WideString& offered) const;
    LRESULT Ask(WPARAM question);
    LRESULT AskFromWorker(WPARAM question);
    int Restart(const Progress& progress);
    void Cancel();
    void WaitWhileClosing();
    int IsFreshAnswer(Progress& progress);
    int IsStopping() const { return InterlockedCompareExchange(&stopping_, 0, 0) != 0; }
    bool HasSchedule() const { return root_ && !valueName_.IsEmpty(); }
    int ReadLocalised(XmlDocument& document, IUnknown* base, const wchar_t* path,
                      const wchar_t* language, WideString& text);

    HWND window_ = nullptr;
    WideString baseUrl_;
    HKEY root_ = nullptr;
    WideString subkey_;
    WideString valueName_;
    DWORD flags_ = 0;
    WideString itemType_;
    WideString itemName_;
    UpdateKeyList keys_ = nullptr;
    UINT updateMessage_ = 0;
    Subclasser subclass_;
    WideString title_;
    WideString information_;
    WideString restartText_;
    WideString helpLink_;
    WideString programToRun_;
    WideString programDigest_;
    HKEY stateRoot_ = nullptr;
    WideString stateSubkey_;
    int showingQuestion_ = 0;
    int inStartOrStop_ = 0;              // main thread only
    mutable volatile LONG stopping_ = 0; // set on the main thread, read by the worker
    HttpClient http_;
    WorkerThread worker_;
};

// The user's language as a two-letter code; "en" when the system has none.
void UserLanguageCode(WideString& code);
