#include "ui/ChartCtrl.h"

#include "ui/Dpi.h"
#include "ui/GdiHelpers.h"
#include "ui/PngFile.h"

#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <cwchar>

const wchar_t kChartClassName[] = L"TesselChart";

namespace {

// Sizes at 96 dpi.
constexpr int kMargin = 8;
constexpr int kTickLength = 4;
constexpr int kLegendGap = 10;
constexpr int kLegendRowGap = 6;
constexpr int kLineWidth = 2;
constexpr int kCursorBoxPadding = 4;
// Labels stand at least this many text heights apart.
constexpr int kValueLabelSpacing = 2;
constexpr int kTimeLabelSpacing = 6;
// Beyond this many points per pixel column a line is reduced to the
// points its picture needs.
constexpr size_t kPointsPerColumnBeforeReducing = 4;
// Text flags of every label.
constexpr UINT kLabelFlags = DT_SINGLELINE | DT_NOPREFIX;

const wchar_t kNotPlotted[] = L"not plotted";

// Blue, vermilion, bluish green, reddish purple, orange, sky blue and
// black: apart from one another on white and for red-green blindness.
const COLORREF kPalette[] = {RGB(0, 114, 178),   RGB(213, 94, 0),  RGB(0, 158, 115),
                             RGB(204, 121, 167), RGB(230, 159, 0), RGB(86, 180, 233),
                             RGB(0, 0, 0)};

bool IsHighContrastOn()
{
    HIGHCONTRASTW contrast = {};
    contrast.cbSize = sizeof(contrast);
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

// share parts of to, the rest of from.
COLORREF Blend(COLORREF from, COLORREF to, double share)
{
    const auto mix = [share](int a, int b) {
        return static_cast<BYTE>(std::lround(a + (b - a) * share));
    };
    return RGB(mix(GetRValue(from), GetRValue(to)), mix(GetGValue(from), GetGValue(to)),
               mix(GetBValue(from), GetBValue(to)));
}

// Widths measured beyond this many different texts start the cache anew.
constexpr size_t kMaxCachedWidths = 512;

// Where a single-line label of the given width and height starts in its
// rectangle, as DrawText places it for these alignment flags.
POINT LabelOrigin(const RECT& rect, UINT flags, int width, int height)
{
    POINT origin = {rect.left, rect.top};
    if (flags & DT_RIGHT) {
        origin.x = rect.right - width;
    } else if (flags & DT_CENTER) {
        origin.x = rect.left + (rect.right - rect.left - width) / 2;
    }
    if (flags & DT_VCENTER) {
        origin.y = rect.top + (rect.bottom - rect.top - height) / 2;
    }
    return origin;
}

void HorizontalLine(HDC dc, int left, int right, int y, COLORREF color)
{
    const RECT line = {left, y, right, y + 1};
    FillSolid(dc, line, color);
}

void VerticalLine(HDC dc, int x, int top, int bottom, COLORREF color)
{
    const RECT line = {x, top, x + 1, bottom};
    FillSolid(dc, line, color);
}

int PixelOf(double position)
{
    return static_cast<int>(std::floor(position));
}

bool Contains(const RECT& rect, POINT point)
{
    return PtInRect(&rect, point) != FALSE;
}

int TickLabel(double value, int decimals, WideString& text)
{
    return FormatTickValue(value, decimals, text);
}

} // namespace

COLORREF ChartSeriesColor(size_t index)
{
    return kPalette[index % (sizeof(kPalette) / sizeof(kPalette[0]))];
}

ChartLayout LayOutChart(const ChartLayoutInput& input)
{
    const int margin = ScaleForDpi(kMargin, input.dpi);
    const int tick = ScaleForDpi(kTickLength, input.dpi);
    const LONG width = input.client.cx;
    const LONG height = input.client.cy;
    ChartLayout layout;
    layout.legendRowHeight = input.textHeight + ScaleForDpi(kLegendRowGap, input.dpi);
    LONG plotRight = width - margin;
    if (input.legendWidth > 0) {
        layout.legend = {width - margin - input.legendWidth, margin, width - margin,
                         height - margin};
        plotRight = layout.legend.left - ScaleForDpi(kLegendGap, input.dpi);
    }
    layout.plot.left = margin + input.valueLabelWidth + tick;
    layout.plot.top = margin + input.textHeight / 2;
    layout.plot.right = std::max(plotRight, layout.plot.left + 2);
    layout.plot.bottom =
        std::max<LONG>(height - margin - input.textHeight - tick, layout.plot.top + 2);
    return layout;
}

int TicksThatFit(int pixels, int spacing)
{
    return spacing > 0 ? std::max(2, pixels / spacing + 1) : 2;
}

int FormatCursorValue(double value, std::wstring& text)
{
    if (!std::isfinite(value)) {
        text.clear();
        return 0;
    }
    wchar_t buffer[64];
    swprintf(buffer, 64, L"%.6g", value);
    text.assign(buffer);
    return 1;
}

int ChartCtrl::Create(HWND parent, int id, const RECT& bounds)
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    if (!GetClassInfoExW(instance, kChartClassName, &windowClass)) {
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = WindowProcedure;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.lpszClassName = kChartClassName;
        if (!RegisterClassExW(&windowClass)) {
            return 0;
        }
    }
    Destroy();
    id_ = id;
    dpi_ = WindowDpi(parent);
    highContrast_ = IsHighContrastOn();
    MakeFont();
    HWND window =
        CreateWindowExW(0, kChartClassName, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, bounds.left,
                        bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, this);
    window_.Reset(window);
    return window != nullptr;
}

void ChartCtrl::Destroy()
{
    window_.Reset();
}

LRESULT CALLBACK ChartCtrl::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* chart = static_cast<ChartCtrl*>(create->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(chart));
        chart->window_.Reset(window);
    }
    auto* chart = reinterpret_cast<ChartCtrl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!chart) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        // Gone with its parent: nothing is left to destroy.
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        chart->window_.Detach();
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return chart->Handle(message, wParam, lParam);
}

LRESULT ChartCtrl::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND window = window_.Get();
    switch (message) {
    case WM_PAINT:
        Paint();
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SIZE:
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    case WM_MOUSEMOVE:
        OnMouseMove(lParam);
        return 0;
    case WM_MOUSELEAVE:
        ClearCursor();
        return 0;
    case WM_LBUTTONDOWN:
        OnClick(lParam);
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTCHARS | DLGC_WANTARROWS;
    case WM_KEYDOWN:
    case WM_CHAR:
        // The window around the chart has the commands.
        return SendMessageW(GetParent(window), message, wParam, lParam);
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
    case WM_SETTINGCHANGE:
        ThemeChanged();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void ChartCtrl::SetData(ChartData data)
{
    data_ = std::move(data);
    if (Window()) {
        InvalidateRect(Window(), nullptr, FALSE);
    }
}

void ChartCtrl::ShowData(ChartData data)
{
    data_ = std::move(data);
    if (!Window()) {
        return;
    }
    WindowDc dc(Window());
    if (!dc.Get() || !Present(dc.Get())) {
        InvalidateRect(Window(), nullptr, FALSE);
    }
}

void ChartCtrl::SetTimeRange(double start, double end)
{
    data_.start = start;
    data_.end = end;
    if (Window()) {
        InvalidateRect(Window(), nullptr, FALSE);
    }
}

int ChartCtrl::SetSeriesVisible(size_t index, bool visible)
{
    if (index >= data_.series.size()) {
        return 0;
    }
    data_.series[index].visible = visible;
    if (Window()) {
        InvalidateRect(Window(), nullptr, FALSE);
    }
    return 1;
}

void ChartCtrl::SetDpi(int dpi)
{
    dpi_ = dpi > 0 ? dpi : kDefaultDpi;
    MakeFont();
    if (Window()) {
        InvalidateRect(Window(), nullptr, FALSE);
    }
}

void ChartCtrl::ThemeChanged()
{
    highContrast_ = IsHighContrastOn();
    MakeFont();
    if (Window()) {
        InvalidateRect(Window(), nullptr, FALSE);
    }
}

void ChartCtrl::SetSmoothLines(bool smooth)
{
    smoothWanted_ = smooth;
    if (Window()) {
        InvalidateRect(Window(), nullptr, FALSE);
    }
}

bool ChartCtrl::DrawsSmoothLines() const
{
    return smoothWanted_ && smooth_.IsReady();
}

// The system's message font, made for the control's DPI. (500 bytes: the
// layout without the padded-border field, which every Windows accepts.)
void ChartCtrl::MakeFont()
{
    textWidths_.clear();
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = 500;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 500, &metrics, 0)) {
        font_.Reset();
        return;
    }
    LOGFONTW logFont = metrics.lfMessageFont;
    logFont.lfHeight = RescaleFontHeight(logFont.lfHeight, SystemDpi(), dpi_);
    font_.Reset(CreateFontIndirectW(&logFont));
}

ChartCtrl::Colors ChartCtrl::PickColors() const
{
    Colors colors;
    colors.background = GetSysColor(COLOR_WINDOW);
    colors.text = GetSysColor(COLOR_WINDOWTEXT);
    const bool contrast = highContrast_;
    colors.grid =
        contrast ? GetSysColor(COLOR_GRAYTEXT) : Blend(colors.background, colors.text, 0.12);
    colors.axis = contrast ? colors.text : Blend(colors.background, colors.text, 0.55);
    colors.dimmed = GetSysColor(COLOR_GRAYTEXT);
    return colors;
}

void ChartCtrl::Paint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(Window(), &paint);
    if (!dc) {
        return;
    }
    if (!Present(dc)) {
        RECT client = {};
        GetClientRect(Window(), &client);
        Render(dc, {std::max<LONG>(client.right, 1), std::max<LONG>(client.bottom, 1)});
    }
    EndPaint(Window(), &paint);
}

// Drawn aside and copied in one piece, so the picture never flickers.
int ChartCtrl::Present(HDC dc)
{
    RECT client = {};
    if (!GetClientRect(Window(), &client)) {
        return 0;
    }
    const SIZE size = {std::max<LONG>(client.right, 1), std::max<LONG>(client.bottom, 1)};
    HDC buffer = BufferFor(dc, size);
    if (!buffer) {
        return 0;
    }
    Render(buffer, size);
    return BitBlt(dc, 0, 0, size.cx, size.cy, buffer, 0, 0, SRCCOPY) != FALSE;
}

HDC ChartCtrl::BufferFor(HDC windowDc, SIZE size)
{
    if (bufferDc_ && backBuffer_ && size.cx == backBufferSize_.cx &&
        size.cy == backBufferSize_.cy) {
        return bufferDc_.Get();
    }
    if (!bufferDc_) {
        bufferDc_.Reset(CreateCompatibleDC(windowDc));
    }
    ScopedBitmap made(MakeDibSection(size.cx, size.cy));
    if (!bufferDc_ || !made) {
        return nullptr;
    }
    // The bitmap it replaces is no longer selected, so it can go.
    SelectObject(bufferDc_.Get(), made.Get());
    backBuffer_ = std::move(made);
    backBufferSize_ = size;
    return bufferDc_.Get();
}

int ChartCtrl::TextWidth(HDC dc, const wchar_t* text)
{
    const auto found = textWidths_.find(text);
    if (found != textWidths_.end()) {
        return found->second;
    }
    SIZE size = {};
    GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
    if (textWidths_.size() >= kMaxCachedWidths) {
        textWidths_.clear();
    }
    textWidths_.emplace(text, size.cx);
    return size.cx;
}

// A label on one line, clipped to its rectangle. Text drawn straight at its
// place costs a fraction of DrawText, which measures it again; only a text
// too long for its place is left to DrawText for the ellipsis.
void ChartCtrl::DrawLabel(HDC dc, const wchar_t* text, const RECT& rect, UINT flags)
{
    const int width = TextWidth(dc, text);
    if ((flags & DT_END_ELLIPSIS) && width > rect.right - rect.left) {
        RECT place = rect;
        DrawTextW(dc, text, -1, &place, kLabelFlags | flags);
        return;
    }
    const POINT origin = LabelOrigin(rect, flags, width, textHeight_);
    ExtTextOutW(dc, origin.x, origin.y, ETO_CLIPPED, &rect, text, static_cast<UINT>(wcslen(text)),
                nullptr);
}

void ChartCtrl::Render(HDC dc, SIZE size)
{
    SavedDcState saved(dc);
    const Colors colors = PickColors();
    const RECT all = {0, 0, size.cx, size.cy};
    FillSolid(dc, all, colors.background);
    if (font_) {
        SelectObject(dc, font_.Get());
    }
    SetBkMode(dc, TRANSPARENT);
    Measure(dc, size);
    DrawGrid(dc, colors);
    DrawLines(dc);
    DrawCursor(dc, colors);
    DrawLegend(dc, colors);
}

const wchar_t* ChartCtrl::LegendValue(const ChartSeries& series) const
{
    return series.plotted ? series.valueText.c_str() : kNotPlotted;
}

// Chooses the value ticks for the values in view, then places the parts
// around the widest label and the widest legend entry.
void ChartCtrl::Measure(HDC dc, SIZE size)
{
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    textHeight_ = metrics.tmHeight;

    ChartValueRange range;
    for (const ChartSeries& series : data_.series) {
        if (series.visible && series.plotted) {
            const ChartValueRange own =
                ValueRangeOf(series.points.data(), series.points.size(), data_.start, data_.end);
            if (!own.empty) {
                WidenValueRange(range, own.low);
                WidenValueRange(range, own.high);
            }
        }
    }
    const int roughPlotHeight = size.cy - 3 * textHeight_;
    valueTicks_ =
        ChooseTicks(range, TicksThatFit(roughPlotHeight, kValueLabelSpacing * textHeight_));

    int labelWidth = 0;
    WideString label;
    for (int index = 0; index < valueTicks_.count; ++index) {
        if (TickLabel(valueTicks_.At(index), valueTicks_.decimals, label)) {
            labelWidth = std::max<int>(labelWidth, TextWidth(dc, label.Data()));
        }
    }
    int nameWidth = 0;
    int valueWidth = 0;
    for (const ChartSeries& series : data_.series) {
        nameWidth = std::max<int>(nameWidth, TextWidth(dc, series.name.c_str()));
        valueWidth = std::max<int>(valueWidth, TextWidth(dc, LegendValue(series)));
    }
    ChartLayoutInput input;
    input.client = size;
    input.dpi = dpi_;
    input.textHeight = textHeight_;
    input.valueLabelWidth = labelWidth;
    if (!data_.series.empty()) {
        const int swatch = textHeight_ + ScaleForDpi(kLegendRowGap, dpi_);
        input.legendWidth = std::min<int>(swatch + nameWidth + textHeight_ + valueWidth,
                                          static_cast<int>(size.cx * 0.45));
    }
    layout_ = LayOutChart(input);

    const RECT& plot = layout_.plot;
    // Pixel column k spans k..k+1: the ends of the axes lie in the middle
    // of the plot's first and last pixels.
    timeAxis_ = {data_.start, data_.end, plot.left + 0.5, plot.right - 0.5};
    valueAxis_ = {valueTicks_.first, valueTicks_.Last(), plot.bottom - 0.5, plot.top + 0.5};
    timeTicks_ =
        ChooseInnerTicks(data_.start - data_.timeOrigin, data_.end - data_.timeOrigin,
                         TicksThatFit(plot.right - plot.left, kTimeLabelSpacing * textHeight_));
}

void ChartCtrl::DrawGrid(HDC dc, const Colors& colors)
{
    const RECT& plot = layout_.plot;
    const int tick = ScaleForDpi(kTickLength, dpi_);
    SetTextColor(dc, colors.text);
    WideString label;
    for (int index = 0; index < valueTicks_.count; ++index) {
        const double value = valueTicks_.At(index);
        const int y = PixelOf(ValueToPixel(valueAxis_, value));
        HorizontalLine(dc, plot.left, plot.right, y, colors.grid);
        HorizontalLine(dc, plot.left - tick, plot.left, y, colors.axis);
        if (TickLabel(value, valueTicks_.decimals, label)) {
            const RECT rect = {0, y - textHeight_, plot.left - tick - 1, y + textHeight_};
            DrawLabel(dc, label.Data(), rect, DT_RIGHT | DT_VCENTER);
        }
    }
    for (int index = 0; index < timeTicks_.count; ++index) {
        const double time = timeTicks_.At(index);
        const int x = PixelOf(ValueToPixel(timeAxis_, time + data_.timeOrigin));
        VerticalLine(dc, x, plot.top, plot.bottom, colors.grid);
        VerticalLine(dc, x, plot.bottom, plot.bottom + tick, colors.axis);
        if (TickLabel(time, timeTicks_.decimals, label) && label.Append(L" s")) {
            const int half = TextWidth(dc, label.Data()) / 2 + 1;
            const RECT rect = {x - half, plot.bottom + tick, x + half + 1,
                               plot.bottom + tick + textHeight_};
            DrawLabel(dc, label.Data(), rect, DT_CENTER);
        }
    }
    HorizontalLine(dc, plot.left, plot.right, plot.bottom - 1, colors.axis);
    VerticalLine(dc, plot.left, plot.top, plot.bottom, colors.axis);
}

void ChartCtrl::DrawLines(HDC dc)
{
    const RECT& plot = layout_.plot;
    const bool smooth = smoothWanted_ && smooth_.Start() && smooth_.Begin(dc, plot);
    const int width = ScaleForDpi(kLineWidth, dpi_);
    const size_t columns = static_cast<size_t>(plot.right - plot.left);
    std::vector<ChartPoint> reduced;
    std::vector<GdiPlusLines::Point> line;
    for (const ChartSeries& series : data_.series) {
        if (!series.visible || !series.plotted) {
            continue;
        }
        const ChartPoint* points = series.points.data();
        ChartPointSpan span = VisiblePoints(points, series.points.size(), data_.start, data_.end);
        if (span.end - span.first > columns * kPointsPerColumnBeforeReducing) {
            ReduceToColumns(points, span, timeAxis_, reduced);
            points = reduced.data();
            span = {0, reduced.size()};
        }
        // Each run of finite values is one polyline.
        line.clear();
        for (size_t index = span.first; index <= span.end; ++index) {
            const bool finite = index < span.end && std::isfinite(points[index].value);
            if (finite) {
                line.push_back({static_cast<float>(ValueToPixel(timeAxis_, points[index].time)),
                                static_cast<float>(ValueToPixel(valueAxis_, points[index].value))});
                continue;
            }
            if (smooth) {
                smooth_.Draw(line.data(), static_cast<int>(line.size()), series.color,
                             static_cast<float>(width));
            } else {
                DrawLinesWithGdi(dc, line, series.color, width);
            }
            line.clear();
        }
    }
    smooth_.End();
}

// One-pixel pens, drawn again one pixel to the right and lower for each
// further pixel of width: GDI's wide pens cost about fifteen times as much
// under Wine, where this path is taken.
void ChartCtrl::DrawLinesWithGdi(HDC dc, const std::vector<GdiPlusLines::Point>& points,
                                 COLORREF color, int width)
{
    if (points.size() < 2) {
        return;
    }
    std::vector<POINT> pixels(points.size());
    const int half = (width - 1) / 2;
    for (size_t index = 0; index < points.size(); ++index) {
        pixels[index] = {PixelOf(points[index].x) - half, PixelOf(points[index].y) - half};
    }
    SavedDcState saved(dc);
    const RECT& plot = layout_.plot;
    IntersectClipRect(dc, plot.left, plot.top, plot.right, plot.bottom);
    ScopedPen pen(CreatePen(PS_SOLID, 1, color));
    SelectObject(dc, pen.Get());
    const int count = static_cast<int>(pixels.size());
    Polyline(dc, pixels.data(), count);
    for (int offset = 1; offset < width; ++offset) {
        OffsetViewportOrgEx(dc, offset, 0, nullptr);
        Polyline(dc, pixels.data(), count);
        OffsetViewportOrgEx(dc, -offset, offset, nullptr);
        Polyline(dc, pixels.data(), count);
        OffsetViewportOrgEx(dc, 0, -offset, nullptr);
    }
}

void ChartCtrl::SetCursorX(int x)
{
    if (hasCursor_ && cursorX_ == x) {
        return;
    }
    hasCursor_ = true;
    cursorX_ = x;
    if (Window()) {
        InvalidateRect(Window(), nullptr, FALSE);
    }
}

void ChartCtrl::ClearCursor()
{
    if (!hasCursor_) {
        return;
    }
    hasCursor_ = false;
    if (Window()) {
        InvalidateRect(Window(), nullptr, FALSE);
    }
}

double ChartCtrl::CursorTime() const
{
    return hasCursor_ ? PixelToValue(timeAxis_, cursorX_ + 0.5) : 0.0;
}

// A vertical line at the cursor and, beside it, the time and each shown
// line's value nearest to it.
void ChartCtrl::DrawCursor(HDC dc, const Colors& colors)
{
    const RECT& plot = layout_.plot;
    if (!hasCursor_ || cursorX_ < plot.left || cursorX_ >= plot.right) {
        return;
    }
    VerticalLine(dc, cursorX_, plot.top, plot.bottom, colors.text);
    const double time = CursorTime();
    std::vector<std::wstring> lines;
    std::vector<COLORREF> lineColors;
    WideString timeText;
    if (FormatTickValue(time - data_.timeOrigin, std::max(timeTicks_.decimals + 1, 2), timeText) &&
        timeText.Append(L" s")) {
        lines.emplace_back(timeText.Data());
        lineColors.push_back(colors.text);
    }
    std::wstring value;
    for (const ChartSeries& series : data_.series) {
        if (!series.visible || !series.plotted) {
            continue;
        }
        const size_t nearest = NearestPoint(series.points.data(), series.points.size(), time);
        if (nearest < series.points.size() &&
            FormatCursorValue(series.points[nearest].value, value)) {
            lines.push_back(series.name + L": " + value);
            lineColors.push_back(series.color);
        }
    }
    const int padding = ScaleForDpi(kCursorBoxPadding, dpi_);
    int boxWidth = 0;
    for (const std::wstring& text : lines) {
        boxWidth = std::max<int>(boxWidth, TextWidth(dc, text.c_str()));
    }
    boxWidth += 2 * padding;
    const int boxHeight = static_cast<int>(lines.size()) * textHeight_ + 2 * padding;
    RECT box = {cursorX_ + padding, plot.top + padding, cursorX_ + padding + boxWidth,
                plot.top + padding + boxHeight};
    if (box.right > plot.right) {
        OffsetRect(&box, -(boxWidth + 2 * padding), 0);
    }
    FillSolid(dc, box, colors.axis);
    RECT inside = {box.left + 1, box.top + 1, box.right - 1, box.bottom - 1};
    FillSolid(dc, inside, colors.background);
    for (size_t index = 0; index < lines.size(); ++index) {
        SetTextColor(dc, highContrast_ ? colors.text : lineColors[index]);
        const int top = box.top + padding + static_cast<int>(index) * textHeight_;
        const RECT rect = {box.left + padding, top, box.right, top + textHeight_};
        DrawLabel(dc, lines[index].c_str(), rect, DT_LEFT);
    }
}

RECT ChartCtrl::LegendEntryRect(size_t index) const
{
    const RECT& legend = layout_.legend;
    const int top = legend.top + static_cast<int>(index) * layout_.legendRowHeight;
    return {legend.left, top, legend.right, top + layout_.legendRowHeight};
}

int ChartCtrl::LegendEntryAt(POINT point) const
{
    if (!Contains(layout_.legend, point) || layout_.legendRowHeight <= 0) {
        return -1;
    }
    const size_t index =
        static_cast<size_t>((point.y - layout_.legend.top) / layout_.legendRowHeight);
    return index < data_.series.size() ? static_cast<int>(index) : -1;
}

// Each entry: a square of the line's colour (an outline while the line is
// hidden), the name, and the newest value at the right.
void ChartCtrl::DrawLegend(HDC dc, const Colors& colors)
{
    const int swatch = textHeight_ * 2 / 3;
    const int gap = ScaleForDpi(kLegendRowGap, dpi_);
    for (size_t index = 0; index < data_.series.size(); ++index) {
        const ChartSeries& series = data_.series[index];
        const RECT row = LegendEntryRect(index);
        if (row.bottom > layout_.legend.bottom) {
            break;
        }
        const int middle = (row.top + row.bottom) / 2;
        const RECT square = {row.left, middle - swatch / 2, row.left + swatch,
                             middle - swatch / 2 + swatch};
        if (series.plotted) {
            FillSolid(dc, square, series.color);
            if (!series.visible) {
                const RECT hole = {square.left + 1, square.top + 1, square.right - 1,
                                   square.bottom - 1};
                FillSolid(dc, hole, colors.background);
            }
        }
        const bool shown = series.visible && series.plotted;
        SetTextColor(dc, shown ? colors.text : colors.dimmed);
        RECT text = {row.left + swatch + gap, row.top, row.right, row.bottom};
        DrawLabel(dc, LegendValue(series), text, DT_RIGHT | DT_VCENTER);
        const int valueWidth = TextWidth(dc, LegendValue(series));
        text.right = std::max<LONG>(text.left, row.right - valueWidth - gap);
        DrawLabel(dc, series.name.c_str(), text, DT_LEFT | DT_VCENTER | DT_END_ELLIPSIS);
    }
}

void ChartCtrl::OnMouseMove(LPARAM lParam)
{
    const POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    if (!Contains(layout_.plot, point)) {
        ClearCursor();
        return;
    }
    SetCursorX(point.x);
    leaveTracker_.Track(Window());
}

void ChartCtrl::OnClick(LPARAM lParam)
{
    SetFocus(Window());
    const POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    const int index = LegendEntryAt(point);
    if (index < 0 || !data_.series[static_cast<size_t>(index)].plotted) {
        return;
    }
    ChartSeries& series = data_.series[static_cast<size_t>(index)];
    SetSeriesVisible(static_cast<size_t>(index), !series.visible);
    toggled_ = index;
    SendMessageW(GetParent(Window()), WM_COMMAND, MAKEWPARAM(id_, CHARTN_SERIES_TOGGLED),
                 reinterpret_cast<LPARAM>(Window()));
}

int ChartCtrl::MakeBitmap(ScopedBitmap& bitmap)
{
    RECT client = {};
    if (!Window() || !GetClientRect(Window(), &client) || client.right <= 0 || client.bottom <= 0) {
        return 0;
    }
    ScreenDc screen;
    ScopedCreatedDc memory(CreateCompatibleDC(screen.Get()));
    ScopedBitmap made(CreateCompatibleBitmap(screen.Get(), client.right, client.bottom));
    if (!memory || !made) {
        return 0;
    }
    const HGDIOBJ old = SelectObject(memory.Get(), made.Get());
    Render(memory.Get(), {client.right, client.bottom});
    SelectObject(memory.Get(), old);
    bitmap = std::move(made);
    return 1;
}

int ChartCtrl::CopyImage(HWND owner)
{
    ScopedBitmap bitmap;
    if (!MakeBitmap(bitmap) || !OpenClipboard(owner)) {
        return 0;
    }
    int copied = 0;
    // The clipboard owns the bitmap once it has taken it.
    if (EmptyClipboard() && SetClipboardData(CF_BITMAP, bitmap.Get())) {
        bitmap.Detach();
        copied = 1;
    }
    CloseClipboard();
    return copied;
}

int ChartCtrl::SaveImage(const wchar_t* path)
{
    ScopedBitmap bitmap;
    return MakeBitmap(bitmap) && SaveBitmapAsPng(bitmap.Get(), path);
}
