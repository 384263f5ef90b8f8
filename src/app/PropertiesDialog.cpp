#include "app/PropertiesDialog.h"

#include "app/DialogParts.h"
#include "app/ReportIntervalDialog.h"
#include "app/resource.h"
#include "sensors/ReportInterval.h"
#include "sensors/SensorField.h"
#include "sensors/SensorList.h"
#include "sensors/SensorProperties.h"
#include "ui/Dpi.h"

#include <iterator>

namespace {

constexpr int kGroupImage = 0;
constexpr int kPropertyImage = 1;
// Column widths at 96 dpi; the "Property" column widens to the longest name.
constexpr int kPropertyColumnWidth = 190;
constexpr int kValueColumnWidth = 400;
constexpr UINT_PTR kRateTimer = 1;

} // namespace

const wchar_t* AccessNote(long state, bool requestHelps)
{
    if (state != SENSOR_STATE_ACCESS_DENIED) {
        return nullptr;
    }
    return requestHelps ? L"Access denied: use \"Request Access\u2026\" in the sensor's menu."
                        : L"Access denied: Windows grants access in Settings > Privacy.";
}

void RateRowTexts(const ReportRateReading& reading, WideString& rate, WideString& last)
{
    Format(rate, L"%.1f reports/s", reading.perSecond);
    if (reading.secondsSinceLast < 0) {
        last.Assign(L"None yet");
    } else {
        Format(last, L"%.2f s ago", reading.secondsSinceLast);
    }
}

bool AccessRequestHelps()
{
    OSVERSIONINFOEXW wanted = {};
    wanted.dwOSVersionInfoSize = sizeof wanted;
    wanted.dwMajorVersion = 10;
    const DWORDLONG condition = VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL);
    return !VerifyVersionInfoW(&wanted, VER_MAJORVERSION, condition);
}

SensorPropertiesDialog::SensorPropertiesDialog(ISensor* sensor, const wchar_t* name)
    : sensor_(ComPtr<ISensor>::Share(sensor))
{
    name_.Assign(name ? name : L"");
    if (sensor_) {
        sensor_->GetID(&id_);
    }
}

int SensorPropertiesDialog::OnInitDialog()
{
    SetIcon(IDI_APP);
    WideString title;
    if (name_.IsEmpty()) {
        title.Assign(L"Sensor Properties");
    } else {
        Format(title, L"%s Properties", name_.Data());
    }
    SetText(title.Data());
    tree_.Attach(Control(IDC_PROPERTY_TREE), Instance(),
                 TREE_KEEP_CHILDREN | TREE_KEEP_IMAGES | TREE_PLAIN_HEADER);
    tree_.AddIcon(IDI_SENSOR);
    tree_.AddIcon(IDI_FIELD);
    tree_.InsertColumn(L"Property", 0, ScaleForDpi(kPropertyColumnWidth, tree_.Dpi()), 0);
    tree_.InsertColumn(L"Value", 1, ScaleForDpi(kValueColumnWidth, tree_.Dpi()), 0);
    grip_.Attach(Window());
    anchors_[0].Setup(Control(IDC_PROPERTY_TREE), ANCHOR_SIZE_X | ANCHOR_SIZE_Y);
    anchors_[1].Setup(Control(IDC_PROPERTY_NOTE), ANCHOR_MOVE_Y | ANCHOR_SIZE_X);
    anchors_[2].Setup(Control(IDCANCEL), ANCHOR_MOVE_X | ANCHOR_MOVE_Y);
    anchors_[3].Setup(Control(IDC_REPORT_INTERVAL), ANCHOR_MOVE_X | ANCHOR_MOVE_Y);
    SetMinimumSize(200, 120, 1);
    Fill();
    FitFirstColumn(tree_, kPropertyColumnWidth);
    StartRateTimer();
    return 1;
}

void SensorPropertiesDialog::OnDpiChanging(int, int newDpi)
{
    RescaleDialogParts(grip_, anchors_, std::size(anchors_), tree_, newDpi);
}

// The names are measured again in the new font, as a fresh start at this
// DPI would; a width the user chose was rescaled.
void SensorPropertiesDialog::OnDpiChanged(int, int)
{
    tree_.FitHeaderToTree();
    if (!tree_.UserSizedColumns()) {
        FitFirstColumn(tree_, kPropertyColumnWidth);
    }
    grip_.InvalidateGrip();
}

HTREEITEM SensorPropertiesDialog::InsertRow(HTREEITEM parent, const wchar_t* name,
                                            const wchar_t* value)
{
    WideString row;
    if (value && *value) {
        Format(row, L"%s\t%s", name, value);
    } else {
        row.Assign(name);
    }
    return tree_.InsertItem({parent, row.Data(), kPropertyImage, kPropertyImage});
}

void SensorPropertiesDialog::InsertRateRows()
{
    rateRow_ = lastRow_ = nullptr;
    if (!rates_) {
        return;
    }
    WideString rate;
    WideString last;
    RateRowTexts(rates_->Read(id_, ReportClockUs()), rate, last);
    rateRow_ = InsertRow(nullptr, L"Report rate", rate.Data());
    lastRow_ = InsertRow(nullptr, L"Last report", last.Data());
    shownRate_.Assign(rate.Data());
    shownLast_.Assign(last.Data());
}

void SensorPropertiesDialog::SetRateRow(HTREEITEM row, const wchar_t* name, const WideString& value,
                                        WideString& shown)
{
    if (!row || wcscmp(value.Data(), shown.Data()) == 0) {
        return;
    }
    WideString text;
    Format(text, L"%s\t%s", name, value.Data());
    tree_.SetItemText(row, text.Data());
    shown.Assign(value.Data());
}

void SensorPropertiesDialog::UpdateRateRows()
{
    if (!rates_ || gone_) {
        return;
    }
    WideString rate;
    WideString last;
    RateRowTexts(rates_->Read(id_, ReportClockUs()), rate, last);
    SetRateRow(rateRow_, L"Report rate", rate, shownRate_);
    SetRateRow(lastRow_, L"Last report", last, shownLast_);
}

void SensorPropertiesDialog::StartRateTimer()
{
    if (rates_ && !rateTimerSet_ && SetTimer(Window(), kRateTimer, kRateRefreshMs, nullptr)) {
        rateTimerSet_ = true;
        UpdateRateRows();
    }
}

void SensorPropertiesDialog::StopRateTimer()
{
    if (rateTimerSet_) {
        KillTimer(Window(), kRateTimer);
        rateTimerSet_ = false;
    }
}

void SensorPropertiesDialog::Fill()
{
    gone_ = false;
    SensorState state = SENSOR_STATE_READY;
    const bool stateKnown = sensor_ && SUCCEEDED(sensor_->GetState(&state));
    shownState_ = stateKnown ? static_cast<long>(state) : kSensorStateUnknown;

    tree_.SetRedraw(0);
    tree_.DeleteAll();
    WideString text;
    GuidText(id_, text);
    InsertRow(nullptr, L"Sensor ID", text.Data());
    GUID type = {};
    text.Assign(L"");
    if (sensor_ && SUCCEEDED(sensor_->GetType(&type))) {
        NameSensorType(type, text);
    }
    InsertRow(nullptr, L"Type", text.Data());
    GUID category = {};
    text.Assign(L"");
    if (sensor_ && SUCCEEDED(sensor_->GetCategory(&category))) {
        NameSensorCategory(category, text);
    }
    InsertRow(nullptr, L"Category", text.Data());
    text.Assign(L"");
    if (stateKnown) {
        SensorStateText(shownState_, text);
    }
    InsertRow(nullptr, L"State", text.Data());
    InsertRateRows();
    InsertProperties();
    tree_.SetRedraw(1);

    const wchar_t* note = AccessNote(shownState_, AccessRequestHelps());
    SetDlgItemTextW(Window(), IDC_PROPERTY_NOTE, note ? note : L"");
    // The button shares the note's line; a sensor kept from the program
    // cannot be set anyway.
    ReportIntervals intervals;
    const bool settable = !note && ReadReportIntervals(sensor_.Get(), intervals);
    ShowWindow(Control(IDC_REPORT_INTERVAL), settable ? SW_SHOW : SW_HIDE);
}

int SensorPropertiesDialog::ShowReportInterval()
{
    if (gone_ || interval_ || !IsWindowVisible(Control(IDC_REPORT_INTERVAL))) {
        return 0;
    }
    ReportIntervalDialog dialog(sensor_.Get());
    interval_ = &dialog;
    dialog.Run(Instance(), IDD_REPORT_INTERVAL, 0, Window());
    interval_ = nullptr;
    // The property rows show the interval the sensor uses now.
    if (dialog.Changed() && !gone_) {
        Fill();
    }
    return 1;
}

void SensorPropertiesDialog::InsertProperties()
{
    LockedList properties;
    const bool read = ReadSensorProperties(sensor_.Get(), properties) != 0;
    TreeItem groupItem{nullptr, read ? L"Properties" : L"Properties\tNot available", kGroupImage,
                       kGroupImage};
    groupItem.children = properties.First() != nullptr;
    HTREEITEM group = tree_.InsertItem(groupItem);
    if (!group) {
        return;
    }
    for (auto* property = static_cast<SensorField*>(properties.First()); property;
         property = property->Next())
        InsertRow(group, property->name.Data(), property->valueText.Data());
    tree_.Expand(group, TVE_EXPAND);
}

void SensorPropertiesDialog::ShowGone()
{
    gone_ = true;
    rateRow_ = lastRow_ = nullptr;
    ShowWindow(Control(IDC_REPORT_INTERVAL), SW_HIDE);
    tree_.SetRedraw(0);
    tree_.DeleteAll();
    HTREEITEM row = tree_.InsertItem(
        {nullptr, L"This sensor is no longer connected.", kGroupImage, kGroupImage});
    tree_.SelectItem(row);
    tree_.SetRedraw(1);
    SetDlgItemTextW(Window(), IDC_PROPERTY_NOTE, L"");
}

void SensorPropertiesDialog::Follow(SensorEntry* entry)
{
    if (!Window()) {
        return;
    }
    if (!entry || entry->HasLeft()) {
        if (!gone_) {
            ShowGone();
        }
        return;
    }
    if (!gone_ && entry->State() == shownState_) {
        return;
    }
    sensor_ = ComPtr<ISensor>::Share(entry->Sensor());
    Fill();
}

INT_PTR SensorPropertiesDialog::OnCommand(int id, WPARAM wParam, LPARAM lParam)
{
    if (id == IDM_COPY_ROW) {
        CopySelectedTreeRow(tree_, Window());
        return 1;
    }
    if (id == IDM_COPY_ALL) {
        CopyAllTreeRows(tree_, Window());
        return 1;
    }
    if (id == IDC_REPORT_INTERVAL) {
        ShowReportInterval();
        return 1;
    }
    return DialogApp::OnCommand(id, wParam, lParam);
}

void SensorPropertiesDialog::ShowTreeMenu(LPARAM screenPoint)
{
    const POINT at = PrepareTreeMenu(tree_, screenPoint);
    ScopedMenu menu = MakeTreeMenu(tree_);
    if (!menu) {
        return;
    }
    const UINT command = TrackTreeMenu(menu.Get(), at, Window());
    if (command) {
        OnCommand(static_cast<int>(command), command, 0);
    }
}

INT_PTR SensorPropertiesDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR answer = 0;
    if (HandleGripMessage(grip_, anchors_, std::size(anchors_), message, wParam, lParam, answer)) {
        return answer;
    }
    HandleThemeMessage(message, grip_, tree_);
    switch (message) {
    case WM_NOTIFY:
        if (HandleTreeNotify(tree_, Window(), wParam, lParam, answer)) {
            return answer;
        }
        break;
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) == tree_.Window()) {
            ShowTreeMenu(lParam);
            return 1;
        }
        break;
    case WM_TIMER:
        if (wParam == kRateTimer) {
            UpdateRateRows();
            return 1;
        }
        break;
    case WM_SIZE:
        // No refreshes while minimised.
        if (wParam == SIZE_MINIMIZED) {
            StopRateTimer();
        } else {
            StartRateTimer();
        }
        break;
    case WM_SHOWWINDOW:
        // Hidden with its owner, or shown again.
        if (wParam) {
            StartRateTimer();
        } else {
            StopRateTimer();
        }
        break;
    case WM_DESTROY:
        StopRateTimer();
        tree_.Detach();
        break;
    }
    return DialogApp::OnMessage(message, wParam, lParam);
}
