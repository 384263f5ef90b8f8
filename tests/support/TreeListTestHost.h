#pragma once

// A shown dialog with a tree-view child whose WM_NOTIFY messages go to a
// TreeListCtrl, as in the main window. Shared by the tree-list tests and
// the rebuild benchmark.

#include <windows.h>
#include <commctrl.h>

#include "ui/TreeListCtrl.h"

namespace treelist_test {

constexpr int kTreeId = 1004;

inline void PumpMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

inline INT_PTR CALLBACK HostDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        return TRUE;
    }
    auto* tree = reinterpret_cast<TreeListCtrl*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (message == WM_NOTIFY && tree) {
        LRESULT result = 0;
        if (tree->HandleNotify(dialog, wParam, reinterpret_cast<NMHDR*>(lParam), result))
            return result;
    }
    return FALSE;
}

class TreeListTestHost
{
public:
    static constexpr DWORD kDefaultTreeStyle = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP |
                                               TVS_HASBUTTONS | TVS_HASLINES | TVS_FULLROWSELECT;

    explicit TreeListTestHost(DWORD treeStyle = kDefaultTreeStyle, int width = 400,
                              int height = 300)
    {
        INITCOMMONCONTROLSEX controls = {sizeof controls,
                                         ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        struct Template
        {
            DLGTEMPLATE header;
            WORD menu, windowClass, title;
        };
        alignas(4) Template dialogTemplate = {};
        dialogTemplate.header.style = WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN;
        dialogTemplate.header.cx = 320;
        dialogTemplate.header.cy = 260;
        dialog =
            CreateDialogIndirectParamW(GetModuleHandleW(nullptr), &dialogTemplate.header, nullptr,
                                       HostDialogProc, reinterpret_cast<LPARAM>(&list));
        tree = CreateWindowExW(0, WC_TREEVIEWW, L"", treeStyle, 10, 10, width, height, dialog,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTreeId)),
                               GetModuleHandleW(nullptr), nullptr);
    }
    ~TreeListTestHost()
    {
        list.Detach();
        DestroyWindow(dialog);
        PumpMessages();
    }
    TreeListTestHost(const TreeListTestHost&) = delete;
    TreeListTestHost& operator=(const TreeListTestHost&) = delete;

    // Attaches as the main window does, with the given flags and columns.
    int AttachWithColumns(DWORD flags, int firstWidth, int secondWidth)
    {
        int attached = list.Attach(tree, GetModuleHandleW(nullptr), flags);
        list.InsertColumn(L"Item", 0, firstWidth, 0);
        list.InsertColumn(L"Value", 1, secondWidth, 0);
        return attached;
    }

    HWND dialog = nullptr;
    HWND tree = nullptr;
    TreeListCtrl list;
};

} // namespace treelist_test
