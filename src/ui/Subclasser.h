#pragma once

#include <windows.h>

#include "base/WideString.h"

// Hooks a window's procedure. Each user picks a 32-bit tag; the window
// carries the property "_C_SubClassing_Property_<tag>" while attached, and a
// window takes each tag only once. Several Subclassers with different tags
// may share one window: the last attached sees a message first.
class Subclasser
{
public:
    // Answers 1 when the message was handled; *result is then its result.
    using Callback = int (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                             LRESULT* result, void* context);

    Subclasser() = default;
    ~Subclasser() { Detach(); }
    Subclasser(const Subclasser&) = delete;
    Subclasser& operator=(const Subclasser&) = delete;

    int Attach(HWND window, Callback callback, void* context, DWORD tag);
    int Detach();
    bool IsAttached() const { return previous_ != nullptr; }
    HWND Window() const { return window_; }

    // The window property's name for a tag.
    static void PropertyName(DWORD tag, WideString& name);

private:
    static LRESULT CALLBACK SubclassProcedure(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam);
    static LRESULT Dispatch(Subclasser* record, HWND window, UINT message, WPARAM wParam,
                            LPARAM lParam);

    void Unlink();

    WNDPROC previous_ = nullptr;
    Callback callback_ = nullptr;
    void* context_ = nullptr;
    HWND window_ = nullptr;
    DWORD tag_ = 0;
    // The record attached to the same window before this one.
    Subclasser* below_ = nullptr;
};
