#include "ui/TreeCtrl.h"

#include "system/OsVersion.h"
#include "ui/Dpi.h"

namespace {

constexpr DWORD kTrackSelectCommonControls = 0x60010;

void AddWindowStyle(HWND window, LONG_PTR add, LONG_PTR remove)
{
    LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    SetWindowLongPtrW(window, GWL_STYLE, (style & ~remove) | add);
}

} // namespace

TreeCtrl::~TreeCtrl()
{
    TreeCtrl::Detach();
}

int TreeCtrl::Attach(HWND tree, HINSTANCE module, DWORD flags)
{
    if (tree_) {
        Detach();
    }
    if (!IsWindow(tree)) {
        return 0;
    }
    tree_ = tree;
    instance_ = module;
    flags_ = flags;
    dpi_ = WindowDpi(tree);

    // An earlier Detach leaves drawing suspended; a new attachment starts
    // with drawing on.
    if (redrawLocks_ != 0) {
        redrawLocks_ = 0;
        SendMessageW(tree_, WM_SETREDRAW, TRUE, 0);
    }

    if (GetCommonControlsVersion() >= kTrackSelectCommonControls) {
        AddWindowStyle(tree_, TVS_TRACKSELECT, TVS_HASLINES);
    }
    if (flags & TREE_SYSTEM_IMAGES) {
        icons_.Create(ICONS_SMALL | ICONS_SHARED, 0, 0, 0, 0);
    } else {
        icons_.Create(ICONS_SMALL, 0, 0, 10, 20, dpi_);
    }
    SendMessageW(tree_, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(icons_.Handle()));
    if (flags & TREE_CHECKBOXES) {
        AddWindowStyle(tree_, TVS_CHECKBOXES, 0);
    }
    style_.Open(tree_, nullptr);
    return style_.SetWindowTheme(tree_, L"explorer", nullptr);
}

void TreeCtrl::Detach()
{
    if (!tree_) {
        return;
    }
    editSubclass_.Detach();
    // The owner may destroy its dialog before this object goes.
    if (IsWindow(tree_)) {
        SetRedraw(0);
        SendMessageW(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
        // The tree must not keep lists that are destroyed here.
        SendMessageW(tree_, TVM_SETIMAGELIST, TVSIL_NORMAL, 0);
        if (flags_ & TREE_CHECKBOXES) {
            // The tree made its check-box list; it goes here.
            ScopedImageList states(reinterpret_cast<HIMAGELIST>(
                SendMessageW(tree_, TVM_SETIMAGELIST, TVSIL_STATE, 0)));
        }
    } else {
        ++redrawLocks_;
    }
    style_.Close();
    icons_.Destroy();
    instance_ = nullptr;
    tree_ = nullptr;
    context_ = 0;
    handlers_ = TreeEventHandlers();
}

void TreeCtrl::SetHandlers(const TreeEventHandlers& handlers, LONG_PTR context,
                           LONG_PTR labelEditContext)
{
    handlers_ = handlers;
    context_ = context;
    labelEditContext_ = labelEditContext;
}

LRESULT TreeCtrl::SetExtendedStyle(DWORD mask, DWORD style)
{
    return SendMessageW(tree_, TVM_SETEXTENDEDSTYLE, mask, style);
}

int TreeCtrl::AddIcon(UINT resourceId)
{
    return icons_.AddIcon(instance_, resourceId);
}

int TreeCtrl::DeleteAll()
{
    int result = SendMessageW(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT)) ? 1 : 0;
    if (!(flags_ & (TREE_SYSTEM_IMAGES | TREE_KEEP_IMAGES))) {
        result = icons_.RemoveAll();
    }
    return result;
}

HTREEITEM TreeCtrl::InsertItem(const TreeItem& item)
{
    if (!tree_) {
        return nullptr;
    }
    TVINSERTSTRUCTW insert = {};
    insert.hParent = item.parent ? item.parent : TVI_ROOT;
    insert.hInsertAfter = item.insertAfter ? item.insertAfter : TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_PARAM | TVIF_SELECTEDIMAGE | TVIF_CHILDREN;
    insert.item.pszText = const_cast<wchar_t*>(item.text ? item.text : L"");
    insert.item.iImage = item.image;
    insert.item.iSelectedImage = item.selectedImage;
    insert.item.cChildren = item.children;
    insert.item.lParam = item.data;
    return reinterpret_cast<HTREEITEM>(
        SendMessageW(tree_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

int TreeCtrl::SetItemText(HTREEITEM item, const wchar_t* text)
{
    if (!tree_ || !item) {
        return 0;
    }
    TVITEMW change = {};
    change.mask = TVIF_HANDLE | TVIF_TEXT;
    change.hItem = item;
    change.pszText = const_cast<wchar_t*>(text ? text : L"");
    return SendMessageW(tree_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&change)) ? 1 : 0;
}

int TreeCtrl::SelectItem(HTREEITEM item)
{
    return SendMessageW(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)) ? 1 : 0;
}

int TreeCtrl::Expand(HTREEITEM item, UINT action)
{
    return SendMessageW(tree_, TVM_EXPAND, action, reinterpret_cast<LPARAM>(item)) ? 1 : 0;
}

void TreeCtrl::SetRedraw(int enable)
{
    if (enable != 1) {
        if (++redrawLocks_ == 1) {
            SendMessageW(tree_, WM_SETREDRAW, FALSE, 0);
        }
        return;
    }
    if (redrawLocks_ == 0 || --redrawLocks_ != 0) {
        return;
    }
    SendMessageW(tree_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(tree_, nullptr, TRUE);
    UpdateWindow(tree_);
}

HTREEITEM TreeCtrl::GetSelection() const
{
    if (!tree_) {
        return nullptr;
    }
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_CARET, 0));
}

void TreeCtrl::GetSelectionText(WideString& text, LPARAM* data) const
{
    HTREEITEM item = GetSelection();
    if (!item) {
        return;
    }
    // Whole, however long: a long row is remembered by all of its text.
    LPARAM itemData = 0;
    WideString whole;
    if (GetItem(item, nullptr, data ? &itemData : nullptr, nullptr, nullptr, 0, nullptr) &&
        GetItemText(item, whole) && text.Assign(whole)) {
        if (data) {
            *data = itemData;
        }
    }
}

int TreeCtrl::GetItem(HTREEITEM item, wchar_t* text, LPARAM* data, int* image, int* selectedImage,
                      UINT stateMask, UINT* state) const
{
    if (!tree_ || !item) {
        return 0;
    }
    wchar_t buffer[kTreeItemTextCapacity];
    buffer[0] = L'\0';
    TVITEMW record = {};
    record.hItem = item;
    record.mask = TVIF_HANDLE;
    record.mask |= text ? TVIF_TEXT : 0;
    record.mask |= data ? TVIF_PARAM : 0;
    record.mask |= image ? TVIF_IMAGE : 0;
    record.mask |= selectedImage ? TVIF_SELECTEDIMAGE : 0;
    record.mask |= state ? TVIF_STATE : 0;
    record.stateMask = state ? stateMask : TVIS_STATEIMAGEMASK;
    record.pszText = buffer;
    record.cchTextMax = kTreeItemTextCapacity;
    if (!SendMessageW(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&record))) {
        return 0;
    }
    if (text) {
        // The control may point pszText at its own copy instead of filling ours.
        lstrcpynW(text, record.pszText ? record.pszText : L"", kTreeItemTextCapacity);
    }
    if (data) {
        *data = record.lParam;
    }
    if (image) {
        *image = record.iImage;
    }
    if (selectedImage) {
        *selectedImage = record.iSelectedImage;
    }
    if (state) {
        *state = record.state;
    }
    return 1;
}

int TreeCtrl::GetItemText(HTREEITEM item, WideString& text) const
{
    if (!tree_ || !item) {
        return 0;
    }
    // Most texts fit the usual buffer; one that fills it may go on, so it
    // is read again with more room until it ends inside the buffer.
    wchar_t usual[kTreeItemTextCapacity];
    if (!ReadItemText(item, usual, kTreeItemTextCapacity)) {
        return 0;
    }
    if (lstrlenW(usual) + 1 < static_cast<int>(kTreeItemTextCapacity)) {
        return text.Assign(usual);
    }
    for (unsigned capacity = 4 * kTreeItemTextCapacity; capacity < 4 * kLongestItemText;
         capacity *= 4) {
        WideString buffer(capacity);
        if (buffer.Capacity() < capacity || !ReadItemText(item, buffer.Data(), capacity)) {
            return 0;
        }
        if (static_cast<unsigned>(lstrlenW(buffer.Data())) + 1 < capacity) {
            return text.Assign(buffer.Data());
        }
    }
    return 0;
}

int TreeCtrl::ReadItemText(HTREEITEM item, wchar_t* buffer, unsigned capacity) const
{
    buffer[0] = L'\0';
    TVITEMW record = {};
    record.hItem = item;
    record.mask = TVIF_HANDLE | TVIF_TEXT;
    record.pszText = buffer;
    record.cchTextMax = static_cast<int>(capacity);
    if (!SendMessageW(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&record))) {
        return 0;
    }
    // The control may point pszText at its own copy instead of filling ours.
    if (record.pszText && record.pszText != buffer) {
        lstrcpynW(buffer, record.pszText, static_cast<int>(capacity));
    }
    return 1;
}

int TreeCtrl::SetItemHeight(int height)
{
    return static_cast<int>(SendMessageW(tree_, TVM_SETITEMHEIGHT, height, 0));
}

int TreeCtrl::GetItemHeight() const
{
    return static_cast<int>(SendMessageW(tree_, TVM_GETITEMHEIGHT, 0, 0));
}

// Custom draw answers the same for every row; under Wine each write of the
// window's extra bytes is a round trip to the window server, a read is not.
void TreeCtrl::SetDialogResult(HWND dialog, LRESULT value)
{
    if (GetWindowLongPtrW(dialog, DWLP_MSGRESULT) != value) {
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, value);
    }
}

int TreeCtrl::HandleNotify(HWND dialog, WPARAM, NMHDR* header, LRESULT& result)
{
    if (!tree_ || !header || header->hwndFrom != tree_) {
        return 0;
    }
    auto* change = reinterpret_cast<NMTREEVIEWW*>(header);
    switch (header->code) {
    case TVN_GETDISPINFOW:
        if (handlers_.getDisplayInfo) {
            handlers_.getDisplayInfo(&reinterpret_cast<NMTVDISPINFOW*>(header)->item, context_);
        }
        result = 1;
        return 1;
    case TVN_ITEMEXPANDINGW:
        return HandleExpanding(dialog, change, result);
    case TVN_DELETEITEMW:
        if (handlers_.deleting) {
            handlers_.deleting(&change->itemOld, context_);
        }
        result = 0;
        return 1;
    case TVN_SELCHANGEDW:
        if (handlers_.selectionChanged) {
            handlers_.selectionChanged(&change->itemNew, context_);
        }
        result = 0;
        return 1;
    case TVN_BEGINLABELEDITW:
    case TVN_ENDLABELEDITW:
        return HandleLabelEdit(dialog, reinterpret_cast<NMTVDISPINFOW*>(header),
                               header->code == TVN_BEGINLABELEDITW, result);
    case TVN_KEYDOWN:
        if (!handlers_.keyDown) {
            return 0;
        }
        handlers_.keyDown(reinterpret_cast<NMTVKEYDOWN*>(header)->wVKey, context_);
        result = 0;
        return 1;
    case NM_CLICK:
        return HandleClick(handlers_.click, GetSelection());
    case NM_DBLCLK:
        return HandleClick(handlers_.doubleClick, GetSelection());
    case NM_RETURN:
        return HandleClick(handlers_.returnKey, GetSelection());
    case NM_RCLICK: {
        auto target =
            reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_DROPHILITE, 0));
        return HandleClick(handlers_.rightClick, target ? target : GetSelection());
    }
    default:
        return 0;
    }
}

int TreeCtrl::HandleExpanding(HWND dialog, NMTREEVIEWW* info, LRESULT& result)
{
    if (info->action == TVE_EXPAND) {
        if (handlers_.expanding) {
            handlers_.expanding(&info->itemNew, context_);
        }
    } else if (info->action == TVE_COLLAPSE) {
        if (handlers_.collapsing) {
            handlers_.collapsing(&info->itemNew, context_);
        }
        if (!(flags_ & TREE_KEEP_CHILDREN)) {
            SendMessageW(tree_, TVM_EXPAND, TVE_COLLAPSE | TVE_COLLAPSERESET,
                         reinterpret_cast<LPARAM>(info->itemNew.hItem));
        }
    } else {
        return 0;
    }
    SetDialogResult(dialog, 0);
    result = 0;
    return 1;
}

int TreeCtrl::HandleLabelEdit(HWND dialog, NMTVDISPINFOW* info, bool begin, LRESULT& result)
{
    if (!begin) {
        editSubclass_.Detach();
    }
    TreeLabelEditHandler handler = begin ? handlers_.beginLabelEdit : handlers_.endLabelEdit;
    LRESULT value = 0;
    if (handler) {
        value = handler(tree_, info->item.hItem, info->item.lParam, info->item.pszText,
                        labelEditContext_);
    }
    SetDialogResult(dialog, value);
    result = value;
    if (begin && value == 0) {
        // Without this the dialog manager takes Enter and Escape away from
        // the editor.
        editSubclass_.Detach();
        auto editor = reinterpret_cast<HWND>(SendMessageW(tree_, TVM_GETEDITCONTROL, 0, 0));
        if (editor) {
            editSubclass_.Attach(editor, LabelEditorProc, this, kLabelEditorSubclassTag);
        }
    }
    return 1;
}

int TreeCtrl::HandleClick(TreeClickHandler handler, HTREEITEM item)
{
    if (!handler) {
        return 0;
    }
    handler(item, context_);
    return 1;
}

int TreeCtrl::LabelEditorProc(HWND, UINT message, WPARAM, LPARAM, LRESULT* result, void*)
{
    if (message != WM_GETDLGCODE) {
        return 0;
    }
    *result = DLGC_WANTALLKEYS;
    return 1;
}
