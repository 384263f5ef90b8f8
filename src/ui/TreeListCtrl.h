#pragma once

#include <windows.h>
#include <commctrl.h>

#include "ui/RowLayout.h"
#include "ui/Subclasser.h"
#include "ui/TreeCtrl.h"

// Window-property tag of the tree window's subclass.
constexpr DWORD kTreeWindowSubclassTag = 0x74726D63;

// A tree with a column header whose rows are split at tabs.

class TreeListCtrl : public TreeCtrl
{
public:
    TreeListCtrl() = default;
    ~TreeListCtrl() override;

    int HandleNotify(HWND dialog, WPARAM wParam, NMHDR* header, LRESULT& result) override;
    int Attach(HWND tree, HINSTANCE module, DWORD flags) override;
    void Detach() override;

    // The new column's index, or -1.
    int InsertColumn(const wchar_t* caption, int index, int width, int format);

    HWND Header() const { return header_; }
    bool IsThemed() const { return themed_ != 0; }

private:
    static int TreeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                              LRESULT* result, void* context);
    int PlaceHeader();
    void FollowTreeWidth();
    int HandleCustomDraw(HWND dialog, WPARAM wParam, NMTVCUSTOMDRAW* draw, LRESULT& result);
    int DrawRow(NMTVCUSTOMDRAW* draw);
    unsigned ReadColumnWidths(int* widths, unsigned capacity) const;
    void DrawGridLines(HDC dc, const RECT& textRect, int totalWidth) const;
    void DrawRowBackground(NMTVCUSTOMDRAW* draw, const RECT& row, const RECT& textRect,
                           int totalWidth, int state);
    void DrawColumnText(NMTVCUSTOMDRAW* draw, const wchar_t* text, const ColumnPlacement& column,
                        int state);

    HWND header_ = nullptr;
    Subclasser treeSubclass_;
    int themed_ = 0;
    // Whether the tree had the focus when the current paint began: asking
    // for every row costs a window server round trip each under Wine.
    bool focusedWhilePainting_ = false;
};
