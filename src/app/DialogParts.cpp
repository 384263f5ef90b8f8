#include "app/DialogParts.h"

#include "app/SensorTreeRules.h"
#include "system/Clipboard.h"
#include "ui/Dpi.h"

#include <windowsx.h>

namespace {

// Rows are copied whole, however long; one that cannot be read is an empty
// line.
void AppendRows(const TreeCtrl& tree, HTREEITEM first, int depth, WideString& text)
{
    HWND window = tree.Window();
    WideString row;
    for (HTREEITEM item = first; item; item = TreeView_GetNextSibling(window, item)) {
        if (!tree.GetItemText(item, row)) {
            row.Assign(L"");
        }
        AppendTreeLine(text, depth, row.Data());
        AppendRows(tree, TreeView_GetChild(window, item), depth + 1, text);
    }
}

} // namespace

bool IsTreeShortcut(const NMHDR* header, HWND tree, WORD key)
{
    if (!header || header->hwndFrom != tree || header->code != TVN_KEYDOWN) {
        return false;
    }
    const auto* pressed = reinterpret_cast<const NMTVKEYDOWN*>(header);
    return pressed->wVKey == key && GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_MENU) >= 0;
}

int CopySelectedTreeRow(const TreeCtrl& tree, HWND owner)
{
    HTREEITEM selected = tree.GetSelection();
    if (!selected) {
        return 0;
    }
    WideString text;
    WideString copy;
    return tree.GetItemText(selected, text) && RowCopyText(text.Data(), copy) &&
           CopyTextToClipboard(owner, copy.Data());
}

int CopyAllTreeRows(const TreeCtrl& tree, HWND owner)
{
    WideString text;
    AppendRows(tree, TreeView_GetRoot(tree.Window()), 0, text);
    return !text.IsEmpty() && CopyTextToClipboard(owner, text.Data());
}

POINT PrepareTreeMenu(TreeCtrl& tree, LPARAM screenPoint)
{
    HWND window = tree.Window();
    POINT at = {GET_X_LPARAM(screenPoint), GET_Y_LPARAM(screenPoint)};
    // The keyboard's point is (-1, -1), whatever the width of LPARAM.
    if (at.x == -1 && at.y == -1) {
        RECT row = {};
        HTREEITEM selected = tree.GetSelection();
        if (!selected || !TreeView_GetItemRect(window, selected, &row, TRUE)) {
            row = RECT{};
        }
        at = {row.left, row.bottom};
        ClientToScreen(window, &at);
        return at;
    }
    TVHITTESTINFO hit = {};
    hit.pt = at;
    ScreenToClient(window, &hit.pt);
    if (TreeView_HitTest(window, &hit) && (hit.flags & (TVHT_ONITEM | TVHT_ONITEMRIGHT))) {
        tree.SelectItem(hit.hItem);
    }
    return at;
}

int HandleGripMessage(SizeGrip& grip, Anchor* anchors, size_t count, UINT message, WPARAM wParam,
                      LPARAM lParam, INT_PTR& answer)
{
    answer = 1;
    switch (message) {
    case WM_SIZE:
        grip.InvalidateGrip();
        for (size_t i = 0; i < count; ++i) {
            anchors[i].Apply(wParam, lParam);
        }
        return 0;
    case WM_PAINT:
        return grip.Paint();
    case WM_NCHITTEST:
        return grip.HitTest(wParam, lParam);
    }
    return 0;
}

void RescaleDialogParts(SizeGrip& grip, Anchor* anchors, size_t count, TreeListCtrl& tree, int dpi)
{
    for (size_t i = 0; i < count; ++i) {
        anchors[i].SetDpi(dpi);
    }
    grip.SetDpi(dpi);
    tree.SetDpi(dpi);
}

int FittedFirstColumnWidth(const TreeListCtrl& tree, int defaultWidth, int needed)
{
    RECT client = {};
    GetClientRect(tree.Window(), &client);
    return FirstFillColumnWidth(ScaleForDpi(defaultWidth, tree.Dpi()), needed, client.right / 2);
}

int FitFirstColumn(TreeListCtrl& tree, int defaultWidth)
{
    const int needed = tree.ColumnFitWidth(0);
    return needed > 0 && tree.SetColumnWidth(0, FittedFirstColumnWidth(tree, defaultWidth, needed));
}

int HandleThemeMessage(UINT message, SizeGrip& grip, TreeListCtrl& tree)
{
    if (message != WM_THEMECHANGED && message != WM_SYSCOLORCHANGE && message != WM_SETTINGCHANGE) {
        return 0;
    }
    grip.ThemeChanged();
    tree.ThemeChanged();
    InvalidateRect(tree.Window(), nullptr, FALSE);
    return 1;
}

int HandleTreeNotify(TreeListCtrl& tree, HWND dialog, WPARAM wParam, LPARAM lParam, INT_PTR& answer)
{
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (IsTreeShortcut(header, tree.Window(), 'C')) {
        CopySelectedTreeRow(tree, dialog);
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 1);
        answer = 1;
        return 1;
    }
    LRESULT result = 0;
    if (!tree.HandleNotify(dialog, wParam, header, result)) {
        return 0;
    }
    answer = static_cast<INT_PTR>(result);
    return 1;
}

ScopedMenu MakeTreeMenu(const TreeCtrl& tree)
{
    ScopedMenu menu(CreatePopupMenu());
    if (menu) {
        const UINT copyState = tree.GetSelection() ? MF_ENABLED : MF_GRAYED;
        AppendMenuW(menu.Get(), MF_STRING | copyState, IDM_COPY_ROW, L"Copy");
        AppendMenuW(menu.Get(), MF_STRING, IDM_COPY_ALL, L"Copy All");
    }
    return menu;
}

UINT TrackTreeMenu(HMENU menu, POINT at, HWND owner)
{
    return TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0,
                          owner, nullptr);
}
