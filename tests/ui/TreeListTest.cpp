#include <doctest.h>

#include <windows.h>
#include <commctrl.h>
#include <vsstyle.h>

#include <algorithm>
#include <climits>
#include <initializer_list>
#include <string>
#include <vector>

#include "MouseInput.h"
#include "OffscreenCanvas.h"
#include "TreeListTestHost.h"
#include "app/resource.h"
#include "ui/QuietTreeUpdate.h"
#include "ui/TreeListCtrl.h"

using treelist_test::PumpMessages;
using treelist_test::TreeListTestHost;

namespace {

const int kWidths[] = {200, 500};

RowPlan Plan(const wchar_t* text, int textLeft, int textHeight = 18)
{
    RowFrame frame;
    frame.textRect = {textLeft, 18, textLeft + 40, 18 + textHeight};
    frame.columnWidths = kWidths;
    frame.columnCount = 2;
    frame.iconWidth = 16;
    frame.iconHeight = 16;
    RowPlan plan;
    PlanRow(text, static_cast<unsigned>(wcslen(text)), frame, plan);
    return plan;
}

std::wstring PieceText(const wchar_t* text, const ColumnPlacement& column)
{
    return std::wstring(text + column.text.start, column.text.length);
}

// Records the wParam of every message of one kind a window receives.
struct MessageRecorder
{
    UINT message;
    std::vector<WPARAM> calls;
    Subclasser hook;

    static int Record(HWND, UINT message, WPARAM wParam, LPARAM, LRESULT*, void* context)
    {
        auto* self = static_cast<MessageRecorder*>(context);
        if (message == self->message)
            self->calls.push_back(wParam);
        return 0;
    }
};

// The pixels of the item's row in columns [left, right), painted afresh
// through WM_PRINTCLIENT or as they are on the screen now.
std::vector<COLORREF> RowPixels(HWND tree, HTREEITEM item, bool printed, int left = 0,
                                int right = INT_MAX)
{
    RECT row = {};
    RECT client = {};
    TreeView_GetItemRect(tree, item, &row, FALSE);
    GetClientRect(tree, &client);
    OffscreenCanvas canvas(client.right, client.bottom);
    if (printed) {
        SendMessageW(tree, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.Dc()),
                     PRF_CLIENT | PRF_ERASEBKGND);
    } else {
        WindowDc dc(tree);
        BitBlt(canvas.Dc(), 0, 0, client.right, client.bottom, dc.Get(), 0, 0, SRCCOPY);
    }
    std::vector<COLORREF> pixels;
    for (int y = row.top; y < std::min<LONG>(row.bottom, client.bottom); ++y)
        for (int x = left; x < std::min<LONG>(right, client.right); ++x)
            pixels.push_back(canvas.Pixel(x, y));
    return pixels;
}

int InkIn(HWND tree, HTREEITEM item, int left, int right)
{
    const std::vector<COLORREF> pixels = RowPixels(tree, item, true, left, right);
    return static_cast<int>(std::count_if(
        pixels.begin(), pixels.end(), [](COLORREF c) { return c != GetSysColor(COLOR_WINDOW); }));
}

std::vector<COLORREF> RowOnScreen(HWND tree, HTREEITEM item)
{
    return RowPixels(tree, item, false);
}

// Whether the middle of the row waits to be painted.
bool RowDue(HWND tree, HTREEITEM item)
{
    RECT row = {};
    TreeView_GetItemRect(tree, item, &row, FALSE);
    ScopedRegion due(CreateRectRgn(0, 0, 0, 0));
    GetUpdateRgn(tree, due.Get(), FALSE);
    return PtInRegion(due.Get(), 20, (row.top + row.bottom) / 2) != FALSE;
}

// Gives each row a new value in one quiet update that may draw rows itself.
void ChangeValues(TreeListTestHost& host, std::initializer_list<HTREEITEM> rows)
{
    QuietTreeUpdate quiet(host.tree, &host.list);
    for (HTREEITEM row : rows) {
        quiet.RowChanging(row);
        host.list.SetItemText(row, L"Value\t-123.456");
    }
}

// Gives each row a new value the tree holds no more, as live values do: the
// first change tells the tree to ask for the text, the later ones do not
// reach the tree at all.
void ChangeHeldValues(TreeListTestHost& host, std::initializer_list<HTREEITEM> rows,
                      const wchar_t* text)
{
    QuietTreeUpdate quiet(host.tree, &host.list);
    for (HTREEITEM row : rows)
        REQUIRE(host.list.ChangeLiveText(row, text, quiet) == 1);
}

std::wstring ReadBack(TreeListTestHost& host, HTREEITEM row)
{
    WideString text;
    REQUIRE(host.list.GetItemText(row, text) == 1);
    return text.Data();
}

HTREEITEM Insert(TreeListTestHost& host, const std::wstring& text)
{
    return host.list.InsertItem({nullptr, text.c_str()});
}

// An attached tree with columns of 100 and 150 pixels, by default under a
// header that is only drawn.
struct AttachedTree : TreeListTestHost
{
    explicit AttachedTree(DWORD flags = TREE_PLAIN_HEADER, DWORD style = kDefaultTreeStyle)
        : TreeListTestHost(style)
    {
        REQUIRE(AttachWithColumns(flags, 100, 150));
    }
};

void Repaint(HWND tree)
{
    RedrawWindow(tree, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

// Makes the change and checks that the row is on screen at once, without
// the tree's paint, new and as a repaint of the whole tree draws it.
template <typename Change> void CheckDrawnAtOnce(HWND tree, HTREEITEM row, Change change)
{
    const std::vector<COLORREF> before = RowOnScreen(tree, row);
    change();
    CHECK_FALSE(RowDue(tree, row));
    const std::vector<COLORREF> drawn = RowOnScreen(tree, row);
    CHECK(drawn != before);
    Repaint(tree);
    CHECK(RowOnScreen(tree, row) == drawn);
}

} // namespace

TEST_CASE("row layout: columns, spanning and the icon")
{
    // A second tab still puts the text in column 1.
    const wchar_t* text = L"A\t\tB";
    RowPlan plan = Plan(text, 40);
    REQUIRE(plan.count == 2);
    CHECK(plan.columns[1].column == 1);
    const RECT& second = plan.columns[1].box;
    CHECK((second.left == 204 && second.top == 19 && second.right == 695 && second.bottom == 35));
    CHECK(Plan(L"A\tB\tC", 40).count == 2); // more texts than columns

    // A trailing vertical tab spans the columns and is not drawn; elsewhere
    // it is ordinary text.
    text = L"Long name\tB\x000B";
    plan = Plan(text, 40);
    CHECK(plan.spanning);
    REQUIRE(plan.count == 2);
    CHECK((plan.columns[0].box.right == 695 && plan.columns[1].box.right == 695));
    text = L"A\x000B\tB";
    plan = Plan(text, 40);
    CHECK_FALSE(plan.spanning);
    CHECK(PieceText(text, plan.columns[0]) == L"A\x000B");

    // Empty text draws nothing, not even the icon.
    plan = Plan(L"\t", 40);
    CHECK((plan.count == 0 && !plan.drawIcon));

    // The icon goes left of the text inside column 0, centred toward zero.
    plan = Plan(L"A", 40);
    CHECK((plan.iconAt.x == 23 && plan.iconAt.y == 19));
    CHECK(Plan(L"A", 199).drawIcon);
    CHECK_FALSE(Plan(L"A", 200).drawIcon); // a deeply indented row has no icon
    CHECK(Plan(L"A", 40, 17).iconAt.y == 18);
}

TEST_CASE("item states, row images and image list colour depth")
{
    CHECK(TreeItemVisualState(CDIS_SELECTED | CDIS_FOCUS, false) == TREIS_SELECTEDNOTFOCUS);
    CHECK(RowImage(1, -1, true) == 1);
    CHECK(RowImage(1, 4, false) == 1);
    CHECK(ImageListColorDepth(24, 0x50051, false) == ILC_COLOR16);
    CHECK(ImageListColorDepth(32, 0x60000, true) == ILC_COLOR8);
}

TEST_CASE("attach puts the header over the tree; a divider dragged repaints the rows while the "
          "button is still down; the header's width keeps in step")
{
    TreeListTestHost host;
    RECT before;
    GetWindowRect(host.tree, &before);
    REQUIRE(host.AttachWithColumns(TREE_PLAIN_HEADER, 100, 150) == 1);
    HWND header = host.list.Header();
    REQUIRE(header);
    RECT headerRect;
    RECT treeRect;
    GetWindowRect(header, &headerRect);
    GetWindowRect(host.tree, &treeRect);
    CHECK((headerRect.top == before.top && treeRect.bottom == before.bottom));
    CHECK((headerRect.left == treeRect.left && headerRect.right == treeRect.right));
    CHECK(headerRect.bottom == treeRect.top);

    host.list.InsertItem({nullptr, L"Item\tValue"});
    SetForegroundWindow(host.dialog);
    PumpMessages();
    UpdateWindow(host.tree);
    MessageRecorder counter{WM_PAINT};
    REQUIRE(counter.hook.Attach(host.tree, &MessageRecorder::Record, &counter, 0x70616E74));
    const int middle = (headerRect.bottom - headerRect.top) / 2;
    MoveMouse(header, 100, middle);
    Mouse(MOUSEEVENTF_LEFTDOWN);
    counter.calls.clear();
    MoveMouse(header, 140, middle);
    RECT first = {};
    Header_GetItemRect(header, 0, &first);
    const size_t paintsWhileDragging = counter.calls.size();
    Mouse(MOUSEEVENTF_LEFTUP);
    counter.hook.Detach();
    REQUIRE(first.right - first.left == 140);
    CHECK(paintsWhileDragging > 0u);

    // The owner's layout widens the tree: only the header's width follows.
    SetWindowPos(host.tree, nullptr, 30, 60, 250, 200, SWP_NOZORDER);
    GetWindowRect(header, &headerRect);
    CHECK(headerRect.right - headerRect.left == 250);

    host.list.Detach();
    CHECK_FALSE(IsWindow(header));
    CHECK(SendMessageW(host.tree, TVM_GETIMAGELIST, TVSIL_NORMAL, 0) == 0);
}

TEST_CASE("insertion, selection text, DeleteAll, and collapsing that keeps icons or children "
          "only when asked to")
{
    for (DWORD flags : {DWORD(TREE_KEEP_IMAGES), DWORD(TREE_KEEP_CHILDREN)}) {
        CAPTURE(flags);
        const bool keepChildren = flags == TREE_KEEP_CHILDREN;
        AttachedTree host(flags);
        host.list.AddIcon(IDI_ROOT);
        host.list.AddIcon(IDI_SENSOR);
        CHECK(host.list.AddIcon(9999) == -1);

        TreeItem rootItem{nullptr, L"Sensors"};
        rootItem.children = 1;
        HTREEITEM root = host.list.InsertItem(rootItem);
        TreeItem fieldItem{root, L"LATITUDE DEGREES\t47.6", 1, 1};
        fieldItem.data = 77;
        HTREEITEM field = host.list.InsertItem(fieldItem);
        REQUIRE((root && field));
        CHECK(host.list.Expand(root, TVE_EXPAND) == 1);
        TVITEMW record = {};
        record.mask = TVIF_CHILDREN | TVIF_HANDLE;
        record.hItem = field;
        SendMessageW(host.tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&record));
        CHECK(record.cChildren == 0);

        // Nothing selected leaves the outputs alone.
        WideString selection(L"untouched");
        LPARAM data = -1;
        host.list.GetSelectionText(selection, &data);
        CHECK((std::wstring(selection.Data()) == L"untouched" && data == -1));
        REQUIRE(host.list.SelectItem(field) == 1);
        host.list.GetSelectionText(selection, &data);
        CHECK((std::wstring(selection.Data()) == L"LATITUDE DEGREES\t47.6" && data == 77));

        host.list.SelectItem(root);
        // The user's collapse, not TVM_EXPAND, raises TVN_ITEMEXPANDING.
        SendMessageW(host.tree, WM_KEYDOWN, VK_LEFT, 0);
        PumpMessages();
        CHECK((TreeView_GetItemState(host.tree, root, TVIS_EXPANDED) & TVIS_EXPANDED) == 0);
        CHECK(TreeView_GetCount(host.tree) == (keepChildren ? 2u : 1u));

        host.list.DeleteAll();
        CHECK(TreeView_GetCount(host.tree) == 0);
        CHECK(ImageList_GetImageCount(host.list.Icons().Handle()) == (keepChildren ? 0 : 2));
    }
}

TEST_CASE("redraw suspensions nest and only the outermost pair reaches the tree")
{
    AttachedTree host(0);
    MessageRecorder recorder{WM_SETREDRAW};
    REQUIRE(recorder.hook.Attach(host.tree, MessageRecorder::Record, &recorder, 0x74657374));

    host.list.SetRedraw(1); // an enable without a suspend does nothing
    CHECK(recorder.calls.empty());
    host.list.SetRedraw(0);
    host.list.SetRedraw(0);
    host.list.SetRedraw(1);
    CHECK(recorder.calls == std::vector<WPARAM>{FALSE});
    host.list.SetRedraw(1);
    host.list.SetRedraw(1);
    CHECK(recorder.calls == std::vector<WPARAM>{FALSE, TRUE});

    // Detaching suspends drawing for good; attaching again turns it back on.
    host.list.Detach();
    CHECK(recorder.calls.back() == FALSE);
    recorder.calls.clear();
    REQUIRE(host.list.Attach(host.tree, GetModuleHandleW(nullptr), 0));
    host.list.SetRedraw(0);
    CHECK(recorder.calls == std::vector<WPARAM>{TRUE, FALSE});
    host.list.SetRedraw(1);
    recorder.hook.Detach();
}

TEST_CASE("notification handlers and the label editor")
{
    AttachedTree host(0, TreeListTestHost::kDefaultTreeStyle | TVS_EDITLABELS);
    struct Seen
    {
        int selections = 0;
        int deletions = 0;
        LRESULT cancelEdit = 0;
    } seen;
    TreeEventHandlers handlers;
    handlers.selectionChanged = [](TVITEMW*, LONG_PTR c) {
        ++reinterpret_cast<Seen*>(c)->selections;
    };
    handlers.deleting = [](TVITEMW*, LONG_PTR c) { ++reinterpret_cast<Seen*>(c)->deletions; };
    handlers.beginLabelEdit = [](HWND, HTREEITEM, LPARAM, const wchar_t*, LONG_PTR context) {
        return reinterpret_cast<Seen*>(context)->cancelEdit;
    };
    handlers.endLabelEdit = [](HWND, HTREEITEM, LPARAM, const wchar_t*, LONG_PTR) {
        return LRESULT(1); // keeps the edited text
    };
    host.list.SetHandlers(handlers, reinterpret_cast<LONG_PTR>(&seen),
                          reinterpret_cast<LONG_PTR>(&seen));

    HTREEITEM item = host.list.InsertItem({nullptr, L"Old"});
    host.list.SelectItem(item);
    CHECK(seen.selections == 1);

    SetFocus(host.tree);
    auto editor = reinterpret_cast<HWND>(
        SendMessageW(host.tree, TVM_EDITLABELW, 0, reinterpret_cast<LPARAM>(item)));
    REQUIRE(editor);
    SetWindowTextW(editor, L"New");
    SendMessageW(host.tree, TVM_ENDEDITLABELNOW, FALSE, 0);
    PumpMessages();
    wchar_t text[kTreeItemTextCapacity];
    REQUIRE(host.list.GetItem(item, text, nullptr, nullptr, nullptr, 0, nullptr));
    CHECK(std::wstring(text) == L"New");

    seen.cancelEdit = 1; // a begin handler answering nonzero refuses the edit
    CHECK(SendMessageW(host.tree, TVM_EDITLABELW, 0, reinterpret_cast<LPARAM>(item)) == 0);
    host.list.DeleteAll();
    CHECK(seen.deletions == 1);
}

TEST_CASE("rows are custom drawn in the header's columns")
{
    AttachedTree host(TREE_KEEP_CHILDREN);
    const std::wstring wide(58, L'W');
    HTREEITEM twoTabs = Insert(host, L"A\t\tWWW");
    HTREEITEM oneText = Insert(host, L"A");
    HTREEITEM threeTexts = Insert(host, L"A\tB\tWWWW");
    HTREEITEM clipped = Insert(host, wide);
    HTREEITEM spans = Insert(host, wide + L"\x000B");
    HTREEITEM ellipsis = Insert(host, L"A\t" + wide);
    PumpMessages();

    // Column 1 starts at x = 104 and ends 5 pixels before x = 250.
    CHECK(InkIn(host.tree, twoTabs, 104, 140) > 0);
    CHECK(InkIn(host.tree, oneText, 96, 400) == 0);
    CHECK(InkIn(host.tree, threeTexts, 250, 400) == 0);
    CHECK(InkIn(host.tree, clipped, 95, 400) == 0);
    CHECK(InkIn(host.tree, spans, 120, 245) > 0);
    CHECK(InkIn(host.tree, ellipsis, 230, 245) > 0);
    CHECK(InkIn(host.tree, ellipsis, 245, 400) == 0);
}

TEST_CASE("a row longer than the read-back buffer is drawn to its end and read back whole")
{
    // Wide enough for the whole row, as a column fitted to it would be.
    TreeListTestHost host(TreeListTestHost::kDefaultTreeStyle, 4000, 100);
    REQUIRE(host.AttachWithColumns(TREE_KEEP_CHILDREN, 100, 3800));
    const std::wstring value = std::wstring(990, L'.') + std::wstring(10, L'W');
    // The long row between two that hold only as much as a buffer of 260
    // characters would.
    const std::wstring cut = (L"A\t" + value).substr(0, kTreeItemTextCapacity - 1);
    HTREEITEM cutAbove = Insert(host, cut);
    HTREEITEM longValue = Insert(host, L"A\t" + value);
    HTREEITEM cutBelow = Insert(host, cut);
    PumpMessages();

    // Where the value's 300th and last characters end, in the tree's font.
    SIZE past300 = {};
    SIZE whole = {};
    {
        WindowDc dc(host.tree);
        HGDIOBJ old = SelectObject(
            dc.Get(), reinterpret_cast<HFONT>(SendMessageW(host.tree, WM_GETFONT, 0, 0)));
        GetTextExtentPoint32W(dc.Get(), value.c_str(), 300, &past300);
        GetTextExtentPoint32W(dc.Get(), value.c_str(), static_cast<int>(value.size()), &whole);
        SelectObject(dc.Get(), old);
    }
    REQUIRE(100 + whole.cx < 3800);
    const int left = 100 + past300.cx;
    const int right = 100 + whole.cx + 10;
    // Beyond the 300th character only the whole row has its dots and its
    // tail: a few hundred pixels more than a cut row there.
    const int cutInk =
        std::max(InkIn(host.tree, cutAbove, left, right), InkIn(host.tree, cutBelow, left, right));
    CHECK(InkIn(host.tree, longValue, left, right) > cutInk + 200);
    CHECK(ReadBack(host, longValue) == L"A\t" + value);
}

// Ink of the rows' text drawn where the canvas's clip lets it, the rest of
// the canvas painted beforehand with a colour the tree never uses.
TEST_CASE("a repaint of part of the tree draws every row it touches, even in part")
{
    AttachedTree host;
    HTREEITEM rows[4] = {};
    for (HTREEITEM& row : rows)
        row = host.list.InsertItem({nullptr, L"WWWW\tWWWW"});
    PumpMessages();
    RECT client = {};
    GetClientRect(host.tree, &client);
    RECT second = {};
    RECT fourth = {};
    REQUIRE(TreeView_GetItemRect(host.tree, rows[1], &second, FALSE));
    REQUIRE(TreeView_GetItemRect(host.tree, rows[3], &fourth, FALSE));

    const COLORREF marker = RGB(255, 0, 255);
    OffscreenCanvas canvas(client.right, client.bottom);
    ScopedBrush brush(CreateSolidBrush(marker));
    FillRect(canvas.Dc(), &client, brush.Get());
    // Due: the lower half of the second row and a sliver of the fourth's top,
    // far apart, as after two changed values.
    const int middle = (second.top + second.bottom) / 2;
    ScopedRegion due(CreateRectRgn(0, middle, client.right, second.bottom));
    ScopedRegion sliver(CreateRectRgn(0, fourth.top, client.right, fourth.top + 3));
    CombineRgn(due.Get(), due.Get(), sliver.Get(), RGN_OR);
    SelectClipRgn(canvas.Dc(), due.Get());
    SendMessageW(host.tree, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.Dc()),
                 PRF_CLIENT | PRF_ERASEBKGND);
    SelectClipRgn(canvas.Dc(), nullptr);

    // The marked, or else the inked, pixels of the lines [top, bottom).
    auto count = [&](int top, int bottom, bool marked) {
        int n = 0;
        for (int y = top; y < std::min<int>(bottom, client.bottom); ++y)
            for (int x = 0; x < client.right; ++x) {
                const COLORREF c = canvas.Pixel(x, y);
                n += (marked ? c == marker : c != marker && c != GetSysColor(COLOR_WINDOW)) ? 1 : 0;
            }
        return n;
    };
    CHECK(count(middle, second.bottom, false) > 0);
    CHECK(count(middle, second.bottom, true) == 0);
    CHECK(count(fourth.top, fourth.top + 3, true) == 0);
    // The upper half of the second row and the third row are left alone.
    CHECK(count(second.top, middle, true) == (middle - second.top) * client.right);
    CHECK(count(second.bottom, fourth.top, true) == (fourth.top - second.bottom) * client.right);
}

TEST_CASE("changed rows are drawn at once as the tree's paint draws them; special rows wait for it")
{
    AttachedTree host;
    HTREEITEM plain = host.list.InsertItem({nullptr, L"Value\t1.0"});
    HTREEITEM chosen = host.list.InsertItem({nullptr, L"Value\t1.0"});
    HTREEITEM hovered = host.list.InsertItem({nullptr, L"Value\t1.0"});

    SUBCASE("before the tree has drawn a plain row, every row waits for its paint")
    {
        ChangeValues(host, {plain});
        CHECK(RowDue(host.tree, plain));
    }
    SUBCASE("a plain row is on screen at once, as a repaint shows it")
    {
        REQUIRE(host.list.SelectItem(chosen) == 1);
        PumpMessages();
        UpdateWindow(host.tree);
        CheckDrawnAtOnce(host.tree, plain, [&] {
            ChangeValues(host, {plain, chosen});
            CHECK(RowDue(host.tree, chosen));
        });
    }
    SUBCASE("the row under the mouse looks as the tree's paint draws it, highlighted or not")
    {
        // The cursor goes back where it was: a chart under it would draw
        // its cursor line in a later test program.
        POINT cursorBefore = {};
        GetCursorPos(&cursorBefore);
        PumpMessages();
        UpdateWindow(host.tree);
        // Whatever the refresh leaves to the tree's paint is painted; the
        // row then shows what a repaint of the whole tree shows.
        auto changedAsRepainted = [&] {
            ChangeValues(host, {plain, hovered});
            UpdateWindow(host.tree);
            const std::vector<COLORREF> shown = RowOnScreen(host.tree, hovered);
            Repaint(host.tree);
            return RowOnScreen(host.tree, hovered) == shown;
        };
        RECT label = {};
        REQUIRE(TreeView_GetItemRect(host.tree, hovered, &label, TRUE));
        // Hot tracking, as Tessel's tree has it with the common controls 6.
        SetWindowLongPtrW(host.tree, GWL_STYLE,
                          GetWindowLongPtrW(host.tree, GWL_STYLE) | TVS_TRACKSELECT);
        MoveMouse(host.tree, (label.left + label.right) / 2, (label.top + label.bottom) / 2);
        PumpMessages();
        UpdateWindow(host.tree);
        REQUIRE(RowOnScreen(host.tree, hovered) != RowOnScreen(host.tree, plain));
        CHECK(changedAsRepainted());

        MoveMouse(host.tree, 440, 340); // beyond the tree of 400 x 300 pixels
        // Once the tree has drawn the row plain again, it is drawn at once.
        bool drawnAtOnce = false;
        for (int attempt = 0; attempt < 40 && !drawnAtOnce; ++attempt) {
            Sleep(50);
            PumpMessages();
            UpdateWindow(host.tree);
            ChangeValues(host, {hovered});
            drawnAtOnce = !RowDue(host.tree, hovered);
        }
        CHECK(drawnAtOnce);
        CHECK(changedAsRepainted());
        SetCursorPos(cursorBefore.x, cursorBefore.y);
    }
}

TEST_CASE("an icon copied from its stamp equals the icon the image list draws over that colour")
{
    AttachedTree host;
    host.list.AddIcon(IDI_SENSOR);
    const IconList& icons = host.list.Icons();
    const int width = icons.IconWidth();
    const int height = icons.IconHeight();
    auto differing = [&](COLORREF background, IconStamps& stamps) {
        OffscreenCanvas direct(width, height);
        OffscreenCanvas stamped(width, height);
        const RECT all = {0, 0, width, height};
        ScopedBrush brush(CreateSolidBrush(background));
        FillRect(direct.Dc(), &all, brush.Get());
        FillRect(stamped.Dc(), &all, brush.Get());
        REQUIRE(icons.Draw(0, direct.Dc(), 0, 0, ILD_TRANSPARENT) == 1);
        REQUIRE(stamps.Draw(icons, 0, stamped.Dc(), 0, 0, background) == 1);
        int count = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                count += direct.Pixel(x, y) != stamped.Pixel(x, y) ? 1 : 0;
        return count;
    };
    IconStamps stamps;
    CHECK(differing(GetSysColor(COLOR_WINDOW), stamps) == 0);
    // Again from the kept stamp, and over another colour from one of its own.
    CHECK(differing(GetSysColor(COLOR_WINDOW), stamps) == 0);
    CHECK(differing(RGB(40, 90, 160), stamps) == 0);
}

TEST_CASE("held texts are shown, read back and drawn at once like the tree's own, a new value "
          "from its column on, and go with their rows")
{
    AttachedTree host;
    HTREEITEM held = host.list.InsertItem({nullptr, L"Value\t1.0"});
    HTREEITEM own = host.list.InsertItem({nullptr, L"Other\t2.5"});
    PumpMessages();
    UpdateWindow(host.tree);

    ChangeHeldValues(host, {held}, L"Other\t2.5");
    UpdateWindow(host.tree);
    CHECK(ReadBack(host, held) == L"Other\t2.5");
    CHECK(RowOnScreen(host.tree, held) == RowOnScreen(host.tree, own));

    // Later changes are drawn at once, without the tree's paint.
    CheckDrawnAtOnce(host.tree, held, [&] { ChangeHeldValues(host, {held}, L"Value\t7.5"); });
    CHECK(ReadBack(host, held) == L"Value\t7.5");

    // A mark over the name on the screen only: a row drawn whole would cover it.
    RECT row = {};
    REQUIRE(TreeView_GetItemRect(host.tree, held, &row, FALSE));
    const RECT mark = {2, row.top + 2, 40, row.bottom - 2};
    auto changeMarked = [&](const wchar_t* text) {
        WindowDc dc(host.tree);
        ScopedBrush brush(CreateSolidBrush(RGB(255, 0, 255)));
        FillRect(dc.Get(), &mark, brush.Get());
        ChangeHeldValues(host, {held}, text);
        const std::vector<COLORREF> pixels =
            RowPixels(host.tree, held, false, mark.left, mark.right);
        return std::count(pixels.begin(), pixels.end(), RGB(255, 0, 255)) > 0;
    };
    // A new value leaves the name as it is, also after the tree's own paint;
    // a new name draws the whole row, as the tree's paint does.
    CHECK(changeMarked(L"Value\t8.5"));
    Repaint(host.tree);
    CHECK(changeMarked(L"Value\t9.5"));
    CHECK_FALSE(changeMarked(L"Other\t2.5"));
    CHECK(RowOnScreen(host.tree, held) == RowOnScreen(host.tree, own));

    // Longer than any buffer the tree or a reader starts with.
    const std::wstring value = L"Value\t" + std::wstring(1000, L'9');
    ChangeHeldValues(host, {held}, value.c_str());
    CHECK(ReadBack(host, held) == value);
    WideString selection;
    REQUIRE(host.list.SelectItem(held) == 1);
    host.list.GetSelectionText(selection);
    CHECK(std::wstring(selection.Data()) == value);

    // A row inserted after a held one was deleted, perhaps where it was,
    // shows its own text.
    REQUIRE(TreeView_DeleteItem(host.tree, held));
    CHECK(host.list.HeldText(held) == nullptr);
    ChangeHeldValues(host, {own}, L"Value\t2.0");
    host.list.DeleteAll();
    CHECK(host.list.HeldText(own) == nullptr);
    for (int i = 0; i < 4; ++i) {
        HTREEITEM fresh = host.list.InsertItem({nullptr, L"Fresh\t0"});
        CHECK(host.list.HeldText(fresh) == nullptr);
        CHECK(ReadBack(host, fresh) == L"Fresh\t0");
    }
}

TEST_CASE("the first changed column of a row's text, as the row is split into columns")
{
    const struct
    {
        const wchar_t* before;
        const wchar_t* after;
        unsigned column;
    } cases[] = {
        {L"Value\t1.0", L"Value\t7.5", 1},  {L"Value\t1.0", L"Other\t1.0", 0},
        {L"Value\t1.0", L"Value\t1.0", 2},  {L"Value\t\t1.0", L"Value\t1.0", 2},
        {L"Value", L"Value\t1.0", 1},       {L"Value\t1.0", L"Value\t1.0\x000B", 0},
        {L"Value\t1.0", L"Value\t1.00", 1}, {L"", L"Value", 0},
    };
    for (const auto& change : cases) {
        CAPTURE(std::wstring(change.before));
        CAPTURE(std::wstring(change.after));
        CHECK(FirstChangedColumn(change.before, static_cast<unsigned>(wcslen(change.before)),
                                 change.after,
                                 static_cast<unsigned>(wcslen(change.after))) == change.column);
    }
}
