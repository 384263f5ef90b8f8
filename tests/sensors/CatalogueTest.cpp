#include <doctest.h>

#include "sensors/SensorCatalogue.h"
#include "sensors/SensorProperties.h"

#include <sensorsapi.h>
#include <sensors.h>
#include <string>
#include <type_traits>

namespace {

// What a naming function answers for what, which it must name.
template <typename What>
std::wstring Named(int (*name)(What, WideString&), std::remove_reference_t<What> what)
{
    WideString text;
    REQUIRE(name(what, text) == 1);
    return text.Data();
}

std::wstring NameOf(const PROPERTYKEY& key)
{
    return Named(NameDataType, key);
}

std::wstring DisplayForm(const wchar_t* constant)
{
    WideString name(constant);
    MakeDisplayName(name);
    return name.Data();
}

} // namespace

TEST_CASE("the catalogue holds 84 distinct keys in search order")
{
    unsigned count = 0;
    const DataTypeName* rows = DataTypeCatalogue(&count);
    REQUIRE(count == 84);
    CHECK(std::wstring(rows[81].name) == L"SAMPLE_SENSOR_DATA_TYPE_SECOND");
    // Each key finds its own row first, so no row hides another.
    for (unsigned i = 0; i < count; ++i) {
        CAPTURE(i);
        CHECK(FindDataTypeName(*rows[i].key) == rows[i].name);
        CHECK(rows[i].key->pid >= 2);
    }
}

TEST_CASE("keys are named from the catalogue, else by format GUID and property id")
{
    CHECK(NameOf(SENSOR_DATA_TYPE_LATITUDE_DEGREES) == L"LATITUDE DEGREES");
    CHECK(NameOf(SENSOR_DATA_TYPE_RFID_TAG_40_BIT) == L"RFID TAG 40 BIT");
    // The sample prefix contains the common one; it goes first and whole.
    CHECK(NameOf(SAMPLE_SENSOR_DATA_TYPE_SECOND) == L"SECOND");

    PROPERTYKEY key = SENSOR_DATA_TYPE_LATITUDE_DEGREES;
    key.pid = 99;
    CHECK(NameOf(key) == L"{055C74D8-CA6F-47D6-95C6-1ED3637A0FF4}.99");

    const PROPERTYKEY vendor = {
        {0x0123ABCD, 0x4567, 0x89EF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}},
        4000000000u};
    CHECK(NameOf(vendor) == L"{0123ABCD-4567-89EF-0123-456789ABCDEF}.4000000000");
    CHECK(FindDataTypeName(vendor) == nullptr);
}

TEST_CASE("display names lose every data-type prefix, case-sensitively")
{
    CHECK(DisplayForm(L"SENSOR_DATA_TYPE_A_SENSOR_DATA_TYPE_B") == L"A B");
    CHECK(DisplayForm(L"sensor_data_type_x") == L"sensor data type x");
}

TEST_CASE("states, property keys, types and categories are named; unknown ones by number or GUID")
{
    // Each known state's name, and the names of a published type and
    // category, are read in the main window's tests.
    CHECK(Named(SensorStateText, 6) == L"6");
    CHECK(Named(SensorStateText, -7) == L"-7");

    CHECK(Named(NamePropertyKey, SENSOR_PROPERTY_SERIAL_NUMBER) == L"SERIAL NUMBER");
    CHECK(Named(NamePropertyKey, SENSOR_PROPERTY_CURRENT_REPORT_INTERVAL) ==
          L"CURRENT REPORT INTERVAL");
    PROPERTYKEY unknown = SENSOR_PROPERTY_MODEL;
    unknown.pid = 99;
    CHECK(Named(NamePropertyKey, unknown) == L"{7F8383EC-D3EC-495C-A8CF-B8BBE85C2920}.99");
    // A data-type key is not a property: it keeps its GUID form here.
    CHECK(Named(NamePropertyKey, SENSOR_DATA_TYPE_LATITUDE_DEGREES) ==
          L"{055C74D8-CA6F-47D6-95C6-1ED3637A0FF4}.2");

    CHECK(Named(NameSensorType, SENSOR_TYPE_ACCELEROMETER_3D) == L"ACCELEROMETER 3D");
    // A category is not a type, and an identifier nobody published is its GUID.
    CHECK(Named(NameSensorType, SENSOR_CATEGORY_LOCATION) ==
          L"{BFA794E4-F964-4FDB-90F6-51056BFE4B44}");
    const GUID vendor = {
        0x0123ABCD, 0x4567, 0x89EF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
    CHECK(Named(NameSensorCategory, vendor) == L"{0123ABCD-4567-89EF-0123-456789ABCDEF}");
}

TEST_CASE("property values of enumerations and identifiers get their meaning beside them")
{
    auto explained = [](const PROPERTYKEY& key, const wchar_t* value) {
        WideString text;
        REQUIRE(text.Assign(value) == 1);
        ExplainPropertyValue(key, text);
        return std::wstring(text.Data());
    };
    // The state, the type, a vendor's property holding a category, and an
    // identifier nobody published are read in the properties dialog's tests.
    CHECK(explained(SENSOR_PROPERTY_STATE, L"0") == L"0 (Ready)");
    CHECK(explained(SENSOR_PROPERTY_STATE, L"5") == L"5 (Error)");
    CHECK(explained(SENSOR_PROPERTY_CONNECTION_TYPE, L"0") == L"0 (PC INTEGRATED)");
    CHECK(explained(SENSOR_PROPERTY_CONNECTION_TYPE, L"2") == L"2 (PC EXTERNAL)");
    CHECK(explained(SENSOR_PROPERTY_LOCATION_DESIRED_ACCURACY, L"1") == L"1 (HIGH)");

    // Unknown values and other properties' numbers stay as they are.
    for (const wchar_t* value : {L"6", L"4294967295", L"-1", L"4x", L" 4", L"", L"Ready"})
        CHECK(explained(SENSOR_PROPERTY_STATE, value) == value);
    CHECK(explained(SENSOR_PROPERTY_CONNECTION_TYPE, L"3") == L"3");
    CHECK(explained(SENSOR_PROPERTY_MIN_REPORT_INTERVAL, L"4") == L"4");
    CHECK(explained(SENSOR_PROPERTY_TYPE, L"{ED4CA589-327A-4FF9-A560-91DA4B48275E}x") ==
          L"{ED4CA589-327A-4FF9-A560-91DA4B48275E}x");
    CHECK(explained(SENSOR_PROPERTY_MODEL, L"{ED4CA589-327A}") == L"{ED4CA589-327A}");
    WideString meaning;
    REQUIRE(meaning.Assign(L"kept") == 1);
    CHECK(NamePropertyValue(SENSOR_PROPERTY_STATE, L"9", meaning) == 0);
    CHECK(NamePropertyValue(SENSOR_PROPERTY_STATE, nullptr, meaning) == 0);
    CHECK(std::wstring(meaning.Data()) == L"kept");
}
