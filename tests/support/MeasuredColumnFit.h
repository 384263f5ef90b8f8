#pragma once

// The first column's fit as a reader sees it: each name's extent measured
// here, in the tree's own font, against the column's width. Independent of
// the product's own measurement, so that a fit made for the wrong DPI or
// font shows.

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <utility>
#include <vector>

namespace measured_fit {

// The gaps a row is drawn with at 96 dpi: the name starts 1 pixel right of
// the row's text rectangle and ends at least 5 pixels left of the divider.
constexpr int kGapBeforeName = 1;
constexpr int kGapAfterName = 5;

inline std::wstring ItemText(HWND tree, HTREEITEM item)
{
    std::wstring text(0x4000, L'\0');
    TVITEMW info = {};
    info.mask = TVIF_TEXT;
    info.hItem = item;
    info.pszText = &text[0];
    info.cchTextMax = static_cast<int>(text.size());
    if (!TreeView_GetItem(tree, &info))
        return std::wstring();
    text.resize(wcslen(text.c_str()));
    return text;
}

// How many pixels the first column (of width columnWidth) lacks to show the
// widest name of the expanded rows whole in a window at dpi; 0 or less when
// every name is whole. Rows out of view start one indentation per level
// further right than those at depth 0. Call on the tree's thread.
inline int FirstColumnShortfall(HWND tree, int columnWidth, int dpi)
{
    HDC dc = GetDC(tree);
    HGDIOBJ oldFont =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(tree, WM_GETFONT, 0, 0)));
    const int indent = static_cast<int>(SendMessageW(tree, TVM_GETINDENT, 0, 0));
    bool haveLeft = false;
    int depthZeroLeft = 0;
    int worst = -columnWidth;
    std::vector<std::pair<int, int>> rows; // depth, name's width
    for (HTREEITEM item = TreeView_GetRoot(tree); item;
         item = TreeView_GetNextVisible(tree, item)) {
        int depth = 0;
        for (HTREEITEM up = TreeView_GetParent(tree, item); up; up = TreeView_GetParent(tree, up))
            ++depth;
        RECT rect = {};
        if (!haveLeft && TreeView_GetItemRect(tree, item, &rect, TRUE)) {
            depthZeroLeft = rect.left - depth * indent;
            haveLeft = true;
        }
        const std::wstring text = ItemText(tree, item);
        const std::wstring name = text.substr(0, text.find(L'\t'));
        SIZE extent = {};
        GetTextExtentPoint32W(dc, name.c_str(), static_cast<int>(name.size()), &extent);
        rows.push_back({depth, extent.cx});
    }
    SelectObject(dc, oldFont);
    ReleaseDC(tree, dc);
    for (const auto& row : rows) {
        const int needed = depthZeroLeft + row.first * indent + MulDiv(kGapBeforeName, dpi, 96) +
                           row.second + MulDiv(kGapAfterName, dpi, 96);
        worst = needed - columnWidth > worst ? needed - columnWidth : worst;
    }
    return haveLeft ? worst : columnWidth;
}

} // namespace measured_fit
