#include "ui/RowLayout.h"

#include <commctrl.h>
#include <vsstyle.h>

#include "ui/Dpi.h"

#include <wchar.h>

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

namespace {

// The gaps of a row at 96 dpi: the first column's text starts one pixel
// right of the text rectangle, other columns' texts 4 pixels right of their
// divider, and every text ends 5 pixels left of the next divider.
constexpr int kFirstTextGap = 1;
constexpr int kColumnTextGap = 4;
constexpr int kTextEndGap = 5;
constexpr int kIconGap = 1;
constexpr int kTotalWidthTrim = 3;
constexpr int kSpanEndGap = 2;
constexpr int kTextBoxInset = 1;

} // namespace

int ColumnWidthForText(unsigned column, int textLeft, int textWidth, int dpi)
{
    const int end = ScaleForDpi(kTextEndGap, dpi);
    if (column == 0) {
        return textLeft + ScaleForDpi(kFirstTextGap, dpi) + textWidth + end;
    }
    return ScaleForDpi(kColumnTextGap, dpi) + textWidth + end;
}

int FirstFillColumnWidth(int current, int needed, int limit)
{
    const int wanted = needed < limit ? needed : limit;
    return wanted > current ? wanted : current;
}

bool UseThemedRows(bool vistaOrLater, bool treeHasTheme, bool highContrast)
{
    return vistaOrLater && treeHasTheme && !highContrast;
}

bool DrawsRowFocus(UINT itemState, bool treeHasFocus, bool themed, bool hideFocusCues,
                   bool highContrast)
{
    if (!(itemState & CDIS_FOCUS) || !treeHasFocus) {
        return false;
    }
    if (highContrast) {
        return true;
    }
    return !themed && !hideFocusCues;
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
    const int dpi = frame.dpi;
    plan.totalWidth = total - ScaleForDpi(kTotalWidthTrim, dpi);

    TextPiece pieces[kMaxRowColumns];
    plan.count = SplitAtTabs(text, length, pieces, columns);

    const RECT& textRect = frame.textRect;
    int columnLeft = 0;
    for (unsigned j = 0; j < plan.count; ++j) {
        int width = frame.columnWidths[j];
        ColumnPlacement& placement = plan.columns[j];
        placement.column = j;
        placement.text = pieces[j];
        placement.box.left = j == 0 ? textRect.left + ScaleForDpi(kFirstTextGap, dpi)
                                    : columnLeft + ScaleForDpi(kColumnTextGap, dpi);
        placement.box.right = plan.spanning ? plan.totalWidth - ScaleForDpi(kSpanEndGap, dpi)
                                            : columnLeft + width - ScaleForDpi(kTextEndGap, dpi);
        placement.box.top = textRect.top + ScaleForDpi(kTextBoxInset, dpi);
        placement.box.bottom = textRect.bottom - ScaleForDpi(kTextBoxInset, dpi);
        columnLeft += width;
    }

    // The icon sits left of the text, inside the first column only.
    if (plan.count > 0 && textRect.left < frame.columnWidths[0]) {
        plan.drawIcon = true;
        plan.iconAt.x = textRect.left - frame.iconWidth - ScaleForDpi(kIconGap, dpi);
        plan.iconAt.y = textRect.top + (textRect.bottom - textRect.top - frame.iconHeight) / 2;
    }
}

int ColumnLeft(const RowFrame& frame, unsigned column)
{
    int left = 0;
    for (unsigned i = 0; i < column && i < frame.columnCount; ++i) {
        left += frame.columnWidths[i];
    }
    return left;
}

unsigned FirstChangedColumn(const wchar_t* before, unsigned beforeLength, const wchar_t* after,
                            unsigned afterLength)
{
    if (StripSpanningMark(before, beforeLength) != StripSpanningMark(after, afterLength)) {
        return 0;
    }
    TextPiece was[kMaxRowColumns];
    TextPiece now[kMaxRowColumns];
    const unsigned wasCount = SplitAtTabs(before, beforeLength, was, kMaxRowColumns);
    const unsigned nowCount = SplitAtTabs(after, afterLength, now, kMaxRowColumns);
    unsigned column = 0;
    for (; column < wasCount && column < nowCount; ++column) {
        const TextPiece& a = was[column];
        const TextPiece& b = now[column];
        if (a.length != b.length || wmemcmp(before + a.start, after + b.start, a.length) != 0) {
            return column;
        }
    }
    return column;
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
