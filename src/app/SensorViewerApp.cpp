#include "app/SensorViewerApp.h"

#include "BuildConfig.h"
#include "app/SensorTreeRules.h"
#include "app/PropertiesDialog.h"
#include "app/RecordingWindow.h"
#include "app/DialogParts.h"
#include "app/RecordingCommands.h"
#include "app/resource.h"
#include "base/ScopedHandle.h"
#include "crash/CrashReporter.h"
#include "system/OsVersion.h"
#include "ui/Dpi.h"
#include "ui/QuietTreeUpdate.h"

#include <iterator>

#include <algorithm>

const wchar_t kTesselKey[] = L"Software\\Brindle\\Tessel";

namespace {

// The maker's update server with the program's request path and query.
const wchar_t kUpdateAddress[] = TESSEL_UPDATE_SERVER L"/data/update.php?p=tessel";
// The maker's keys for the update answer; just the end mark without them.
const char* const kUpdateKeys[] = {TESSEL_UPDATE_KEY_LIST nullptr};

constexpr int kRootImage = 0;
constexpr int kSensorImage = 1;
constexpr int kFieldImage = 2;
constexpr UINT_PTR kPaceTimer = 1;
// Fills the tree for the first time. Timer messages come only when no
// other message waits, after the paint: the window shows its root row
// while the Sensor API starts, which takes the longest part of a start.
constexpr UINT_PTR kFirstFillTimer = 2;
// Column widths at 96 dpi.
constexpr int kItemColumnWidth = 200;
constexpr int kValueColumnWidth = 500;
constexpr int kValueRoom = 8;
// The tree's keyboard hook ("trky").
constexpr DWORD kTreeKeysTag = 0x74726B79;

HTREEITEM FirstChild(HWND tree, HTREEITEM item)
{
    return TreeView_GetChild(tree, item);
}

HTREEITEM NextSibling(HWND tree, HTREEITEM item)
{
    return TreeView_GetNextSibling(tree, item);
}

// Rows are remembered by their first column: a field row by its name.
void RememberSelection(const TreeListCtrl& tree, WideString& remembered)
{
    WideString selection;
    tree.GetSelectionText(selection);
    const wchar_t* firstColumn = selection.Token(1, L"\t");
    remembered.Assign(firstColumn ? firstColumn : L"");
}

// An empty remembered text stands for "nothing selected" and matches no row,
// not even a sensor without a friendly name.
bool IsRemembered(const WideString& remembered, const wchar_t* text)
{
    return !remembered.IsEmpty() && remembered.Compare(text) == 0;
}

// Rows are counted in visible order from the root; the tree keeps no
// scroll position of its own across a refill.
int FirstVisibleRow(HWND tree)
{
    HTREEITEM first = TreeView_GetFirstVisible(tree);
    int index = 0;
    for (HTREEITEM item = TreeView_GetRoot(tree); item && item != first;
         item = TreeView_GetNextVisible(tree, item)) {
        ++index;
    }
    return first ? index : 0;
}

void ScrollToRow(HWND tree, int index)
{
    HTREEITEM item = TreeView_GetRoot(tree);
    for (; index > 0 && item; --index) {
        item = TreeView_GetNextVisible(tree, item);
    }
    if (item) {
        TreeView_Select(tree, item, TVGN_FIRSTVISIBLE);
    }
}

// New data or a sensor that left changes its rows, an arrival adds rows,
// and a state change shows in the sensor's row; a sensor's own events show
// nowhere.
bool ChangesTree(int code)
{
    return code == SENSOR_CHANGE_DATA || code == SENSOR_CHANGE_ENTER || code == SENSOR_CHANGE_STATE;
}

} // namespace

int SensorViewerApp::OnInitDialog()
{
    SetIcon(IDI_APP);
    ShowTitle();
    ConfigureCrashReporter(IDI_APP, TESSEL_REPORT_HOST, L"/kestrel/report.php", nullptr, nullptr);
    SetUpTree();
    if (!(settings_ & AUTO_UPDATE_OFF)) {
        SetCheck(IDC_AUTO_UPDATE, BST_CHECKED);
    }
    grip_.Attach(Window());
    SetUpLink();
    SetUpAnchors();
    SetMinimumSize(270, 150, 1);
    const int placementRestored = RestorePlacement(HKEY_CURRENT_USER, kTesselKey, L"Main", 0);
    SetChangeTarget(Window());
    sensors_.SetChangeCallback(SensorChanged, this);
    sensors_.SetReportObserver(ObserveReport, this);
    ShowRootAlone();
    widenAfterFirstFill_ = !placementRestored;
    if (!SetTimer(Window(), kFirstFillTimer, 0, nullptr)) {
        FirstFill();
    }
    if (!(settings_ & AUTO_UPDATE_OFF)) {
        StartUpdateCheck(false);
    }
    return 1;
}

void SensorViewerApp::ObserveReport(const SensorEntry& entry, ISensorDataReport* report,
                                    const LockedList& fields, void* context)
{
    auto* app = static_cast<SensorViewerApp*>(context);
    app->rates_.Note(entry.Id(), ReportClockUs());
    app->history_.AppendFields(entry.Id(), ReportFileTime(report), fields);
    app->recorder_.Capture(entry, report, fields);
}

void SensorViewerApp::StartUpdateCheck(bool forced)
{
    UpdateCheckOptions options;
    options.baseUrl = kUpdateAddress;
    options.keys = kUpdateKeys;
    options.stateRoot = HKEY_CURRENT_USER;
    options.stateSubkey = kTesselKey;
    if (!forced) {
        options.root = HKEY_CURRENT_USER;
        options.subkey = kTesselKey;
        options.valueName = L"LastCheck";
    }
    updater_.Start(Window(), options);
}

void SensorViewerApp::SetUpTree()
{
    tree_.Attach(Control(IDC_SENSOR_TREE), Instance(),
                 TREE_KEEP_CHILDREN | TREE_KEEP_IMAGES | TREE_PLAIN_HEADER);
    const DWORD extended = TVS_EX_DOUBLEBUFFER | TVS_EX_RICHTOOLTIP | TVS_EX_FADEINOUTEXPANDOS;
    tree_.SetExtendedStyle(extended, extended);
    tree_.AddIcon(IDI_ROOT);
    tree_.AddIcon(IDI_SENSOR);
    tree_.AddIcon(IDI_FIELD);
    tree_.InsertColumn(L"Item", 0, ScaleForDpi(kItemColumnWidth, tree_.Dpi()), 0);
    tree_.InsertColumn(L"Value", 1, ScaleForDpi(kValueColumnWidth, tree_.Dpi()), 0);
    treeKeys_.Attach(tree_.Window(), OnTreeKey, this, kTreeKeysTag);
}

// Alt+Enter in the tree opens the selected sensor's properties, once the
// key's message is done; its character (the same code, 13) would only beep.
int SensorViewerApp::OnTreeKey(HWND, UINT message, WPARAM wParam, LPARAM, LRESULT* result,
                               void* context)
{
    if ((message != WM_SYSKEYDOWN && message != WM_SYSCHAR) || wParam != VK_RETURN) {
        return 0;
    }
    if (message == WM_SYSKEYDOWN) {
        PostMessageW(static_cast<SensorViewerApp*>(context)->Window(), WM_COMMAND, IDM_PROPERTIES,
                     0);
    }
    *result = 0;
    return 1;
}

void SensorViewerApp::SetUpLink()
{
    link_.Attach(Control(IDC_WEB_LINK), AddressWithoutScheme(TESSEL_WEB_ADDRESS),
                 TESSEL_WEB_ADDRESS, IDC_HAND_LINK, 0);
}

void SensorViewerApp::SetUpAnchors()
{
    anchors_[0].Setup(Control(IDC_SENSOR_TREE), ANCHOR_SIZE_X | ANCHOR_SIZE_Y);
    anchors_[1].Setup(Control(IDC_WEB_LINK), ANCHOR_MOVE_Y);
    anchors_[2].Setup(Control(IDC_EXIT), ANCHOR_MOVE_X | ANCHOR_MOVE_Y);
    anchors_[3].Setup(Control(IDC_AUTO_UPDATE), ANCHOR_MOVE_Y);
}

int SensorViewerApp::CanClose(INT_PTR)
{
    StopRecording();
    charts_.CloseAll();
    // A close from elsewhere (the updater's restart) ends an open
    // properties dialog too, so that the program can end.
    if (properties_) {
        properties_->EndWindow(0);
    }
    if (recordingWindow_) {
        recordingWindow_->EndWindow(0);
    }
    SavePlacement(HKEY_CURRENT_USER, kTesselKey, L"Main", nullptr, 0);
    return 1;
}

INT_PTR SensorViewerApp::OnCommand(int id, WPARAM wParam, LPARAM lParam)
{
    if (id == IDC_EXIT) {
        EndWindow(0);
        return 1;
    }
    if (id == IDM_PROPERTIES) {
        ShowProperties();
        return 1;
    }
    if (id == IDM_CHART) {
        ShowChart();
        return 1;
    }
    if (id == IDM_REQUEST_ACCESS) {
        RequestAccess();
        return 1;
    }
    if (id == IDM_RECORD_VALUES) {
        ToggleRecording();
        return 1;
    }
    if (id == IDM_OPEN_RECORDING) {
        OpenRecording();
        return 1;
    }
    if (id == IDC_AUTO_UPDATE) {
        if (IsChecked(IDC_AUTO_UPDATE)) {
            settings_ &= ~AUTO_UPDATE_OFF;
            StartUpdateCheck(true);
        } else {
            settings_ |= AUTO_UPDATE_OFF;
        }
        return 1;
    }
    return DialogApp::OnCommand(id, wParam, lParam);
}

INT_PTR SensorViewerApp::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR answer = 0;
    if (HandleGripMessage(grip_, anchors_, std::size(anchors_), message, wParam, lParam, answer)) {
        return answer;
    }
    HandleThemeMessage(message, grip_, tree_);
    switch (message) {
    case WM_NOTIFY:
        if (IsTreeShortcut(reinterpret_cast<NMHDR*>(lParam), tree_.Window(), 'O')) {
            PostMessageW(Window(), WM_COMMAND, IDM_OPEN_RECORDING, 0);
            SetWindowLongPtrW(Window(), DWLP_MSGRESULT, 1);
            return 1;
        }
        if (IsTreeShortcut(reinterpret_cast<NMHDR*>(lParam), tree_.Window(), 'R')) {
            // The Save dialog opens once the key's message is done.
            PostMessageW(Window(), WM_COMMAND, IDM_RECORD_VALUES, 0);
            // Keeps the key out of the tree's incremental search.
            SetWindowLongPtrW(Window(), DWLP_MSGRESULT, 1);
            return 1;
        }
        if (IsTreeShortcut(reinterpret_cast<NMHDR*>(lParam), tree_.Window(), 'G')) {
            PostMessageW(Window(), WM_COMMAND, IDM_CHART, 0);
            SetWindowLongPtrW(Window(), DWLP_MSGRESULT, 1);
            return 1;
        }
        if (HandleTreeNotify(tree_, Window(), wParam, lParam, answer)) {
            return answer;
        }
        break;
    case WM_SENSORS_CHANGED:
        OnSensorsChanged(wParam);
        return 1;
    case WM_TIMER:
        if (wParam == kFirstFillTimer) {
            OnFirstFillTimer();
        } else {
            OnPaceTimer(wParam);
        }
        return 1;
    case WM_RECORDING_FAILED:
        OnRecordingFailed(lParam);
        return 1;
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) == tree_.Window()) {
            ShowTreeMenu(lParam);
            return 1;
        }
        break;
    case WM_DESTROY:
        // Sensor events stop reaching the window, and the subclassed
        // controls let go of their windows while those still exist.
        SetChangeTarget(nullptr);
        charts_.CloseAll();
        // Closing ends a recording (CanClose has already, unless the
        // window was destroyed without asking).
        recorder_.Stop();
        treeKeys_.Detach();
        tree_.Detach();
        link_.Detach();
        break;
    }
    return DialogApp::OnMessage(message, wParam, lParam);
}

void SensorViewerApp::OnDpiChanging(int, int newDpi)
{
    RescaleDialogParts(grip_, anchors_, std::size(anchors_), tree_, newDpi);
}

void SensorViewerApp::OnDpiChanged(int, int newDpi)
{
    tree_.FitHeaderToTree();
    // A fitted column is fitted again to the names in the new font, as a
    // fresh start at this DPI would; a width the user chose was rescaled.
    if (itemColumnFitted_ && !tree_.UserSizedColumns()) {
        FitFirstColumn(tree_, kItemColumnWidth);
    }
    link_.SetDpi(newDpi);
    grip_.InvalidateGrip();
}

void SensorViewerApp::SensorChanged(int code, SensorEntry* entry, void* context)
{
    if (!ChangesTree(code)) {
        return;
    }
    auto* app = static_cast<SensorViewerApp*>(context);
    // Data updates and state changes have marked their entry; anything
    // else changes the rows.
    const bool marked = code == SENSOR_CHANGE_DATA || code == SENSOR_CHANGE_STATE;
    if (!marked || !entry || entry->HasLeft()) {
        InterlockedExchange(&app->rebuildPending_, 1);
    }
    // Set before changePending_ is read: the window clears changePending_
    // before it reads changed_ for the last time.
    InterlockedExchange(&app->changed_, 1);
    HWND target =
        static_cast<HWND>(InterlockedCompareExchangePointer(&app->changeTarget_, nullptr, nullptr));
    if (!target) {
        return;
    }
    if (InterlockedExchange(&app->changePending_, 1) != 0) {
        return;
    }
    if (!PostMessageW(target, WM_SENSORS_CHANGED, kSensorDataChange, 0)) {
        InterlockedExchange(&app->changePending_, 0);
    }
}

void SensorViewerApp::SetChangeTarget(HWND window)
{
    // A message posted to the old window is never handled: a new window
    // starts without one pending.
    InterlockedExchangePointer(&changeTarget_, window);
    InterlockedExchange(&changePending_, 0);
    // The old window's pace timer ended with it.
    paceTimerSet_ = false;
    idleTicks_ = 0;
}

// The first change after a quiet spell is shown at once when the last
// refresh is at least a gap ago, and starts the pace timer; while it runs,
// every tick shows what changed since the last one.
void SensorViewerApp::OnSensorsChanged(WPARAM wParam)
{
    if (wParam != kSensorDataChange) {
        InterlockedExchange(&rebuildPending_, 1);
        InterlockedExchange(&changed_, 1);
    }
    if (paceTimerSet_) {
        return;
    }
    const DWORD delay =
        PacedRefreshDelay(GetTickCount(), lastRefresh_, refreshedBefore_, pace_.gapMs);
    if (!delay) {
        RefreshNow();
    }
    if (StartPaceTimer(delay ? delay : pace_.gapMs)) {
        return;
    }
    // Without a timer every change posts its own message again; one that
    // came since the refresh above posted nothing.
    InterlockedExchange(&changePending_, 0);
    if (delay || InterlockedCompareExchange(&changed_, 0, 0)) {
        RefreshNow();
    }
}

// The dialog shows its window once its queue first runs empty; until then
// the timer keeps ticking.
void SensorViewerApp::OnFirstFillTimer()
{
    if (!IsWindowVisible(Window())) {
        return;
    }
    KillTimer(Window(), kFirstFillTimer);
    UpdateWindow(Window());
    FirstFill();
}

void SensorViewerApp::FirstFill()
{
    if (!filled_) {
        Rebuild();
    }
    if (widenAfterFirstFill_) {
        widenAfterFirstFill_ = false;
        WidenToShowColumns();
    }
}

void SensorViewerApp::OnPaceTimer(WPARAM timer)
{
    if (timer != kPaceTimer) {
        InterlockedExchange(&rebuildPending_, 1);
        RefreshNow();
        return;
    }
    if (InterlockedCompareExchange(&changed_, 0, 0)) {
        idleTicks_ = 0;
        if (paceTimerPeriod_ != pace_.gapMs) {
            StartPaceTimer(pace_.gapMs);
        }
        RefreshNow();
        return;
    }
    if (++idleTicks_ < pace_.idleTicksBeforeStop) {
        return;
    }
    StopPaceTimer();
    // A change that came while the timer was stopping posted nothing.
    if (InterlockedCompareExchange(&changed_, 0, 0)) {
        OnSensorsChanged(kSensorDataChange);
    }
}

bool SensorViewerApp::StartPaceTimer(DWORD period)
{
    if (!SetTimer(Window(), kPaceTimer, period, nullptr)) {
        return false;
    }
    paceTimerSet_ = true;
    paceTimerPeriod_ = period;
    // The ticks look for changes: the callbacks need not post.
    InterlockedExchange(&changePending_, 1);
    idleTicks_ = 0;
    return true;
}

void SensorViewerApp::StopPaceTimer()
{
    KillTimer(Window(), kPaceTimer);
    paceTimerSet_ = false;
    InterlockedExchange(&changePending_, 0);
}

void SensorViewerApp::RefreshNow()
{
    // Cleared before the sensors are read: an event that arrives from here
    // on is shown by the next tick or posts a new message, so the tree
    // always ends up showing it.
    InterlockedExchange(&changed_, 0);
    // Paced from start to start, so that a refresh's own time does not
    // delay the next one.
    lastRefresh_ = GetTickCount();
    refreshedBefore_ = true;
    if (InterlockedExchange(&rebuildPending_, 0) || !UpdateValuesInPlace()) {
        Rebuild();
    }
    FollowProperties();
    charts_.Follow(sensors_);
}

// The sensor rows stand under the root in the order of the entries, as the
// last Rebuild inserted them.
bool SensorViewerApp::UpdateValuesInPlace()
{
    HWND tree = tree_.Window();
    SensorList::Walk walk(sensors_);
    QuietTreeUpdate quiet(tree, &tree_);
    HTREEITEM sensorRow = FirstChild(tree, TreeView_GetRoot(tree));
    WideString text;
    for (SensorEntry* entry = sensors_.First(); entry; entry = entry->Next()) {
        if (!sensorRow) {
            return false;
        }
        if (entry->TakeNewData() && !UpdateFieldRows(*entry, sensorRow, quiet, text)) {
            return false;
        }
        sensorRow = NextSibling(tree, sensorRow);
    }
    return true;
}

// Rows are compared with their whole texts, however long: a text cut to a
// read-back buffer would never match and cost a rewrite or a rebuild on
// every event.
bool SensorViewerApp::UpdateFieldRows(SensorEntry& entry, HTREEITEM sensorRow,
                                      QuietTreeUpdate& quiet, WideString& text)
{
    HWND tree = tree_.Window();
    if (!tree_.GetItemText(sensorRow, text)) {
        return false;
    }
    WideString newText;
    SensorRowText(entry.Name().Data(), entry.State(), newText);
    switch (CompareSensorRow(text.Data(), newText.Data())) {
    case FIELD_ROW_OTHER:
        return false;
    case FIELD_ROW_NEW_TEXT:
        quiet.RowChanging(sensorRow);
        tree_.SetItemText(sensorRow, newText.Data());
        break;
    case FIELD_ROW_SAME:
        break;
    }
    SensorEntry::FieldWalk fields(entry);
    HTREEITEM row = FirstChild(tree, sensorRow);
    for (SensorField* field = fields.First(); field; field = field->Next()) {
        if (!row) {
            return false;
        }
        const WideString* held = tree_.HeldText(row);
        if (!held && !tree_.GetItemText(row, text)) {
            return false;
        }
        const wchar_t* shown = held ? held->Data() : text.Data();
        switch (CompareFieldRow(shown, field->name.Data(), field->valueText.Data())) {
        case FIELD_ROW_OTHER:
            return false;
        case FIELD_ROW_NEW_TEXT:
            // A value that changes once changes again: from now on its
            // text is held outside the tree.
            Format(newText, L"%s\t%s", field->name.Data(), field->valueText.Data());
            tree_.ChangeLiveText(row, newText.Data(), quiet);
            break;
        case FIELD_ROW_SAME:
            break;
        }
        row = NextSibling(tree, row);
    }
    return row == nullptr;
}

// Before the sensors are known the root stands alone: "No Sensors found"
// would be a claim not yet made.
void SensorViewerApp::ShowRootAlone()
{
    tree_.DeleteAll();
    tree_.InsertItem({nullptr, L"Sensors", kRootImage, kRootImage});
}

void SensorViewerApp::Rebuild()
{
    filled_ = true;
    tree_.SetRedraw(0);
    WideString remembered;
    RememberSelection(tree_, remembered);
    // A refill must not throw the reader back to the top of a long list.
    const int firstVisibleRow = FirstVisibleRow(tree_.Window());
    tree_.DeleteAll();

    TreeItem rootItem{nullptr, L"Sensors", kRootImage, kRootImage};
    rootItem.children = 1;
    HTREEITEM root = tree_.InsertItem(rootItem);
    if (root && IsRemembered(remembered, L"Sensors")) {
        tree_.SelectItem(root);
    }
    const bool sensorsShown = InsertSensors(root, remembered);
    if (!sensorsShown) {
        InsertNoSensorsRow(root);
    }
    tree_.Expand(root, TVE_EXPAND);
    ScrollToRow(tree_.Window(), firstVisibleRow);
    tree_.SetRedraw(1);
    // Rows that arrived or left above the selection may have moved it out
    // of the old scroll position. (Asked with drawing on: a tree that is
    // not drawn does not scroll to an item.)
    if (HTREEITEM selected = tree_.GetSelection()) {
        TreeView_EnsureVisible(tree_.Window(), selected);
    }
    // Measured with drawing on: the tree places its rows only then.
    if (sensorsShown) {
        FitItemColumnOnce();
    }
}

// Beyond a fixed width: the first fill that shows sensors widens the column
// to the longest name, up to half the tree. Once the user has sized a
// column, the widths are theirs.
void SensorViewerApp::FitItemColumnOnce()
{
    if (!itemColumnFitted_ && !tree_.UserSizedColumns()) {
        itemColumnFitted_ = FitFirstColumn(tree_, kItemColumnWidth) != 0;
    }
}

void SensorViewerApp::WidenToShowColumns()
{
    if (!itemColumnFitted_ || tree_.UserSizedColumns()) {
        return;
    }
    const int defaultItem = ScaleForDpi(kItemColumnWidth, tree_.Dpi());
    const int item = std::max(defaultItem, tree_.ColumnFitWidth(0));
    // A little room beyond the widest value: the tree draws a text a few
    // pixels wider than it measures under some renderers.
    const int needed = item + tree_.ColumnFitWidth(1) + ScaleForDpi(kValueRoom, tree_.Dpi());
    RECT client = {};
    RECT window = {};
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    if (!GetClientRect(tree_.Window(), &client) || !GetWindowRect(Window(), &window) ||
        !GetMonitorInfoW(MonitorFromWindow(Window(), MONITOR_DEFAULTTONEAREST), &monitor)) {
        return;
    }
    const RECT widened = WidenedWindow(window, client.right, needed, monitor.rcWork);
    if (EqualRect(&widened, &window)) {
        return;
    }
    SetWindowPos(Window(), nullptr, widened.left, widened.top, widened.right - widened.left,
                 widened.bottom - widened.top, SWP_NOZORDER | SWP_NOACTIVATE);
    tree_.SetColumnWidth(0, FittedFirstColumnWidth(tree_, kItemColumnWidth, item));
}

bool SensorViewerApp::InsertSensors(HTREEITEM root, const WideString& remembered)
{
    bool lastSensorShown = false;
    SensorList::Walk walk(sensors_);
    WideString row;
    for (SensorEntry* entry = sensors_.Refresh(); entry; entry = entry->Next()) {
        entry->ReadFields(nullptr);
        SensorEntry::FieldWalk fields(*entry);
        const wchar_t* name = entry->Name().Data();
        SensorRowText(name, entry->State(), row);
        TreeItem sensorItem{root, row.Data(), kSensorImage, kSensorImage};
        sensorItem.children = fields.First() != nullptr;
        HTREEITEM sensor = tree_.InsertItem(sensorItem);
        lastSensorShown = sensor != nullptr;
        if (!sensor) {
            continue;
        }
        if (IsRemembered(remembered, name)) {
            tree_.SelectItem(sensor);
        }
        for (SensorField* field = fields.First(); field; field = field->Next()) {
            Format(row, L"%s\t%s", field->name.Data(), field->valueText.Data());
            HTREEITEM item = tree_.InsertItem({sensor, row.Data(), kFieldImage, kFieldImage});
            if (item && IsRemembered(remembered, field->name.Data())) {
                tree_.SelectItem(item);
            }
        }
        tree_.Expand(sensor, TVE_EXPAND);
    }
    return lastSensorShown;
}

void SensorViewerApp::InsertNoSensorsRow(HTREEITEM root)
{
    const wchar_t* text = IsOsAtLeast(OS_WIN7)
                              ? L"No Sensors found"
                              : L"No Sensors found\tOnly Windows 7 and above is supported";
    HTREEITEM item = tree_.InsertItem({root, text, kRootImage, kRootImage});
    if (item) {
        tree_.SelectItem(item);
    }
}

int SensorViewerApp::CopySelectedRow()
{
    return CopySelectedTreeRow(tree_, Window());
}

int SensorViewerApp::CopyAllRows()
{
    return CopyAllTreeRows(tree_, Window());
}

// A right click selects the row under the pointer and opens the menu there;
// the keyboard (Shift+F10, the menu key) opens it below the selected row.
void SensorViewerApp::ShowTreeMenu(LPARAM screenPoint)
{
    const POINT at = PrepareTreeMenu(tree_, screenPoint);
    ScopedMenu menu = MakeTreeMenu(tree_);
    if (!menu) {
        return;
    }
    AppendSensorItems(menu.Get());
    AppendRecordingItems(menu.Get(), IDM_RECORD_VALUES, IsRecording());
    AppendMenuW(menu.Get(), MF_STRING, IDM_OPEN_RECORDING, L"Open Recording\u2026\tCtrl+O");
    const UINT command = TrackTreeMenu(menu.Get(), at, Window());
    if (command == IDM_COPY_ROW) {
        CopySelectedRow();
    } else if (command == IDM_COPY_ALL) {
        CopyAllRows();
    } else if (command) {
        OnCommand(static_cast<int>(command), command, 0);
    }
}

// "Properties" for a sensor, "Request Access…" for one that Windows keeps
// from the program, and "Chart".
void SensorViewerApp::AppendSensorItems(HMENU menu)
{
    SensorEntry* sensor = SelectedSensor();
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING | (sensor ? MF_ENABLED : MF_GRAYED), IDM_PROPERTIES,
                L"Properties\tAlt+Enter");
    if (sensor && sensor->State() == SENSOR_STATE_ACCESS_DENIED) {
        AppendMenuW(menu, MF_STRING, IDM_REQUEST_ACCESS, L"Request Access\u2026");
    }
    AppendMenuW(menu, MF_STRING | (sensor ? MF_ENABLED : MF_GRAYED), IDM_CHART, L"Chart\tCtrl+G");
}

// The sensor rows stand under the root in the order of the entries.
SensorEntry* SensorViewerApp::SelectedSensor()
{
    HWND tree = tree_.Window();
    HTREEITEM selected = tree_.GetSelection();
    HTREEITEM root = TreeView_GetRoot(tree);
    if (!selected || selected == root) {
        return nullptr;
    }
    HTREEITEM parent = TreeView_GetParent(tree, selected);
    HTREEITEM sensorRow = parent == root ? selected : parent;
    SensorEntry* entry = sensors_.First();
    for (HTREEITEM row = FirstChild(tree, root); row && entry; row = NextSibling(tree, row)) {
        if (row == sensorRow) {
            return entry;
        }
        entry = entry->Next();
    }
    return nullptr;
}

int SensorViewerApp::ShowProperties()
{
    SensorEntry* entry = SelectedSensor();
    if (!entry || properties_) {
        return 0;
    }
    SensorPropertiesDialog dialog(entry->Sensor(), entry->Name().Data());
    dialog.ShowRates(&rates_);
    properties_ = &dialog;
    dialog.Run(Instance(), IDD_PROPERTIES, 0, Window());
    properties_ = nullptr;
    return 1;
}

int SensorViewerApp::ShowChart()
{
    SensorEntry* entry = SelectedSensor();
    const ChartSource source = {&history_, &rates_};
    return entry && charts_.Show(source, entry->Id(), entry->Name().Data(), Instance(), Window());
}

// Asked once, when the user chooses it; the answer arrives as a state change.
int SensorViewerApp::RequestAccess()
{
    SensorEntry* entry = SelectedSensor();
    return entry && sensors_.RequestAccess(*entry, Window());
}

void SensorViewerApp::FollowProperties()
{
    if (!properties_) {
        return;
    }
    SensorEntry* found = nullptr;
    for (SensorEntry* entry = sensors_.First(); entry && !found; entry = entry->Next()) {
        if (IsEqualGUID(entry->Id(), properties_->SensorId())) {
            found = entry;
        }
    }
    properties_->Follow(found);
}
