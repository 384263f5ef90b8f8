#include "ui/Subclasser.h"

namespace {

// The newest Subclasser record of a window. The per-tag properties mark
// which tags a window has taken; this one lets the shared window procedure
// find its records with one lookup per message.
const wchar_t kSubclassTopProperty[] = L"_C_SubClassing_Top";

Subclasser* TopRecord(HWND window)
{
    return static_cast<Subclasser*>(GetPropW(window, kSubclassTopProperty));
}

// Window properties live in the window manager (under Wine every lookup is
// a round trip to the server), and a subclassed tree sees thousands of
// messages per refill. So each thread remembers the last window's newest
// record until any chain changes or a subclassed window goes away.
volatile LONG gChainGeneration = 0;

struct TopRecordCache
{
    HWND window;
    Subclasser* top;
    LONG generation;
};
thread_local TopRecordCache tTopRecordCache = {};

void ChainChanged()
{
    InterlockedIncrement(&gChainGeneration);
}

Subclasser* CachedTopRecord(HWND window)
{
    // Read before the lookup: a change in between only makes the entry stale.
    const LONG generation = gChainGeneration;
    TopRecordCache& cache = tTopRecordCache;
    if (cache.window != window || cache.generation != generation) {
        cache = {window, TopRecord(window), generation};
    }
    return cache.top;
}

} // namespace

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
    Subclasser* below = TopRecord(window);
    if (below &&
        GetWindowLongPtrW(window, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(SubclassProcedure)) {
        return 0;
    }
    // The properties go first, so the procedure finds the record from its
    // very first message.
    if (!SetPropW(window, name.Data(), this)) {
        return 0;
    }
    if (!SetPropW(window, kSubclassTopProperty, this)) {
        RemovePropW(window, name.Data());
        return 0;
    }
    ChainChanged();
    callback_ = callback;
    context_ = context;
    window_ = window;
    tag_ = tag;
    below_ = below;
    previous_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubclassProcedure)));
    if (!previous_) {
        Unlink();
        RemovePropW(window, name.Data());
        window_ = nullptr;
        return 0;
    }
    return 1;
}

// Takes this record out of its window's chain and hands its place on to the
// record below it.
void Subclasser::Unlink()
{
    ChainChanged();
    Subclasser* top = TopRecord(window_);
    if (top == this) {
        if (below_) {
            SetPropW(window_, kSubclassTopProperty, below_);
        } else {
            RemovePropW(window_, kSubclassTopProperty);
        }
        return;
    }
    for (Subclasser* above = top; above; above = above->below_) {
        if (above->below_ == this) {
            above->below_ = below_;
            above->previous_ = previous_;
            return;
        }
    }
}

int Subclasser::Detach()
{
    if (!previous_) {
        return 0;
    }
    if (TopRecord(window_) == this) {
        SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
    }
    Unlink();
    WideString name;
    PropertyName(tag_, name);
    RemovePropW(window_, name.Data());
    previous_ = nullptr;
    below_ = nullptr;
    window_ = nullptr;
    return 1;
}

LRESULT CALLBACK Subclasser::SubclassProcedure(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam)
{
    Subclasser* top = CachedTopRecord(window);
    if (message == WM_NCDESTROY) {
        // The handle may soon name another window.
        ChainChanged();
    }
    if (!top) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return Dispatch(top, window, message, wParam, lParam);
}

LRESULT Subclasser::Dispatch(Subclasser* record, HWND window, UINT message, WPARAM wParam,
                             LPARAM lParam)
{
    // The callback may detach or even delete its record: keep what the
    // message still needs.
    const WNDPROC previous = record->previous_;
    Subclasser* const below = record->below_;
    LRESULT result = 0;
    if (record->callback_(window, message, wParam, lParam, &result, record->context_)) {
        return result;
    }
    if (previous == SubclassProcedure) {
        return below ? Dispatch(below, window, message, wParam, lParam)
                     : DefWindowProcW(window, message, wParam, lParam);
    }
    return previous ? CallWindowProcW(previous, window, message, wParam, lParam) : 0;
}
