#include <doctest.h>

#include "ui/GdiHelpers.h"

TEST_CASE("installed font families")
{
    // The system's own message font is installed wherever the test runs.
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = 500;
    REQUIRE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 500, &metrics, 0));
    CHECK(FontFamilyExists(metrics.lfMessageFont.lfFaceName, DEFAULT_CHARSET, nullptr) == 1);
    CHECK(FontFamilyExists(L"Tessel No Such Face", DEFAULT_CHARSET, nullptr) == 0);
    // A name longer than a face name is cut, never overrun.
    CHECK(FontFamilyExists(L"TahomaTahomaTahomaTahomaTahomaTahomaTahoma", DEFAULT_CHARSET,
                           nullptr) == 0);
}

TEST_CASE("solid brush for control backgrounds")
{
    SolidBrush brush;
    CHECK(brush.Handle() == nullptr);
    REQUIRE(brush.Create(RGB(255, 255, 255)) == 1);
    HBRUSH first = brush.Handle();
    REQUIRE(brush.Create(RGB(10, 20, 30)) == 1);
    CHECK(GetObjectType(first) == 0);

    HDC memory = CreateCompatibleDC(nullptr);
    CHECK(brush.ForControl(memory) == brush.Handle());
    CHECK(GetBkColor(memory) == RGB(10, 20, 30));
    DeleteDC(memory);
    LOGBRUSH info = {};
    REQUIRE(GetObjectW(brush.Handle(), sizeof(info), &info) == sizeof(info));
    CHECK(info.lbColor == RGB(10, 20, 30));
    brush.Delete();
    CHECK(brush.Handle() == nullptr);
}
