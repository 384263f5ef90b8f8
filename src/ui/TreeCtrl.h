#pragma once

#include <windows.h>
#include <commctrl.h>

#include "base/WideString.h"
#include "ui/IconList.h"
#include "ui/Subclasser.h"
#include "ui/VisualStyle.h"

// Attach options of TreeCtrl and TreeListCtrl.
constexpr DWORD TREE_SYSTEM_IMAGES = 0x1;
constexpr DWORD TREE_CHECKBOXES = 0x2;
constexpr DWORD TREE_KEEP_CHILDREN = 0x4;
constexpr DWORD TREE_KEEP_IMAGES = 0x8;
constexpr DWORD TREE_PLAIN_HEADER = 0x40000000;
constexpr DWORD TREE_GRID_LINES = 0x80000000;

// Window-property tag of the label editor's subclass.
constexpr DWORD kLabelEditorSubclassTag = 0x74726565;

// Capacity, in characters with the terminator, of every item text read back.
constexpr unsigned kTreeItemTextCapacity = 260;
// The longest item text GetItemText reads back whole, in characters.
constexpr unsigned kLongestItemText = 0x10000;

// A wrapper of an existing tree-view control.

using TreeItemHandler = void (*)(TVITEMW* item, LONG_PTR context);
using TreeKeyHandler = void (*)(WORD key, LONG_PTR context);
using TreeClickHandler = void (*)(HTREEITEM item, LONG_PTR context);
// Begin: nonzero cancels the edit. End: nonzero accepts the new text.
using TreeLabelEditHandler = LRESULT (*)(HWND tree, HTREEITEM item, LPARAM data,
                                         const wchar_t* text, LONG_PTR context);

// Optional handlers of the tree's notifications; null ones are skipped.
struct TreeEventHandlers
{
    TreeItemHandler getDisplayInfo = nullptr;
    TreeItemHandler expanding = nullptr;
    TreeItemHandler collapsing = nullptr;
    TreeItemHandler deleting = nullptr;
    TreeItemHandler selectionChanged = nullptr;
    TreeLabelEditHandler beginLabelEdit = nullptr;
    TreeLabelEditHandler endLabelEdit = nullptr;
    TreeKeyHandler keyDown = nullptr;
    TreeClickHandler click = nullptr;
    TreeClickHandler doubleClick = nullptr;
    TreeClickHandler returnKey = nullptr;
    TreeClickHandler rightClick = nullptr;
};

// An item to insert: where it goes, what it shows and what it carries.
struct TreeItem
{
    HTREEITEM parent = nullptr;    // null: the top level
    const wchar_t* text = nullptr; // null: empty
    int image = 0;
    int selectedImage = 0;
    int children = 0; // 1: the item shows its button before any child is inserted
    LPARAM data = 0;
    HTREEITEM insertAfter = TVI_LAST; // a sibling, TVI_FIRST, TVI_LAST or TVI_SORT; null: last
};

class TreeCtrl
{
public:
    TreeCtrl() = default;
    virtual ~TreeCtrl();
    TreeCtrl(const TreeCtrl&) = delete;
    TreeCtrl& operator=(const TreeCtrl&) = delete;

    // Handles a WM_NOTIFY of the owner dialog; 1 when handled, and then the
    // dialog procedure returns result.
    virtual int HandleNotify(HWND dialog, WPARAM wParam, NMHDR* header, LRESULT& result);
    virtual int Attach(HWND tree, HINSTANCE module, DWORD flags);
    virtual void Detach();

    // Handlers receive context; the label-edit pair receives labelEditContext.
    void SetHandlers(const TreeEventHandlers& handlers, LONG_PTR context,
                     LONG_PTR labelEditContext = 0);

    LRESULT SetExtendedStyle(DWORD mask, DWORD style);
    int AddIcon(UINT resourceId);
    int DeleteAll();
    HTREEITEM InsertItem(const TreeItem& item);
    // Replaces an item's text; the tree repaints only that row.
    int SetItemText(HTREEITEM item, const wchar_t* text);
    int SelectItem(HTREEITEM item);
    int Expand(HTREEITEM item, UINT action);
    // 0 suspends drawing, 1 resumes it; suspensions nest.
    void SetRedraw(int enable);
    HTREEITEM GetSelection() const;
    // The selected item's whole text (and item data when asked); both are
    // left untouched when nothing is selected or it cannot be read.
    void GetSelectionText(WideString& text, LPARAM* data = nullptr) const;
    // text, when given, holds kTreeItemTextCapacity characters. Outputs are
    // written only on success.
    int GetItem(HTREEITEM item, wchar_t* text, LPARAM* data, int* image, int* selectedImage,
                UINT stateMask, UINT* state) const;
    // The whole text of an item, however long; 0 and text untouched when
    // it cannot be read.
    int GetItemText(HTREEITEM item, WideString& text) const;
    int SetItemHeight(int height);
    int GetItemHeight() const;

    HWND Window() const { return tree_; }
    // The DPI the tree's pixel sizes are made for.
    int Dpi() const { return dpi_; }
    DWORD Flags() const { return flags_; }
    const IconList& Icons() const { return icons_; }

protected:
    static void SetDialogResult(HWND dialog, LRESULT value);

    HINSTANCE instance_ = nullptr;
    IconList icons_;
    DWORD flags_ = 0;
    VisualStyle style_;
    HWND tree_ = nullptr;
    int dpi_ = 96;

private:
    int ReadItemText(HTREEITEM item, wchar_t* buffer, unsigned capacity) const;
    static int LabelEditorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                               LRESULT* result, void* context);
    int HandleExpanding(HWND dialog, NMTREEVIEWW* info, LRESULT& result);
    int HandleLabelEdit(HWND dialog, NMTVDISPINFOW* info, bool begin, LRESULT& result);
    int HandleClick(TreeClickHandler handler, HTREEITEM item);

    LONG_PTR context_ = 0;
    TreeEventHandlers handlers_;
    LONG_PTR labelEditContext_ = 0;
    int redrawLocks_ = 0;
    Subclasser editSubclass_;
};
