#include "app/ChartWindow.h"

#include "app/RecordingCommands.h"
#include "app/resource.h"
#include "ui/Dpi.h"

#include <algorithm>
#include <cmath>

namespace {

const wchar_t kChartWindowClass[] = L"TesselChartWindow";
const wchar_t* const kSpanNames[] = {L"10 s", L"1 min", L"10 min"};
constexpr double kTicksPerSecond = 1e7;
constexpr UINT_PTR kFrameTimer = 1;
// The rate's text changes on every picture ("last 0.02 s ago"); it is set
// at most this often, which reads as live and costs the label's repaint
// only four times a second.
constexpr DWORD kHeaderGapMs = 250;

enum ControlId : int
{
    IDC_CHART_HEADER = 1,
    IDC_CHART_SPAN = 2,
    IDC_CHART_COPY = 3,
    IDC_CHART_SAVE = 4,
    IDC_CHART_PLOT = 5,
};

// Sizes at 96 dpi.
constexpr int kMargin = 8;
constexpr int kGap = 6;
constexpr int kRowHeight = 24;
constexpr int kSpanWidth = 80;
constexpr int kCopyWidth = 90;
constexpr int kSaveWidth = 100;
constexpr int kSpanListHeight = 160;
constexpr int kClientWidth = 720;
constexpr int kClientHeight = 440;
constexpr int kOffsetFromMain = 40;

bool IsHidden(const std::vector<std::wstring>& hidden, const std::wstring& name)
{
    return std::find(hidden.begin(), hidden.end(), name) != hidden.end();
}

long long FileTimeNow()
{
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    return static_cast<long long>((static_cast<unsigned long long>(now.dwHighDateTime) << 32) |
                                  now.dwLowDateTime);
}

void MoveControl(HWND control, const RECT& rect)
{
    SetWindowPos(control, nullptr, rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace

void BuildChartData(const HistorySnapshot& snapshot, long long baseTime, long long endTime,
                    double spanSeconds, const std::vector<std::wstring>& hidden, ChartData& data)
{
    data.series.clear();
    data.end = static_cast<double>(endTime - baseTime) / kTicksPerSecond;
    data.start = data.end - spanSeconds;
    data.timeOrigin = data.end;
    // Colours go to the plotted fields only, so the first line is blue.
    size_t plotted = 0;
    for (const HistoryField& field : snapshot.fields) {
        ChartSeries series;
        series.name = field.name;
        series.color = ChartSeriesColor(field.numeric ? plotted++ : plotted);
        series.plotted = field.numeric;
        series.visible = !IsHidden(hidden, field.name);
        series.valueText = field.newestText;
        series.points.reserve(field.samples.size());
        for (const HistorySample& sample : field.samples) {
            series.points.push_back(
                {static_cast<double>(sample.time - baseTime) / kTicksPerSecond, sample.value});
        }
        data.series.push_back(std::move(series));
    }
}

int ChartTitle(const wchar_t* sensorName, bool paused, bool removed, WideString& title)
{
    return Format(title, L"%s - Chart%s%s", sensorName, paused ? L" - Paused" : L"",
                  removed ? L" - Sensor removed" : L"");
}

UINT ChartFrameInterval(double spanSeconds, int plotWidth)
{
    if (plotWidth <= 0 || !(spanSeconds > 0.0)) {
        return kChartFrameMs;
    }
    const double pixelMs = spanSeconds * 1000.0 / plotWidth;
    return std::max(kChartFrameMs, static_cast<UINT>(std::min(pixelMs, 60000.0)));
}

ChartWindowLayout LayOutChartWindow(SIZE client, int dpi)
{
    const auto scale = [dpi](int value) { return static_cast<LONG>(ScaleForDpi(value, dpi)); };
    const LONG top = scale(kMargin);
    const LONG bottom = top + scale(kRowHeight);
    ChartWindowLayout layout;
    layout.save = {client.cx - scale(kMargin) - scale(kSaveWidth), top, client.cx - scale(kMargin),
                   bottom};
    layout.copy = {layout.save.left - scale(kGap) - scale(kCopyWidth), top,
                   layout.save.left - scale(kGap), bottom};
    layout.span = {layout.copy.left - scale(kGap) - scale(kSpanWidth), top,
                   layout.copy.left - scale(kGap), bottom};
    layout.header = {scale(kMargin), top, std::max(scale(kMargin), layout.span.left - scale(kGap)),
                     bottom};
    layout.chart = {0, bottom + scale(kGap) / 2, client.cx,
                    std::max(bottom + scale(kGap) / 2, client.cy)};
    return layout;
}

ChartWindow::ChartWindow(const ChartSource& source, const GUID& sensorId, const wchar_t* sensorName)
    : source_(source), sensorId_(sensorId), name_(sensorName ? sensorName : L"")
{
}

ChartWindow::~ChartWindow()
{
    Close();
}

int ChartWindow::Open(HINSTANCE instance, HWND beside)
{
    if (window_) {
        return 1;
    }
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    if (!GetClassInfoExW(instance, kChartWindowClass, &windowClass)) {
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = WindowProcedure;
        windowClass.hInstance = instance;
        windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = kChartWindowClass;
        if (!RegisterClassExW(&windowClass)) {
            return 0;
        }
    }
    baseTime_ = FileTimeNow();
    dpi_ = beside ? WindowDpi(beside) : SystemDpi();
    const DWORD style = WS_OVERLAPPEDWINDOW;
    RECT bounds = {0, 0, ScaleForDpi(kClientWidth, dpi_), ScaleForDpi(kClientHeight, dpi_)};
    AdjustWindowRectForDpi(bounds, style, 0, dpi_);
    POINT at = {CW_USEDEFAULT, CW_USEDEFAULT};
    RECT besideRect = {};
    if (beside && GetWindowRect(beside, &besideRect)) {
        at = {besideRect.left + ScaleForDpi(kOffsetFromMain, dpi_),
              besideRect.top + ScaleForDpi(kOffsetFromMain, dpi_)};
    }
    WideString title;
    ChartTitle(name_.Data(), false, false, title);
    if (!CreateWindowExW(0, kChartWindowClass, title.Data(), style, at.x, at.y,
                         bounds.right - bounds.left, bounds.bottom - bounds.top, nullptr, nullptr,
                         instance, this)) {
        return 0;
    }
    // The monitor it landed on decides its sizes.
    const int placedDpi = WindowDpi(window_);
    if (placedDpi != dpi_) {
        dpi_ = placedDpi;
        MakeFont();
        chart_.SetDpi(dpi_);
    }
    Update();
    ShowWindow(window_, SW_SHOW);
    SetForegroundWindow(window_);
    StartTimer();
    return 1;
}

void ChartWindow::Close()
{
    if (window_) {
        DestroyWindow(window_);
    }
}

LRESULT CALLBACK ChartWindow::WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* chart = static_cast<ChartWindow*>(create->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(chart));
        chart->window_ = window;
    }
    auto* chart = reinterpret_cast<ChartWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!chart) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        chart->window_ = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return chart->Handle(message, wParam, lParam);
}

LRESULT ChartWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        MakeFont();
        CreateControls();
        return 0;
    case WM_SIZE:
        LayOut();
        // Nothing is drawn while the window is minimised.
        if (wParam == SIZE_MINIMIZED) {
            StopTimer();
        } else if (IsWindowVisible(window_)) {
            StartTimer();
        }
        return 0;
    case WM_SHOWWINDOW:
        if (wParam) {
            StartTimer();
        } else {
            StopTimer();
        }
        break;
    case WM_TIMER:
        if (wParam == kFrameTimer) {
            Update();
        }
        return 0;
    case WM_COMMAND:
        OnCommand(wParam);
        return 0;
    case WM_KEYDOWN:
        OnKey(wParam);
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) {
            SetFocus(chart_.Window());
        }
        return 0;
    case WM_SETFOCUS:
        SetFocus(chart_.Window());
        return 0;
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
        chart_.ThemeChanged();
        break;
    case kWmDpiChanged:
        OnDpiChanged(wParam, reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_CLOSE:
        DestroyWindow(window_);
        return 0;
    case WM_DESTROY:
        StopTimer();
        chart_.Destroy();
        return 0;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void ChartWindow::CreateControls()
{
    const HINSTANCE instance =
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
    const auto make = [this, instance](const wchar_t* className, const wchar_t* text, DWORD style,
                                       int id) {
        HWND control = CreateWindowExW(
            0, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, window_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
        return control;
    };
    headerLabel_ = make(L"STATIC", L"", SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX | SS_ENDELLIPSIS,
                        IDC_CHART_HEADER);
    spanList_ = make(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL, IDC_CHART_SPAN);
    for (const wchar_t* name : kSpanNames) {
        SendMessageW(spanList_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    }
    SendMessageW(spanList_, CB_SETCURSEL, span_, 0);
    copyButton_ = make(L"BUTTON", L"Copy Image", BS_PUSHBUTTON, IDC_CHART_COPY);
    saveButton_ = make(L"BUTTON", L"Save Image...", BS_PUSHBUTTON, IDC_CHART_SAVE);
    chart_.Create(window_, IDC_CHART_PLOT, {0, 0, 10, 10});
    chart_.SetDpi(dpi_);
    LayOut();
}

void ChartWindow::LayOut()
{
    RECT client = {};
    if (!window_ || !GetClientRect(window_, &client) || !chart_.Window()) {
        return;
    }
    const ChartWindowLayout layout = LayOutChartWindow({client.right, client.bottom}, dpi_);
    MoveControl(headerLabel_, layout.header);
    RECT span = layout.span;
    // A drop-down list's height is that of its open list.
    span.bottom = span.top + ScaleForDpi(kSpanListHeight, dpi_);
    MoveControl(spanList_, span);
    MoveControl(copyButton_, layout.copy);
    MoveControl(saveButton_, layout.save);
    MoveControl(chart_.Window(), layout.chart);
}

// The system's message font at the window's DPI. (500 bytes: the layout
// without the padded-border field, which every Windows accepts.)
void ChartWindow::MakeFont()
{
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = 500;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 500, &metrics, 0)) {
        return;
    }
    LOGFONTW logFont = metrics.lfMessageFont;
    logFont.lfHeight = RescaleFontHeight(logFont.lfHeight, SystemDpi(), dpi_);
    font_.Reset(CreateFontIndirectW(&logFont));
    for (HWND control : {headerLabel_, spanList_, copyButton_, saveButton_}) {
        if (control) {
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), TRUE);
        }
    }
}

void ChartWindow::ShowTitle()
{
    WideString title;
    if (window_ && ChartTitle(name_.Data(), paused_, !present_, title)) {
        SetWindowTextW(window_, title.Data());
    }
}

void ChartWindow::StartTimer()
{
    if (!window_ || IsIconic(window_)) {
        return;
    }
    const RECT& plot = chart_.Layout().plot;
    const UINT period = ChartFrameInterval(kChartSpans[span_], plot.right - plot.left);
    if (timerRunning_ && period == timerPeriod_) {
        return;
    }
    timerRunning_ = SetTimer(window_, kFrameTimer, period, nullptr) != 0;
    timerPeriod_ = period;
}

void ChartWindow::StopTimer()
{
    if (timerRunning_ && window_) {
        KillTimer(window_, kFrameTimer);
    }
    timerRunning_ = false;
}

void ChartWindow::Update()
{
    if (!window_ || !source_.rates || !source_.history) {
        return;
    }
    const DWORD tick = GetTickCount();
    if (header_.IsEmpty() || tick - headerShownAt_ >= kHeaderGapMs) {
        WideString rate;
        FormatReportRate(source_.rates->Read(sensorId_, ReportClockUs()), rate);
        headerShownAt_ = tick;
        if (rate.Compare(header_.Data()) != 0) {
            header_.Assign(rate);
            SetWindowTextW(headerLabel_, header_.Data());
        }
    }
    // A paused chart keeps its picture; the rate goes on.
    if (paused_) {
        return;
    }
    const long long now = FileTimeNow();
    const auto spanTicks = static_cast<long long>(kChartSpans[span_] * kTicksPerSecond);
    if (!source_.history->Read(sensorId_, now - spanTicks, 0x7FFFFFFFFFFFFFFFll, snapshot_)) {
        snapshot_ = HistorySnapshot();
    }
    // A sensor whose clock runs ahead still shows its newest report.
    const long long end = std::max(now, snapshot_.newestTime);
    ChartData data;
    BuildChartData(snapshot_, baseTime_, end, kChartSpans[span_], hidden_, data);
    // Drawn now, not when the queue has no other message left: the main
    // window's refreshes would hold the picture back.
    chart_.ShowData(std::move(data));
    ++frames_;
    StartTimer();
}

void ChartWindow::SetSensorPresent(bool present)
{
    if (present != present_) {
        present_ = present;
        ShowTitle();
    }
}

void ChartWindow::TogglePause()
{
    paused_ = !paused_;
    ShowTitle();
    if (!paused_) {
        Update();
    }
}

int ChartWindow::SetSpan(size_t index)
{
    if (index >= sizeof(kChartSpans) / sizeof(kChartSpans[0])) {
        return 0;
    }
    span_ = index;
    if (spanList_ && static_cast<size_t>(SendMessageW(spanList_, CB_GETCURSEL, 0, 0)) != index) {
        SendMessageW(spanList_, CB_SETCURSEL, index, 0);
    }
    Update();
    return 1;
}

int ChartWindow::CopyImage()
{
    return chart_.CopyImage(window_);
}

void ChartWindow::SaveImage()
{
    WideString path;
    if (!AskImagePath(window_, path) || chart_.SaveImage(path.Data())) {
        return;
    }
    WideString text;
    if (Format(text, L"The picture could not be saved in\r\n%s", path.Data())) {
        MessageBoxW(window_, text.Data(), L"Save Image", MB_OK | MB_ICONWARNING);
    }
}

void ChartWindow::OnCommand(WPARAM wParam)
{
    switch (LOWORD(wParam)) {
    case IDC_CHART_SPAN:
        if (HIWORD(wParam) == CBN_SELCHANGE) {
            SetSpan(static_cast<size_t>(SendMessageW(spanList_, CB_GETCURSEL, 0, 0)));
            SetFocus(chart_.Window());
        }
        return;
    case IDC_CHART_COPY:
        CopyImage();
        SetFocus(chart_.Window());
        return;
    case IDC_CHART_SAVE:
        SaveImage();
        SetFocus(chart_.Window());
        return;
    case IDC_CHART_PLOT:
        if (HIWORD(wParam) == CHARTN_SERIES_TOGGLED && chart_.ToggledSeries() >= 0) {
            ToggleHidden(static_cast<size_t>(chart_.ToggledSeries()));
        }
        return;
    }
}

// Lines are hidden by name, so a hidden field stays hidden in later pictures.
void ChartWindow::ToggleHidden(size_t series)
{
    const std::vector<ChartSeries>& all = chart_.Data().series;
    if (series >= all.size()) {
        return;
    }
    const std::wstring& name = all[series].name;
    const auto found = std::find(hidden_.begin(), hidden_.end(), name);
    if (all[series].visible && found != hidden_.end()) {
        hidden_.erase(found);
    } else if (!all[series].visible && found == hidden_.end()) {
        hidden_.push_back(name);
    }
}

void ChartWindow::OnKey(WPARAM key)
{
    const bool control = GetKeyState(VK_CONTROL) < 0;
    if (key == VK_SPACE && !control) {
        TogglePause();
    } else if (key == 'C' && control) {
        CopyImage();
    }
}

void ChartWindow::OnDpiChanged(WPARAM wParam, const RECT* suggested)
{
    const int dpi = DpiFromMessage(wParam);
    if (!dpi) {
        return;
    }
    dpi_ = dpi;
    MakeFont();
    chart_.SetDpi(dpi_);
    if (suggested) {
        SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    LayOut();
}

int ChartWindows::Show(const ChartSource& source, const GUID& sensorId, const wchar_t* sensorName,
                       HINSTANCE instance, HWND beside)
{
    Prune();
    if (ChartWindow* open = Find(sensorId)) {
        if (IsIconic(open->Window())) {
            ShowWindow(open->Window(), SW_RESTORE);
        }
        SetForegroundWindow(open->Window());
        BringWindowToTop(open->Window());
        return 1;
    }
    auto chart = std::make_unique<ChartWindow>(source, sensorId, sensorName);
    if (!chart->Open(instance, beside)) {
        return 0;
    }
    charts_.push_back(std::move(chart));
    return 1;
}

void ChartWindows::Follow(SensorList& sensors)
{
    Prune();
    for (const std::unique_ptr<ChartWindow>& chart : charts_) {
        bool present = false;
        for (SensorEntry* entry = sensors.First(); entry && !present; entry = entry->Next()) {
            present = IsEqualGUID(entry->Id(), chart->SensorId()) && !entry->HasLeft();
        }
        chart->SetSensorPresent(present);
    }
}

void ChartWindows::CloseAll()
{
    charts_.clear();
}

ChartWindow* ChartWindows::Find(const GUID& sensorId)
{
    for (const std::unique_ptr<ChartWindow>& chart : charts_) {
        if (chart->IsOpen() && IsEqualGUID(chart->SensorId(), sensorId)) {
            return chart.get();
        }
    }
    return nullptr;
}

size_t ChartWindows::Count()
{
    Prune();
    return charts_.size();
}

void ChartWindows::Prune()
{
    charts_.erase(
        std::remove_if(charts_.begin(), charts_.end(),
                       [](const std::unique_ptr<ChartWindow>& chart) { return !chart->IsOpen(); }),
        charts_.end());
}
