#include "update/AutoUpdater.h"

#include <string>

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

const wchar_t kSerialValue[] = L"UpdateSerial";
constexpr DWORD kClosingSliceMs = 50;

DWORD CurrentUnixTime()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return UnixTimeOf(now);
}

// Seconds since 1970, beyond 2106 too.
unsigned long long CurrentUnixTime64()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks =
        (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr unsigned long long kEpochDifference = 116444736000000000ULL;
    return ticks < kEpochDifference ? 0 : (ticks - kEpochDifference) / 10000000ULL;
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

// What one check has learnt so far. The node is released before its
// document.
struct AutoUpdater::Progress
{
    wchar_t modulePath[MAX_PATH] = {};
    wchar_t folder[MAX_PATH] = {};
    WideString version;
    unsigned major = 0;
    unsigned minor = 0;
    WideString language;
    XmlDocument document;
    XmlNode base;
    WideString offered;
};

AutoUpdater::~AutoUpdater()
{
    Cancel();
    WaitWhileClosing();
    worker_.Stop();
    subclass_.Detach();
}

// Closing must not wait for a server: WinINet cannot always cancel a
// transfer (Wine finishes a read that is under way), so a check that is
// still in one after the bound is left to be ended.
void AutoUpdater::WaitWhileClosing()
{
    const DWORD start = GetTickCount();
    while (worker_.IsRunning() && !worker_.Wait(kClosingSliceMs)) {
        if (http_.IsTransferring() && GetTickCount() - start >= UPDATE_CLOSING_PATIENCE_MS) {
            return;
        }
    }
}

int AutoUpdater::Start(HWND mainWindow, const UpdateCheckOptions& options)
{
    // Stop pumps messages while it waits: a second tick of the checkbox
    // arrives in here again and must not start a check over this one.
    if (inStartOrStop_) {
        return 0;
    }
    inStartOrStop_ = 1;
    const int started = StartCheck(mainWindow, options);
    inStartOrStop_ = 0;
    return started;
}

int AutoUpdater::StartCheck(HWND mainWindow, const UpdateCheckOptions& options)
{
    Stop();
    InterlockedExchange(&stopping_, 0);
    http_.AllowTransfers();
    showingQuestion_ = 0;
    window_ = mainWindow;
    baseUrl_.Assign(options.baseUrl ? options.baseUrl : L"");
    root_ = options.root;
    subkey_.Assign(options.subkey ? options.subkey : L"");
    valueName_.Assign(options.valueName ? options.valueName : L"");
    flags_ = options.flags;
    itemType_.Assign(options.itemType ? options.itemType : L"");
    itemName_.Assign(options.itemName ? options.itemName : L"");
    keys_ = options.keys;
    stateRoot_ = options.stateRoot;
    stateSubkey_.Assign(options.stateSubkey ? options.stateSubkey : L"");
    programToRun_.Assign(L"");
    programDigest_.Assign(L"");

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
    // Without the subclass no question could be asked.
    if (!updateMessage_ || (!subclass_.IsAttached() &&
                            !subclass_.Attach(window_, HandleMessage, this, UPDATE_SUBCLASS_TAG))) {
        return 0;
    }
    if (flags_ & UPDATE_NO_WORKER) {
        return 1;
    }
    return worker_.Start(Run, this, 0);
}

void AutoUpdater::Cancel()
{
    InterlockedExchange(&stopping_, 1);
    http_.CancelTransfers();
}

void AutoUpdater::Stop()
{
    const int outer = inStartOrStop_;
    inStartOrStop_ = 1;
    if (worker_.IsRunning()) {
        worker_.Wait(0);
    }
    subclass_.Detach();
    inStartOrStop_ = outer;
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
    Progress progress;
    if (!FetchAnswer(progress) || !AskToInstall(progress) || !Install(progress) ||
        !AskToRestart(progress)) {
        return 0;
    }
    return Restart(progress);
}

// Who is asking, the request, and the answer as far as it can be trusted.
int AutoUpdater::FetchAnswer(Progress& progress)
{
    // Without its folder every path would be relative to the current
    // directory, and version 0.0 would take any offer for newer.
    const int versionRead =
        ModuleFileName(nullptr, progress.modulePath) && ModuleDirectory(nullptr, progress.folder) &&
        ReadFileVersion(progress.modulePath, progress.major, progress.minor, &progress.version);
    if (!IsUsableProgram(progress.modulePath, progress.folder, versionRead, progress.major,
                         progress.minor)) {
        return 0;
    }
    // A download that closing cut short leaves its "_new" file behind.
    WideString unfinished;
    if (DecorateFileName(progress.modulePath, L"_new", unfinished)) {
        DeleteFileForced(unfinished.Data());
    }
    UserLanguageCode(progress.language);
    WideString request;
    BuildRequest(progress, request);
    GetTextRequest get;
    get.url = request.Data();
    get.agent = kAgent;
    // One byte more than the limit tells an answer that is too long.
    get.byteLimit = UPDATE_ANSWER_LIMIT + 1;
    get.callback = UpdateTrafficPolicy;
    WideString answer;
    if (IsStopping() || !http_.GetText(get, answer) || answer.Length() > UPDATE_ANSWER_LIMIT) {
        return 0;
    }
    return LoadAnswer(progress, answer);
}

// The address of the check, in the plain or the inventory form.
void AutoUpdater::BuildRequest(const Progress& progress, WideString& request) const
{
    WideString machineId;
    MachineId(MACHINE_ID_UPDATE, machineId);
    if (!(flags_ & UPDATE_INVENTORY_REQUEST)) {
        BuildPlainRequest(baseUrl_.Data(), progress.version.Data(), machineId.Data(), request);
        return;
    }
    InventoryRequest inventory;
    inventory.baseUrl = baseUrl_.Data();
    inventory.language = progress.language.Data();
    inventory.machineId = machineId.Data();
    inventory.itemType = itemType_.Data();
    inventory.itemName = itemName_.Data();
    inventory.version = progress.version.Data();
    BuildInventoryRequest(inventory, request);
}

// Reads nothing from an answer before its signature is checked; the XML
// engine sees only the signed bytes.
int AutoUpdater::LoadAnswer(Progress& progress, const WideString& answer)
{
    std::string bytes;
    std::string document;
    WideString text;
    if (!BytesOfWidenedText(answer, bytes) || !OpenUpdateAnswer(keys_, bytes, document) ||
        !AppendBytesWidened(text, reinterpret_cast<const BYTE*>(document.data()),
                            static_cast<DWORD>(document.size())) ||
        !progress.document.Create(XML_UPDATE_ANSWER_FLAGS) ||
        !progress.document.LoadFromText(text.Data())) {
        return 0;
    }
    if (flags_ & UPDATE_INVENTORY_REQUEST) {
        progress.base = progress.document.SelectOrCreate(kInventoryBase);
        if (!progress.base) {
            return 0;
        }
    }
    return !HasUpdateKeys(keys_) || IsFreshAnswer(progress);
}

// A signed answer must be meant for this program and this build, and be
// neither expired nor older than one accepted before: a replayed old answer
// could otherwise hold users on a version with a known hole.
int AutoUpdater::IsFreshAnswer(Progress& progress)
{
    IUnknown* base = progress.base.Get();
    WideString application;
    WideString platform;
    WideString expires;
    WideString serialText;
    WideString product;
    AnswerClaims claims;
    if (progress.document.GetValue(L"update\\application", application, base)) {
        claims.application = application.Data();
    }
    if (progress.document.GetValue(L"update\\platform", platform, base)) {
        claims.platform = platform.Data();
    }
    if (progress.document.GetValue(L"update\\expires", expires, base)) {
        claims.expires = expires.Data();
    }
    if (progress.document.GetValue(L"update\\serial", serialText, base)) {
        claims.serial = serialText.Data();
    }
    const bool keepsSerial = stateRoot_ && !stateSubkey_.IsEmpty();
    const DWORD highest =
        keepsSerial ? ReadDwordValue(stateRoot_, stateSubkey_.Data(), kSerialValue, 0) : 0;
    DWORD serial = 0;
    if (!ReadVersionString(product, L"ProductName", progress.modulePath) ||
        JudgeAnswerClaims(claims, product.Data(), UPDATE_PLATFORM, CurrentUnixTime64(), highest,
                          serial) != AnswerVerdict::Accepted) {
        return 0;
    }
    if (keepsSerial && serial > highest) {
        WriteDwordValue(stateRoot_, stateSubkey_.Data(), kSerialValue, serial);
    }
    return 1;
}

int AutoUpdater::AskToInstall(Progress& progress)
{
    IUnknown* base = progress.base.Get();
    unsigned offeredMajor = 0;
    unsigned offeredMinor = 0;
    if (!ReadAnswer(progress.document, base, progress.language.Data()) ||
        !progress.document.GetValue(L"update\\version", progress.offered, base) ||
        !ParseOfferedVersion(progress.offered.Data(), offeredMajor, offeredMinor) ||
        !IsNewerVersion(offeredMajor, offeredMinor, progress.major, progress.minor) ||
        IsDeclined(progress.offered)) {
        return 0;
    }
    const LRESULT answer = AskFromWorker(UPDATE_ASK_INSTALL);
    if (answer == UPDATE_ANSWER_NO) {
        Decline(progress.offered);
    }
    return answer == UPDATE_ANSWER_YES;
}

int AutoUpdater::Install(Progress& progress)
{
    UpdateFileList files;
    wchar_t desktop[MAX_PATH] = {};
    ReadUpdateFileList(progress.document, progress.base.Get(), files);
    GetFolderPath(0, desktop);
    // A signed answer binds every download to itself by its digest.
    return !IsStopping() && IsSafeFileList(files, progress.folder, HasUpdateKeys(keys_)) &&
           RunFileWalks(files, progress.folder, desktop, http_, programToRun_, &programDigest_);
}

int AutoUpdater::AskToRestart(Progress& progress)
{
    if (!ReadLocalised(progress.document, progress.base.Get(), L"update\\restart",
                       progress.language.Data(), restartText_)) {
        return 0;
    }
    if (restartText_.IsEmpty()) {
        return !IsStopping();
    }
    return AskFromWorker(UPDATE_ASK_RESTART) == UPDATE_ANSWER_YES;
}

int AutoUpdater::Restart(const Progress& progress)
{
    if (!programToRun_.IsEmpty()) {
        // Started only as it was checked: a file changed on the desktop
        // since its download is not run.
        if (!RunCheckedProgram(programToRun_.Data(), programDigest_.Data())) {
            return 0;
        }
    } else {
        ShellRun(progress.modulePath, nullptr, progress.folder, SW_SHOWDEFAULT, 0, L"open");
    }
    PostMessageW(window_, WM_CLOSE, 0, 0);
    return 1;
}

// Questions reach the window's thread through the subclass; a closing
// window asks nothing more.
LRESULT AutoUpdater::AskFromWorker(WPARAM question)
{
    return IsStopping() ? 0 : SendMessageW(window_, updateMessage_, question, 0);
}

LRESULT AutoUpdater::Ask(WPARAM question)
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
    const int answer = MessageBoxW(window_, text->Data(), title_.Data(), style);
    showingQuestion_ = 0;
    if (answer == IDYES) {
        return UPDATE_ANSWER_YES;
    }
    return answer == IDNO ? UPDATE_ANSWER_NO : 0;
}

int AutoUpdater::HandleMessage(HWND, UINT message, WPARAM wParam, LPARAM, LRESULT* result,
                               void* context)
{
    auto* updater = static_cast<AutoUpdater*>(context);
    if (message == updater->updateMessage_ && updater->updateMessage_) {
        *result = updater->IsStopping() ? 0 : updater->Ask(wParam);
        return 1;
    }
    if (message == WM_HELP && updater->showingQuestion_) {
        // The link comes from the server: only a web address is opened,
        // and only in the browser, never run as a program.
        if (IsWebAddress(updater->helpLink_.Data())) {
            OpenUrl(updater->helpLink_.Data());
        }
        *result = 1;
        return 1;
    }
    if (message == WM_DESTROY) {
        // The window goes: the pending check ends without asking,
        // downloading or restarting anything.
        updater->Cancel();
    }
    return 0;
}
