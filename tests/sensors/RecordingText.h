#pragma once

// Recordings read back for the recorder's and the reader's tests: the text
// parsed, and the whole recording as one text to compare.

#include <doctest.h>

#include "sensors/RecordingReader.h"

#include <string>

inline Recording Parse(const std::string& text)
{
    Recording recording;
    REQUIRE(ParseRecording(text.data(), text.size(), recording, nullptr, nullptr) ==
            RecordingRead::Read);
    return recording;
}

// A recording as one text: each sensor's name, id and fields ('#' after a
// numeric one), then a line per report with its values, "field=value".
inline std::string Summary(const Recording& recording)
{
    std::string text;
    for (const RecordedSensor& sensor : recording.sensors) {
        text += sensor.name + " " + sensor.id + ":";
        for (const RecordedField& field : sensor.fields)
            text += " " + field.name + (field.numeric ? "#" : "");
        for (const RecordedReport& report : sensor.reports) {
            text += "\n";
            for (uint32_t i = 0; i < report.valueCount; ++i) {
                const RecordedValue& value = sensor.values[report.firstValue + i];
                text += " " + sensor.fields[value.field].name + "=" + ValueText(recording, value);
            }
        }
        text += "\n";
    }
    return text;
}
