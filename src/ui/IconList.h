#pragma once

#include <windows.h>
#include <commctrl.h>

#include "base/DynamicLibrary.h"
#include "base/ScopedHandle.h"

#include <utility>
#include <vector>

// An image list of icons: a private one, or the system's shared one.

constexpr DWORD ICONS_COLOR32 = 0x1;
constexpr DWORD ICONS_SHARED = 0x2;
constexpr DWORD ICONS_SMALL = 0x4;
constexpr DWORD ICONS_LARGE = 0x8;

// The ILC_COLOR* depth of a private image list: from the screen's bits per
// pixel (planes times bits), the common-controls version and whether the
// system is DOS-based.
UINT ImageListColorDepth(int screenBits, DWORD commonControlsVersion, bool dosBased);

class IconList
{
public:
    IconList() = default;
    ~IconList() { Destroy(); }
    IconList(const IconList&) = delete;
    IconList& operator=(const IconList&) = delete;

    // ICONS_SMALL and ICONS_LARGE take the system's icon size at dpi (0: the
    // system's DPI); other lists the given size.
    int Create(DWORD flags, int width, int height, int initial, int growth, int dpi = 0);
    // Makes the list anew for another DPI and loads the icons added so far
    // again at its size, in the same order, so image indices stay valid.
    // Answers 0 for a shared list, which the system sizes.
    int Rescale(int dpi);
    void Destroy();
    // The new image's index, or -1.
    int AddIcon(HINSTANCE module, UINT resourceId);
    int RemoveAll();
    int Draw(int index, HDC dc, int x, int y, UINT style) const;

    HIMAGELIST Handle() const { return owned_ ? owned_.Get() : shared_; }
    DWORD Flags() const { return flags_; }
    int IconWidth() const { return width_; }
    int IconHeight() const { return height_; }

private:
    // Loads comctl32 and looks its image-list functions up once; 1 or 0.
    int BindCommonControls();

    DWORD flags_ = 0;
    // Not linked: loading comctl32 with the program would resolve its own
    // imports in the program's folder, before the search is restricted.
    // Declared first, so that it is released after the list.
    DynamicLibrary commonControls_;
    decltype(&ImageList_Create) create_ = nullptr;
    decltype(&ImageList_ReplaceIcon) replaceIcon_ = nullptr;
    decltype(&ImageList_Remove) remove_ = nullptr;
    // Called for every row the tree paints.
    decltype(&ImageList_Draw) draw_ = nullptr;
    // A list of our own making, or else the system's, which is never
    // destroyed.
    ScopedImageList owned_;
    HIMAGELIST shared_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    int initial_ = 0;
    int growth_ = 0;
    // The icons added, so that a rescaled list can load them again.
    std::vector<std::pair<HINSTANCE, UINT>> added_;
};

// Icons of a list drawn once over a plain background and kept as small
// bitmaps, so that drawing one again is a single copy. Under Wine each
// ImageList_Draw makes and deletes a bitmap and a DC and copies four times,
// several window-server round trips a row of the tree.
class IconStamps
{
public:
    IconStamps() = default;
    IconStamps(const IconStamps&) = delete;
    IconStamps& operator=(const IconStamps&) = delete;

    // Draws the icon as ImageList_Draw with ILD_TRANSPARENT would over the
    // given background colour; 1 or 0.
    int Draw(const IconList& icons, int index, HDC dc, int x, int y, COLORREF background);
    // Forgets every stamp: after the list was remade (another DPI).
    void Clear();

private:
    struct Stamp
    {
        int index;
        COLORREF background;
        ScopedBitmap bitmap;
    };
    HBITMAP Find(int index, COLORREF background) const;
    HBITMAP Make(const IconList& icons, int index, COLORREF background);

    std::vector<Stamp> stamps_;
    // Declared after the stamps, so that it goes first and holds none of
    // them when they are deleted.
    ScopedCreatedDc dc_;
    int width_ = 0;
    int height_ = 0;
};
