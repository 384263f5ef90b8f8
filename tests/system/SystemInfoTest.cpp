#include <doctest.h>

#include "base/WideString.h"
#include "system/SystemInfo.h"

TEST_CASE("processors are described by index")
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const unsigned count = system.dwNumberOfProcessors;
    REQUIRE(count >= 1);

    ProcessorInfo processors;
    WideString name;
    WideString vendor;
    WideString identifier;
    DWORD megahertz = 0xFFFFFFFF;
    CHECK(processors.Get(count - 1, &name, &vendor, &identifier, &megahertz) == 1);
    CHECK(!vendor.IsEmpty());
    CHECK(!identifier.IsEmpty());
    CHECK(megahertz != 0xFFFFFFFF);

    name.Assign(L"unchanged");
    megahertz = 7;
    CHECK(processors.Get(count, &name, nullptr, nullptr, &megahertz) == 0);
    CHECK(name.Compare(L"unchanged") == 0);
    CHECK(megahertz == 7);
}

TEST_CASE("system information query")
{
    SystemInfoQuery query;
    // Class 0, the basic information, exists everywhere; a short buffer fails.
    BYTE basic[64] = {};
    ULONG returned = 0;
    CHECK(query.Query(0, basic, sizeof(basic), &returned) == 0);
    CHECK(returned > 0);
    CHECK(returned <= sizeof(basic));
    CHECK(query.Query(0, basic, 4, &returned) != 0);
}

TEST_CASE("clocks")
{
    ULONGLONG first = GetTickCount64Ms();
    CHECK(GetTickCount64Ms() >= first);
    CHECK(ClockDifference(100, 350) == 250);
    // Across the 32-bit wrap the difference stays small.
    CHECK(ClockDifference(0xFFFFFFF0, 0x10) == 0x20);
}

TEST_CASE("installed font families")
{
    CHECK(FontFamilyExists(L"Tahoma", DEFAULT_CHARSET, nullptr) == 1);
    CHECK(FontFamilyExists(L"Segoe UI", DEFAULT_CHARSET, nullptr) == 0);
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
