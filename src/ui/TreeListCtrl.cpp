#include "ui/TreeListCtrl.h"

#include <vsstyle.h>

#include <algorithm>
#include <new>
#include <vector>

#include "base/ScopedHandle.h"
#include "system/OsVersion.h"
#include "ui/Dpi.h"
#include "ui/GdiHelpers.h"

namespace {

// Item states under which the tree draws a row in other colours.
constexpr UINT kSpecialItemStates = CDIS_SELECTED | CDIS_HOT | CDIS_FOCUS | CDIS_MARKED |
                                    CDIS_CHECKED | CDIS_INDETERMINATE | CDIS_GRAYED |
                                    CDIS_DISABLED | CDIS_DROPHILITED | CDIS_NEARHOT;

constexpr int kMinimumItemHeight = 18;
constexpr UINT kRowTextFlags = DT_END_ELLIPSIS | DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER;

bool IsHighContrastOn()
{
    HIGHCONTRASTW contrast = {};
    contrast.cbSize = sizeof(contrast);
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

} // namespace

TreeListCtrl::~TreeListCtrl()
{
    TreeListCtrl::Detach();
}

int TreeListCtrl::Attach(HWND tree, HINSTANCE module, DWORD flags)
{
    if (tree_) {
        Detach();
    }
    TreeCtrl::Attach(tree, module, flags);
    if (!tree_) {
        return 0;
    }
    RefreshTheme();
    attachIndent_ = static_cast<int>(SendMessageW(tree_, TVM_GETINDENT, 0, 0));
    attachDpi_ = dpi_;

    DWORD headerStyle = WS_CHILD | HDS_FULLDRAG | ((flags & TREE_PLAIN_HEADER) ? 0 : HDS_BUTTONS);
    header_.Reset(CreateWindowExW(0, WC_HEADERW, nullptr, headerStyle, 0, 0, 0, 0, GetParent(tree_),
                                  nullptr, module, nullptr));
    if (!header_.Get()) {
        return 0;
    }
    SendMessageW(header_.Get(), WM_SETFONT, SendMessageW(tree_, WM_GETFONT, 0, 0), FALSE);
    ApplyMinimumItemHeight();
    if (!PlaceHeader()) {
        // The tree stays a plain tree of its former size.
        header_.Reset();
        return 0;
    }
    return treeSubclass_.Attach(tree_, TreeWindowProc, this, kTreeWindowSubclassTag);
}

void TreeListCtrl::ApplyMinimumItemHeight()
{
    int minimum = ScaleForDpi(kMinimumItemHeight, dpi_);
    // The tree rounds odd heights down (without TVS_NONEVENHEIGHT).
    if (minimum % 2 && !(GetWindowLongPtrW(tree_, GWL_STYLE) & TVS_NONEVENHEIGHT)) {
        ++minimum;
    }
    if (GetItemHeight() < minimum) {
        SetItemHeight(minimum);
    }
}

void TreeListCtrl::RefreshTheme()
{
    style_.Open(tree_, L"TREEVIEW", dpi_);
    highContrast_ = IsHighContrastOn();
    themed_ =
        UseThemedRows(IsOsAtLeast(OS_VISTA), style_.HasWindowTheme() != 0, highContrast_) ? 1 : 0;
    themeStale_ = false;
}

void TreeListCtrl::SetDpi(int dpi)
{
    if (!tree_ || dpi <= 0 || dpi == dpi_) {
        return;
    }
    const int oldDpi = dpi_;
    dpi_ = dpi;
    stamps_.Clear();
    if (icons_.Rescale(dpi)) {
        SendMessageW(tree_, TVM_SETIMAGELIST, TVSIL_NORMAL,
                     reinterpret_cast<LPARAM>(icons_.Handle()));
    }
    // The indentation follows the scale too; from the one the tree had at
    // Attach, so that changes back and forth never drift.
    if (attachIndent_ > 0) {
        SendMessageW(tree_, TVM_SETINDENT, RescaleForDpi(attachIndent_, attachDpi_, dpi), 0);
    }
    // -1 lets the tree take the height its new font and icons ask for.
    SetItemHeight(-1);
    ApplyMinimumItemHeight();
    // Theme metrics are per DPI: the handles opened for the old one, ours
    // and the tree's own (its glyphs), are stale.
    RefreshTheme();
    SendMessageW(tree_, WM_THEMECHANGED, 0, 0);
    if (!header_.Get()) {
        return;
    }
    SendMessageW(header_.Get(), WM_SETFONT, SendMessageW(tree_, WM_GETFONT, 0, 0), FALSE);
    const int count = static_cast<int>(SendMessageW(header_.Get(), HDM_GETITEMCOUNT, 0, 0));
    rescalingColumns_ = true;
    for (int i = 0; i < count; ++i) {
        const bool kept = static_cast<size_t>(i) < keptWidths_.size();
        const KeptWidth was = kept ? keptWidths_[i] : KeptWidth{ColumnWidth(i), oldDpi};
        SetColumnWidth(i, RescaleForDpi(was.width, was.dpi, dpi));
    }
    rescalingColumns_ = false;
}

void TreeListCtrl::KeepColumnWidth(int index, int width)
{
    if (rescalingColumns_ || index < 0 || static_cast<size_t>(index) >= keptWidths_.size()) {
        return;
    }
    keptWidths_[index] = {width, dpi_};
}

int TreeListCtrl::FitHeaderToTree()
{
    RECT tree;
    if (!header_.Get() || !GetWindowRect(tree_, &tree)) {
        return 0;
    }
    MapWindowPoints(nullptr, GetParent(tree_), reinterpret_cast<POINT*>(&tree), 2);
    // The header's height for its font: what HDM_LAYOUT takes off an area.
    RECT area = tree;
    WINDOWPOS position = {};
    HDLAYOUT layout = {&area, &position};
    if (!SendMessageW(header_.Get(), HDM_LAYOUT, 0, reinterpret_cast<LPARAM>(&layout))) {
        return 0;
    }
    return SetWindowPos(header_.Get(), nullptr, tree.left, tree.top - position.cy,
                        tree.right - tree.left, position.cy, SWP_NOZORDER | SWP_NOACTIVATE)
               ? 1
               : 0;
}

int TreeListCtrl::PlaceHeader()
{
    RECT area;
    if (!GetWindowRect(tree_, &area)) {
        return 0;
    }
    HWND parent = GetParent(tree_);
    auto* corners = reinterpret_cast<POINT*>(&area);
    if (!ScreenToClient(parent, &corners[0]) || !ScreenToClient(parent, &corners[1])) {
        return 0;
    }
    RECT treeArea = area;
    WINDOWPOS position = {};
    HDLAYOUT layout = {&treeArea, &position};
    if (!SendMessageW(header_.Get(), HDM_LAYOUT, 0, reinterpret_cast<LPARAM>(&layout))) {
        return 0;
    }
    if (!SetWindowPos(header_.Get(), position.hwndInsertAfter, position.x, position.y, position.cx,
                      position.cy, position.flags | SWP_SHOWWINDOW)) {
        return 0;
    }
    return SetWindowPos(tree_, nullptr, treeArea.left, treeArea.top, treeArea.right - treeArea.left,
                        treeArea.bottom - treeArea.top, SWP_NOZORDER)
               ? 1
               : 0;
}

void TreeListCtrl::Detach()
{
    treeSubclass_.Detach();
    TreeCtrl::Detach();
    // The dialog may have destroyed the header with its other children.
    if (!IsWindow(header_.Get())) {
        header_.Detach();
    }
    header_.Reset();
    keptWidths_.clear();
    heldTexts_.clear();
    hotRow_ = nullptr;
    themed_ = 0;
}

int TreeListCtrl::InsertColumn(const wchar_t* caption, int index, int width, int format)
{
    if (!header_.Get()) {
        return -1;
    }
    HDITEMW item = {};
    item.mask = HDI_WIDTH | HDI_TEXT | HDI_FORMAT;
    item.cxy = width;
    item.pszText = const_cast<wchar_t*>(caption ? caption : L"");
    item.cchTextMax = lstrlenW(item.pszText);
    item.fmt = format | HDF_STRING;
    const int inserted = static_cast<int>(
        SendMessageW(header_.Get(), HDM_INSERTITEMW, index, reinterpret_cast<LPARAM>(&item)));
    if (inserted >= 0 && static_cast<size_t>(inserted) <= keptWidths_.size()) {
        keptWidths_.insert(keptWidths_.begin() + inserted, KeptWidth{item.cxy, dpi_});
    }
    return inserted;
}

int TreeListCtrl::ColumnWidth(int index) const
{
    HDITEMW item = {};
    item.mask = HDI_WIDTH;
    if (!header_.Get() ||
        !SendMessageW(header_.Get(), HDM_GETITEMW, index, reinterpret_cast<LPARAM>(&item))) {
        return 0;
    }
    return item.cxy;
}

int TreeListCtrl::SetColumnWidth(int index, int width)
{
    HDITEMW item = {};
    item.mask = HDI_WIDTH;
    item.cxy = width < 0 ? 0 : width;
    if (!header_.Get() ||
        !SendMessageW(header_.Get(), HDM_SETITEMW, index, reinterpret_cast<LPARAM>(&item))) {
        return 0;
    }
    KeepColumnWidth(index, item.cxy);
    InvalidateRect(tree_, nullptr, FALSE);
    return 1;
}

int TreeListCtrl::ColumnFitWidth(int index)
{
    if (!tree_ || index < 0) {
        return 0;
    }
    WindowDc dc(tree_);
    if (!dc.Get()) {
        return 0;
    }
    SavedDcState saved(dc.Get());
    SelectObject(dc.Get(), reinterpret_cast<HFONT>(SendMessageW(tree_, WM_GETFONT, 0, 0)));
    // Only rows on screen have a text rectangle; the others' texts start
    // one indentation per level further right than their parent's. The
    // columns start at the tree's left edge, also when it is scrolled.
    const int indent = static_cast<int>(SendMessageW(tree_, TVM_GETINDENT, 0, 0));
    const int scrolled = GetScrollPos(tree_, SB_HORZ);
    bool haveStart = false;
    int depthZeroStart = 0;
    int widest = 0;
    struct Measured
    {
        int depth;
        int width;
    };
    std::vector<Measured> measured;
    WideString text;
    TextPiece pieces[kMaxRowColumns];
    for (HTREEITEM item = TreeView_GetRoot(tree_); item;
         item = TreeView_GetNextVisible(tree_, item)) {
        int depth = 0;
        for (HTREEITEM parent = TreeView_GetParent(tree_, item); parent;
             parent = TreeView_GetParent(tree_, parent)) {
            ++depth;
        }
        RECT textRect;
        if (!haveStart && TreeView_GetItemRect(tree_, item, &textRect, TRUE)) {
            depthZeroStart = textRect.left + scrolled - depth * indent;
            haveStart = true;
        }
        const WideString* rowText = ReadRowText(item, text);
        if (!rowText) {
            continue;
        }
        unsigned length = rowText->Length();
        StripSpanningMark(rowText->Data(), length);
        const unsigned count = SplitAtTabs(rowText->Data(), length, pieces, kMaxRowColumns);
        SIZE extent = {};
        if (static_cast<unsigned>(index) < count &&
            MeasureRowText(dc.Get(), rowText->Data() + pieces[index].start,
                           static_cast<int>(pieces[index].length), extent)) {
            measured.push_back({depth, extent.cx});
        }
    }
    if (index == 0 && !haveStart) {
        return 0;
    }
    for (const Measured& row : measured) {
        const int needed =
            ColumnWidthForText(index, depthZeroStart + row.depth * indent, row.width, dpi_);
        widest = needed > widest ? needed : widest;
    }
    return widest;
}

// As the rows are drawn: in the theme's font where the rows are themed.
bool TreeListCtrl::MeasureRowText(HDC dc, const wchar_t* text, int length, SIZE& extent)
{
    // Measured whole: an ellipsis flag would shorten what is measured.
    if (themed_ &&
        style_.TextExtent(dc, {TVP_TREEITEM, TREIS_NORMAL, DT_NOPREFIX | DT_SINGLELINE, 0}, text,
                          length, &extent)) {
        return true;
    }
    return GetTextExtentPoint32W(dc, text, length, &extent) != 0;
}

int TreeListCtrl::FitColumn(int index)
{
    const int width = ColumnFitWidth(index);
    return width > 0 && SetColumnWidth(index, width);
}

int TreeListCtrl::TreeWindowProc(HWND window, UINT message, WPARAM, LPARAM, LRESULT*, void* context)
{
    auto* self = static_cast<TreeListCtrl*>(context);
    if (message == WM_SIZE) {
        self->FollowTreeWidth();
    } else if (message == WM_THEMECHANGED || message == WM_SYSCOLORCHANGE) {
        self->ThemeChanged();
    } else if (message == WM_MOUSEMOVE && !self->leaveTracked_) {
        // Wine's tree view asks for WM_MOUSELEAVE only while no window of
        // the thread is tracked for it (it queries without its own window),
        // so after the link or a chart has asked, it never hears that the
        // mouse left and keeps its row highlighted, left to its costly
        // paint. Asking for the tree makes sure it hears.
        TRACKMOUSEEVENT leave = {sizeof leave, TME_LEAVE, window, 0};
        self->leaveTracked_ = TrackMouseEvent(&leave) != FALSE;
    } else if (message == WM_MOUSELEAVE) {
        self->leaveTracked_ = false;
    }
    return 0; // the tree's own procedure always runs too
}

void TreeListCtrl::FollowTreeWidth()
{
    RECT tree;
    RECT header;
    if (!header_.Get() || !GetWindowRect(tree_, &tree) || !GetWindowRect(header_.Get(), &header)) {
        return;
    }
    SetWindowPos(header_.Get(), nullptr, 0, 0, tree.right - tree.left, header.bottom - header.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
}

int TreeListCtrl::HandleNotify(HWND dialog, WPARAM wParam, NMHDR* header, LRESULT& result)
{
    if (!header || !tree_) {
        return 0;
    }
    if (header_.Get() && header->hwndFrom == header_.Get()) {
        switch (header->code) {
        case HDN_ITEMCHANGINGW:
            // With HDS_FULLDRAG the rows follow a dragged divider at once.
            InvalidateRect(tree_, nullptr, FALSE);
            break;
        case HDN_ITEMCHANGEDW: {
            // A divider the user dragged: its width as of this DPI.
            const auto* change = reinterpret_cast<NMHEADERW*>(header);
            if (change->pitem && (change->pitem->mask & HDI_WIDTH)) {
                KeepColumnWidth(change->iItem, change->pitem->cxy);
            }
            break;
        }
        case HDN_BEGINTRACKW:
        case HDN_BEGINTRACKA:
            userSizedColumns_ = true;
            break;
        case HDN_DIVIDERDBLCLICKW:
        case HDN_DIVIDERDBLCLICKA:
            userSizedColumns_ = true;
            FitColumn(reinterpret_cast<NMHEADERW*>(header)->iItem);
            break;
        default:
            break;
        }
        return 0;
    }
    // Without a header (failed attach) the tree draws its rows itself.
    if (header->hwndFrom == tree_ && header->code == NM_CUSTOMDRAW && header_.Get()) {
        return HandleCustomDraw(dialog, wParam, reinterpret_cast<NMTVCUSTOMDRAW*>(header), result);
    }
    if (header->hwndFrom == tree_ && header->code == TVN_DELETEITEMW) {
        const HTREEITEM gone = reinterpret_cast<NMTREEVIEWW*>(header)->itemOld.hItem;
        heldTexts_.erase(gone);
        if (gone == hotRow_) {
            hotRow_ = nullptr;
        }
    }
    const int handled = TreeCtrl::HandleNotify(dialog, wParam, header, result);
    if (header->hwndFrom == tree_ && header->code == TVN_GETDISPINFOW) {
        AnswerHeldText(reinterpret_cast<NMTVDISPINFOW*>(header)->item);
    }
    return handled;
}

int TreeListCtrl::SetHeldText(HTREEITEM item, const wchar_t* text)
{
    if (!tree_ || !item) {
        return 0;
    }
    if (!text) {
        text = L"";
    }
    if (HeldRow* held = FindHeld(item)) {
        const unsigned changed = FirstChangedColumn(held->text.Data(), held->text.Length(), text,
                                                    static_cast<unsigned>(wcslen(text)));
        if (!held->text.Assign(text)) {
            return 0;
        }
        held->dueFrom = std::min(held->dueFrom, changed);
        return 1;
    }
    std::unique_ptr<HeldRow> held(new (std::nothrow) HeldRow);
    if (!held || !held->text.Assign(text)) {
        return 0;
    }
    // Held before the tree is told: it asks for the text right away.
    heldTexts_[item] = std::move(held);
    TVITEMW change = {};
    change.mask = TVIF_HANDLE | TVIF_TEXT;
    change.hItem = item;
    change.pszText = LPSTR_TEXTCALLBACKW;
    if (!SendMessageW(tree_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&change))) {
        heldTexts_.erase(item);
        return 0;
    }
    return 1;
}

int TreeListCtrl::ChangeLiveText(HTREEITEM item, const wchar_t* text, QuietTreeUpdate& quiet)
{
    if (HeldText(item)) {
        quiet.RowDrawDue(item);
        return SetHeldText(item, text);
    }
    quiet.RowChanging(item);
    return SetHeldText(item, text) || SetItemText(item, text) ? 1 : 0;
}

TreeListCtrl::HeldRow* TreeListCtrl::FindHeld(HTREEITEM item) const
{
    const auto found = heldTexts_.find(item);
    return found == heldTexts_.end() ? nullptr : found->second.get();
}

const WideString* TreeListCtrl::HeldText(HTREEITEM item) const
{
    const HeldRow* held = FindHeld(item);
    return held ? &held->text : nullptr;
}

void TreeListCtrl::AnswerHeldText(TVITEMW& item) const
{
    const WideString* held = (item.mask & TVIF_TEXT) ? HeldText(item.hItem) : nullptr;
    if (!held) {
        return;
    }
    if (item.pszText && item.pszText != LPSTR_TEXTCALLBACKW && item.cchTextMax > 0 &&
        held->Length() < static_cast<unsigned>(item.cchTextMax)) {
        lstrcpynW(item.pszText, held->Data(), item.cchTextMax);
        return;
    }
    // Longer than the tree's buffer: lent whole, the tree copies it before
    // the text can change again.
    item.pszText = const_cast<wchar_t*>(held->Data());
}

// A held text as it is, any other read from the tree into buffer; asking
// the tree for a held text would make it measure the row again.
const WideString* TreeListCtrl::ReadRowText(HTREEITEM item, WideString& buffer) const
{
    if (const WideString* held = HeldText(item)) {
        return held;
    }
    return GetItemText(item, buffer) ? &buffer : nullptr;
}

int TreeListCtrl::HandleCustomDraw(HWND dialog, WPARAM wParam, NMTVCUSTOMDRAW* draw,
                                   LRESULT& result)
{
    LRESULT answer = CDRF_DODEFAULT;
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        ReadPaintState();
        answer = CDRF_NOTIFYITEMDRAW;
        break;
    case CDDS_ITEMPREPAINT:
        NoteHotRow(draw);
        if (!(draw->nmcd.uItemState & kSpecialItemStates)) {
            plainRowKnown_ = true;
            plainItemState_ = draw->nmcd.uItemState;
            plainText_ = draw->clrText;
            plainBack_ = draw->clrTextBk;
        }
        if (!DrawRow(draw)) {
            return TreeCtrl::HandleNotify(dialog, wParam, &draw->nmcd.hdr, result);
        }
        answer = CDRF_SKIPDEFAULT;
        break;
    default:
        break;
    }
    SetDialogResult(dialog, answer);
    result = 1;
    return 1;
}

void TreeListCtrl::ReadPaintState()
{
    if (themeStale_) {
        RefreshTheme();
    }
    focusedWhilePainting_ = GetFocus() == tree_;
    hideFocusWhilePainting_ = (SendMessageW(tree_, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) != 0;
}

unsigned TreeListCtrl::DrawRowsNow(HTREEITEM* rows, unsigned count)
{
    if (!tree_ || !header_.Get() || !plainRowKnown_) {
        return count;
    }
    // A minimised window shows nothing; it is painted whole when restored.
    if (IsIconic(GetAncestor(tree_, GA_ROOT))) {
        return 0;
    }
    WindowDc dc(tree_);
    if (!dc.Get()) {
        return count;
    }
    ReadPaintState();
    SavedDcState saved(dc.Get());
    SelectObject(dc.Get(), reinterpret_cast<HGDIOBJ>(SendMessageW(tree_, WM_GETFONT, 0, 0)));
    unsigned left = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (!DrawRowNow(dc.Get(), rows[i])) {
            rows[left++] = rows[i];
        }
    }
    return left;
}

bool TreeListCtrl::DrawRowNow(HDC dc, HTREEITEM row)
{
    const UINT special = TVIS_SELECTED | TVIS_DROPHILITED | TVIS_CUT | TVIS_BOLD;
    if (row == hotRow_ || (TreeView_GetItemState(tree_, row, special) & special)) {
        return false;
    }
    NMTVCUSTOMDRAW draw = {};
    draw.nmcd.hdc = dc;
    draw.nmcd.dwItemSpec = reinterpret_cast<DWORD_PTR>(row);
    draw.nmcd.uItemState = plainItemState_;
    draw.clrText = plainText_;
    draw.clrTextBk = plainBack_;
    const HeldRow* held = FindHeld(row);
    return TreeView_GetItemRect(tree_, row, &draw.nmcd.rc, FALSE) &&
           DrawRow(&draw, held ? held->dueFrom : 0);
}

// The tree draws the row under the mouse highlighted once it has taken it
// as such, and draws it plain again once the mouse has left it; the row it
// last drew highlighted is left to its paint.
void TreeListCtrl::NoteHotRow(const NMTVCUSTOMDRAW* draw)
{
    const auto row = reinterpret_cast<HTREEITEM>(draw->nmcd.dwItemSpec);
    if (draw->nmcd.uItemState & CDIS_HOT) {
        hotRow_ = row;
    } else if (row == hotRow_) {
        hotRow_ = nullptr;
    }
}

unsigned TreeListCtrl::ReadColumnWidths(int* widths, unsigned capacity) const
{
    int count = static_cast<int>(SendMessageW(header_.Get(), HDM_GETITEMCOUNT, 0, 0));
    unsigned read = 0;
    for (int i = 0; i < count && read < capacity; ++i) {
        RECT rect;
        if (!SendMessageW(header_.Get(), HDM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&rect))) {
            break;
        }
        widths[read++] = rect.right - rect.left;
    }
    return read;
}

int TreeListCtrl::DrawRow(NMTVCUSTOMDRAW* draw, unsigned firstColumn)
{
    if (IsRectEmpty(&draw->nmcd.rc)) {
        return 0;
    }
    HDC dc = draw->nmcd.hdc;
    auto item = reinterpret_cast<HTREEITEM>(draw->nmcd.dwItemSpec);
    RECT row;
    if (!TreeView_GetItemRect(tree_, item, &row, FALSE)) {
        return 0;
    }
    // The tree asks for every row in the bounding box of what it repaints;
    // a row outside the area actually due (a few changed values far apart)
    // would be clipped away whole, and drawing it costs as much as any.
    if (!RectVisible(dc, &row)) {
        return 1;
    }
    RECT textRect;
    int image = -1;
    int selectedImage = -1;
    // The whole text: a long row is drawn to its end, as the column fit
    // measured it.
    const WideString* rowText = nullptr;
    if (!TreeView_GetItemRect(tree_, item, &textRect, TRUE) ||
        !GetItem(item, nullptr, nullptr, &image, &selectedImage, 0, nullptr) ||
        !(rowText = ReadRowText(item, rowText_))) {
        return 0;
    }
    const wchar_t* text = rowText->Data();

    int widths[kMaxRowColumns];
    RowFrame frame;
    frame.textRect = textRect;
    frame.columnWidths = widths;
    frame.columnCount = ReadColumnWidths(widths, kMaxRowColumns);
    frame.iconWidth = icons_.IconWidth();
    frame.iconHeight = icons_.IconHeight();
    frame.dpi = dpi_;
    RowPlan plan;
    PlanRow(text, rowText->Length(), frame, plan);

    SavedDcState savedState(dc);
    // Only a later column changed (a live value): what lies left of it is
    // on screen already, and the icon and the name are the costly part.
    const bool fromColumn = firstColumn > 0 && firstColumn < frame.columnCount && !plan.spanning;
    RECT area = row;
    if (fromColumn) {
        area.left = ColumnLeft(frame, firstColumn);
        IntersectClipRect(dc, area.left, area.top, area.right, area.bottom);
    } else {
        firstColumn = 0;
    }
    FillSolid(dc, area, GetSysColor(COLOR_WINDOW));
    if ((flags_ & TREE_GRID_LINES) && !plan.spanning) {
        DrawGridLines(dc, textRect, plan.totalWidth);
    }
    int state = TreeItemVisualState(draw->nmcd.uItemState, focusedWhilePainting_);
    DrawRowBackground(draw, row, textRect, plan.totalWidth, state);
    SetBkMode(dc, TRANSPARENT);

    if (plan.drawIcon && firstColumn == 0) {
        const bool selected = (draw->nmcd.uItemState & CDIS_SELECTED) != 0;
        const int index = RowImage(image, selectedImage, selected);
        // Over the window's own colour, where a plain row without grid
        // lines has its icon, a stamp serves.
        if (state == TREIS_NORMAL && !(flags_ & TREE_GRID_LINES)) {
            stamps_.Draw(icons_, index, dc, plan.iconAt.x, plan.iconAt.y,
                         GetSysColor(COLOR_WINDOW));
        } else {
            icons_.Draw(index, dc, plan.iconAt.x, plan.iconAt.y, ILD_TRANSPARENT);
        }
    }
    for (unsigned i = 0; i < plan.count; ++i) {
        if (plan.columns[i].column >= firstColumn) {
            DrawColumnText(draw, text, plan.columns[i], state);
        }
    }
    DrawRowFocus(dc, textRect, plan.totalWidth, draw->nmcd.uItemState);
    if (HeldRow* held = FindHeld(item)) {
        held->dueFrom = kNothingDue;
    }
    return 1;
}

void TreeListCtrl::DrawRowFocus(HDC dc, const RECT& textRect, int totalWidth, UINT itemState) const
{
    if (!DrawsRowFocus(itemState, focusedWhilePainting_, themed_ != 0, hideFocusWhilePainting_,
                       highContrast_)) {
        return;
    }
    RECT focus = {textRect.left, textRect.top, totalWidth, textRect.bottom};
    if (focus.left < focus.right) {
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        DrawFocusRect(dc, &focus);
    }
}

void TreeListCtrl::DrawGridLines(HDC dc, const RECT& textRect, int totalWidth) const
{
    int widths[kMaxRowColumns];
    unsigned count = ReadColumnWidths(widths, kMaxRowColumns);
    int left = 0;
    for (unsigned i = 0; i + 1 < count; ++i) {
        RECT divider = {left, textRect.top, left + widths[i] - 2, textRect.bottom};
        DrawEdge(dc, &divider, BDR_SUNKENINNER, BF_RIGHT);
        left += widths[i];
    }
    RECT rule = {0, textRect.top, totalWidth, textRect.bottom};
    DrawEdge(dc, &rule, BDR_SUNKENINNER, BF_BOTTOM);
}

void TreeListCtrl::DrawRowBackground(NMTVCUSTOMDRAW* draw, const RECT& row, const RECT& textRect,
                                     int totalWidth, int state)
{
    HDC dc = draw->nmcd.hdc;
    if (themed_) {
        if (state != TREIS_NORMAL) {
            RECT band = row;
            band.right = totalWidth;
            style_.DrawBackground(dc, TVP_TREEITEM, state, &band);
        }
        return;
    }
    if (draw->clrTextBk != GetSysColor(COLOR_WINDOW)) {
        RECT band = {textRect.left, textRect.top, totalWidth, textRect.bottom - 1};
        if (band.left < band.right) {
            FillSolid(dc, band, draw->clrTextBk);
        }
    }
}

void TreeListCtrl::DrawColumnText(NMTVCUSTOMDRAW* draw, const wchar_t* text,
                                  const ColumnPlacement& column, int state)
{
    RECT box = column.box;
    if (box.left >= box.right) {
        return; // no room left in this column
    }
    const wchar_t* start = text + column.text.start;
    int length = static_cast<int>(column.text.length);
    HDC dc = draw->nmcd.hdc;
    if (themed_ &&
        style_.DrawText(dc, {TVP_TREEITEM, state, kRowTextFlags, 0}, start, length, &box)) {
        return;
    }
    SetTextColor(dc, draw->clrText);
    DrawTextW(dc, start, length, &box, kRowTextFlags);
}
