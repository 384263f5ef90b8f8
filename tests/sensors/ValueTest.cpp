#include <doctest.h>

#include "sensors/SensorValue.h"

#include <string>

namespace {

// A VARIANT cleared at the end of the test.
struct Variant
{
    Variant() { VariantInit(&value); }
    ~Variant() { VariantClear(&value); }
    VARIANT value;
};

struct PropVariant
{
    PropVariant() { PropVariantInit(&value); }
    ~PropVariant() { PropVariantClear(&value); }
    PROPVARIANT value;
};

std::wstring TextOf(const VARIANT& value)
{
    WideString text;
    REQUIRE(FormatSensorValue(value, text) == 1);
    return text.Data();
}

std::wstring BstrText(BSTR text)
{
    return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

} // namespace

TEST_CASE("reals have six decimals, strings stay as they are")
{
    Variant value;
    value.value.vt = VT_R4;
    value.value.fltVal = 1.5f;
    CHECK(TextOf(value.value) == L"1.500000");
    value.value.vt = VT_R8;
    value.value.dblVal = -0.25;
    CHECK(TextOf(value.value) == L"-0.250000");
    value.value.dblVal = 47.6;
    CHECK(TextOf(value.value) == L"47.600000");

    value.value.vt = VT_BSTR;
    value.value.bstrVal = SysAllocString(L"$GPGGA,123519,4807.038,N");
    CHECK(TextOf(value.value) == L"$GPGGA,123519,4807.038,N");

    Variant empty;
    CHECK(TextOf(empty.value) == L"");
}

TEST_CASE("other types get the platform's text; a failing conversion leaves none")
{
    Variant value;
    value.value.vt = VT_UI4;
    value.value.ulVal = 4000000000u;
    CHECK(TextOf(value.value) == L"4000000000");
    value.value.vt = VT_BOOL;
    value.value.boolVal = VARIANT_TRUE;
    CHECK_FALSE(TextOf(value.value).empty());
    value.value.vt = VT_DATE;
    value.value.date = 45366.5;
    CHECK_FALSE(TextOf(value.value).empty());

    Variant array;
    array.value.vt = VT_ARRAY | VT_R8;
    array.value.parray = SafeArrayCreateVector(VT_R8, 0, 3);
    WideString text(L"before");
    CHECK(FormatSensorValue(array.value, text) == 0);
    CHECK(std::wstring(text.Data()) == L"before");
}

TEST_CASE("reported scalars convert to automation values")
{
    PropVariant source;
    Variant target;
    source.value.vt = VT_R8;
    source.value.dblVal = 21.5;
    REQUIRE(ConvertPropVariant(source.value, target.value) == 1);
    CHECK(target.value.vt == VT_R8);
    CHECK(target.value.dblVal == 21.5);

    PropVariant wide;
    Variant wideTarget;
    wide.value.vt = VT_LPWSTR;
    wide.value.pwszVal = static_cast<LPWSTR>(CoTaskMemAlloc(6 * sizeof(wchar_t)));
    wcscpy(wide.value.pwszVal, L"Paris");
    REQUIRE(ConvertPropVariant(wide.value, wideTarget.value) == 1);
    CHECK(wideTarget.value.vt == VT_BSTR);
    CHECK(BstrText(wideTarget.value.bstrVal) == L"Paris");

    PropVariant narrow;
    Variant narrowTarget;
    narrow.value.vt = VT_LPSTR;
    narrow.value.pszVal = static_cast<LPSTR>(CoTaskMemAlloc(4));
    strcpy(narrow.value.pszVal, "WGS");
    REQUIRE(ConvertPropVariant(narrow.value, narrowTarget.value) == 1);
    CHECK(BstrText(narrowTarget.value.bstrVal) == L"WGS");

    PropVariant id;
    Variant idTarget;
    id.value.vt = VT_CLSID;
    id.value.puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
    *id.value.puuid = {
        0x055C74D8, 0xCA6F, 0x47D6, {0x95, 0xC6, 0x1E, 0xD3, 0x63, 0x7A, 0x0F, 0xF4}};
    REQUIRE(ConvertPropVariant(id.value, idTarget.value) == 1);
    CHECK(BstrText(idTarget.value.bstrVal) == L"{055C74D8-CA6F-47D6-95C6-1ED3637A0FF4}");
}

TEST_CASE("a FILETIME becomes the same moment as a date")
{
    SYSTEMTIME moment = {2024, 3, 5, 15, 13, 45, 30, 0};
    PropVariant source;
    source.value.vt = VT_FILETIME;
    REQUIRE(SystemTimeToFileTime(&moment, &source.value.filetime));
    Variant target;
    REQUIRE(ConvertPropVariant(source.value, target.value) == 1);
    REQUIRE(target.value.vt == VT_DATE);
    DATE expected = 0;
    SystemTimeToVariantTime(&moment, &expected);
    CHECK(target.value.date == doctest::Approx(expected));
    CHECK_FALSE(TextOf(target.value).empty());
}

TEST_CASE("vectors become safe arrays")
{
    double readings[] = {1.0, -2.5, 3.25};
    PropVariant numbers;
    numbers.value.vt = VT_VECTOR | VT_R8;
    numbers.value.cadbl.cElems = 3;
    numbers.value.cadbl.pElems = static_cast<double*>(CoTaskMemAlloc(sizeof(readings)));
    memcpy(numbers.value.cadbl.pElems, readings, sizeof(readings));
    Variant array;
    REQUIRE(ConvertPropVariant(numbers.value, array.value) == 1);
    REQUIRE(array.value.vt == (VT_ARRAY | VT_R8));
    LONG index = 1;
    double element = 0;
    REQUIRE(SUCCEEDED(SafeArrayGetElement(array.value.parray, &index, &element)));
    CHECK(element == -2.5);

    PropVariant texts;
    texts.value.vt = VT_VECTOR | VT_LPWSTR;
    texts.value.calpwstr.cElems = 2;
    texts.value.calpwstr.pElems = static_cast<LPWSTR*>(CoTaskMemAlloc(2 * sizeof(LPWSTR)));
    texts.value.calpwstr.pElems[0] = static_cast<LPWSTR>(CoTaskMemAlloc(4 * sizeof(wchar_t)));
    texts.value.calpwstr.pElems[1] = static_cast<LPWSTR>(CoTaskMemAlloc(4 * sizeof(wchar_t)));
    wcscpy(texts.value.calpwstr.pElems[0], L"G07");
    wcscpy(texts.value.calpwstr.pElems[1], L"G21");
    Variant strings;
    REQUIRE(ConvertPropVariant(texts.value, strings.value) == 1);
    REQUIRE(strings.value.vt == (VT_ARRAY | VT_BSTR));
    BSTR second = nullptr;
    REQUIRE(SUCCEEDED(SafeArrayGetElement(strings.value.parray, &index, &second)));
    CHECK(BstrText(second) == L"G21");
    SysFreeString(second);
}

TEST_CASE("values the conversion does not know stay empty")
{
    PropVariant blob;
    blob.value.vt = VT_BLOB;
    Variant target;
    CHECK(ConvertPropVariant(blob.value, target.value) == 0);
    CHECK(target.value.vt == VT_EMPTY);

    PropVariant vectorOfBlobs;
    vectorOfBlobs.value.vt = VT_VECTOR | VT_BLOB;
    CHECK(ConvertPropVariant(vectorOfBlobs.value, target.value) == 0);
    CHECK(target.value.vt == VT_EMPTY);
}

TEST_CASE("under Wine the program's own conversion stands in for propsys")
{
    REQUIRE(IsWine());
    PropVariant source;
    source.value.vt = VT_R4;
    source.value.fltVal = 1.5f;
    Variant target;
    REQUIRE(ConvertReportedValue(source.value, target.value) == 1);
    CHECK(TextOf(target.value) == L"1.500000");
}
