#pragma once

#include <windows.h>

#include "MessagePump.h"

// A shown top-level popup window, destroyed with the object. Given a window
// procedure it registers its own class first (which fails harmlessly from the
// second window on); without one, className names an existing class.
class TestWindow
{
public:
    TestWindow(const wchar_t* className, WNDPROC procedure, RECT bounds, DWORD exStyle = 0)
    {
        const HINSTANCE instance = GetModuleHandleW(nullptr);
        if (procedure) {
            WNDCLASSW windowClass = {};
            windowClass.lpfnWndProc = procedure;
            windowClass.hInstance = instance;
            windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
            windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
            windowClass.lpszClassName = className;
            RegisterClassW(&windowClass);
        }
        window_ = CreateWindowExW(exStyle, className, L"test", WS_POPUP | WS_VISIBLE, bounds.left,
                                  bounds.top, bounds.right - bounds.left,
                                  bounds.bottom - bounds.top, nullptr, nullptr, instance, nullptr);
        UpdateWindow(window_);
    }
    ~TestWindow()
    {
        DestroyWindow(window_);
        PumpMessagesFor(20);
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND Handle() const { return window_; }

private:
    HWND window_ = nullptr;
};
