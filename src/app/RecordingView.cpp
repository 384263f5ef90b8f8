#include "app/RecordingView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <iterator>

namespace {

double Width(const TimeWindow& window)
{
    return window.end - window.start;
}

// The sensor's reports' axis times in the order of its list.
int64_t ReportTime(const RecordedReport& report)
{
    return ReportAxisMs(report);
}

} // namespace

TimeWindow WholeWindow(const TimeExtent& extent)
{
    return {extent.first, std::max(extent.last, extent.first + kNarrowestWindow)};
}

TimeWindow KeepInside(TimeWindow window, const TimeExtent& extent)
{
    const TimeWindow whole = WholeWindow(extent);
    const double width = std::min(std::max(Width(window), kNarrowestWindow), Width(whole));
    double start = std::max(window.start, whole.start);
    start = std::min(start, whole.end - width);
    return {start, start + width};
}

TimeWindow ZoomAround(const TimeWindow& window, double factor, double at, const TimeExtent& extent)
{
    if (!(factor > 0) || !std::isfinite(at)) {
        return KeepInside(window, extent);
    }
    const double width = std::max(Width(window) * factor, kNarrowestWindow);
    const double share = Width(window) > 0 ? (at - window.start) / Width(window) : 0.5;
    const double start = at - share * width;
    return KeepInside({start, start + width}, extent);
}

TimeWindow PanBy(const TimeWindow& window, double seconds, const TimeExtent& extent)
{
    return KeepInside({window.start + seconds, window.end + seconds}, extent);
}

TimeWindow WithSpan(const TimeWindow& window, double span, const TimeExtent& extent)
{
    if (span <= 0) {
        return WholeWindow(extent);
    }
    const double middle = (window.start + window.end) / 2;
    return KeepInside({middle - span / 2, middle + span / 2}, extent);
}

const SpanChoice* SpanChoices(size_t* count)
{
    static const SpanChoice choices[] = {{L"All", 0},    {L"1 s", 1},      {L"10 s", 10},
                                         {L"1 min", 60}, {L"10 min", 600}, {L"1 h", 3600}};
    *count = std::size(choices);
    return choices;
}

ScrollState ScrollFor(const TimeWindow& window, const TimeExtent& extent)
{
    const TimeWindow whole = WholeWindow(extent);
    const double total = Width(whole);
    ScrollState state;
    state.page = std::max(1, static_cast<int>(std::lround(Width(window) / total * kScrollSteps)));
    state.page = std::min(state.page, kScrollSteps);
    state.position =
        static_cast<int>(std::lround((window.start - whole.start) / total * kScrollSteps));
    state.position = std::max(0, std::min(state.position, kScrollSteps - state.page));
    return state;
}

TimeWindow WindowAtScroll(const TimeWindow& window, int position, const TimeExtent& extent)
{
    const TimeWindow whole = WholeWindow(extent);
    const double start = whole.start + Width(whole) * position / kScrollSteps;
    return KeepInside({start, start + Width(window)}, extent);
}

TimeExtent RecordingExtent(const Recording& recording, int64_t* originMs)
{
    int64_t first = INT64_MAX;
    int64_t last = INT64_MIN;
    for (const RecordedSensor& sensor : recording.sensors) {
        for (const RecordedReport& report : sensor.reports) {
            first = std::min(first, ReportTime(report));
            last = std::max(last, ReportTime(report));
        }
    }
    if (first > last) {
        *originMs = 0;
        return {};
    }
    *originMs = first;
    return {0, static_cast<double>(last - first) / 1000};
}

std::vector<std::pair<std::wstring, std::wstring>>
FieldValuesAt(const Recording& recording, size_t sensorIndex, int64_t originMs, double seconds)
{
    std::vector<std::pair<std::wstring, std::wstring>> values;
    if (sensorIndex >= recording.sensors.size()) {
        return values;
    }
    const RecordedSensor& sensor = recording.sensors[sensorIndex];
    std::vector<const RecordedValue*> found(sensor.fields.size(), nullptr);
    // The latest report at or before the time gives each of its fields; a
    // field it lacks comes from the latest report that had it.
    const int64_t atMs = originMs + static_cast<int64_t>(std::floor(seconds * 1000 + 0.5));
    std::vector<int64_t> fieldAt(sensor.fields.size(), INT64_MIN);
    for (const RecordedReport& report : sensor.reports) {
        const int64_t time = ReportTime(report);
        if (time > atMs) {
            continue;
        }
        for (uint32_t i = report.firstValue; i < report.firstValue + report.valueCount; ++i) {
            const RecordedValue& value = sensor.values[i];
            if (time >= fieldAt[value.field]) {
                fieldAt[value.field] = time;
                found[value.field] = &value;
            }
        }
    }
    for (size_t field = 0; field < sensor.fields.size(); ++field) {
        values.emplace_back(WideFromUtf8(sensor.fields[field].name),
                            found[field] ? WideFromUtf8(ValueText(recording, *found[field]))
                                         : std::wstring());
    }
    return values;
}

std::wstring DurationText(double milliseconds)
{
    wchar_t text[64];
    if (milliseconds < 1000) {
        swprintf(text, 64, L"%.0f ms", milliseconds);
    } else if (milliseconds < 60000) {
        swprintf(text, 64, L"%.2f s", milliseconds / 1000);
    } else if (milliseconds < 3600000) {
        const long long seconds = std::llround(milliseconds / 1000);
        swprintf(text, 64, L"%lld min %lld s", seconds / 60, seconds % 60);
    } else {
        const long long minutes = std::llround(milliseconds / 60000);
        swprintf(text, 64, L"%lld h %lld min", minutes / 60, minutes % 60);
    }
    return text;
}

std::wstring ReportRateText(const RecordedSensor& sensor)
{
    const size_t count = sensor.reports.size();
    std::wstring text = std::to_wstring(count) + (count == 1 ? L" report" : L" reports");
    const RecordedRate rate = MeasureRecordedRate(sensor);
    if (count < 2) {
        return text;
    }
    wchar_t perSecond[32] = L"";
    if (rate.medianIntervalMs > 0) {
        swprintf(perSecond, 32, L" (%.2f per second)", 1000 / rate.medianIntervalMs);
    }
    RecordedReport gapStart = {rate.largestGapAtMs, 0, 0, kNoUtcOffset};
    const std::string clock = FormatReportTime(gapStart);
    return text + L"; median interval " + DurationText(rate.medianIntervalMs) + perSecond +
           L"; largest gap " + DurationText(rate.largestGapMs) + L" after " +
           WideFromUtf8(clock.substr(11, 12));
}

std::wstring RefusalText(const wchar_t* fileName, RecordingRead result)
{
    const std::wstring name = fileName;
    switch (result) {
    case RecordingRead::NotRecording:
        return name + L" is not a recording of Tessel's: it does not begin with the row "
                      L"\"Time,Sensor,Sensor ID,Field,Value\".";
    case RecordingRead::TooLarge:
        return name + L" is too large to open (more than 512 MB).";
    case RecordingRead::OutOfMemory:
        return name + L" could not be opened: there is not enough memory.";
    case RecordingRead::Unreadable:
        return name + L" could not be read.";
    default:
        return std::wstring();
    }
}

ChartData RecordedChart(const Recording& recording, size_t sensorIndex, int64_t originMs)
{
    ChartData chart;
    chart.timeOrigin = 0;
    if (sensorIndex >= recording.sensors.size()) {
        return chart;
    }
    const RecordedSensor& sensor = recording.sensors[sensorIndex];
    chart.series.resize(sensor.fields.size());
    for (size_t field = 0; field < sensor.fields.size(); ++field) {
        ChartSeries& series = chart.series[field];
        series.name = WideFromUtf8(sensor.fields[field].name);
        series.color = ChartSeriesColor(field);
        series.plotted = sensor.fields[field].numeric;
    }
    bool ascending = true;
    for (const RecordedReport& report : sensor.reports) {
        const double seconds = static_cast<double>(ReportTime(report) - originMs) / 1000;
        for (uint32_t i = report.firstValue; i < report.firstValue + report.valueCount; ++i) {
            const RecordedValue& value = sensor.values[i];
            ChartSeries& series = chart.series[value.field];
            series.valueText = WideFromUtf8(ValueText(recording, value));
            if (series.plotted) {
                ascending &= series.points.empty() || series.points.back().time <= seconds;
                series.points.push_back({seconds, value.number});
            }
        }
    }
    if (!ascending) {
        // A clock set back: the chart draws its lines in the order of time.
        for (ChartSeries& series : chart.series) {
            std::stable_sort(
                series.points.begin(), series.points.end(),
                [](const ChartPoint& a, const ChartPoint& b) { return a.time < b.time; });
        }
    }
    return chart;
}
