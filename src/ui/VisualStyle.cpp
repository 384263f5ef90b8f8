#include "ui/VisualStyle.h"

int VisualStyle::Open(HWND window, const wchar_t* classList, int dpi)
{
    Close();
    window_ = window;
    dpi_ = dpi;
    hasClassList_ = classList != nullptr;
    classList_.Assign(classList ? classList : L"");
    return Reopen();
}

int VisualStyle::Reopen()
{
    Close();
    if (!library_.Load(L"uxtheme.dll")) {
        return 0;
    }
    openThemeData_ = library_.Symbol<OpenThemeDataFunction>("OpenThemeData");
    closeThemeData_ = library_.Symbol<CloseThemeDataFunction>("CloseThemeData");
    isThemeActive_ = library_.Symbol<IsThemeActiveFunction>("IsThemeActive");
    if (!openThemeData_ || !closeThemeData_ || !isThemeActive_) {
        return 0;
    }
    if (!hasClassList_) {
        return 1;
    }
    auto openForDpi =
        dpi_ > 0 ? library_.Symbol<OpenThemeDataForDpiFunction>("OpenThemeDataForDpi") : nullptr;
    theme_ = openForDpi ? openForDpi(window_, classList_.Data(), static_cast<UINT>(dpi_))
                        : openThemeData_(window_, classList_.Data());
    return theme_ != nullptr;
}

void VisualStyle::Close()
{
    if (theme_ && closeThemeData_) {
        closeThemeData_(theme_);
    }
    theme_ = nullptr;
    ForgetEntryPoints();
    library_.Free();
}

void VisualStyle::ForgetEntryPoints()
{
    openThemeData_ = nullptr;
    closeThemeData_ = nullptr;
    isThemeActive_ = nullptr;
    drawThemeBackground_ = nullptr;
    drawThemeText_ = nullptr;
    getThemeTextExtent_ = nullptr;
    setWindowTheme_ = nullptr;
    isThemeBackgroundPartiallyTransparent_ = nullptr;
    drawThemeParentBackground_ = nullptr;
    getWindowTheme_ = nullptr;
}

template <typename Function> Function VisualStyle::Lookup(Function& slot, const char* name)
{
    // A missing function is looked up again next time: the library may have
    // been reopened in between.
    if (!slot) {
        slot = library_.Symbol<Function>(name);
    }
    return slot;
}

int VisualStyle::DrawBackground(HDC dc, int part, int state, const RECT* rect)
{
    // Without a theme there is nothing to draw with, and nothing went stale:
    // reopening would only reload the library on every paint.
    if (!theme_) {
        return 0;
    }
    auto draw = Lookup(drawThemeBackground_, "DrawThemeBackground");
    if (!draw) {
        return 0;
    }
    HRESULT result = draw(theme_, dc, part, state, rect, nullptr);
    if (result == E_HANDLE) {
        // The theme changed under us. While visual styles stay on, open the
        // new theme and draw once more; with them off the caller draws classic.
        if (!isThemeActive_ || !isThemeActive_()) {
            return 0;
        }
        Reopen();
        draw = Lookup(drawThemeBackground_, "DrawThemeBackground");
        if (!draw || !theme_) {
            return 0;
        }
        result = draw(theme_, dc, part, state, rect, nullptr);
    }
    return result == S_OK;
}

int VisualStyle::DrawText(HDC dc, const ThemeText& how, const wchar_t* text, int length,
                          const RECT* rect)
{
    auto draw = Lookup(drawThemeText_, "DrawThemeText");
    if (!draw || !theme_) {
        return 0;
    }
    return draw(theme_, dc, how.part, how.state, text, length, how.flags, how.flags2, rect) == S_OK;
}

int VisualStyle::TextExtent(HDC dc, const ThemeText& how, const wchar_t* text, int length,
                            SIZE* extent)
{
    auto measure = Lookup(getThemeTextExtent_, "GetThemeTextExtent");
    RECT bounds = {};
    if (!measure || !theme_ ||
        measure(theme_, dc, how.part, how.state, text, length, how.flags, nullptr, &bounds) !=
            S_OK) {
        return 0;
    }
    extent->cx = bounds.right - bounds.left;
    extent->cy = bounds.bottom - bounds.top;
    return 1;
}

int VisualStyle::SetWindowTheme(HWND window, const wchar_t* applicationName, const wchar_t* idList)
{
    auto setTheme = Lookup(setWindowTheme_, "SetWindowTheme");
    if (!setTheme) {
        return 0;
    }
    setTheme(window, applicationName, idList);
    return 1;
}

int VisualStyle::IsBackgroundPartiallyTransparent(int part, int state)
{
    auto isTransparent =
        Lookup(isThemeBackgroundPartiallyTransparent_, "IsThemeBackgroundPartiallyTransparent");
    if (!isTransparent || !theme_) {
        return 0;
    }
    return isTransparent(theme_, part, state) ? 1 : 0;
}

int VisualStyle::DrawParentBackground(HDC dc, const RECT* rect)
{
    auto draw = Lookup(drawThemeParentBackground_, "DrawThemeParentBackground");
    if (!draw) {
        return 0;
    }
    // Some SDK headers declare the rectangle without const; it is only read.
    return draw(window_, dc, const_cast<RECT*>(rect)) == S_OK;
}

int VisualStyle::HasWindowTheme()
{
    auto getTheme = Lookup(getWindowTheme_, "GetWindowTheme");
    if (!getTheme) {
        return 0;
    }
    return getTheme(window_) != nullptr;
}
