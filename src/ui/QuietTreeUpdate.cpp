#include "ui/QuietTreeUpdate.h"

#include <initializer_list>

QuietTreeUpdate::QuietTreeUpdate(HWND tree) : tree_(tree)
{
}

void QuietTreeUpdate::BeginQuiet()
{
    quiet_ = tree_ && (GetWindowLongPtrW(tree_, GWL_STYLE) & WS_VISIBLE) != 0;
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
    if (!quiet_) {
        return;
    }
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
    if (rowCount_ > kMaxRows) {
        InvalidateRect(tree_, nullptr, FALSE);
        return;
    }
    InvalidateRowsInView();
}

// Each invalidation is a round trip to the window server under Wine, also
// for a row scrolled out of view, which would paint nothing: the rows in
// view are gathered into one region and invalidated at once.
void QuietTreeUpdate::InvalidateRowsInView()
{
    RECT client = {};
    if (!GetClientRect(tree_, &client)) {
        return;
    }
    ScopedRegion due(CreateRectRgn(0, 0, 0, 0));
    ScopedRegion row(CreateRectRgn(0, 0, 0, 0));
    bool any = false;
    for (unsigned i = 0; i < rowCount_; ++i) {
        RECT rect = {};
        RECT shown = {};
        if (!TreeView_GetItemRect(tree_, rows_[i], &rect, FALSE) ||
            !IntersectRect(&shown, &rect, &client)) {
            continue;
        }
        if (!due || !row) {
            InvalidateRect(tree_, &shown, FALSE);
            continue;
        }
        SetRectRgn(row.Get(), shown.left, shown.top, shown.right, shown.bottom);
        CombineRgn(due.Get(), due.Get(), row.Get(), RGN_OR);
        any = true;
    }
    if (any) {
        InvalidateRgn(tree_, due.Get(), FALSE);
    }
}

void QuietTreeUpdate::RowChanging(HTREEITEM item)
{
    if (rowCount_ == 0) {
        BeginQuiet();
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
