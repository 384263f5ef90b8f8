#pragma once

#include "base/WideString.h"

#include <windows.h>

struct ISensor;

// A sensor's report interval: reading it, asking for another, and the
// texts the report interval dialog shows.

// The intervals a sensor states, in milliseconds.
struct ReportIntervals
{
    bool hasCurrent = false; // SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL
    ULONG currentMs = 0;
    bool hasMinimum = false; // SENSOR_PROPERTY_MIN_REPORT_INTERVAL
    ULONG minimumMs = 0;
};

// Reads both intervals; a value that is missing or not a VT_UI4 counts as
// not stated. 1 when the sensor states its current interval (only then can
// it be set), else 0.
int ReadReportIntervals(ISensor* sensor, ReportIntervals& intervals);

// The edit field's text as an interval: decimal digits, blanks around them
// allowed, 0 (the sensor's default) up to 4294967295. 1, or 0 with ms
// untouched.
int ParseIntervalText(const wchar_t* text, ULONG& ms);

// What became of a request for another interval.
struct IntervalOutcome
{
    HRESULT call = E_FAIL;    // what ISensor::SetProperties answered
    bool keyAnswered = false; // the results held the interval's key as VT_ERROR
    HRESULT key = E_FAIL;     // that key's result
    bool readBack = false;    // the interval could be read afterwards
    ULONG acceptedMs = 0;     // and is this
};

// Whether the sensor took the interval: its key's own result when it gave
// one, else the call's (S_FALSE means some key failed).
bool IntervalTaken(const IntervalOutcome& outcome);

// Asks the sensor for the interval with ISensor::SetProperties and reads
// back the one it uses. The outcome is always filled; 1 when the sensor
// took it, else 0.
int RequestReportInterval(ISensor* sensor, ULONG ms, IntervalOutcome& outcome);

// The one line the dialog shows for the outcome of asking for requestedMs.
void DescribeIntervalOutcome(ULONG requestedMs, const IntervalOutcome& outcome, WideString& text);

// "16 ms", or "Not stated".
void IntervalText(bool stated, ULONG ms, WideString& text);
