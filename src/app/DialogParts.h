#pragma once

#include <windows.h>
#include <commctrl.h>

#include "base/ScopedHandle.h"
#include "ui/Layout.h"
#include "ui/TreeListCtrl.h"

// What the main window and the properties dialog share: a resizable dialog
// with a size grip and anchored controls, and a tree-list with Copy, Copy
// All and a context menu.

// The tree menu's commands.
constexpr UINT IDM_COPY_ROW = 40001;
constexpr UINT IDM_COPY_ALL = 40002;

// True for key pressed with Ctrl (and without Alt) in the tree.
bool IsTreeShortcut(const NMHDR* header, HWND tree, WORD key);

// The selected row as "Item<TAB>Value"; 1, or 0 when nothing was copied.
int CopySelectedTreeRow(const TreeCtrl& tree, HWND owner);
// The whole tree as indented lines, one row a line; 1 or 0.
int CopyAllTreeRows(const TreeCtrl& tree, HWND owner);

// Where the tree's context menu opens for the point of WM_CONTEXTMENU: a
// right click first selects the row under the pointer and opens the menu
// there; the keyboard (point -1, -1) opens it below the selected row.
POINT PrepareTreeMenu(TreeCtrl& tree, LPARAM screenPoint);

// The tree's context menu with "Copy" (grey without a selection) and "Copy
// All", for the window to add its own items to; empty when it cannot be
// made.
ScopedMenu MakeTreeMenu(const TreeCtrl& tree);

// Shows the menu at the point for the owner and answers the command
// chosen, or 0.
UINT TrackTreeMenu(HMENU menu, POINT at, HWND owner);

// The grip's and the anchors' part of a resizable dialog's messages
// (WM_SIZE, WM_PAINT, WM_NCHITTEST). 1 when the message is handled and
// answer is the dialog procedure's result; WM_SIZE is never handled, so the
// dialog's own handling runs too.
int HandleGripMessage(SizeGrip& grip, Anchor* anchors, size_t count, UINT message, WPARAM wParam,
                      LPARAM lParam, INT_PTR& answer);

// The parts' pixel sizes for a window now at dpi (from OnDpiChanging):
// the anchors' recorded places, the grip, the tree with its columns and
// the visual styles' metrics.
void RescaleDialogParts(SizeGrip& grip, Anchor* anchors, size_t count, TreeListCtrl& tree, int dpi);

// The first column's width that shows needed pixels: defaultWidth (at 96
// dpi) scaled to the tree's DPI, widened as far as half the tree.
int FittedFirstColumnWidth(const TreeListCtrl& tree, int defaultWidth, int needed);
// Fits the first column that way to the names shown; 1, or 0 when there
// is nothing to measure.
int FitFirstColumn(TreeListCtrl& tree, int defaultWidth);

// A switch to or from a classic or high-contrast scheme (WM_THEMECHANGED,
// WM_SYSCOLORCHANGE, WM_SETTINGCHANGE): the grip and the tree open their
// styles again. 1 when message is one of those; the dialog's own handling
// runs too.
int HandleThemeMessage(UINT message, SizeGrip& grip, TreeListCtrl& tree);

// A tree-list's WM_NOTIFY: Ctrl+C copies the selected row (and is kept from
// the tree's incremental search); everything else goes to the tree-list.
// 1 when handled, with answer as the dialog procedure's result.
int HandleTreeNotify(TreeListCtrl& tree, HWND dialog, WPARAM wParam, LPARAM lParam,
                     INT_PTR& answer);
