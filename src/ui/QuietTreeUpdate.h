#pragma once

#include <windows.h>
#include <commctrl.h>

#include "base/ScopedHandle.h"

// Changes the texts of a few tree rows without drawing anything until the
// scope ends, then repaints just those rows.
//
// Under Wine every TVM_SETITEMW also recomputes and repaints the tree's
// scroll bars (themed drawing, several wineserver calls, about 2 ms). While
// this object lives the tree is not drawable (DefWindowProc's handling of
// WM_SETREDRAW, which leaves the tree's own redraw state alone), so those
// repaints are skipped. Afterwards the changed rows are invalidated, the
// scroll bars are repainted only when one of them changed, and anything
// that was waiting to be painted before is invalidated again. A tree that
// is hidden to begin with is left as it is.
class QuietTreeUpdate
{
public:
    explicit QuietTreeUpdate(HWND tree);
    ~QuietTreeUpdate();
    QuietTreeUpdate(const QuietTreeUpdate&) = delete;
    QuietTreeUpdate& operator=(const QuietTreeUpdate&) = delete;

    // Records a row whose text was changed in this scope.
    void RowChanged(HTREEITEM item);

private:
    static constexpr unsigned kMaxRows = 64;

    struct ScrollState
    {
        LONG_PTR style = 0;
        SCROLLINFO vertical = {};
        SCROLLINFO horizontal = {};
    };
    static void ReadScrollState(HWND tree, ScrollState& state);
    static bool SameScrollState(const ScrollState& a, const ScrollState& b);

    HWND tree_;
    bool quiet_;
    ScrollState before_;
    ScopedRegion pending_;
    HTREEITEM rows_[kMaxRows];
    unsigned rowCount_ = 0;
};
