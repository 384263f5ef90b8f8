#include "update/AutoUpdater.h"

#include "net/XmlDocument.h"
#include "system/Files.h"
#include "system/MachineId.h"
#include "system/ModuleVersion.h"
#include "system/Registry.h"
#include "update/UpdateInstaller.h"
#include "update/UpdateRules.h"

namespace {

const wchar_t kAgent[] = L"AutoUpdate";
const wchar_t kInventoryBase[] = L"Elmstead\\Updates\\xml";

int AllowEverything(int, void*, void*)
{
    return 1;
}

DWORD CurrentUnixTime()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return UnixTimeOf(now);
}

} // namespace

void UserLanguageCode(WideString& code)
{
    wchar_t name[16] = {};
    LCID locale = MAKELCID(GetUserDefaultLangID(), SORT_DEFAULT);
    if (GetLocaleInfoW(locale, LOCALE_SISO639LANGNAME, name, 16) > 1) {
        code.Assign(name);
    } else {
        code.Assign(L"en");
    }
}

AutoUpdater::~AutoUpdater()
{
    Stop();
    worker_.Stop();
    subclass_.Detach();
}

int AutoUpdater::Start(HWND mainWindow, const UpdateCheckOptions& options)
{
    Stop();
    showingQuestion_ = 0;
    window_ = mainWindow;
    baseUrl_.Assign(options.baseUrl ? options.baseUrl : L"");
    root_ = options.root;
    subkey_.Assign(options.subkey ? options.subkey : L"");
    valueName_.Assign(options.valueName ? options.valueName : L"");
    flags_ = options.flags;
    itemType_.Assign(options.itemType ? options.itemType : L"");
    itemName_.Assign(options.itemName ? options.itemName : L"");
    programToRun_.Assign(L"");

    if (HasSchedule()) {
        DWORD lastCheck = ReadDwordValue(root_, subkey_.Data(), valueName_.Data(), 0);
        DWORD now = CurrentUnixTime();
        switch (ScheduleCheck(lastCheck, now)) {
        case CheckSchedule::SkipOnce:
            WriteDwordValue(root_, subkey_.Data(), valueName_.Data(), 0);
            return 0;
        case CheckSchedule::NotDue:
            return 0;
        case CheckSchedule::Due:
            WriteDwordValue(root_, subkey_.Data(), valueName_.Data(), now);
            break;
        }
    }
    updateMessage_ = RegisterWindowMessageW(L"_C_AutoUpdate");
    if (!subclass_.IsAttached()) {
        subclass_.Attach(window_, HandleMessage, this, UPDATE_SUBCLASS_TAG);
    }
    if (flags_ & UPDATE_NO_WORKER) {
        return 1;
    }
    return worker_.Start(Run, this, 0);
}

void AutoUpdater::Stop()
{
    if (worker_.IsRunning()) {
        worker_.Wait(0);
    }
    subclass_.Detach();
}

int AutoUpdater::Wait(DWORD milliseconds)
{
    return worker_.IsRunning() ? worker_.Wait(milliseconds) : 1;
}

DWORD AutoUpdater::Run(void* updater, DWORD)
{
    return static_cast<AutoUpdater*>(updater)->Check();
}

int AutoUpdater::ReadLocalised(XmlDocument& document, IUnknown* base, const wchar_t* path,
                               const wchar_t* language, WideString& text)
{
    WideString localPath;
    WideString found;
    Format(localPath, L"%s\\%s", path, language);
    if (!document.GetValue(localPath.Data(), found, base)) {
        Format(localPath, L"%s\\en", path);
        if (!document.GetValue(localPath.Data(), found, base)) {
            return 0;
        }
    }
    return RepairUtf8(found, text);
}

int AutoUpdater::ReadAnswer(XmlDocument& document, IUnknown* base, const wchar_t* language)
{
    document.GetValue(L"update\\application", title_, base);
    if (!ReadLocalised(document, base, L"update\\info", language, information_)) {
        return 0;
    }
    document.GetValue(L"update\\help", helpLink_, base);
    return 1;
}

int AutoUpdater::IsDeclined(const WideString& offered) const
{
    if (!HasSchedule()) {
        return 0;
    }
    WideString name;
    WideString declined;
    Format(name, L"%sVersion", valueName_.Data());
    ReadStringValue(root_, subkey_.Data(), name.Data(), declined, L"");
    return declined.Compare(offered.Data()) == 0;
}

void AutoUpdater::Decline(const WideString& offered) const
{
    if (!HasSchedule()) {
        return;
    }
    WideString name;
    Format(name, L"%sVersion", valueName_.Data());
    WriteStringValue(root_, subkey_.Data(), name.Data(), offered.Data());
}

DWORD AutoUpdater::Check()
{
    wchar_t modulePath[MAX_PATH] = {};
    wchar_t folder[MAX_PATH] = {};
    WideString version;
    unsigned major = 0;
    unsigned minor = 0;
    ModuleFileName(nullptr, modulePath);
    ModuleDirectory(nullptr, folder);
    ReadFileVersion(modulePath, major, minor, &version);

    WideString machineId;
    WideString language;
    WideString request;
    MachineId(MACHINE_ID_UPDATE, machineId);
    UserLanguageCode(language);
    if (flags_ & UPDATE_INVENTORY_REQUEST) {
        BuildInventoryRequest(baseUrl_.Data(), language.Data(), machineId.Data(), itemType_.Data(),
                              itemName_.Data(), version.Data(), request);
    } else {
        BuildPlainRequest(baseUrl_.Data(), version.Data(), machineId.Data(), request);
    }
    WideString answer;
    if (!http_.GetText(request.Data(), kAgent, answer, 0, nullptr, AllowEverything, nullptr)) {
        return 0;
    }

    XmlDocument document;
    if (!document.Create(XML_UPDATE_ANSWER_FLAGS) || !document.LoadFromText(answer.Data())) {
        return 0;
    }
    XmlNode base;
    if (flags_ & UPDATE_INVENTORY_REQUEST) {
        base = document.SelectOrCreate(kInventoryBase);
        if (!base) {
            return 0;
        }
    }
    WideString offered;
    unsigned offeredMajor = 0;
    unsigned offeredMinor = 0;
    if (!ReadAnswer(document, base.Get(), language.Data()) ||
        !document.GetValue(L"update\\version", offered, base.Get()) ||
        !ParseOfferedVersion(offered.Data(), offeredMajor, offeredMinor) ||
        !IsNewerVersion(offeredMajor, offeredMinor, major, minor) || IsDeclined(offered)) {
        return 0;
    }

    if (!SendMessageW(window_, updateMessage_, UPDATE_ASK_INSTALL, 0)) {
        Decline(offered);
        return 0;
    }
    UpdateFileList files;
    wchar_t desktop[MAX_PATH] = {};
    ReadUpdateFileList(document, base.Get(), files);
    GetFolderPath(0, desktop);
    if (!RunFileWalks(files, folder, desktop, http_, programToRun_)) {
        return 0;
    }
    if (!ReadLocalised(document, base.Get(), L"update\\restart", language.Data(), restartText_)) {
        return 0;
    }
    if (!restartText_.IsEmpty() && !SendMessageW(window_, updateMessage_, UPDATE_ASK_RESTART, 0)) {
        return 0;
    }
    Restart();
    return 1;
}

void AutoUpdater::Restart()
{
    if (!programToRun_.IsEmpty()) {
        ShellRun(programToRun_.Data(), nullptr, nullptr, SW_SHOWDEFAULT, 0, L"open");
    } else {
        wchar_t modulePath[MAX_PATH] = {};
        wchar_t folder[MAX_PATH] = {};
        ModuleFileName(nullptr, modulePath);
        ModuleDirectory(nullptr, folder);
        ShellRun(modulePath, nullptr, folder, SW_SHOWDEFAULT, 0, L"open");
    }
    PostMessageW(window_, WM_CLOSE, 0, 0);
}

int AutoUpdater::Ask(WPARAM question)
{
    UINT style = MB_YESNO | MB_ICONQUESTION;
    const WideString* text = &restartText_;
    if (question == UPDATE_ASK_INSTALL) {
        text = &information_;
        if (!helpLink_.IsEmpty()) {
            style |= MB_HELP;
        }
    }
    showingQuestion_ = 1;
    int answer = MessageBoxW(window_, text->Data(), title_.Data(), style);
    showingQuestion_ = 0;
    return answer == IDYES;
}

int AutoUpdater::HandleMessage(HWND, UINT message, WPARAM wParam, LPARAM, LRESULT* result,
                               void* context)
{
    auto* updater = static_cast<AutoUpdater*>(context);
    if (message == updater->updateMessage_ && updater->updateMessage_) {
        *result = updater->Ask(wParam);
        return 1;
    }
    if (message == WM_HELP && updater->showingQuestion_) {
        if (!updater->helpLink_.IsEmpty())
            ShellRun(updater->helpLink_.Data(), nullptr, nullptr, SW_SHOWDEFAULT, 0, L"open");
        *result = 1;
        return 1;
    }
    return 0;
}
