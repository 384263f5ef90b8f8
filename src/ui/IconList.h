#pragma once

#include <windows.h>
#include <commctrl.h>

#include "base/DynamicLibrary.h"
#include "base/ScopedHandle.h"

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

    int Create(DWORD flags, int width, int height, int initial, int growth);
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
    DWORD flags_ = 0;
    // Not linked: loading comctl32 with the program would resolve its own
    // imports in the program's folder, before the search is restricted.
    // Declared first, so that it is released after the list.
    DynamicLibrary commonControls_;
    // A list of our own making, or else the system's, which is never
    // destroyed.
    ScopedImageList owned_;
    HIMAGELIST shared_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};
