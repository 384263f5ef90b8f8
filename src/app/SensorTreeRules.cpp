#include "app/SensorTreeRules.h"

#include "sensors/SensorList.h"
#include "sensors/SensorProperties.h"
#include "ui/RowLayout.h"

#include <wchar.h>

FieldRowChange CompareFieldRow(const wchar_t* rowText, const wchar_t* name, const wchar_t* value)
{
    const size_t nameLength = wcslen(name);
    if (wcsncmp(rowText, name, nameLength) != 0 || rowText[nameLength] != L'\t') {
        return FIELD_ROW_OTHER;
    }
    return wcscmp(rowText + nameLength + 1, value) == 0 ? FIELD_ROW_SAME : FIELD_ROW_NEW_TEXT;
}

int SensorRowText(const wchar_t* name, long state, WideString& text)
{
    WideString row;
    if (!row.Assign(name)) {
        return 0;
    }
    if (state != kSensorStateUnknown) {
        WideString stateText;
        if ((row.IsEmpty() && !row.Append(L' ')) || !SensorStateText(state, stateText) ||
            !row.Append(L'\t') || !row.Append(stateText)) {
            return 0;
        }
    }
    return text.Assign(row);
}

FieldRowChange CompareSensorRow(const wchar_t* rowText, const wchar_t* expected)
{
    if (wcscmp(rowText, expected) == 0) {
        return FIELD_ROW_SAME;
    }
    const size_t rowName = wcscspn(rowText, L"\t");
    const size_t expectedName = wcscspn(expected, L"\t");
    return rowName == expectedName && wcsncmp(rowText, expected, rowName) == 0 ? FIELD_ROW_NEW_TEXT
                                                                               : FIELD_ROW_OTHER;
}

void SplitRowColumns(const wchar_t* rowText, WideString& item, WideString& value)
{
    TextPiece pieces[2];
    const unsigned count = SplitAtTabs(rowText, static_cast<unsigned>(wcslen(rowText)), pieces, 2);
    item.Assign(L"");
    value.Assign(L"");
    if (count > 0) {
        item.Assign(rowText + pieces[0].start, pieces[0].length);
    }
    if (count > 1) {
        value.Assign(rowText + pieces[1].start, pieces[1].length);
    }
}

int RowCopyText(const wchar_t* rowText, WideString& text)
{
    WideString item;
    WideString value;
    SplitRowColumns(rowText, item, value);
    WideString copy;
    if (!copy.Assign(item) || !copy.Append(L'\t') || !copy.Append(value)) {
        return 0;
    }
    return text.Assign(copy);
}

int AppendTreeLine(WideString& text, int depth, const wchar_t* rowText)
{
    WideString item;
    WideString value;
    SplitRowColumns(rowText, item, value);
    int ok = 1;
    for (int level = 0; level < depth && ok; ++level) {
        ok = text.Append(L"  ");
    }
    ok = ok && text.Append(item);
    if (ok && !value.IsEmpty()) {
        ok = text.Append(L'\t') && text.Append(value);
    }
    return ok && text.Append(L"\r\n");
}

DWORD PacedRefreshDelay(DWORD now, DWORD lastRefresh, bool refreshedBefore, DWORD gap)
{
    if (!refreshedBefore) {
        return 0;
    }
    const DWORD elapsed = now - lastRefresh;
    return elapsed >= gap ? 0 : gap - elapsed;
}
