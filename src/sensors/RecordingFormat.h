#pragma once

#include "base/WideString.h"

#include <windows.h>

#include <initializer_list>
#include <string>

// The text of a recording of sensor data: CSV after RFC 4180 (fields
// separated by commas, rows ended by CR LF, quoted where needed), one row per
// field of each data report, stored as UTF-8 after a byte-order mark so that
// spreadsheets read the names right. Rows are made as UTF-8 bytes straight
// away: a storm of reports is formatted on the sensor event threads, and
// growing one byte string costs a fraction of what growing a WideString
// piece by piece does (it counts its whole length after every append).
// Functions answer 1, or 0 when memory ran out (the text may then hold part
// of what was appended).

// The byte-order mark and the row that names the columns: the start of every
// recording.
extern const char kRecordingStart[];

// Appends bytes (a zero-terminated text in the second form).
int AppendBytes(std::string& text, const char* bytes, size_t count);
int AppendBytes(std::string& text, const char* bytes);

// Appends text as one CSV field: in quotes, with its quotes doubled, when it
// holds a comma, a quote, CR or LF. A text that a spreadsheet would take for
// a formula (it starts with =, +, -, @, a tab or CR and is no plain number)
// gets an apostrophe in front, so that opening a recording never runs what a
// sensor driver reported. 1, or 0 when the row could not grow.
int AppendCsvField(std::string& row, const wchar_t* text);

// Appends the fields as CSV fields, separated by commas, then end.
int AppendCsvFields(std::string& row, std::initializer_list<const wchar_t*> fields,
                    const char* end);

// A decimal number such as "-122.3", "1E-05" or ".5", nothing else.
bool IsPlainNumber(const wchar_t* text);

// A moment as a recording writes it: the local time and how far it is
// ahead of UTC, in minutes (negative west of Greenwich).
struct RecordTime
{
    SYSTEMTIME local;
    int offsetMinutes;
};

// The UTC time moved by the offset (the days, months and years carried);
// 0 with time unchanged when utc is no valid time.
int ToRecordTime(const SYSTEMTIME& utc, int offsetMinutes, RecordTime& time);

// Appends "2026-12-08 09:11:50.123 +01:00": ISO 8601 local time with
// milliseconds and its offset from UTC ("+00:00" for UTC), so that rows
// across a change of daylight saving time stay in order and unambiguous.
int AppendRecordTime(std::string& text, const RecordTime& time);

// The columns every row of one report shares, each followed by its comma:
// time, sensor name, sensor id.
int FormatReportColumns(const RecordTime& time, const wchar_t* sensorName, const wchar_t* sensorId,
                        std::string& columns);

// Appends one row: the report's columns, then the field's name and value.
int AppendRecordRow(std::string& rows, const std::string& reportColumns, const wchar_t* fieldName,
                    const wchar_t* valueText);

// Appends the UTF-8 form of length UTF-16 units to bytes (0 with bytes
// unchanged). A lone surrogate becomes U+FFFD.
int AppendUtf8(const wchar_t* text, unsigned length, std::string& bytes);

// The file name the save dialog proposes: "Tessel 2026-12-08 00-53-13.csv".
int DefaultRecordingName(const SYSTEMTIME& time, WideString& name);
