#include "ui/RowLayout.h"

#include <commctrl.h>
#include <vsstyle.h>

unsigned SplitAtTabs(const wchar_t* text, unsigned length, TextPiece* pieces, unsigned maxPieces)
{
    unsigned count = 0;
    unsigned position = 0;
    while (count < maxPieces) {
        while (position < length && text[position] == L'\t') {
            ++position;
        }
        if (position >= length) {
            break;
        }
        unsigned start = position;
        while (position < length && text[position] != L'\t') {
            ++position;
        }
        pieces[count].start = start;
        pieces[count].length = position - start;
        ++count;
    }
    return count;
}

bool StripSpanningMark(const wchar_t* text, unsigned& length)
{
    if (length == 0 || text[length - 1] != kSpanningRowMark) {
        return false;
    }
    --length;
    return true;
}

void PlanRow(const wchar_t* text, unsigned length, const RowFrame& frame, RowPlan& plan)
{
    plan = RowPlan();
    plan.spanning = StripSpanningMark(text, length);

    unsigned columns = frame.columnCount < kMaxRowColumns ? frame.columnCount : kMaxRowColumns;
    int total = 0;
    for (unsigned i = 0; i < columns; ++i) {
        total += frame.columnWidths[i];
    }
    plan.totalWidth = total - 3;

    TextPiece pieces[kMaxRowColumns];
    plan.count = SplitAtTabs(text, length, pieces, columns);

    const RECT& textRect = frame.textRect;
    int columnLeft = 0;
    for (unsigned j = 0; j < plan.count; ++j) {
        int width = frame.columnWidths[j];
        ColumnPlacement& placement = plan.columns[j];
        placement.column = j;
        placement.text = pieces[j];
        placement.box.left = j == 0 ? textRect.left + 1 : columnLeft + 4;
        placement.box.right = plan.spanning ? plan.totalWidth - 2 : columnLeft + width - 5;
        placement.box.top = textRect.top + 1;
        placement.box.bottom = textRect.bottom - 1;
        columnLeft += width;
    }

    // The icon sits left of the text, inside the first column only.
    if (plan.count > 0 && textRect.left < frame.columnWidths[0]) {
        plan.drawIcon = true;
        plan.iconAt.x = textRect.left - frame.iconWidth - 1;
        plan.iconAt.y = textRect.top + (textRect.bottom - textRect.top - frame.iconHeight) / 2;
    }
}

int TreeItemVisualState(UINT itemState, bool treeHasFocus)
{
    bool selected = (itemState & CDIS_SELECTED) != 0;
    bool hot = (itemState & CDIS_HOT) != 0;
    if (selected && hot) {
        return TREIS_HOTSELECTED;
    }
    if (selected) {
        return treeHasFocus ? TREIS_SELECTED : TREIS_SELECTEDNOTFOCUS;
    }
    return hot ? TREIS_HOT : TREIS_NORMAL;
}

int RowImage(int image, int selectedImage, bool selected)
{
    return selected && selectedImage != -1 ? selectedImage : image;
}
