#pragma once

#include <windows.h>

#include "base/ScopedHandle.h"
#include "ui/ChartScale.h"
#include "ui/GdiPlusLines.h"
#include "ui/MouseLeaveTracker.h"

#include <string>
#include <unordered_map>
#include <vector>

// The chart control's window class.
extern const wchar_t kChartClassName[];

// Sent to the parent as WM_COMMAND (the control's id, this code, the
// control's window) when a click on the legend hid or showed a line;
// ChartCtrl::ToggledSeries names it.
constexpr WORD CHARTN_SERIES_TOGGLED = 1;

// One line of a chart: its points ascending by time (seconds; NaN or
// infinite values leave a gap), its colour, and what the legend says. A
// series that is not plotted stands in the legend with "not plotted".
struct ChartSeries
{
    std::wstring name;
    COLORREF color = 0;
    bool visible = true;
    bool plotted = true;
    // The newest value as the program shows it elsewhere.
    std::wstring valueText;
    std::vector<ChartPoint> points;
};

// Everything a chart shows: its series and the time range start..end
// (seconds). Time labels count from timeOrigin: a live chart gives its end
// ("-10" .. "0"), a recording its first report.
struct ChartData
{
    std::vector<ChartSeries> series;
    double start = 0.0;
    double end = 10.0;
    double timeOrigin = 0.0;
};

// The colour of the index-th series: a palette that reads on white and for
// the common kinds of colour blindness, repeated beyond its end.
COLORREF ChartSeriesColor(size_t index);

// Where the parts of a chart go in a client area of the given size: the
// plot, the value labels left of it, the time labels below it, the legend
// to the right. Sizes in pixels of the window's DPI.
struct ChartLayoutInput
{
    SIZE client = {};
    int dpi = 96;
    int textHeight = 0;
    int valueLabelWidth = 0;
    int legendWidth = 0;
};
struct ChartLayout
{
    RECT plot = {};
    RECT legend = {};
    int legendRowHeight = 0;
};
ChartLayout LayOutChart(const ChartLayoutInput& input);

// How many ticks fit along an axis of that many pixels, with room of
// spacing pixels per label; at least 2.
int TicksThatFit(int pixels, int spacing);

// The text of a value at the cursor: up to six significant digits.
int FormatCursorValue(double value, std::wstring& text);

// A chart of lines over time in a window of its own class: axes with round
// ticks, a light grid, a legend whose entries hide and show their lines,
// a cursor that follows the mouse over the plot and tells the values at
// its time. The data come whole with SetData; the control keeps a copy.
// Keys it is given go to its parent (WM_KEYDOWN, WM_CHAR).
class ChartCtrl
{
public:
    ChartCtrl() = default;
    ~ChartCtrl() { Destroy(); }
    ChartCtrl(const ChartCtrl&) = delete;
    ChartCtrl& operator=(const ChartCtrl&) = delete;

    // A visible child window of parent with the given id and bounds.
    int Create(HWND parent, int id, const RECT& bounds);
    void Destroy();
    HWND Window() const { return window_.Get(); }

    // Shows the data (taken over); repaints.
    void SetData(ChartData data);
    // As SetData, and draws the new picture at once: for a chart that
    // changes many times a second, where an invalidation and its paint
    // message would cost several round trips to the window server each.
    void ShowData(ChartData data);
    // Shows another stretch of the same data's time; repaints.
    void SetTimeRange(double start, double end);
    const ChartData& Data() const { return data_; }
    // 1, or 0 for no such series.
    int SetSeriesVisible(size_t index, bool visible);
    // The series a legend click last hid or showed; -1 before any.
    int ToggledSeries() const { return toggled_; }

    // Makes fonts and sizes for another DPI (the window's monitor's).
    void SetDpi(int dpi);
    int Dpi() const { return dpi_; }
    // The system's colours changed (high contrast on or off).
    void ThemeChanged();
    // Lines through GDI+ with anti-aliasing (the default where GDI+ loads),
    // or GDI's plain pens.
    void SetSmoothLines(bool smooth);
    bool DrawsSmoothLines() const;

    // The cursor: at a pixel column of the plot (the mouse puts it there),
    // or none.
    void SetCursorX(int x);
    void ClearCursor();
    bool HasCursor() const { return hasCursor_; }
    // The time at the cursor, in the chart's seconds; 0 without one.
    double CursorTime() const;

    // Where the last picture put things, for mapping points to pixels.
    const ChartLayout& Layout() const { return layout_; }
    const ChartAxis& TimeAxis() const { return timeAxis_; }
    const ChartAxis& ValueAxis() const { return valueAxis_; }
    const ChartTicks& ValueTicks() const { return valueTicks_; }
    // The legend entry at a client point, or -1; its rectangle.
    int LegendEntryAt(POINT point) const;
    RECT LegendEntryRect(size_t index) const;

    // Draws the chart into a device context of the given size.
    void Render(HDC dc, SIZE size);
    // The picture at the control's size in a new bitmap; 1 or 0.
    int MakeBitmap(ScopedBitmap& bitmap);
    // The picture on the clipboard as a bitmap, owned by owner; 1 or 0.
    int CopyImage(HWND owner);
    // The picture as a PNG file; 1 or 0 (no file then).
    int SaveImage(const wchar_t* path);

private:
    struct Colors
    {
        COLORREF background;
        COLORREF text;
        COLORREF grid;
        COLORREF axis;
        COLORREF dimmed;
    };
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Paint();
    int Present(HDC dc);
    void OnMouseMove(LPARAM lParam);
    void OnClick(LPARAM lParam);
    void MakeFont();
    Colors PickColors() const;
    void Measure(HDC dc, SIZE size);
    void DrawGrid(HDC dc, const Colors& colors);
    void DrawLines(HDC dc);
    void DrawLinesWithGdi(HDC dc, const std::vector<GdiPlusLines::Point>& points, COLORREF color,
                          int width);
    void DrawCursor(HDC dc, const Colors& colors);
    void DrawLegend(HDC dc, const Colors& colors);
    const wchar_t* LegendValue(const ChartSeries& series) const;
    HDC BufferFor(HDC windowDc, SIZE size);
    int TextWidth(HDC dc, const wchar_t* text);
    void DrawLabel(HDC dc, const wchar_t* text, const RECT& rect, UINT flags);

    ScopedWindow window_;
    ChartData data_;
    // The picture is drawn here first. The memory DC and its bitmap (a DIB
    // section: a screen-compatible bitmap costs Wine a display query each
    // time it is selected) are kept between paints of one size.
    ScopedBitmap backBuffer_;
    ScopedCreatedDc bufferDc_;
    SIZE backBufferSize_ = {};
    // The widths of the labels drawn in the control's font, measured once:
    // the same tick labels come back frame after frame.
    std::unordered_map<std::wstring, int> textWidths_;
    // Read once and again when the system's settings change: asking costs
    // a round trip to the server under Wine.
    bool highContrast_ = false;
    ScopedFont font_;
    GdiPlusLines smooth_;
    bool smoothWanted_ = true;
    MouseLeaveTracker leaveTracker_;
    int dpi_ = 96;
    int id_ = 0;
    int toggled_ = -1;
    bool hasCursor_ = false;
    int cursorX_ = 0;
    int textHeight_ = 0;
    ChartLayout layout_;
    ChartAxis timeAxis_;
    ChartAxis valueAxis_;
    ChartTicks valueTicks_;
    ChartTicks timeTicks_;
};
