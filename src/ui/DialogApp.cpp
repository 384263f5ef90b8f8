#include "ui/DialogApp.h"

#include <wchar.h>
#include <utility>

#include "system/Registry.h"
#include "ui/DialogTemplate.h"
#include "ui/Dpi.h"
#include "ui/Layout.h"

namespace {

// DPI awareness contexts and the dialog manager's DPI behaviour (Windows 10).
const HANDLE kPerMonitorAwareV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
const HANDLE kPerMonitorAware = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3));
constexpr int kDialogDpiChangeDisableAll = 0x1;

template <typename Function> Function User32Entry(const DynamicLibrary& user32, const char* name)
{
    return user32.Symbol<Function>(name);
}

// The dialog manager of Windows 10 rescales a per-monitor dialog's font and
// controls by itself; the dialog does it here, anchors included, so the
// automatic way is switched off.
void TakeOverDpiChanges(HWND dialog)
{
    DynamicLibrary user32(L"user32.dll");
    auto setBehavior =
        User32Entry<BOOL(WINAPI*)(HWND, int, int)>(user32, "SetDialogDpiChangeBehavior");
    if (setBehavior) {
        setBehavior(dialog, kDialogDpiChangeDisableAll, kDialogDpiChangeDisableAll);
    }
}

} // namespace

DialogApp::~DialogApp()
{
    EndWindow(0);
}

int DialogApp::OnInitDialog()
{
    return 1;
}

int DialogApp::CanClose(INT_PTR)
{
    return 1;
}

INT_PTR DialogApp::OnCommand(int id, WPARAM, LPARAM)
{
    if (id == IDCANCEL || id == IDCLOSE) {
        EndWindow(0);
        return 1;
    }
    return 0;
}

INT_PTR DialogApp::OnClose()
{
    EndWindow(0);
    return 1;
}

INT_PTR DialogApp::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_WINDOWPOSCHANGING:
        if (lParam) {
            ApplyMinimumSize(*reinterpret_cast<WINDOWPOS*>(lParam), minimumWidth_, minimumHeight_);
        }
        return 1;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDCLOSE) {
            EndWindow(0);
            return 1;
        }
        return 0;
    case kWmDpiChanged:
        HandleDpiChange(DpiFromMessage(wParam), reinterpret_cast<const RECT*>(lParam));
        SetMessageResult(0);
        return 1;
    default:
        return 0;
    }
}

INT_PTR DialogApp::OnDestroy()
{
    return OnMessage(WM_DESTROY, 0, 0);
}

void DialogApp::OnDpiChanging(int, int)
{
}

void DialogApp::OnDpiChanged(int, int)
{
}

void DialogApp::HandleDpiChange(int newDpi, const RECT* suggested)
{
    const int oldDpi = dpi_;
    if (newDpi > 0 && newDpi != oldDpi) {
        dpi_ = newDpi;
        UpdateMinimumSize();
        RescaleDialogFont(oldDpi, newDpi);
        if (iconId_) {
            SetIcon(iconId_);
        }
        OnDpiChanging(oldDpi, newDpi);
    }
    if (suggested) {
        SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (newDpi > 0 && newDpi != oldDpi) {
        OnDpiChanged(oldDpi, newDpi);
    }
}

void DialogApp::RescaleDialogFont(int oldDpi, int newDpi)
{
    const auto current = reinterpret_cast<HFONT>(SendMessageW(window_, WM_GETFONT, 0, 0));
    HFONT used = dpiFont_ ? dpiFont_.Get() : current;
    LOGFONTW logFont = {};
    if (!used || !GetObjectW(used, sizeof(logFont), &logFont)) {
        return;
    }
    logFont.lfHeight = RescaleFontHeight(logFont.lfHeight, oldDpi, newDpi);
    ScopedFont font(CreateFontIndirectW(&logFont));
    if (!font) {
        return;
    }
    // Controls with a font of their own keep it; their owners remake it.
    for (HWND child = GetWindow(window_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)) == used) {
            SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
        }
    }
    // The old font is deleted only now that no control uses it.
    dpiFont_ = std::move(font);
}

void DialogApp::EndWindow(INT_PTR result)
{
    if (!window_ || !CanClose(result)) {
        return;
    }
    EndDialog(window_, result);
    window_ = nullptr;
}

void DialogApp::SetMessageResult(LRESULT result)
{
    if (window_) {
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, result);
    }
}

int DialogApp::MakeDpiAware()
{
    DynamicLibrary user32(L"user32.dll");
    auto setContext = User32Entry<BOOL(WINAPI*)(HANDLE)>(user32, "SetProcessDpiAwarenessContext");
    if (setContext) {
        for (HANDLE context : {kPerMonitorAwareV2, kPerMonitorAware}) {
            if (setContext(context)) {
                return 1;
            }
            // The manifest has set the awareness already.
            if (GetLastError() == ERROR_ACCESS_DENIED) {
                return 1;
            }
        }
    }
    auto setProcessDpiAware = User32Entry<BOOL(WINAPI*)()>(user32, "SetProcessDPIAware");
    return setProcessDpiAware && setProcessDpiAware() ? 1 : 0;
}

void DialogApp::InitCommonControlsOnce()
{
    if (!commonControls_.Handle() && commonControls_.Load(L"comctl32.dll")) {
        initCommonControlsEx_ =
            commonControls_.Symbol<decltype(initCommonControlsEx_)>("InitCommonControlsEx");
    }
    INITCOMMONCONTROLSEX classes = {sizeof(classes), 0x7FFF};
    if (!initCommonControlsEx_ || !initCommonControlsEx_(&classes)) {
        const auto initCommonControls =
            commonControls_.Symbol<decltype(&::InitCommonControls)>("InitCommonControls");
        if (initCommonControls) {
            initCommonControls();
        }
    }
}

INT_PTR DialogApp::Run(HINSTANCE instance, int dialogId, DWORD options, HWND parent)
{
    options_ = options;
    instance_ = instance;
    MakeDpiAware();
    InitCommonControlsOnce();

    const wchar_t* resource = MAKEINTRESOURCEW(dialogId);
    const LPARAM self = reinterpret_cast<LPARAM>(this);
    DialogTemplate dialogTemplate;
    if (LoadDialogTemplate(instance, resource, 0, (options & DIALOG_PREFER_SHELL_FONT) ? 1 : 0,
                           dialogTemplate)) {
        return DialogBoxIndirectParamW(instance, dialogTemplate.Get(), parent, DialogProcedure,
                                       self);
    }
    return DialogBoxParamW(instance, resource, parent, DialogProcedure, self);
}

INT_PTR CALLBACK DialogApp::DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
        auto* app = reinterpret_cast<DialogApp*>(lParam);
        if (!app) {
            return 0;
        }
        app->window_ = window;
        app->dpi_ = WindowDpi(window);
        TakeOverDpiChanges(window);
        int result = app->OnInitDialog();
        if (result == 0) {
            app->EndWindow(-1);
            return 0;
        }
        // 2: the operation has placed the focus itself.
        return result == 2 ? 0 : 1;
    }
    auto* app = reinterpret_cast<DialogApp*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return app ? app->Route(message, wParam, lParam) : 0;
}

INT_PTR DialogApp::Route(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        return OnDestroy();
    case WM_CLOSE:
        return OnClose();
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam), wParam, lParam);
    case WM_NCDESTROY: {
        // A window destroyed without EndWindow (its owner went away) must
        // not be used by this object any more.
        HWND window = window_;
        INT_PTR result = OnMessage(message, wParam, lParam);
        if (window) {
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        }
        window_ = nullptr;
        return result;
    }
    default:
        return OnMessage(message, wParam, lParam);
    }
}

void ApplyMinimumSize(WINDOWPOS& position, int minimumWidth, int minimumHeight)
{
    if (position.flags & SWP_NOSIZE) {
        return;
    }
    if (minimumWidth != -1 && position.cx < minimumWidth) {
        position.cx = minimumWidth;
    }
    if (minimumHeight != -1 && position.cy < minimumHeight) {
        position.cy = minimumHeight;
    }
}

namespace {

// Capacity of the placement text read back, with its terminator.
constexpr DWORD kPlacementTextCapacity = 260;

} // namespace

int DialogApp::SavePlacement(HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                             const RECT* rectangle, DWORD flags)
{
    RegistryKey key;
    if (!key.Create(root, subkey)) {
        return 0;
    }
    SavedPlacement placement = {};
    if (rectangle) {
        placement.showCommand = SW_SHOW;
        placement.normal = *rectangle;
    } else {
        WINDOWPLACEMENT current = {};
        current.length = sizeof(current);
        if (!GetWindowPlacement(window_, &current)) {
            return 0;
        }
        int visible = (GetWindowLongPtrW(window_, GWL_STYLE) & WS_VISIBLE) != 0;
        placement.showCommand =
            ShowCommandToSave(static_cast<int>(current.showCmd), visible, flags);
        placement.normal = current.rcNormalPosition;
    }
    WideString text;
    if (!FormatPlacement(placement, text)) {
        return 0;
    }
    int written = key.WriteString(valueName, text.Data());
    key.Close();
    return written;
}

int DialogApp::RestorePlacement(HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                                DWORD flags)
{
    wchar_t text[kPlacementTextCapacity] = {};
    {
        RegistryKey key;
        if (!key.Open(root, subkey) ||
            !key.ReadStringFixed(valueName, text, kPlacementTextCapacity)) {
            return 0;
        }
    }
    SavedPlacement saved = {};
    if (!ParsePlacement(text, saved)) {
        return 0;
    }
    int show = ShowCommandToRestore(saved.showCommand, flags);
    RECT rect = saved.normal;
    if (flags & (PLACE_KEEP_SIZE | PLACE_KEEP_POSITION)) {
        WINDOWPLACEMENT current = {};
        current.length = sizeof(current);
        if (GetWindowPlacement(window_, &current)) {
            rect = KeepCurrentParts(rect, current.rcNormalPosition, flags);
        }
    }
    if (!(flags & PLACE_NO_MONITOR_CHECK)) {
        KeepOnMonitor(rect, flags);
    }

    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    placement.showCmd = static_cast<UINT>(show);
    placement.rcNormalPosition = rect;
    const int dpiBefore = dpi_;
    if (!SetWindowPlacement(window_, &placement)) {
        return 0;
    }
    // On a monitor of another DPI the window took the size WM_DPICHANGED
    // suggested (the saved one rescaled); the saved size was measured on
    // that monitor already, so it is set once more.
    if (dpi_ != dpiBefore && !SetWindowPlacement(window_, &placement)) {
        return 0;
    }
    // A maximised window already fills its monitor.
    if (!(flags & PLACE_NO_REPOSITION) && show != SW_SHOWMAXIMIZED) {
        SendMessageW(window_, DM_REPOSITION, 0, 0);
    }
    return 1;
}

void DialogApp::SetMinimumSize(int width, int height, int inDialogUnits)
{
    RECT client = {0, 0, width, height};
    if (inDialogUnits == 1 && !MapDialogRect(window_, &client)) {
        return;
    }
    minimumClient_ = {client.right, client.bottom};
    minimumIsOuter_ = inDialogUnits != 1;
    minimumDpi_ = dpi_;
    UpdateMinimumSize();
}

void DialogApp::UpdateMinimumSize()
{
    if (!minimumDpi_) {
        return;
    }
    RECT rect = {0, 0, RescaleForDpi(minimumClient_.cx, minimumDpi_, dpi_),
                 RescaleForDpi(minimumClient_.cy, minimumDpi_, dpi_)};
    if (minimumIsOuter_) {
        minimumWidth_ = rect.right;
        minimumHeight_ = rect.bottom;
        return;
    }
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE));
    if (AdjustWindowRectForDpi(rect, style, exStyle, dpi_)) {
        minimumWidth_ = rect.right - rect.left;
        minimumHeight_ = rect.bottom - rect.top;
    }
}

namespace {

HICON LoadIconSized(HINSTANCE instance, UINT iconId, int width, int height)
{
    return static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(iconId), IMAGE_ICON, width, height, LR_DEFAULTCOLOR));
}

} // namespace

void DialogApp::SetIcon(UINT iconId)
{
    // Each old icon is destroyed only after the window has let go of it.
    iconId_ = iconId;
    ScopedIcon small(LoadIconSized(instance_, iconId, MetricForDpi(SM_CXSMICON, dpi_),
                                   MetricForDpi(SM_CYSMICON, dpi_)));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.Get()));
    smallIcon_ = std::move(small);

    ScopedIcon large(LoadIconSized(instance_, iconId,
                                   StandardIconSize(MetricForDpi(SM_CXICON, dpi_)),
                                   StandardIconSize(MetricForDpi(SM_CYICON, dpi_))));
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large.Get()));
    largeIcon_ = std::move(large);
}

int DialogApp::SetText(const wchar_t* text)
{
    return SetWindowTextW(window_, text) ? 1 : 0;
}

HWND DialogApp::Control(int id) const
{
    return GetDlgItem(window_, id);
}

int DialogApp::SetCheck(int id, int state)
{
    return CheckDlgButton(window_, id, state == 1 ? BST_CHECKED : BST_UNCHECKED) ? 1 : 0;
}

int DialogApp::IsChecked(int id) const
{
    return IsDlgButtonChecked(window_, id) == BST_CHECKED ? 1 : 0;
}
