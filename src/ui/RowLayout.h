#pragma once

#include <windows.h>

// Where the parts of one custom-drawn tree-list row go. Plain values only.

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
    int dpi = 96; // the gaps between icon, texts and dividers follow it
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

// Where a column starts, counted from the row's left edge: the widths of the
// columns before it.
int ColumnLeft(const RowFrame& frame, unsigned column);

// The first column whose text differs between two texts of one row, as
// PlanRow splits them; a change of the spanning mark changes column 0. Both
// texts alike answer their column count.
unsigned FirstChangedColumn(const wchar_t* before, unsigned beforeLength, const wchar_t* after,
                            unsigned afterLength);

// The width a column needs to show a text of textWidth pixels whole, with
// the gaps PlanRow leaves at dpi. For the first column textLeft is where the
// row's text rectangle starts (indentation and icon), counted from the
// column's left edge; other columns ignore it.
int ColumnWidthForText(unsigned column, int textLeft, int textWidth, int dpi);

// The first column's width on the first fill: widened to show the widest
// name (needed), but never beyond limit (half the tree) and never narrower
// than it is.
int FirstFillColumnWidth(int current, int needed, int limit);

// Whether rows are drawn with the visual style: only where one applies to
// the tree, and never under a high-contrast scheme, whose colours come from
// the system.
bool UseThemedRows(bool vistaOrLater, bool treeHasTheme, bool highContrast);

// Whether a row gets a focus rectangle: the focused row of a focused tree
// drawn the classic way (a themed selection shows the focus itself), unless
// the window hides focus cues; a high-contrast scheme always shows it.
bool DrawsRowFocus(UINT itemState, bool treeHasFocus, bool themed, bool hideFocusCues,
                   bool highContrast);

// The tree-item visual state (TREIS_*) for a custom-draw item state.
int TreeItemVisualState(UINT itemState, bool treeHasFocus);

// The image shown in the first column.
int RowImage(int image, int selectedImage, bool selected);
