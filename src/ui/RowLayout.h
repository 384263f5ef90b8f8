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
