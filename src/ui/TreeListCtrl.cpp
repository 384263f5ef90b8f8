#include "ui/TreeListCtrl.h"

#include <shellapi.h>
#include <vsstyle.h>

#include "base/ScopedHandle.h"
#include "system/OsVersion.h"

namespace {

constexpr DWORD kTrackSelectCommonControls = 0x60010;
constexpr DWORD kColor32CommonControls = 0x60000;
constexpr int kMinimumItemHeight = 18;
constexpr UINT kRowTextFlags = DT_END_ELLIPSIS | DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER;

// Restores a device context's state after custom drawing.
class SavedDcState
{
public:
    explicit SavedDcState(HDC dc) : dc_(dc), saved_(SaveDC(dc)) {}
    ~SavedDcState()
    {
        if (saved_) {
            RestoreDC(dc_, saved_);
        }
    }
    SavedDcState(const SavedDcState&) = delete;
    SavedDcState& operator=(const SavedDcState&) = delete;

private:
    HDC dc_;
    int saved_;
};

void FillSolid(HDC dc, const RECT& rect, COLORREF color)
{
    COLORREF previous = SetBkColor(dc, color);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
    SetBkColor(dc, previous);
}

void AddWindowStyle(HWND window, LONG_PTR add, LONG_PTR remove)
{
    LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    SetWindowLongPtrW(window, GWL_STYLE, (style & ~remove) | add);
}

} // namespace

// ---------------------------------------------------------------------------
// Row layout

unsigned SplitAtTabs(const wchar_t* text, unsigned length, TextPiece* pieces, unsigned maxPieces)
{
    unsigned count = 0;
    unsigned position = 0;
    while (count < maxPieces) {
        while (position < length && text[position] == L'\t') {
            ++position;
        }
        if (position >= length) {
            break;
        }
        unsigned start = position;
        while (position < length && text[position] != L'\t') {
            ++position;
        }
        pieces[count].start = start;
        pieces[count].length = position - start;
        ++count;
    }
    return count;
}

bool StripSpanningMark(const wchar_t* text, unsigned& length)
{
    if (length == 0 || text[length - 1] != kSpanningRowMark) {
        return false;
    }
    --length;
    return true;
}

void PlanRow(const wchar_t* text, unsigned length, const RowFrame& frame, RowPlan& plan)
{
    plan = RowPlan();
    plan.spanning = StripSpanningMark(text, length);

    unsigned columns = frame.columnCount < kMaxRowColumns ? frame.columnCount : kMaxRowColumns;
    int total = 0;
    for (unsigned i = 0; i < columns; ++i) {
        total += frame.columnWidths[i];
    }
    plan.totalWidth = total - 3;

    TextPiece pieces[kMaxRowColumns];
    plan.count = SplitAtTabs(text, length, pieces, columns);

    const RECT& textRect = frame.textRect;
    int columnLeft = 0;
    for (unsigned j = 0; j < plan.count; ++j) {
        int width = frame.columnWidths[j];
        ColumnPlacement& placement = plan.columns[j];
        placement.column = j;
        placement.text = pieces[j];
        placement.box.left = j == 0 ? textRect.left + 1 : columnLeft + 4;
        placement.box.right = plan.spanning ? plan.totalWidth - 2 : columnLeft + width - 5;
        placement.box.top = textRect.top + 1;
        placement.box.bottom = textRect.bottom - 1;
        columnLeft += width;
    }

    // The icon sits left of the text, inside the first column only.
    if (plan.count > 0 && textRect.left < frame.columnWidths[0]) {
        plan.drawIcon = true;
        plan.iconAt.x = textRect.left - frame.iconWidth - 1;
        plan.iconAt.y = textRect.top + (textRect.bottom - textRect.top - frame.iconHeight) / 2;
    }
}

int TreeItemVisualState(UINT itemState, bool treeHasFocus)
{
    bool selected = (itemState & CDIS_SELECTED) != 0;
    bool hot = (itemState & CDIS_HOT) != 0;
    if (selected && hot) {
        return TREIS_HOTSELECTED;
    }
    if (selected) {
        return treeHasFocus ? TREIS_SELECTED : TREIS_SELECTEDNOTFOCUS;
    }
    return hot ? TREIS_HOT : TREIS_NORMAL;
}

int RowImage(int image, int selectedImage, bool selected)
{
    return selected && selectedImage != -1 ? selectedImage : image;
}

// ---------------------------------------------------------------------------
// IconList

UINT ImageListColorDepth(int screenBits, DWORD commonControlsVersion, bool dosBased)
{
    if (dosBased) {
        return ILC_COLOR8;
    }
    if (screenBits >= 24) {
        return commonControlsVersion >= kColor32CommonControls ? ILC_COLOR32 : ILC_COLOR16;
    }
    if (screenBits >= 16) {
        return ILC_COLOR16;
    }
    if (screenBits >= 8) {
        return ILC_COLOR8;
    }
    if (screenBits >= 4) {
        return ILC_COLOR4;
    }
    return ILC_COLOR;
}

namespace {

HIMAGELIST SystemImageList(bool small)
{
    wchar_t folder[MAX_PATH];
    UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
    if (length < 3 || length >= MAX_PATH) {
        return nullptr;
    }
    folder[3] = L'\0'; // the drive's root, "C:\"
    SHFILEINFOW info = {};
    UINT flags = SHGFI_SYSICONINDEX | (small ? SHGFI_SMALLICON : 0);
    return reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(folder, 0, &info, sizeof info, flags));
}

UINT ScreenColorDepth()
{
    ScreenDc screen;
    int bits = 0;
    if (screen.Get()) {
        bits = GetDeviceCaps(screen.Get(), PLANES) * GetDeviceCaps(screen.Get(), BITSPIXEL);
    }
    bool dosBased = (OsKernelWord(GetOsKernel()) & OS_DOS) != 0;
    return ImageListColorDepth(bits, GetCommonControlsVersion(), dosBased);
}

} // namespace

int IconList::Create(DWORD flags, int width, int height, int initial, int growth)
{
    Destroy();
    flags_ = flags;
    if (flags & ICONS_SMALL) {
        width = GetSystemMetrics(SM_CXSMICON);
        height = GetSystemMetrics(SM_CYSMICON);
    } else if (flags & ICONS_LARGE) {
        width = GetSystemMetrics(SM_CXICON);
        height = GetSystemMetrics(SM_CYICON);
    }
    width_ = width;
    height_ = height;

    if (flags & ICONS_COLOR32) {
        list_ = ImageList_Create(width, height, ILC_COLOR32 | ILC_MASK, initial, growth);
    } else if (flags & ICONS_SHARED) {
        bool small = (flags & ICONS_SMALL) ||
                     (!(flags & ICONS_LARGE) && height == GetSystemMetrics(SM_CYSMICON));
        list_ = SystemImageList(small);
    } else {
        list_ = ImageList_Create(width, height, ScreenColorDepth() | ILC_MASK, initial, growth);
    }
    return list_ != nullptr;
}

void IconList::Destroy()
{
    if (list_ && !(flags_ & ICONS_SHARED)) {
        ImageList_Destroy(list_);
    }
    list_ = nullptr;
}

int IconList::AddIcon(HINSTANCE module, UINT resourceId)
{
    if (!list_) {
        return -1;
    }
    ScopedIcon icon(static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(resourceId), IMAGE_ICON,
                                                  width_, height_, LR_DEFAULTCOLOR)));
    if (!icon) {
        return -1;
    }
    return ImageList_ReplaceIcon(list_, -1, icon.Get());
}

int IconList::RemoveAll()
{
    if (!list_ || (flags_ & ICONS_SHARED)) {
        return 0;
    }
    return ImageList_Remove(list_, -1) ? 1 : 0;
}

int IconList::Draw(int index, HDC dc, int x, int y, UINT style) const
{
    if (!list_) {
        return 0;
    }
    return ImageList_Draw(list_, index, dc, x, y, style) ? 1 : 0;
}

// ---------------------------------------------------------------------------
// TreeCtrl

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
        icons_.Create(ICONS_SMALL, 0, 0, 10, 20);
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
            HIMAGELIST states =
                reinterpret_cast<HIMAGELIST>(SendMessageW(tree_, TVM_SETIMAGELIST, TVSIL_STATE, 0));
            if (states) {
                ImageList_Destroy(states);
            }
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

HTREEITEM TreeCtrl::InsertItem(HTREEITEM parent, HTREEITEM insertAfter, const wchar_t* text,
                               int image, int selectedImage, int children, LPARAM data)
{
    if (!tree_) {
        return nullptr;
    }
    TVINSERTSTRUCTW insert = {};
    insert.hParent = parent ? parent : TVI_ROOT;
    insert.hInsertAfter = insertAfter ? insertAfter : TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_PARAM | TVIF_SELECTEDIMAGE | TVIF_CHILDREN;
    insert.item.pszText = const_cast<wchar_t*>(text ? text : L"");
    insert.item.iImage = image;
    insert.item.iSelectedImage = selectedImage;
    insert.item.cChildren = children;
    insert.item.lParam = data;
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
    wchar_t buffer[kTreeItemTextCapacity];
    LPARAM itemData = 0;
    if (GetItem(item, buffer, data ? &itemData : nullptr, nullptr, nullptr, 0, nullptr)) {
        text.Assign(buffer);
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

int TreeCtrl::SetItemHeight(int height)
{
    return static_cast<int>(SendMessageW(tree_, TVM_SETITEMHEIGHT, height, 0));
}

int TreeCtrl::GetItemHeight() const
{
    return static_cast<int>(SendMessageW(tree_, TVM_GETITEMHEIGHT, 0, 0));
}

void TreeCtrl::SetDialogResult(HWND dialog, LRESULT value)
{
    SetWindowLongPtrW(dialog, DWLP_MSGRESULT, value);
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

// ---------------------------------------------------------------------------
// TreeListCtrl

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
    style_.Open(tree_, L"TREEVIEW");
    themed_ = IsOsAtLeast(OS_VISTA) && style_.HasWindowTheme() ? 1 : 0;

    DWORD headerStyle = WS_CHILD | HDS_FULLDRAG | ((flags & TREE_PLAIN_HEADER) ? 0 : HDS_BUTTONS);
    header_ = CreateWindowExW(0, WC_HEADERW, nullptr, headerStyle, 0, 0, 0, 0, GetParent(tree_),
                              nullptr, module, nullptr);
    if (!header_) {
        return 0;
    }
    SendMessageW(header_, WM_SETFONT, SendMessageW(tree_, WM_GETFONT, 0, 0), FALSE);
    if (GetItemHeight() < kMinimumItemHeight) {
        SetItemHeight(kMinimumItemHeight);
    }
    if (!PlaceHeader()) {
        // The tree stays a plain tree of its former size.
        DestroyWindow(header_);
        header_ = nullptr;
        return 0;
    }
    return treeSubclass_.Attach(tree_, TreeWindowProc, this, kTreeWindowSubclassTag);
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
    if (!SendMessageW(header_, HDM_LAYOUT, 0, reinterpret_cast<LPARAM>(&layout))) {
        return 0;
    }
    if (!SetWindowPos(header_, position.hwndInsertAfter, position.x, position.y, position.cx,
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
    if (header_) {
        if (IsWindow(header_)) {
            DestroyWindow(header_);
        }
        header_ = nullptr;
    }
    themed_ = 0;
}

int TreeListCtrl::InsertColumn(const wchar_t* caption, int index, int width, int format)
{
    if (!header_) {
        return -1;
    }
    HDITEMW item = {};
    item.mask = HDI_WIDTH | HDI_TEXT | HDI_FORMAT;
    item.cxy = width;
    item.pszText = const_cast<wchar_t*>(caption ? caption : L"");
    item.cchTextMax = lstrlenW(item.pszText);
    item.fmt = format | HDF_STRING;
    return static_cast<int>(
        SendMessageW(header_, HDM_INSERTITEMW, index, reinterpret_cast<LPARAM>(&item)));
}

int TreeListCtrl::TreeWindowProc(HWND, UINT message, WPARAM, LPARAM, LRESULT*, void* context)
{
    if (message == WM_SIZE) {
        static_cast<TreeListCtrl*>(context)->FollowTreeWidth();
    }
    return 0; // the tree's own procedure always runs too
}

void TreeListCtrl::FollowTreeWidth()
{
    RECT tree;
    RECT header;
    if (!header_ || !GetWindowRect(tree_, &tree) || !GetWindowRect(header_, &header)) {
        return;
    }
    SetWindowPos(header_, nullptr, 0, 0, tree.right - tree.left, header.bottom - header.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
}

int TreeListCtrl::HandleNotify(HWND dialog, WPARAM wParam, NMHDR* header, LRESULT& result)
{
    if (!header || !tree_) {
        return 0;
    }
    if (header_ && header->hwndFrom == header_) {
        if (header->code == HDN_ITEMCHANGINGW) {
            // With HDS_FULLDRAG the rows follow a dragged divider at once.
            InvalidateRect(tree_, nullptr, FALSE);
        }
        return 0;
    }
    // Without a header (failed attach) the tree draws its rows itself.
    if (header->hwndFrom == tree_ && header->code == NM_CUSTOMDRAW && header_) {
        return HandleCustomDraw(dialog, wParam, reinterpret_cast<NMTVCUSTOMDRAW*>(header), result);
    }
    return TreeCtrl::HandleNotify(dialog, wParam, header, result);
}

int TreeListCtrl::HandleCustomDraw(HWND dialog, WPARAM wParam, NMTVCUSTOMDRAW* draw,
                                   LRESULT& result)
{
    LRESULT answer = CDRF_DODEFAULT;
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        answer = CDRF_NOTIFYITEMDRAW;
        break;
    case CDDS_ITEMPREPAINT:
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

unsigned TreeListCtrl::ReadColumnWidths(int* widths, unsigned capacity) const
{
    int count = static_cast<int>(SendMessageW(header_, HDM_GETITEMCOUNT, 0, 0));
    unsigned read = 0;
    for (int i = 0; i < count && read < capacity; ++i) {
        RECT rect;
        if (!SendMessageW(header_, HDM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&rect))) {
            break;
        }
        widths[read++] = rect.right - rect.left;
    }
    return read;
}

int TreeListCtrl::DrawRow(NMTVCUSTOMDRAW* draw)
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
    SavedDcState savedState(dc);
    FillSolid(dc, row, GetSysColor(COLOR_WINDOW));
    RECT textRect;
    wchar_t text[kTreeItemTextCapacity];
    int image = -1;
    int selectedImage = -1;
    if (!TreeView_GetItemRect(tree_, item, &textRect, TRUE) ||
        !GetItem(item, text, nullptr, &image, &selectedImage, 0, nullptr)) {
        return 0;
    }

    int widths[kMaxRowColumns];
    RowFrame frame;
    frame.textRect = textRect;
    frame.columnWidths = widths;
    frame.columnCount = ReadColumnWidths(widths, kMaxRowColumns);
    frame.iconWidth = icons_.IconWidth();
    frame.iconHeight = icons_.IconHeight();
    RowPlan plan;
    PlanRow(text, static_cast<unsigned>(lstrlenW(text)), frame, plan);

    if ((flags_ & TREE_GRID_LINES) && !plan.spanning) {
        DrawGridLines(dc, textRect, plan.totalWidth);
    }
    int state = TreeItemVisualState(draw->nmcd.uItemState, GetFocus() == tree_);
    DrawRowBackground(draw, row, textRect, plan.totalWidth, state);
    SetBkMode(dc, TRANSPARENT);

    if (plan.drawIcon) {
        bool selected = (draw->nmcd.uItemState & CDIS_SELECTED) != 0;
        icons_.Draw(RowImage(image, selectedImage, selected), dc, plan.iconAt.x, plan.iconAt.y,
                    ILD_TRANSPARENT);
    }
    for (unsigned i = 0; i < plan.count; ++i) {
        DrawColumnText(draw, text, plan.columns[i], state);
    }
    return 1;
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
        style_.DrawText(dc, TVP_TREEITEM, state, start, length, kRowTextFlags, 0, &box)) {
        return;
    }
    SetTextColor(dc, draw->clrText);
    DrawTextW(dc, start, length, &box, kRowTextFlags);
}
