#include "ui/QuietTreeUpdate.h"

#include <initializer_list>

QuietTreeUpdate::QuietTreeUpdate(HWND tree, TreeRowPainter* painter)
    : tree_(tree), painter_(painter)
{
}

void QuietTreeUpdate::BeginQuiet()
{
    quiet_ = shown_;
    if (!quiet_) {
        return;
    }
    ReadScrollState(tree_, before_);
    // Turning drawing off validates the window: keep what was still due.
    pending_.Reset(CreateRectRgn(0, 0, 0, 0));
    if (pending_ && GetUpdateRgn(tree_, pending_.Get(), FALSE) <= NULLREGION) {
        pending_.Reset();
    }
    DefWindowProcW(tree_, WM_SETREDRAW, FALSE, 0);
}

QuietTreeUpdate::~QuietTreeUpdate()
{
    if (!shown_) {
        return;
    }
    if (quiet_) {
        DefWindowProcW(tree_, WM_SETREDRAW, TRUE, 0);
        if (pending_) {
            InvalidateRgn(tree_, pending_.Get(), TRUE);
        }
        ScrollState after;
        ReadScrollState(tree_, after);
        if (!SameScrollState(before_, after)) {
            RedrawWindow(tree_, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ERASE);
            return;
        }
    }
    if (rowCount_ > kMaxRows) {
        InvalidateRect(tree_, nullptr, FALSE);
        return;
    }
    ShowChangedRows();
}

// Each invalidation is a round trip to the window server under Wine, also
// for a row scrolled out of view, which would paint nothing: only rows in
// view are drawn or invalidated, the latter gathered into one region.
void QuietTreeUpdate::ShowChangedRows()
{
    RECT client = {};
    if (!GetClientRect(tree_, &client)) {
        return;
    }
    HTREEITEM rows[kMaxRows];
    unsigned count = 0;
    for (unsigned i = 0; i < rowCount_; ++i) {
        RECT rect = {};
        RECT shown = {};
        if (TreeView_GetItemRect(tree_, rows_[i], &rect, FALSE) &&
            IntersectRect(&shown, &rect, &client)) {
            rows[count++] = rows_[i];
        }
    }
    if (painter_ && count) {
        count = painter_->DrawRowsNow(rows, count);
    }
    InvalidateRows(rows, count, client);
}

void QuietTreeUpdate::InvalidateRows(const HTREEITEM* rows, unsigned count, const RECT& client)
{
    ScopedRegion due(CreateRectRgn(0, 0, 0, 0));
    ScopedRegion row(CreateRectRgn(0, 0, 0, 0));
    for (unsigned i = 0; i < count; ++i) {
        RECT rect = {};
        RECT shown = {};
        if (!TreeView_GetItemRect(tree_, rows[i], &rect, FALSE) ||
            !IntersectRect(&shown, &rect, &client)) {
            continue;
        }
        if (!due || !row) {
            InvalidateRect(tree_, &shown, FALSE);
            continue;
        }
        SetRectRgn(row.Get(), shown.left, shown.top, shown.right, shown.bottom);
        CombineRgn(due.Get(), due.Get(), row.Get(), RGN_OR);
    }
    if (count && due && row) {
        InvalidateRgn(tree_, due.Get(), FALSE);
    }
}

void QuietTreeUpdate::RowChanging(HTREEITEM item)
{
    AddRow(item);
    if (!quiet_) {
        BeginQuiet();
    }
}

void QuietTreeUpdate::RowDrawDue(HTREEITEM item)
{
    AddRow(item);
}

void QuietTreeUpdate::AddRow(HTREEITEM item)
{
    if (rowCount_ == 0) {
        shown_ = tree_ && (GetWindowLongPtrW(tree_, GWL_STYLE) & WS_VISIBLE) != 0;
    }
    if (rowCount_ < kMaxRows) {
        rows_[rowCount_] = item;
    }
    ++rowCount_;
}

void QuietTreeUpdate::ReadScrollState(HWND tree, ScrollState& state)
{
    state.style = GetWindowLongPtrW(tree, GWL_STYLE) & (WS_VSCROLL | WS_HSCROLL);
    for (SCROLLINFO* info : {&state.vertical, &state.horizontal}) {
        info->cbSize = sizeof *info;
        info->fMask = SIF_ALL;
    }
    if (!GetScrollInfo(tree, SB_VERT, &state.vertical)) {
        state.vertical = SCROLLINFO{};
    }
    if (!GetScrollInfo(tree, SB_HORZ, &state.horizontal)) {
        state.horizontal = SCROLLINFO{};
    }
}

bool QuietTreeUpdate::SameScrollState(const ScrollState& a, const ScrollState& b)
{
    auto same = [](const SCROLLINFO& x, const SCROLLINFO& y) {
        return x.nMin == y.nMin && x.nMax == y.nMax && x.nPage == y.nPage && x.nPos == y.nPos;
    };
    return a.style == b.style && same(a.vertical, b.vertical) && same(a.horizontal, b.horizontal);
}
