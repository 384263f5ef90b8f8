#include "app/RecordingWindow.h"

#include "app/DialogParts.h"
#include "app/resource.h"

#include "app/RecordingCommands.h"

#include <commctrl.h>
#include <windowsx.h>

#include <iterator>

// What the reading thread and the window share. The thread owns the
// recording until it posts WM_RECORDING_READ; the window reads it only
// after the thread has ended.
struct RecordingWindow::Reading
{
    std::wstring path;
    Recording recording;
    RecordingRead result = RecordingRead::Unreadable;
    volatile LONG cancel = 0;
    HWND window = nullptr;
    int percent = -1;
};

namespace {

// The wheel zooms by this factor a notch; arrows pan by this part of the
// window.
constexpr double kWheelZoom = 0.8;
constexpr double kArrowPan = 0.1;
// The chart's hook and its menu's commands.
constexpr DWORD kChartHookTag = 0x52454331; // "REC1"
constexpr UINT IDM_COPY_IMAGE = 40101;
constexpr UINT IDM_SAVE_IMAGE = 40102;

} // namespace

RecordingWindow::RecordingWindow(const wchar_t* path)
{
    path_.Assign(path ? path : L"");
}

RecordingWindow::~RecordingWindow()
{
    StopReading();
}

int RecordingWindow::OnInitDialog()
{
    SetIcon(IDI_APP);
    WideString title;
    Format(title, L"%s - Recording", FileNamePart(path_.Data()));
    SetText(title.Data());
    grip_.Attach(Window());
    anchors_[0].Setup(Control(IDC_RECORDING_STATUS), ANCHOR_SIZE_X);
    anchors_[1].Setup(Control(IDC_RECORDING_PROGRESS), ANCHOR_SIZE_X);
    anchors_[2].Setup(Control(IDCANCEL), ANCHOR_MOVE_X);
    anchors_[3].Setup(Control(IDC_RECORDING_SENSORS), ANCHOR_SIZE_Y);
    anchors_[4].Setup(Control(IDC_RECORDING_VALUES), ANCHOR_MOVE_Y);
    MakeChart();
    anchors_[5].Setup(chart_.Window(), ANCHOR_SIZE_X | ANCHOR_SIZE_Y);
    anchors_[6].Setup(Control(IDC_RECORDING_SCROLL), ANCHOR_MOVE_Y | ANCHOR_SIZE_X);
    anchors_[7].Setup(Control(IDC_RECORDING_SPAN), ANCHOR_MOVE_X | ANCHOR_MOVE_Y);
    anchors_[8].Setup(Control(IDC_RECORDING_RATE), ANCHOR_MOVE_Y | ANCHOR_SIZE_X);
    SetMinimumSize(320, 200, 1);
    size_t count = 0;
    const SpanChoice* spans = SpanChoices(&count);
    for (size_t i = 0; i < count; ++i) {
        SendDlgItemMessageW(Window(), IDC_RECORDING_SPAN, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(spans[i].text));
    }
    SendDlgItemMessageW(Window(), IDC_RECORDING_SPAN, CB_SETCURSEL, 0, 0);
    // Field names left, values at a tab stop.
    const int tabStop = 80;
    SendDlgItemMessageW(Window(), IDC_RECORDING_VALUES, LB_SETTABSTOPS, 1,
                        reinterpret_cast<LPARAM>(&tabStop));
    SendDlgItemMessageW(Window(), IDC_RECORDING_PROGRESS, PBM_SETRANGE32, 0, 100);
    StartReading();
    return 1;
}

// The chart takes the place (and the id) of the template's frame.
void RecordingWindow::MakeChart()
{
    HWND frame = Control(IDC_RECORDING_CHART);
    RECT bounds = {};
    GetWindowRect(frame, &bounds);
    MapWindowPoints(nullptr, Window(), reinterpret_cast<POINT*>(&bounds), 2);
    DestroyWindow(frame);
    if (chart_.Create(Window(), IDC_RECORDING_CHART, bounds)) {
        SetWindowPos(chart_.Window(), Control(IDC_RECORDING_VALUES), 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        chartHook_.Attach(chart_.Window(), ChartMouse, this, kChartHookTag);
    }
}

bool RecordingWindow::ChartTimeAt(POINT point, double* seconds) const
{
    const RECT& plot = chart_.Layout().plot;
    if (!PtInRect(&plot, point)) {
        return false;
    }
    *seconds = PixelToValue(chart_.TimeAxis(), point.x + 0.5);
    return true;
}

int RecordingWindow::ChartMouse(HWND window, UINT message, WPARAM, LPARAM lParam, LRESULT*,
                                void* context)
{
    auto* self = static_cast<RecordingWindow*>(context);
    const POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    double seconds = 0;
    switch (message) {
    case WM_LBUTTONDOWN:
        if (self->ChartTimeAt(point, &seconds)) {
            self->dragging_ = true;
            self->dragX_ = point.x;
            self->dragStart_ = self->shown_;
            SetCapture(window);
        }
        break;
    case WM_MOUSEMOVE:
        if (self->dragging_) {
            const ChartAxis& axis = self->chart_.TimeAxis();
            const double perPixel = (axis.high - axis.low) / (axis.atHigh - axis.atLow);
            self->ShowTime(
                PanBy(self->dragStart_, -(point.x - self->dragX_) * perPixel, self->extent_));
        }
        if (self->ChartTimeAt(point, &seconds)) {
            self->SetCursorTime(seconds);
        }
        break;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
        if (self->dragging_) {
            self->dragging_ = false;
            if (message == WM_LBUTTONUP) {
                ReleaseCapture();
            }
        }
        break;
    }
    // The chart goes on with its own handling (cursor, legend, focus).
    return 0;
}

void RecordingWindow::StartReading()
{
    WideString status;
    Format(status, L"Reading %s\u2026", FileNamePart(path_.Data()));
    SetDlgItemTextW(Window(), IDC_RECORDING_STATUS, status.Data());
    auto reading = std::make_unique<Reading>();
    reading->path = path_.Data();
    reading->window = Window();
    thread_.Reset(CreateThread(nullptr, 0, ReadEntry, reading.get(), 0, nullptr));
    if (!thread_) {
        result_ = RecordingRead::OutOfMemory;
        ShowRefusal();
        return;
    }
    reading_ = std::move(reading);
}

DWORD WINAPI RecordingWindow::ReadEntry(void* context)
{
    auto* reading = static_cast<Reading*>(context);
    reading->result =
        ReadRecordingFile(reading->path.c_str(), reading->recording, TellProgress, reading);
    PostMessageW(reading->window, WM_RECORDING_READ, 0, 0);
    return 0;
}

bool RecordingWindow::TellProgress(uint64_t done, uint64_t total, void* context)
{
    auto* reading = static_cast<Reading*>(context);
    const int percent = total ? static_cast<int>(done * 100 / total) : 100;
    if (percent != reading->percent) {
        reading->percent = percent;
        PostMessageW(reading->window, WM_RECORDING_PROGRESS, static_cast<WPARAM>(percent), 0);
    }
    return !InterlockedCompareExchange(&reading->cancel, 0, 0);
}

void RecordingWindow::StopReading()
{
    if (!reading_) {
        return;
    }
    InterlockedExchange(&reading_->cancel, 1);
    // The thread only posts to the window, so it ends without its help.
    WaitForSingleObject(thread_.Get(), INFINITE);
    thread_.Reset();
    result_ = reading_->result;
    reading_.reset();
}

void RecordingWindow::FinishReading()
{
    if (!reading_) {
        return;
    }
    WaitForSingleObject(thread_.Get(), INFINITE);
    thread_.Reset();
    result_ = reading_->result;
    recording_ = std::move(reading_->recording);
    reading_.reset();
    ShowWindow(Control(IDC_RECORDING_PROGRESS), SW_HIDE);
    SetDlgItemTextW(Window(), IDCANCEL, L"Close");
    if (result_ != RecordingRead::Read) {
        ShowRefusal();
        return;
    }
    extent_ = RecordingExtent(recording_, &originMs_);
    shown_ = WholeWindow(extent_);
    const std::wstring damage = DamageSummary(recording_);
    std::wstring status = std::to_wstring(recording_.sensors.size()) +
                          (recording_.sensors.size() == 1 ? L" sensor, " : L" sensors, ") +
                          DurationText(extent_.last * 1000) + L".";
    if (!damage.empty()) {
        status += L" " + damage;
    }
    SetDlgItemTextW(Window(), IDC_RECORDING_STATUS, status.c_str());
    FillSensors();
    ChooseSensor(recording_.sensors.empty() ? -1 : 0);
}

void RecordingWindow::ShowRefusal()
{
    const std::wstring text = RefusalText(FileNamePart(path_.Data()), result_);
    SetDlgItemTextW(Window(), IDC_RECORDING_STATUS, text.c_str());
}

void RecordingWindow::FillSensors()
{
    HWND list = Control(IDC_RECORDING_SENSORS);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (const RecordedSensor& sensor : recording_.sensors) {
        std::wstring name = WideFromUtf8(sensor.name);
        if (name.empty()) {
            name = WideFromUtf8(sensor.id);
        }
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
}

void RecordingWindow::ChooseSensor(int index)
{
    if (index >= static_cast<int>(recording_.sensors.size())) {
        return;
    }
    chosen_ = index;
    SendDlgItemMessageW(Window(), IDC_RECORDING_SENSORS, LB_SETCURSEL, static_cast<WPARAM>(index),
                        0);
    ChartData chart = RecordedChart(recording_, static_cast<size_t>(index), originMs_);
    chart.start = shown_.start;
    chart.end = shown_.end;
    chart_.SetData(std::move(chart));
    ShowRate();
    ShowValues();
    UpdateScrollBar();
}

void RecordingWindow::ShowRate()
{
    const std::wstring text =
        chosen_ < 0 ? std::wstring() : ReportRateText(recording_.sensors[chosen_]);
    SetDlgItemTextW(Window(), IDC_RECORDING_RATE, text.c_str());
}

void RecordingWindow::ShowValues()
{
    HWND list = Control(IDC_RECORDING_VALUES);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    if (chosen_ >= 0) {
        for (const auto& field :
             FieldValuesAt(recording_, static_cast<size_t>(chosen_), originMs_, cursor_)) {
            const std::wstring row = field.first + L"\t" + field.second;
            SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
        }
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

void RecordingWindow::ShowChartMenu(LPARAM screenPoint)
{
    POINT at = {GET_X_LPARAM(screenPoint), GET_Y_LPARAM(screenPoint)};
    if (at.x == -1 && at.y == -1) {
        RECT box = {};
        GetWindowRect(chart_.Window(), &box);
        at = {box.left + 8, box.top + 8};
    }
    ScopedMenu menu(CreatePopupMenu());
    if (!menu) {
        return;
    }
    AppendMenuW(menu.Get(), MF_STRING, IDM_COPY_IMAGE, L"Copy Image");
    AppendMenuW(menu.Get(), MF_STRING, IDM_SAVE_IMAGE, L"Save Image\u2026");
    const UINT command = TrackTreeMenu(menu.Get(), at, Window());
    if (command == IDM_COPY_IMAGE) {
        chart_.CopyImage(Window());
    } else if (command == IDM_SAVE_IMAGE) {
        SaveChartImage();
    }
}

void RecordingWindow::SaveChartImage()
{
    WideString path;
    if (AskImagePath(Window(), path) && !chart_.SaveImage(path.Data())) {
        MessageBoxW(Window(), L"The image could not be saved.", L"Save Image",
                    MB_OK | MB_ICONWARNING);
    }
}

void RecordingWindow::SetCursorTime(double seconds)
{
    cursor_ = seconds;
    ShowValues();
}

void RecordingWindow::ShowTime(const TimeWindow& window)
{
    shown_ = KeepInside(window, extent_);
    chart_.SetTimeRange(shown_.start, shown_.end);
    UpdateScrollBar();
}

void RecordingWindow::Zoom(double factor, double at)
{
    ShowTime(ZoomAround(shown_, factor, at, extent_));
}

void RecordingWindow::UpdateScrollBar()
{
    const ScrollState state = ScrollFor(shown_, extent_);
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = 0;
    info.nMax = kScrollSteps - 1;
    info.nPage = static_cast<UINT>(state.page);
    info.nPos = state.position;
    SetScrollInfo(Control(IDC_RECORDING_SCROLL), SB_CTL, &info, TRUE);
}

void RecordingWindow::OnScroll(WORD code)
{
    const double width = shown_.end - shown_.start;
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_TRACKPOS;
    switch (code) {
    case SB_LINELEFT:
        ShowTime(PanBy(shown_, -width * kArrowPan, extent_));
        break;
    case SB_LINERIGHT:
        ShowTime(PanBy(shown_, width * kArrowPan, extent_));
        break;
    case SB_PAGELEFT:
        ShowTime(PanBy(shown_, -width, extent_));
        break;
    case SB_PAGERIGHT:
        ShowTime(PanBy(shown_, width, extent_));
        break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
        if (GetScrollInfo(Control(IDC_RECORDING_SCROLL), SB_CTL, &info)) {
            ShowTime(WindowAtScroll(shown_, info.nTrackPos, extent_));
        }
        break;
    case SB_LEFT:
        ShowTime(PanBy(shown_, extent_.first - shown_.start, extent_));
        break;
    case SB_RIGHT:
        ShowTime(PanBy(shown_, extent_.last - shown_.end, extent_));
        break;
    }
}

void RecordingWindow::OnKey(WPARAM key)
{
    const double width = shown_.end - shown_.start;
    const double middle = (shown_.start + shown_.end) / 2;
    switch (key) {
    case VK_HOME:
        ShowTime(WholeWindow(extent_));
        SendDlgItemMessageW(Window(), IDC_RECORDING_SPAN, CB_SETCURSEL, 0, 0);
        break;
    case VK_LEFT:
        ShowTime(PanBy(shown_, -width * kArrowPan, extent_));
        break;
    case VK_RIGHT:
        ShowTime(PanBy(shown_, width * kArrowPan, extent_));
        break;
    case VK_ADD:
    case VK_OEM_PLUS:
        Zoom(kWheelZoom, middle);
        break;
    case VK_SUBTRACT:
    case VK_OEM_MINUS:
        Zoom(1 / kWheelZoom, middle);
        break;
    }
}

// A notch of the wheel zooms around the time under the pointer (the
// middle when it is not over the plot).
void RecordingWindow::OnWheel(WPARAM wParam, LPARAM lParam)
{
    const short delta = static_cast<short>(HIWORD(wParam));
    POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ScreenToClient(chart_.Window(), &point);
    double at = (shown_.start + shown_.end) / 2;
    ChartTimeAt(point, &at);
    Zoom(delta > 0 ? kWheelZoom : 1 / kWheelZoom, at);
}

void RecordingWindow::OnDpiChanged(int oldDpi, int newDpi)
{
    chart_.SetDpi(newDpi);
    DialogApp::OnDpiChanged(oldDpi, newDpi);
}

INT_PTR RecordingWindow::OnCommand(int id, WPARAM wParam, LPARAM lParam)
{
    if (id == IDCANCEL) {
        StopReading();
        EndWindow(IDCANCEL);
        return 1;
    }
    if (id == IDC_RECORDING_SENSORS && HIWORD(wParam) == LBN_SELCHANGE) {
        ChooseSensor(static_cast<int>(
            SendDlgItemMessageW(Window(), IDC_RECORDING_SENSORS, LB_GETCURSEL, 0, 0)));
        return 1;
    }
    if (id == IDC_RECORDING_SPAN && HIWORD(wParam) == CBN_SELCHANGE) {
        size_t count = 0;
        const SpanChoice* spans = SpanChoices(&count);
        const auto choice = static_cast<size_t>(
            SendDlgItemMessageW(Window(), IDC_RECORDING_SPAN, CB_GETCURSEL, 0, 0));
        if (choice < count) {
            ShowTime(WithSpan(shown_, spans[choice].seconds, extent_));
        }
        return 1;
    }
    return DialogApp::OnCommand(id, wParam, lParam);
}

INT_PTR RecordingWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR answer = 0;
    if (HandleGripMessage(grip_, anchors_, std::size(anchors_), message, wParam, lParam, answer)) {
        return answer;
    }
    switch (message) {
    case WM_RECORDING_PROGRESS:
        SendDlgItemMessageW(Window(), IDC_RECORDING_PROGRESS, PBM_SETPOS, wParam, 0);
        return 1;
    case WM_RECORDING_READ:
        FinishReading();
        return 1;
    case WM_MOUSEWHEEL:
        OnWheel(wParam, lParam);
        return 1;
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) == chart_.Window()) {
            ShowChartMenu(lParam);
            return 1;
        }
        break;
    case WM_KEYDOWN:
        OnKey(wParam);
        return 1;
    case WM_HSCROLL:
        if (reinterpret_cast<HWND>(lParam) == Control(IDC_RECORDING_SCROLL)) {
            OnScroll(LOWORD(wParam));
            return 1;
        }
        break;
    case WM_DESTROY:
        StopReading();
        chartHook_.Detach();
        break;
    }
    return DialogApp::OnMessage(message, wParam, lParam);
}
