#pragma once

#include <windows.h>

#include "base/WideString.h"

// Decisions of the live sensor tree on plain values: whether a field row can
// take a new value in place, the texts that Copy and Copy All put on the
// clipboard, and when the next paced refresh may run.

// What a new field value means for the row that shows the field.
enum FieldRowChange
{
    FIELD_ROW_SAME,     // the row already shows the name and the value
    FIELD_ROW_NEW_TEXT, // same name, another value: the row text changes
    FIELD_ROW_OTHER,    // the row shows another field: the tree must be rebuilt
};

// Compares a row text ("NAME<TAB>VALUE") with a field's name and value text.
FieldRowChange CompareFieldRow(const wchar_t* rowText, const wchar_t* name, const wchar_t* value);

// The text of a sensor's row: its name, and its state in the value column
// unless the state is kSensorStateUnknown. A sensor without a name keeps a
// blank first column, so that its state does not move into the name's place.
int SensorRowText(const wchar_t* name, long state, WideString& text);

// Compares a sensor row's text with the text it should show: the same, the
// same sensor in another state, or another sensor.
FieldRowChange CompareSensorRow(const wchar_t* rowText, const wchar_t* expected);

// The two columns of a row text as the tree-list splits them: the item
// (first column) and the value (second column; empty when there is none).
void SplitRowColumns(const wchar_t* rowText, WideString& item, WideString& value);

// The text Copy puts on the clipboard for one row: "Item<TAB>Value".
int RowCopyText(const wchar_t* rowText, WideString& text);

// Appends one row of Copy All: two spaces per level of depth, the item, and
// a tab and the value when the row has one, then a line break.
int AppendTreeLine(WideString& text, int depth, const wchar_t* rowText);

// Milliseconds to wait before the next refresh may run, so that refreshes
// come at most once per gap; 0 to run it now. Tick counts may wrap.
DWORD PacedRefreshDelay(DWORD now, DWORD lastRefresh, bool refreshedBefore, DWORD gap);
