#include "ui/IconList.h"

#include "ui/GdiHelpers.h"

#include <shellapi.h>

#include "system/OsVersion.h"
#include "system/Shell32.h"
#include "ui/Dpi.h"

namespace {

constexpr DWORD kColor32CommonControls = 0x60000;

} // namespace

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
    const auto getFileInfo = Shell32Function<decltype(&::SHGetFileInfoW)>("SHGetFileInfoW");
    if (!getFileInfo) {
        return nullptr;
    }
    SHFILEINFOW info = {};
    UINT flags = SHGFI_SYSICONINDEX | (small ? SHGFI_SMALLICON : 0);
    return reinterpret_cast<HIMAGELIST>(getFileInfo(folder, 0, &info, sizeof info, flags));
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

int IconList::Create(DWORD flags, int width, int height, int initial, int growth, int dpi)
{
    Destroy();
    flags_ = flags;
    initial_ = initial;
    growth_ = growth;
    if (dpi <= 0) {
        dpi = SystemDpi();
    }
    if (flags & ICONS_SMALL) {
        width = MetricForDpi(SM_CXSMICON, dpi);
        height = MetricForDpi(SM_CYSMICON, dpi);
    } else if (flags & ICONS_LARGE) {
        width = MetricForDpi(SM_CXICON, dpi);
        height = MetricForDpi(SM_CYICON, dpi);
    }
    width_ = width;
    height_ = height;
    if (!BindCommonControls()) {
        return 0;
    }
    if (flags & ICONS_COLOR32) {
        owned_.Reset(create_(width, height, ILC_COLOR32 | ILC_MASK, initial, growth));
    } else if (flags & ICONS_SHARED) {
        bool small = (flags & ICONS_SMALL) ||
                     (!(flags & ICONS_LARGE) && height == GetSystemMetrics(SM_CYSMICON));
        shared_ = SystemImageList(small);
    } else {
        owned_.Reset(create_(width, height, ScreenColorDepth() | ILC_MASK, initial, growth));
    }
    return Handle() != nullptr;
}

int IconList::BindCommonControls()
{
    if (create_) {
        return 1;
    }
    if (!commonControls_.Load(L"comctl32.dll")) {
        return 0;
    }
    create_ = commonControls_.Symbol<decltype(&ImageList_Create)>("ImageList_Create");
    replaceIcon_ =
        commonControls_.Symbol<decltype(&ImageList_ReplaceIcon)>("ImageList_ReplaceIcon");
    remove_ = commonControls_.Symbol<decltype(&ImageList_Remove)>("ImageList_Remove");
    draw_ = commonControls_.Symbol<decltype(&ImageList_Draw)>("ImageList_Draw");
    if (!create_ || !replaceIcon_ || !remove_ || !draw_) {
        create_ = nullptr;
        return 0;
    }
    return 1;
}

void IconList::Destroy()
{
    owned_.Reset();
    shared_ = nullptr;
    added_.clear();
}

int IconList::Rescale(int dpi)
{
    if (!Handle() || (flags_ & ICONS_SHARED)) {
        return 0;
    }
    std::vector<std::pair<HINSTANCE, UINT>> icons;
    icons.swap(added_);
    if (!Create(flags_, width_, height_, initial_, growth_, dpi)) {
        return 0;
    }
    for (const auto& icon : icons) {
        AddIcon(icon.first, icon.second);
    }
    return 1;
}

int IconList::AddIcon(HINSTANCE module, UINT resourceId)
{
    if (!Handle()) {
        return -1;
    }
    ScopedIcon icon(static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(resourceId), IMAGE_ICON,
                                                  width_, height_, LR_DEFAULTCOLOR)));
    if (!icon) {
        return -1;
    }
    const int index = replaceIcon_(Handle(), -1, icon.Get());
    if (index >= 0 && !(flags_ & ICONS_SHARED)) {
        added_.emplace_back(module, resourceId);
    }
    return index;
}

int IconList::RemoveAll()
{
    if (!Handle() || (flags_ & ICONS_SHARED)) {
        return 0;
    }
    added_.clear();
    return remove_(Handle(), -1) ? 1 : 0;
}

int IconList::Draw(int index, HDC dc, int x, int y, UINT style) const
{
    if (!Handle()) {
        return 0;
    }
    return draw_(Handle(), index, dc, x, y, style) ? 1 : 0;
}

namespace {

// More stamps than the icons of a list over a few backgrounds: start anew.
constexpr size_t kMaxStamps = 64;

} // namespace

int IconStamps::Draw(const IconList& icons, int index, HDC dc, int x, int y, COLORREF background)
{
    if (icons.IconWidth() != width_ || icons.IconHeight() != height_) {
        Clear();
        width_ = icons.IconWidth();
        height_ = icons.IconHeight();
    }
    HBITMAP stamp = Find(index, background);
    if (!stamp) {
        stamp = Make(icons, index, background);
    }
    if (!stamp || !SelectObject(dc_.Get(), stamp)) {
        return icons.Draw(index, dc, x, y, ILD_TRANSPARENT);
    }
    return BitBlt(dc, x, y, width_, height_, dc_.Get(), 0, 0, SRCCOPY) != FALSE;
}

void IconStamps::Clear()
{
    // The DC goes first, so that no stamp is selected into it when deleted.
    dc_.Reset();
    stamps_.clear();
}

HBITMAP IconStamps::Find(int index, COLORREF background) const
{
    for (const Stamp& stamp : stamps_) {
        if (stamp.index == index && stamp.background == background) {
            return stamp.bitmap.Get();
        }
    }
    return nullptr;
}

HBITMAP IconStamps::Make(const IconList& icons, int index, COLORREF background)
{
    if (!dc_) {
        dc_.Reset(CreateCompatibleDC(nullptr));
    }
    ScopedBitmap bitmap(MakeDibSection(width_, height_));
    if (!dc_ || !bitmap || !SelectObject(dc_.Get(), bitmap.Get())) {
        return nullptr;
    }
    FillSolid(dc_.Get(), {0, 0, width_, height_}, background);
    if (!icons.Draw(index, dc_.Get(), 0, 0, ILD_TRANSPARENT)) {
        return nullptr;
    }
    if (stamps_.size() >= kMaxStamps) {
        Clear();
        return nullptr;
    }
    stamps_.push_back({index, background, std::move(bitmap)});
    return stamps_.back().bitmap.Get();
}
