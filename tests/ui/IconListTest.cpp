#include <doctest.h>

#include <windows.h>

#include <shellapi.h>

#include "ui/IconList.h"

TEST_CASE("a shared list is the system's image list and outlives its owner")
{
    wchar_t root[MAX_PATH] = {};
    REQUIRE(GetWindowsDirectoryW(root, MAX_PATH) >= 3);
    root[3] = L'\0';
    SHFILEINFOW info = {};
    const auto system = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoW(root, 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    REQUIRE(system);

    {
        IconList icons;
        REQUIRE(icons.Create(ICONS_SMALL | ICONS_SHARED, 0, 0, 0, 0));
        CHECK(icons.Handle() == system);
        CHECK(icons.Rescale(192) == 0);
    }
    // Its owner went away; the system's list, which others share, did not.
    int width = 0;
    int height = 0;
    CHECK(ImageList_GetIconSize(system, &width, &height));
    CHECK(ImageList_GetImageCount(system) > 0);
}
