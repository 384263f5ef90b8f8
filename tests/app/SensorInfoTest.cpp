#include <doctest.h>

#include "MainWindowFixture.h"
#include "TestText.h"
#include "app/SensorTreeRules.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace main_window_test;

// What a sensor says about itself: its state in the tree, its properties
// dialog, and the request for access to it.

namespace {

std::vector<std::wstring> SensorRows(const std::vector<TreeRow>& rows)
{
    std::vector<std::wstring> texts;
    for (const TreeRow& row : rows) {
        if (row.depth == 1)
            texts.push_back(row.text);
    }
    return texts;
}

// SENSOR_CATEGORY_LOCATION, spelt out as the harness does.
const GUID kLocation = {
    0xBFA794E4, 0xF964, 0x4FDB, {0x90, 0xF6, 0x51, 0x05, 0x6B, 0xFE, 0x4B, 0x44}};

} // namespace

TEST_CASE("sensor rows: the state in the value column, a blank name kept apart")
{
    // Known states and a blank name are the tree cases'; an unknown state
    // leaves the value column empty.
    WideString text;
    REQUIRE(SensorRowText(L"GPS", kSensorStateUnknown, text) == 1);
    CHECK(std::wstring(text.Data()) == L"GPS");

    CHECK(CompareSensorRow(L"GPS\tReady", L"GPS\tReady") == FIELD_ROW_SAME);
    CHECK(CompareSensorRow(L"GPS\tInitializing", L"GPS\tReady") == FIELD_ROW_NEW_TEXT);
    CHECK(CompareSensorRow(L"GPS", L"GPS\tReady") == FIELD_ROW_NEW_TEXT);
    CHECK(CompareSensorRow(L"GPS 2\tReady", L"GPS\tReady") == FIELD_ROW_OTHER);
    CHECK(CompareSensorRow(L"GP\tReady", L"GPS\tReady") == FIELD_ROW_OTHER);

    // Only a denied sensor gets the line, and what it says depends on
    // whether asking can still help.
    CHECK(AccessNote(0, true) == nullptr);
    CHECK(AccessNote(3, false) == nullptr);
    REQUIRE(AccessNote(4, true) != nullptr);
    REQUIRE(AccessNote(4, false) != nullptr);
    CHECK(std::wstring(AccessNote(4, true)).find(L"Request Access") != std::wstring::npos);
    CHECK(std::wstring(AccessNote(4, false)).find(L"Settings") != std::wstring::npos);
}

TEST_CASE("the tree shows each sensor's state and follows its changes in place")
{
    MainWindowFixture f;
    const wchar_t* names[] = {L"S0", L"S1", L"S2", L"S3", L"S4", L"S5"};
    for (int state = 0; state < 6; ++state)
        REQUIRE(AddTestSensor(f.sim, state + 1, names[state], {}, state));
    f.AddGps(7, L"Late Fix", L"VT_R8, 47.6", 3 /* initializing */);
    f.Open();
    std::vector<TreeRow> before = f.window.SettledTree();
    CHECK(SensorRows(before) == std::vector<std::wstring>{L"S0\tReady", L"S1\tNot available",
                                                          L"S2\tNo data", L"S3\tInitializing",
                                                          L"S4\tAccess denied", L"S5\tError",
                                                          L"Late Fix\tInitializing"});

    SUBCASE("a new state alone changes only the row's text")
    {
        REQUIRE(f.window.WaitForIdle() == 1);
        const LONG messages = f.window.ChangeMessages();
        const GUID id = TestSensorId(2);
        REQUIRE(f.sim.FireStateChanged(&id, 5) == 1);
        std::vector<TreeRow> after = f.window.SettledTree();
        CHECK(f.window.ChangeMessages() == messages + 1);
        CHECK(Handles(after) == Handles(before));
        CHECK(SensorRows(after)[1] == L"S1\tError");
    }
    SUBCASE("a sensor that becomes ready shows its data with its state")
    {
        const GUID id = TestSensorId(7);
        REQUIRE(f.sim.FireStateChanged(&id, 0) == 1);
        std::vector<std::wstring> after = Texts(f.window.SettledTree());
        CHECK(after.back() == L"CITY\tSeattle");
        CHECK(std::find(after.begin(), after.end(), L"Late Fix\tReady") != after.end());
    }
}

TEST_CASE("the properties dialog: every property, named and formatted, values explained, with "
          "Copy All")
{
    MainWindowFixture f;
    const GUID id = TestSensorId(1);
    const GUID vendorType = {0x0BADF00D, 0x1234, 0x4321, {0xA0, 1, 2, 3, 4, 5, 6, 7}};
    REQUIRE(f.sim.AddSensor(&id, &kLocation, &vendorType, L"Vendor Sensor", kStateReady) == 1);
    const std::pair<const wchar_t*, const wchar_t*> properties[] = {
        {L"MODEL", L"VT_LPWSTR, Model 7"},
        {L"RANGE_MAXIMUM", L"VT_R8, 2.5"},
        {L"ACCURACY", L"VT_R4, 0.25"},
        {L"HID_USAGE", L"VT_I4, -12"},
        {L"RADIO_STATE", L"VT_UI4, 4000000000"},
        {L"TURN_ON_OFF_NMEA", L"VT_BOOL, true"},
        {L"LIGHT_RESPONSE_CURVE", L"VT_VECTOR|VT_UI1, 1 4 7"},
        {L"CHANGE_SENSITIVITY", L"VT_EMPTY"},
        {L"CONNECTION_TYPE", L"VT_UI4, 1"},
        // A vendor's property that holds a category, and one whose value no
        // table names.
        {L"{D6E1A8F3-27B4-4C59-9A0E-5B3F7C2D8E61},7",
         L"VT_CLSID, {0BADF00D-1234-4321-A001-020304050607}"},
        {L"{D6E1A8F3-27B4-4C59-9A0E-5B3F7C2D8E61},8",
         L"VT_CLSID, {BFA794E4-F964-4FDB-90F6-51056BFE4B44}"},
    };
    for (const auto& property : properties)
        REQUIRE(f.sim.SetPropertyText(&id, property.first, property.second) == 1);
    f.Open();
    HWND dialog = f.OpenProperties(L"Vendor Sensor");
    CHECK(WindowText(dialog) == L"Vendor Sensor Properties");

    std::vector<std::wstring> rows = f.PropertyRows(dialog);
    const std::vector<std::wstring> head = {
        L"Sensor ID\t{7E550001-2345-5432-9000-000000000002}",
        L"Type\t{0BADF00D-1234-4321-A001-020304050607}",
        L"Category\tLOCATION",
        L"State\tReady",
        L"Report rate\t0.0 reports/s",
        L"Last report\tNone yet",
        L"Properties",
    };
    REQUIRE(rows.size() > head.size());
    CHECK(std::vector<std::wstring>(rows.begin(), rows.begin() + head.size()) == head);
    // The last two: the simulator's defaults for a type it does not know.
    for (const wchar_t* row :
         {L"FRIENDLY NAME\tVendor Sensor",
          L"PERSISTENT UNIQUE ID\t{7E550001-2345-5432-9000-000000000002}", L"MODEL\tModel 7",
          L"RANGE MAXIMUM\t2.500000", L"ACCURACY\t0.250000", L"HID USAGE\t-12",
          L"RADIO STATE\t4000000000", L"TURN ON OFF NMEA\tTrue", L"LIGHT RESPONSE CURVE\t01 04 07",
          L"CHANGE SENSITIVITY", L"STATE\t0 (Ready)", L"CONNECTION TYPE\t1 (PC ATTACHED)",
          L"{D6E1A8F3-27B4-4C59-9A0E-5B3F7C2D8E61}.7\t{0BADF00D-1234-4321-A001-020304050607}",
          L"{D6E1A8F3-27B4-4C59-9A0E-5B3F7C2D8E61}.8\t"
          L"{BFA794E4-F964-4FDB-90F6-51056BFE4B44} (LOCATION)",
          L"DESCRIPTION\tSimulated sensor", L"MANUFACTURER\tTessel Sensor Simulator"}) {
        CHECK_MESSAGE(Has(rows, row), Narrow(row));
    }

    PostMessageW(dialog, WM_COMMAND, IDM_COPY_ALL, 0);
    REQUIRE(f.window.Settle() == 1);
    const std::wstring copied = ClipboardText();
    CHECK(copied.find(L"Category\tLOCATION\r\nState\tReady\r\nReport rate\t0.0 reports/s\r\n"
                      L"Last report\tNone yet\r\nProperties\r\n") != std::wstring::npos);
    CHECK(copied.find(L"\r\n  MODEL\tModel 7\r\n") != std::wstring::npos);
    f.CloseProperties(dialog);
}

TEST_CASE("Alt+Enter opens the selected row's sensor's properties, which follow that sensor")
{
    MainWindowFixture f;
    f.AddGps(1, L"Roaming GPS");
    f.AddGps(2, L"Staying GPS");
    f.Open();
    REQUIRE(f.window.Select(L"CITY\t") == 1);
    REQUIRE(f.window.Send([&] { SetFocus(f.window.Tree()); }));
    // Alt held: the context bit of the key message.
    PostMessageW(f.window.Tree(), WM_SYSKEYDOWN, VK_RETURN, 0x201C0001);
    HWND dialog = f.WaitForProperties();
    CHECK(WindowText(dialog) == L"Roaming GPS Properties");
    const GUID id = TestSensorId(1);

    SUBCASE("a new state is shown")
    {
        REQUIRE(f.sim.FireStateChanged(&id, 2) == 1);
        std::vector<std::wstring> rows = f.PropertyRows(dialog);
        REQUIRE(rows.size() > 3);
        CHECK(rows[3] == L"State\tNo data");
    }
    SUBCASE("once it leaves, it says so instead of what the sensor said")
    {
        REQUIRE(f.sim.RemoveSensor(&id) == 1);
        CHECK(f.PropertyRows(dialog) ==
              std::vector<std::wstring>{L"This sensor is no longer connected."});
        // Another sensor's data changes nothing about that.
        const GUID other = TestSensorId(2);
        REQUIRE(f.sim.FireDataUpdated(&other) == 1);
        CHECK(f.PropertyRows(dialog) ==
              std::vector<std::wstring>{L"This sensor is no longer connected."});
    }
    f.CloseProperties(dialog);
}

TEST_CASE("\"Request Access\" asks once, for the selected sensor, over the main window")
{
    MainWindowFixture f;
    f.AddGps(1, L"Secured GPS", L"VT_R8, 47.6", kStateAccessDenied);
    f.AddGps(2, L"Open GPS");
    f.Open();
    // A sensor kept from the program gives no data.
    std::vector<std::wstring> rows = Texts(f.window.SettledTree());
    REQUIRE(rows.size() == 5);
    CHECK(rows[1] == L"Secured GPS\tAccess denied");
    CHECK(rows[2] == L"Open GPS\tReady");
    const std::vector<std::wstring> deniedMenu = TreeMenuItems(true);
    const GUID id = TestSensorId(1);

    SUBCASE("granted: the sensor turns ready and shows its data")
    {
        REQUIRE(f.window.Select(L"Secured GPS") == 1);
        CHECK(ChooseFromTreeMenu(f.window, -1, 3) == deniedMenu);
        rows = Texts(f.window.SettledTree());
        HWND parent = nullptr;
        CHECK(f.sim.PermissionRequests(&parent) == 1);
        CHECK(parent == f.window.Window());
        REQUIRE(rows.size() == 7);
        CHECK(rows[1] == L"Secured GPS\tReady");
        CHECK(rows[2] == L"LATITUDE DEGREES\t47.600000");
    }
    SUBCASE("refused: it stays denied and is not asked again")
    {
        REQUIRE(f.sim.SetAccessAnswer(&id, 0) == 1);
        REQUIRE(f.window.Select(L"Secured GPS") == 1);
        CHECK(ChooseFromTreeMenu(f.window, -1, 3) == deniedMenu);
        REQUIRE(f.window.WaitForIdle() == 1);
        CHECK(f.sim.PermissionRequests(nullptr) == 1);
        CHECK(Texts(f.window.SettledTree())[1] == L"Secured GPS\tAccess denied");
    }
    SUBCASE("a sensor with access offers no request")
    {
        REQUIRE(f.window.Select(L"Open GPS") == 1);
        CHECK(ChooseFromTreeMenu(f.window, -1, 0) == TreeMenuItems());
        CHECK(f.sim.PermissionRequests(nullptr) == 0);
    }
}
