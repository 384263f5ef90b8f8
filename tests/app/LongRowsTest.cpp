#include <doctest.h>

#include "MainWindowFixture.h"

#include <string>
#include <vector>

using namespace main_window_test;

// Rows longer than the tree's usual read-back buffer of 260 characters, and
// what the properties dialog says a value means.

TEST_CASE("a 300-unit name and a 1,000-unit value are whole on the clipboard and in the selection")
{
    MainWindowFixture f;
    const std::wstring name = L"Long " + std::wstring(294, L'n') + L"!";
    const std::wstring value = std::wstring(997, L'v') + L"END";
    REQUIRE(name.size() == 300u);
    REQUIRE(value.size() == 1000u);
    REQUIRE(AddTestSensor(f.sim, 1, name.c_str(), {{L"CITY", (L"VT_LPWSTR, " + value).c_str()}}));
    f.Open();
    const std::vector<std::wstring> rows = Texts(f.window.SettledTree());
    REQUIRE(Has(rows, name + L"\tReady"));
    REQUIRE(Has(rows, L"CITY\t" + value));

    SUBCASE("Copy")
    {
        REQUIRE(f.window.Select(L"CITY\t") == 1);
        int copied = 0;
        REQUIRE(f.window.Send([&] { copied = f.window.App()->CopySelectedRow(); }));
        CHECK(copied == 1);
        CHECK(ClipboardText() == L"CITY\t" + value);
    }
    SUBCASE("Copy All")
    {
        int copied = 0;
        REQUIRE(f.window.Send([&] { copied = f.window.App()->CopyAllRows(); }));
        CHECK(copied == 1);
        CHECK(ClipboardText() ==
              L"Sensors\r\n  " + name + L"\tReady\r\n    CITY\t" + value + L"\r\n");
    }
    SUBCASE("the selected sensor stays selected when the tree is rebuilt")
    {
        REQUIRE(f.window.Select(L"Long ") == 1);
        REQUIRE(AddTestSensor(f.sim, 2, L"Arriving", {}));
        const GUID arriving = TestSensorId(2);
        REQUIRE(f.sim.FireEnter(&arriving) == 1);
        std::vector<TreeRow> after = f.window.SettledTree();
        REQUIRE(Has(Texts(after), L"Arriving\tReady"));
        CHECK(SelectedText(after) == name + L"\tReady");
    }
    SUBCASE("the selected field stays selected when the tree is rebuilt")
    {
        REQUIRE(f.window.Select(L"CITY\t") == 1);
        const GUID id = TestSensorId(1);
        REQUIRE(f.sim.FireStateChanged(&id, 3) == 1);
        REQUIRE(f.sim.FireStateChanged(&id, 0) == 1);
        CHECK(SelectedText(f.window.SettledTree()) == L"CITY\t" + value);
    }
}

TEST_CASE("the properties dialog names enumerations and identifiers beside their numbers")
{
    MainWindowFixture f;
    REQUIRE(AddTestSensor(f.sim, 1, L"Denied GPS", {{L"LATITUDE_DEGREES", L"VT_R8, 47.6"}},
                          kStateAccessDenied));
    const GUID id = TestSensorId(1);
    REQUIRE(f.sim.SetPropertyText(&id, L"CONNECTION_TYPE", L"VT_UI4, 1") == 1);
    // A vendor's property that holds a category, and one whose value no
    // table names.
    REQUIRE(f.sim.SetPropertyText(&id, L"{D6E1A8F3-27B4-4C59-9A0E-5B3F7C2D8E61},8",
                                  L"VT_CLSID, {BFA794E4-F964-4FDB-90F6-51056BFE4B44}") == 1);
    REQUIRE(f.sim.SetPropertyText(&id, L"{D6E1A8F3-27B4-4C59-9A0E-5B3F7C2D8E61},9",
                                  L"VT_CLSID, {0BADF00D-1234-4321-A001-020304050607}") == 1);
    REQUIRE(f.sim.SetPropertyText(&id, L"RADIO_STATE", L"VT_UI4, 4") == 1);
    f.Open();
    const std::vector<std::wstring> rows = f.PropertyRows(f.OpenProperties(L"Denied GPS"));
    // The rows above the properties name them already.
    CHECK(Has(rows, L"Type\tLOCATION GPS"));
    CHECK(Has(rows, L"State\tAccess denied"));
    CHECK(Has(rows, L"STATE\t4 (Access denied)"));
    CHECK(Has(rows, L"TYPE\t{ED4CA589-327A-4FF9-A560-91DA4B48275E} (LOCATION GPS)"));
    CHECK(Has(rows, L"CONNECTION TYPE\t1 (PC ATTACHED)"));
    CHECK(Has(rows, L"{D6E1A8F3-27B4-4C59-9A0E-5B3F7C2D8E61}.8\t"
                    L"{BFA794E4-F964-4FDB-90F6-51056BFE4B44} (LOCATION)"));
    // Unknown values, and numbers of other properties, as they are.
    CHECK(Has(rows, L"{D6E1A8F3-27B4-4C59-9A0E-5B3F7C2D8E61}.9\t"
                    L"{0BADF00D-1234-4321-A001-020304050607}"));
    CHECK(Has(rows, L"RADIO STATE\t4"));
    CHECK(Has(rows, L"PERSISTENT UNIQUE ID\t{7E550001-2345-5432-9000-000000000002}"));
}
