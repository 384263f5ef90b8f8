#pragma once

#include <windows.h>
#include <commctrl.h>

#include "base/ScopedHandle.h"
#include "ui/TreeCtrl.h"

// The clipboard commands and the context menu's placement, shared by the
// main window's tree and the properties dialog's tree.

struct MenuTraits
{
    using Type = HMENU;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type menu) { return menu != nullptr; }
    static void Close(Type menu) { DestroyMenu(menu); }
};
using ScopedMenu = ScopedObject<MenuTraits>;

// The text of an item, cut to the tree's read-back capacity; empty when it
// cannot be read.
void ReadTreeItemText(const TreeCtrl& tree, HTREEITEM item, wchar_t (&text)[kTreeItemTextCapacity]);

// The selected row as "Item<TAB>Value"; 1, or 0 when nothing was copied.
int CopySelectedTreeRow(const TreeCtrl& tree, HWND owner);
// The whole tree as indented lines, one row a line; 1 or 0.
int CopyAllTreeRows(const TreeCtrl& tree, HWND owner);

// True for Ctrl+C (without Alt) pressed in the tree.
bool IsTreeCopyKey(const NMHDR* header, HWND tree);

// Where the tree's context menu opens for the point of WM_CONTEXTMENU: a
// right click first selects the row under the pointer and opens the menu
// there; the keyboard (point -1, -1) opens it below the selected row.
POINT PrepareTreeMenu(TreeCtrl& tree, LPARAM screenPoint);
