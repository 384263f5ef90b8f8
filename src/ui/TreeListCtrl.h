#pragma once

#include <windows.h>
#include <commctrl.h>

#include "base/ScopedHandle.h"
#include "ui/RowLayout.h"
#include "ui/Subclasser.h"
#include "ui/QuietTreeUpdate.h"
#include "ui/TreeCtrl.h"

#include <memory>
#include <unordered_map>
#include <vector>

// Window-property tag of the tree window's subclass.
constexpr DWORD kTreeWindowSubclassTag = 0x74726D63;

// A tree with a column header whose rows are split at tabs.

class TreeListCtrl : public TreeCtrl, public TreeRowPainter
{
public:
    TreeListCtrl() = default;
    ~TreeListCtrl() override;

    int HandleNotify(HWND dialog, WPARAM wParam, NMHDR* header, LRESULT& result) override;
    int Attach(HWND tree, HINSTANCE module, DWORD flags) override;
    void Detach() override;

    // The new column's index, or -1.
    int InsertColumn(const wchar_t* caption, int index, int width, int format);
    int ColumnWidth(int index) const;
    int SetColumnWidth(int index, int width);
    // The width that shows the column's widest text among the rows in view
    // of the expanded tree whole; 0 when there is none.
    int ColumnFitWidth(int index);
    // Fits the column to its widest text (a double click on its divider).
    int FitColumn(int index);
    // Whether the user has sized a column (dragged or double-clicked a
    // divider) since Attach.
    bool UserSizedColumns() const { return userSizedColumns_; }

    // Remakes every pixel size for a window now at dpi: icons, the minimum
    // item height, the header's font and height, the column widths, the
    // theme's metrics. Each column's width is rescaled from the DPI it was
    // last set at (by the program or the user), so that any sequence of
    // changes comes back to the same pixels. The
    // owner calls it when the window's DPI changes, after the tree has its
    // new font, and FitHeaderToTree once the tree has its new place.
    void SetDpi(int dpi);
    // Puts the header right above the tree, as wide as the tree.
    int FitHeaderToTree();
    // Looks at the theme and the high-contrast setting again before the
    // next paint (after WM_THEMECHANGED, WM_SYSCOLORCHANGE or a change of
    // the high-contrast setting).
    void ThemeChanged()
    {
        themeStale_ = true;
        plainRowKnown_ = false;
    }
    // Draws rows in no special state (not selected, under the mouse, bold
    // or a drop target) at once, with the state and colours the tree gave
    // such a row when it last painted one; leaves the others, and all rows
    // until the tree has painted a plain row itself.
    unsigned DrawRowsNow(HTREEITEM* rows, unsigned count) override;

    // Rows whose texts change all the time (live values): the control holds
    // their texts and the tree asks for them when it needs one
    // (LPSTR_TEXTCALLBACK). Under Wine each TVM_SETITEMW measures the text
    // through a DC of its own and recomputes and redraws the scroll bars; a
    // held text changes without the tree knowing, and the caller draws the
    // row (QuietTreeUpdate::RowDrawDue). The first call on a row tells the
    // tree to ask from then on, a change of the tree's own
    // (QuietTreeUpdate::RowChanging).
    int SetHeldText(HTREEITEM item, const wchar_t* text);
    // A live value's row gets a new text within a quiet update: the first
    // change holds the text (a change of the tree's own), later ones are
    // only drawn. Where the text cannot be held, the tree takes it.
    int ChangeLiveText(HTREEITEM item, const wchar_t* text, QuietTreeUpdate& quiet);
    // The text the control holds for a row, or null when the tree holds it.
    const WideString* HeldText(HTREEITEM item) const;

    HWND Header() const { return header_.Get(); }
    bool IsThemed() const { return themed_ != 0; }

private:
    static int TreeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                              LRESULT* result, void* context);
    int PlaceHeader();
    void ApplyMinimumItemHeight();
    bool MeasureRowText(HDC dc, const wchar_t* text, int length, SIZE& extent);
    void RefreshTheme();
    void ReadPaintState();
    bool DrawRowNow(HDC dc, HTREEITEM row);
    void NoteHotRow(const NMTVCUSTOMDRAW* draw);
    void DrawRowFocus(HDC dc, const RECT& textRect, int totalWidth, UINT itemState) const;
    void FollowTreeWidth();
    int HandleCustomDraw(HWND dialog, WPARAM wParam, NMTVCUSTOMDRAW* draw, LRESULT& result);
    // Draws the row from the given column on (0: whole), leaving what lies
    // left of that column as it is.
    int DrawRow(NMTVCUSTOMDRAW* draw, unsigned firstColumn = 0);
    // Records a column's width as set at the current DPI.
    void KeepColumnWidth(int index, int width);
    unsigned ReadColumnWidths(int* widths, unsigned capacity) const;
    void DrawGridLines(HDC dc, const RECT& textRect, int totalWidth) const;
    void DrawRowBackground(NMTVCUSTOMDRAW* draw, const RECT& row, const RECT& textRect,
                           int totalWidth, int state);
    void DrawColumnText(NMTVCUSTOMDRAW* draw, const wchar_t* text, const ColumnPlacement& column,
                        int state);
    void AnswerHeldText(TVITEMW& item) const;
    const WideString* ReadRowText(HTREEITEM item, WideString& buffer) const;

    ScopedWindow header_;
    Subclasser treeSubclass_;
    int themed_ = 0;
    // Whether the tree had the focus when the current paint began: asking
    // for every row costs a window server round trip each under Wine.
    bool focusedWhilePainting_ = false;
    // The window hides focus rectangles until the keyboard is used, as
    // told when the current paint began.
    bool hideFocusWhilePainting_ = false;
    bool highContrast_ = false;
    bool themeStale_ = false;
    // The icons of plain rows, ready to copy.
    IconStamps stamps_;
    // The row the tree last drew highlighted under the mouse, or null.
    HTREEITEM hotRow_ = nullptr;
    // WM_MOUSELEAVE has been asked for the tree and has not come yet.
    bool leaveTracked_ = false;
    // How the tree last asked for a row in no special state to be drawn.
    bool plainRowKnown_ = false;
    UINT plainItemState_ = 0;
    COLORREF plainText_ = 0;
    COLORREF plainBack_ = 0;
    bool userSizedColumns_ = false;
    int attachIndent_ = 0;
    int attachDpi_ = 96;
    // Each column's width at the DPI it was set at.
    struct KeptWidth
    {
        int width;
        int dpi;
    };
    std::vector<KeptWidth> keptWidths_;
    // Set while SetDpi rescales the columns: those widths are not kept.
    bool rescalingColumns_ = false;
    // The row being drawn, whole however long; kept to spare an allocation
    // per row.
    WideString rowText_;
    // A text of a row the tree asks for, and the first of its columns that
    // changed since the row was last drawn: a row drawn at once after a
    // change of its value alone is drawn from the value's column on.
    struct HeldRow
    {
        WideString text;
        unsigned dueFrom = 0;
    };
    static constexpr unsigned kNothingDue = ~0u;
    HeldRow* FindHeld(HTREEITEM item) const;
    // A row's entry goes with the row.
    std::unordered_map<HTREEITEM, std::unique_ptr<HeldRow>> heldTexts_;
};
