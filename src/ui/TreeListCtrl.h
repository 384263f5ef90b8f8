#pragma once

#include <windows.h>
#include <commctrl.h>

#include "base/WideString.h"
#include "ui/DialogApp.h"
#include "ui/VisualStyle.h"

// Attach options of TreeCtrl and TreeListCtrl.
constexpr DWORD TREE_SYSTEM_IMAGES = 0x1;
constexpr DWORD TREE_CHECKBOXES = 0x2;
constexpr DWORD TREE_KEEP_CHILDREN = 0x4;
constexpr DWORD TREE_KEEP_IMAGES = 0x8;
constexpr DWORD TREE_PLAIN_HEADER = 0x40000000;
constexpr DWORD TREE_GRID_LINES = 0x80000000;

// Window-property tags of the subclasses installed here.
constexpr DWORD kTreeWindowSubclassTag = 0x74726D63;
constexpr DWORD kLabelEditorSubclassTag = 0x74726565;

// Capacity, in characters with the terminator, of every item text read back.
constexpr unsigned kTreeItemTextCapacity = 260;

// ---------------------------------------------------------------------------
// Row layout: where the parts of one custom-drawn row go. Plain values only.

// Marks a row whose columns ignore the column dividers when it is the item
// text's last character.
constexpr wchar_t kSpanningRowMark = L'\x000B';
constexpr unsigned kMaxRowColumns = 32;

struct TextPiece
{
    unsigned start = 0;
    unsigned length = 0;
};

// Splits a text at tab characters into at most maxPieces non-empty pieces.
// Leading tabs are skipped and a run of tabs is one separator, so an empty
// column moves the later texts one column to the left. Returns the count.
unsigned SplitAtTabs(const wchar_t* text, unsigned length, TextPiece* pieces, unsigned maxPieces);

// Removes a trailing spanning mark from the length; true when there was one.
bool StripSpanningMark(const wchar_t* text, unsigned& length);

// What the row painter knows about one row before it draws.
struct RowFrame
{
    RECT textRect = {};                // the item's text rectangle in the tree
    const int* columnWidths = nullptr; // header column widths, left to right
    unsigned columnCount = 0;
    int iconWidth = 0;
    int iconHeight = 0;
};

struct ColumnPlacement
{
    unsigned column = 0;
    TextPiece text;
    RECT box = {}; // where DrawText puts the text (may be empty)
};

struct RowPlan
{
    bool spanning = false;
    int totalWidth = 0; // sum of the column widths less 3
    bool drawIcon = false;
    POINT iconAt = {};
    unsigned count = 0;
    ColumnPlacement columns[kMaxRowColumns];
};

// Lays out one row: the spanning mark, the column each text lands in, the
// text boxes and the icon position.
void PlanRow(const wchar_t* text, unsigned length, const RowFrame& frame, RowPlan& plan);

// The tree-item visual state (TREIS_*) for a custom-draw item state.
int TreeItemVisualState(UINT itemState, bool treeHasFocus);

// The image shown in the first column.
int RowImage(int image, int selectedImage, bool selected);

// ---------------------------------------------------------------------------
// IconList: an image list of icons.

constexpr DWORD ICONS_COLOR32 = 0x1;
constexpr DWORD ICONS_SHARED = 0x2;
constexpr DWORD ICONS_SMALL = 0x4;
constexpr DWORD ICONS_LARGE = 0x8;

// The ILC_COLOR* depth of a private image list: from the screen's bits per
// pixel (planes times bits), the common-controls version and whether the
// system is DOS-based.
UINT ImageListColorDepth(int screenBits, DWORD commonControlsVersion, bool dosBased);

class IconList
{
public:
    IconList() = default;
    ~IconList() { Destroy(); }
    IconList(const IconList&) = delete;
    IconList& operator=(const IconList&) = delete;

    int Create(DWORD flags, int width, int height, int initial, int growth);
    void Destroy();
    // The new image's index, or -1.
    int AddIcon(HINSTANCE module, UINT resourceId);
    int RemoveAll();
    int Draw(int index, HDC dc, int x, int y, UINT style) const;

    HIMAGELIST Handle() const { return list_; }
    DWORD Flags() const { return flags_; }
    int IconWidth() const { return width_; }
    int IconHeight() const { return height_; }

private:
    DWORD flags_ = 0;
    HIMAGELIST list_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

// ---------------------------------------------------------------------------
// TreeCtrl: a wrapper of an existing tree-view control.

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
    HTREEITEM InsertItem(HTREEITEM parent, HTREEITEM insertAfter, const wchar_t* text, int image,
                         int selectedImage, int children, LPARAM data);
    // Replaces an item's text; the tree repaints only that row.
    int SetItemText(HTREEITEM item, const wchar_t* text);
    int SelectItem(HTREEITEM item);
    int Expand(HTREEITEM item, UINT action);
    // 0 suspends drawing, 1 resumes it; suspensions nest.
    void SetRedraw(int enable);
    HTREEITEM GetSelection() const;
    // The selected item's text (and item data when asked); both are left
    // untouched when nothing is selected.
    void GetSelectionText(WideString& text, LPARAM* data = nullptr) const;
    // text, when given, holds kTreeItemTextCapacity characters. Outputs are
    // written only on success.
    int GetItem(HTREEITEM item, wchar_t* text, LPARAM* data, int* image, int* selectedImage,
                UINT stateMask, UINT* state) const;
    int SetItemHeight(int height);
    int GetItemHeight() const;

    HWND Window() const { return tree_; }
    DWORD Flags() const { return flags_; }
    const IconList& Icons() const { return icons_; }

protected:
    static void SetDialogResult(HWND dialog, LRESULT value);

    HINSTANCE instance_ = nullptr;
    IconList icons_;
    DWORD flags_ = 0;
    VisualStyle style_;
    HWND tree_ = nullptr;

private:
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

// ---------------------------------------------------------------------------
// TreeListCtrl: a tree with a column header whose rows are split at tabs.

class TreeListCtrl : public TreeCtrl
{
public:
    TreeListCtrl() = default;
    ~TreeListCtrl() override;

    int HandleNotify(HWND dialog, WPARAM wParam, NMHDR* header, LRESULT& result) override;
    int Attach(HWND tree, HINSTANCE module, DWORD flags) override;
    void Detach() override;

    // The new column's index, or -1.
    int InsertColumn(const wchar_t* caption, int index, int width, int format);

    HWND Header() const { return header_; }
    bool IsThemed() const { return themed_ != 0; }

private:
    static int TreeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                              LRESULT* result, void* context);
    int PlaceHeader();
    void FollowTreeWidth();
    int HandleCustomDraw(HWND dialog, WPARAM wParam, NMTVCUSTOMDRAW* draw, LRESULT& result);
    int DrawRow(NMTVCUSTOMDRAW* draw);
    unsigned ReadColumnWidths(int* widths, unsigned capacity) const;
    void DrawGridLines(HDC dc, const RECT& textRect, int totalWidth) const;
    void DrawRowBackground(NMTVCUSTOMDRAW* draw, const RECT& row, const RECT& textRect,
                           int totalWidth, int state);
    void DrawColumnText(NMTVCUSTOMDRAW* draw, const wchar_t* text, const ColumnPlacement& column,
                        int state);

    HWND header_ = nullptr;
    Subclasser treeSubclass_;
    int themed_ = 0;
};
