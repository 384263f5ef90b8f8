#include "app/ReportIntervalDialog.h"

#include "app/resource.h"
#include "sensors/ReportInterval.h"

namespace {

// "4294967295" and a little room for blanks.
constexpr int kEditLimit = 16;

} // namespace

ReportIntervalDialog::ReportIntervalDialog(ISensor* sensor)
    : sensor_(ComPtr<ISensor>::Share(sensor))
{
}

int ReportIntervalDialog::OnInitDialog()
{
    SendDlgItemMessageW(Window(), IDC_INTERVAL_EDIT, EM_LIMITTEXT, kEditLimit, 0);
    ShowIntervals(true);
    return 1;
}

void ReportIntervalDialog::ShowIntervals(bool fillEdit)
{
    ReportIntervals intervals;
    ReadReportIntervals(sensor_.Get(), intervals);
    WideString text;
    IntervalText(intervals.hasCurrent, intervals.currentMs, text);
    SetDlgItemTextW(Window(), IDC_INTERVAL_CURRENT, text.Data());
    IntervalText(intervals.hasMinimum, intervals.minimumMs, text);
    SetDlgItemTextW(Window(), IDC_INTERVAL_MINIMUM, text.Data());
    if (fillEdit && intervals.hasCurrent) {
        Format(text, L"%lu", intervals.currentMs);
        SetDlgItemTextW(Window(), IDC_INTERVAL_EDIT, text.Data());
    }
}

void ReportIntervalDialog::Apply()
{
    wchar_t typed[kEditLimit + 1] = {};
    GetDlgItemTextW(Window(), IDC_INTERVAL_EDIT, typed, kEditLimit + 1);
    ULONG requested = 0;
    WideString line;
    if (!ParseIntervalText(typed, requested)) {
        line.Assign(L"Enter whole milliseconds, 0 for the default.");
    } else {
        IntervalOutcome outcome;
        changed_ = RequestReportInterval(sensor_.Get(), requested, outcome) || changed_;
        DescribeIntervalOutcome(requested, outcome, line);
        ShowIntervals(false);
    }
    SetDlgItemTextW(Window(), IDC_INTERVAL_RESULT, line.Data());
}

INT_PTR ReportIntervalDialog::OnCommand(int id, WPARAM wParam, LPARAM lParam)
{
    if (id == IDOK) {
        Apply();
        return 1;
    }
    return DialogApp::OnCommand(id, wParam, lParam);
}
