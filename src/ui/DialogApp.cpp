#include "ui/DialogApp.h"

#include <wchar.h>

#include "ui/VersionInfo.h"

// ---------------------------------------------------------------------------
// DialogApp

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
    default:
        return 0;
    }
}

INT_PTR DialogApp::OnDestroy()
{
    return OnMessage(WM_DESTROY, 0, 0);
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
    auto setProcessDpiAware = user32.Symbol<BOOL(WINAPI*)()>("SetProcessDPIAware");
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
        InitCommonControls();
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

// ---------------------------------------------------------------------------
// Subclasser

namespace {

const wchar_t kSubclassPropertyPrefix[] = L"_C_SubClassing_Property_";
const size_t kSubclassPropertyPrefixLength = ARRAYSIZE(kSubclassPropertyPrefix) - 1;
// Its address marks a property value as a Subclasser record.
const char kSubclasserSignature = 0;
LONG gSubclassSequence = 0;

} // namespace

// The Subclasser records on one window, found through their properties,
// newest first.
struct SubclassRecords
{
    static constexpr int kCapacity = 16;
    Subclasser* records[kCapacity] = {};
    int count = 0;

    explicit SubclassRecords(HWND window)
    {
        EnumPropsExW(window, Collect, reinterpret_cast<LPARAM>(this));
        SortNewestFirst();
    }

    static BOOL CALLBACK Collect(HWND window, LPWSTR name, HANDLE data, ULONG_PTR context)
    {
        auto* self = reinterpret_cast<SubclassRecords*>(context);
        if (IS_INTRESOURCE(name) ||
            wcsncmp(name, kSubclassPropertyPrefix, kSubclassPropertyPrefixLength) != 0) {
            return TRUE;
        }
        auto* record = static_cast<Subclasser*>(data);
        if (record && record->signature_ == &kSubclasserSignature && record->window_ == window &&
            self->count < kCapacity) {
            self->records[self->count++] = record;
        }
        return TRUE;
    }

    void SortNewestFirst()
    {
        for (int i = 1; i < count; ++i) {
            for (int j = i; j > 0 && records[j - 1]->sequence_ < records[j]->sequence_; --j) {
                Subclasser* swap = records[j];
                records[j] = records[j - 1];
                records[j - 1] = swap;
            }
        }
    }

    // The newest record attached before the given sequence number.
    Subclasser* NewestBefore(LONG sequence) const
    {
        for (int i = 0; i < count; ++i) {
            if (records[i]->sequence_ < sequence) {
                return records[i];
            }
        }
        return nullptr;
    }

    // The oldest record attached after the given one.
    Subclasser* DirectlyAbove(const Subclasser* record) const
    {
        Subclasser* above = nullptr;
        for (int i = 0; i < count && records[i]->sequence_ > record->sequence_; ++i) {
            above = records[i];
        }
        return above;
    }
};

void Subclasser::PropertyName(DWORD tag, WideString& name)
{
    Format(name, L"_C_SubClassing_Property_%08X", static_cast<unsigned>(tag));
}

int Subclasser::Attach(HWND window, Callback callback, void* context, DWORD tag)
{
    if (IsAttached() || !window || !callback) {
        return 0;
    }
    WideString name;
    PropertyName(tag, name);
    if (GetPropW(window, name.Data())) {
        return 0;
    }
    // Records chain to each other only when nothing foreign sits between
    // them; otherwise a message could not find its way down.
    SubclassRecords existing(window);
    if (existing.count > 0 &&
        GetWindowLongPtrW(window, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(SubclassProcedure)) {
        return 0;
    }

    signature_ = &kSubclasserSignature;
    callback_ = callback;
    context_ = context;
    window_ = window;
    tag_ = tag;
    sequence_ = InterlockedIncrement(&gSubclassSequence);
    // The property goes first, so the procedure finds the record from its
    // very first message.
    if (!SetPropW(window, name.Data(), this)) {
        signature_ = nullptr;
        window_ = nullptr;
        return 0;
    }
    previous_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubclassProcedure)));
    if (!previous_) {
        RemovePropW(window, name.Data());
        signature_ = nullptr;
        window_ = nullptr;
        return 0;
    }
    return 1;
}

int Subclasser::Detach()
{
    if (!previous_) {
        return 0;
    }
    SubclassRecords records(window_);
    if (Subclasser* above = records.DirectlyAbove(this)) {
        above->previous_ = previous_;
    } else {
        SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
    }
    WideString name;
    PropertyName(tag_, name);
    RemovePropW(window_, name.Data());
    previous_ = nullptr;
    signature_ = nullptr;
    window_ = nullptr;
    return 1;
}

LRESULT CALLBACK Subclasser::SubclassProcedure(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam)
{
    SubclassRecords records(window);
    if (records.count == 0) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return Dispatch(records.records[0], window, message, wParam, lParam);
}

LRESULT Subclasser::Dispatch(Subclasser* record, HWND window, UINT message, WPARAM wParam,
                             LPARAM lParam)
{
    // The callback may detach or even delete its record: keep what the
    // message still needs.
    const WNDPROC previous = record->previous_;
    const LONG sequence = record->sequence_;
    LRESULT result = 0;
    if (record->callback_(window, message, wParam, lParam, &result, record->context_)) {
        return result;
    }
    if (previous == SubclassProcedure) {
        SubclassRecords records(window);
        if (Subclasser* below = records.NewestBefore(sequence)) {
            return Dispatch(below, window, message, wParam, lParam);
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return previous ? CallWindowProcW(previous, window, message, wParam, lParam) : 0;
}
