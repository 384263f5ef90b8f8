#pragma once

#include <windows.h>

#include "base/WideString.h"
#include "net/HttpClient.h"
#include "system/WorkerThread.h"
#include "ui/Subclasser.h"

class XmlDocument;

// Start flags.
constexpr DWORD UPDATE_INVENTORY_REQUEST = 0x1; // inventory form, answer under Elmstead
constexpr DWORD UPDATE_NO_WORKER = 0x2;         // subclass only, no check

// Tag of the main window's subclass ("aupp").
constexpr DWORD UPDATE_SUBCLASS_TAG = 0x61757570;
// wParam of the update message: which question to show.
constexpr WPARAM UPDATE_ASK_INSTALL = 0;
constexpr WPARAM UPDATE_ASK_RESTART = 1;

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
};

// The weekly (or forced) update check of one main window. The check runs on
// a worker thread; its questions are shown on the window's own thread,
// which the worker reaches by sending the registered message
// "_C_AutoUpdate" to the window it has subclassed.
class AutoUpdater
{
public:
    AutoUpdater() = default;
    // Stops the check (ending a worker that still runs) and gives the
    // window its procedure back.
    ~AutoUpdater();
    AutoUpdater(const AutoUpdater&) = delete;
    AutoUpdater& operator=(const AutoUpdater&) = delete;

    // 1 when a check was started (or, with UPDATE_NO_WORKER, would have
    // been).
    int Start(HWND mainWindow, const UpdateCheckOptions& options);
    // Waits, with the window's messages flowing and without a time limit,
    // for a running check; then restores the window's procedure.
    void Stop();
    // Waits at most the given time for a running check; 1 when it ended.
    int Wait(DWORD milliseconds);
    // 1 when the last check ended by restarting the application.
    DWORD Result() const { return worker_.Result(); }
    UINT UpdateMessage() const { return updateMessage_; }

private:
    static DWORD Run(void* updater, DWORD value);
    static int HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                             LRESULT* result, void* context);
    DWORD Check();
    int ReadAnswer(XmlDocument& document, IUnknown* base, const wchar_t* language);
    int IsDeclined(const WideString& offered) const;
    void Decline(const WideString& offered) const;
    int Ask(WPARAM question);
    void Restart();
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
    UINT updateMessage_ = 0;
    Subclasser subclass_;
    WideString title_;
    WideString information_;
    WideString restartText_;
    WideString helpLink_;
    WideString programToRun_;
    int showingQuestion_ = 0;
    HttpClient http_;
    WorkerThread worker_;
};

// The user's language as a two-letter code; "en" when the system has none.
void UserLanguageCode(WideString& code);
