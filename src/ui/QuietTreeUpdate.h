#pragma once

#include <windows.h>
#include <commctrl.h>

#include "base/ScopedHandle.h"

// Draws rows of a tree at once, without a paint message (a tree-list
// control offers it).
class TreeRowPainter
{
public:
    virtual ~TreeRowPainter() = default;
    // Draws what rows it can through a DC of the tree; answers how many it
    // left, moved to the front of rows for the caller to invalidate.
    virtual unsigned DrawRowsNow(HTREEITEM* rows, unsigned count) = 0;
};

// Changes the texts of a few tree rows without drawing anything until the
// scope ends, then repaints just those of them that are in view. Nothing is
// done to the tree until the first row is about to change, so a refresh
// that changes no text costs no window calls at all.
//
// Under Wine every TVM_SETITEMW also recomputes and repaints the tree's
// scroll bars (themed drawing, several wineserver calls, about 2 ms). While
// this object lives the tree is not drawable (DefWindowProc's handling of
// WM_SETREDRAW, which leaves the tree's own redraw state alone), so those
// repaints are skipped. Afterwards the changed rows are invalidated, the
// scroll bars are repainted only when one of them changed, and anything
// that was waiting to be painted before is invalidated again. A tree that
// is hidden to begin with is left as it is.
//
// Given a painter, the changed rows are drawn at once instead of being
// invalidated: the tree's own paint recomputes and redraws its themed
// scroll bars every time, which under Wine costs several times as much as
// the rows themselves. Rows whose texts changed outside the tree (texts the
// tree asks for) are only drawn; drawing is then not turned off at all.
class QuietTreeUpdate
{
public:
    explicit QuietTreeUpdate(HWND tree, TreeRowPainter* painter = nullptr);
    ~QuietTreeUpdate();
    QuietTreeUpdate(const QuietTreeUpdate&) = delete;
    QuietTreeUpdate& operator=(const QuietTreeUpdate&) = delete;

    // Call before a row's text is changed in this scope: the first call
    // stops the tree's drawing.
    void RowChanging(HTREEITEM item);
    // A row shows a new text the tree was not told of (a text the tree asks
    // for): it is only drawn again when the scope ends.
    void RowDrawDue(HTREEITEM item);

private:
    static constexpr unsigned kMaxRows = 64;

    void BeginQuiet();
    void AddRow(HTREEITEM item);
    void ShowChangedRows();
    void InvalidateRows(const HTREEITEM* rows, unsigned count, const RECT& client);

    struct ScrollState
    {
        LONG_PTR style = 0;
        SCROLLINFO vertical = {};
        SCROLLINFO horizontal = {};
    };
    static void ReadScrollState(HWND tree, ScrollState& state);
    static bool SameScrollState(const ScrollState& a, const ScrollState& b);

    HWND tree_;
    TreeRowPainter* painter_;
    // Whether the tree was visible when the first row was added.
    bool shown_ = false;
    bool quiet_ = false;
    ScrollState before_;
    ScopedRegion pending_;
    HTREEITEM rows_[kMaxRows];
    unsigned rowCount_ = 0;
};
