#pragma once

#include <windows.h>
#include <uxtheme.h>

#include "base/DynamicLibrary.h"
#include "base/WideString.h"

// The part of a theme that draws or measures a text, its state and the
// text flags.
struct ThemeText
{
    int part = 0;
    int state = 0;
    DWORD flags = 0;
    DWORD flags2 = 0; // DrawThemeText's second flags; measuring takes none
};

// Run-time access to the visual-style functions of uxtheme.dll, so the
// controls also run where visual styles do not exist. Every operation
// answers 0 when the library, the function or the theme is missing; the
// caller then draws the classic way. Belongs to the thread of its window.
class VisualStyle
{
public:
    VisualStyle() = default;
    ~VisualStyle() { Close(); }
    VisualStyle(const VisualStyle&) = delete;
    VisualStyle& operator=(const VisualStyle&) = delete;

    // Loads uxtheme.dll and opens the theme of the class list for the
    // window. A null class list opens no theme and still answers 1: the
    // object is then only a gateway to the functions that need no theme.
    // With a dpi the theme's metrics are those of that DPI where the system
    // can open a theme for a DPI (Windows 10 1703 and later), else the
    // window's.
    int Open(HWND window, const wchar_t* classList, int dpi = 0);
    // Closes the theme and unloads the library; window and class list are
    // kept for a later reopen.
    void Close();

    // Draws the part's background. A theme handle gone stale after a theme
    // change is reopened once while visual styles are still active.
    int DrawBackground(HDC dc, int part, int state, const RECT* rect);
    // (windows.h maps this name to DrawTextW; callers see the same mapping.)
    int DrawText(HDC dc, const ThemeText& how, const wchar_t* text, int length, const RECT* rect);
    // The size of text as DrawText draws it (in the theme's font, where the
    // theme names one).
    int TextExtent(HDC dc, const ThemeText& how, const wchar_t* text, int length, SIZE* extent);
    // Answers 1 whenever the function exists, whatever it returns.
    int SetWindowTheme(HWND window, const wchar_t* applicationName, const wchar_t* idList);
    int IsBackgroundPartiallyTransparent(int part, int state);
    int DrawParentBackground(HDC dc, const RECT* rect);
    // 1 when the stored window has a theme of its own.
    int HasWindowTheme();

    HTHEME Theme() const { return theme_; }
    HWND Window() const { return window_; }

private:
    friend struct VisualStyleTestAccess;

    using OpenThemeDataFunction = decltype(&::OpenThemeData);
    using OpenThemeDataForDpiFunction = HTHEME(WINAPI*)(HWND, LPCWSTR, UINT);
    using CloseThemeDataFunction = decltype(&::CloseThemeData);
    using IsThemeActiveFunction = decltype(&::IsThemeActive);
    using DrawThemeBackgroundFunction = decltype(&::DrawThemeBackground);
    using DrawThemeTextFunction = decltype(&::DrawThemeText);
    using GetThemeTextExtentFunction = decltype(&::GetThemeTextExtent);
    using SetWindowThemeFunction = decltype(&::SetWindowTheme);
    using IsThemeBackgroundPartiallyTransparentFunction =
        decltype(&::IsThemeBackgroundPartiallyTransparent);
    using DrawThemeParentBackgroundFunction = decltype(&::DrawThemeParentBackground);
    using GetWindowThemeFunction = decltype(&::GetWindowTheme);

    // Opens library and theme for the stored window and class list.
    int Reopen();
    template <typename Function> Function Lookup(Function& slot, const char* name);
    void ForgetEntryPoints();

    DynamicLibrary library_;
    WideString classList_;
    bool hasClassList_ = false;
    HWND window_ = nullptr;
    HTHEME theme_ = nullptr;
    int dpi_ = 0;

    OpenThemeDataFunction openThemeData_ = nullptr;
    CloseThemeDataFunction closeThemeData_ = nullptr;
    IsThemeActiveFunction isThemeActive_ = nullptr;
    DrawThemeBackgroundFunction drawThemeBackground_ = nullptr;
    DrawThemeTextFunction drawThemeText_ = nullptr;
    GetThemeTextExtentFunction getThemeTextExtent_ = nullptr;
    SetWindowThemeFunction setWindowTheme_ = nullptr;
    IsThemeBackgroundPartiallyTransparentFunction isThemeBackgroundPartiallyTransparent_ = nullptr;
    DrawThemeParentBackgroundFunction drawThemeParentBackground_ = nullptr;
    GetWindowThemeFunction getWindowTheme_ = nullptr;
};
