#include "app/DialogParts.h"

#include "app/SensorTreeRules.h"
#include "system/Clipboard.h"

#include <windowsx.h>

void ReadTreeItemText(const TreeCtrl& tree, HTREEITEM item, wchar_t (&text)[kTreeItemTextCapacity])
{
    text[0] = L'\0';
    tree.GetItem(item, text, nullptr, nullptr, nullptr, 0, nullptr);
}

namespace {

void AppendRows(const TreeCtrl& tree, HTREEITEM first, int depth, WideString& text)
{
    HWND window = tree.Window();
    wchar_t row[kTreeItemTextCapacity];
    for (HTREEITEM item = first; item; item = TreeView_GetNextSibling(window, item)) {
        ReadTreeItemText(tree, item, row);
        AppendTreeLine(text, depth, row);
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
    wchar_t text[kTreeItemTextCapacity];
    ReadTreeItemText(tree, selected, text);
    WideString copy;
    return RowCopyText(text, copy) && CopyTextToClipboard(owner, copy.Data());
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
