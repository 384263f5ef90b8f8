#include <doctest.h>

#include "sensors/SensorValue.h"
#include "system/SystemInfo.h"

#include <string>
#include <vector>

namespace {

// Values cleared at the end of the test.
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

LPWSTR TaskString(const wchar_t* text)
{
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    return static_cast<LPWSTR>(memcpy(CoTaskMemAlloc(bytes), text, bytes));
}

std::wstring TextOf(const VARIANT& value)
{
    WideString text;
    REQUIRE(FormatSensorValue(value, text) == 1);
    return text.Data();
}

std::wstring Converted(const PROPVARIANT& source, VARTYPE expectedType)
{
    Variant target;
    REQUIRE(ConvertPropVariant(source, target.value) == 1);
    REQUIRE(target.value.vt == expectedType);
    return TextOf(target.value);
}

} // namespace

TEST_CASE("value texts: reals with six decimals, strings unchanged, others as the platform says")
{
    Variant value;
    value.value.vt = VT_R4;
    value.value.fltVal = 1.5f;
    CHECK(TextOf(value.value) == L"1.500000");
    value.value.vt = VT_R8;
    value.value.dblVal = -0.25;
    CHECK(TextOf(value.value) == L"-0.250000");
    value.value.vt = VT_BSTR;
    value.value.bstrVal = SysAllocString(L"$GPGGA,123519,4807.038,N");
    CHECK(TextOf(value.value) == L"$GPGGA,123519,4807.038,N");

    Variant empty;
    CHECK(TextOf(empty.value) == L"");

    // An array has no text: the conversion fails and the text is kept.
    Variant array;
    array.value.vt = VT_ARRAY | VT_R8;
    array.value.parray = SafeArrayCreateVector(VT_R8, 0, 3);
    WideString text(L"before");
    CHECK(FormatSensorValue(array.value, text) == 0);
    CHECK(std::wstring(text.Data()) == L"before");
}

TEST_CASE("booleans read True or False")
{
    Variant value;
    value.value.vt = VT_BOOL;
    value.value.boolVal = VARIANT_TRUE;
    CHECK(TextOf(value.value) == L"True");
    value.value.boolVal = VARIANT_FALSE;
    CHECK(TextOf(value.value) == L"False");
    // Any bit set is true, as the platform's conversion counts it.
    value.value.boolVal = 1;
    CHECK(TextOf(value.value) == L"True");
}

TEST_CASE("byte vectors read as hexadecimal bytes")
{
    WideString text(L"before");
    const BYTE bytes[] = {0x01, 0x04, 0x07, 0xEA, 0xFF, 0x00};
    REQUIRE(FormatHexBytes(bytes, 3, text) == 1);
    CHECK(std::wstring(text.Data()) == L"01 04 07");
    REQUIRE(FormatHexBytes(bytes + 3, 3, text) == 1);
    CHECK(std::wstring(text.Data()) == L"EA FF 00");
    REQUIRE(FormatHexBytes(bytes, 0, text) == 1);
    CHECK(std::wstring(text.Data()) == L"");

    SUBCASE("a reported vector, as the simulator's chromaticity arrives")
    {
        PropVariant reported;
        reported.value.vt = VT_VECTOR | VT_UI1;
        reported.value.caub.cElems = 8;
        reported.value.caub.pElems = static_cast<BYTE*>(CoTaskMemAlloc(8));
        const BYTE chromaticity[] = {234, 4, 180, 62, 16, 88, 185, 62};
        memcpy(reported.value.caub.pElems, chromaticity, 8);
        CHECK(Converted(reported.value, VT_ARRAY | VT_UI1) == L"EA 04 B4 3E 10 58 B9 3E");
    }
    SUBCASE("a long vector outgrows the default text capacity")
    {
        Variant array;
        array.value.vt = VT_ARRAY | VT_UI1;
        array.value.parray = SafeArrayCreateVector(VT_UI1, 0, 200);
        REQUIRE(array.value.parray);
        const std::wstring shown = TextOf(array.value);
        CHECK(shown.size() == 200 * 3 - 1);
        CHECK(shown.compare(0, 6, L"00 00 ") == 0);
    }
    SUBCASE("an empty vector and a two-dimensional array")
    {
        Variant empty;
        empty.value.vt = VT_ARRAY | VT_UI1;
        empty.value.parray = SafeArrayCreateVector(VT_UI1, 0, 0);
        CHECK(TextOf(empty.value) == L"");

        SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
        Variant square;
        square.value.vt = VT_ARRAY | VT_UI1;
        square.value.parray = SafeArrayCreate(VT_UI1, 2, bounds);
        WideString kept(L"kept");
        CHECK(FormatSensorValue(square.value, kept) == 0);
        CHECK(std::wstring(kept.Data()) == L"kept");
    }
}

TEST_CASE("reported scalars become automation values")
{
    PropVariant wide;
    wide.value.vt = VT_LPWSTR;
    wide.value.pwszVal = TaskString(L"Paris");
    CHECK(Converted(wide.value, VT_BSTR) == L"Paris");

    PropVariant narrow;
    narrow.value.vt = VT_LPSTR;
    narrow.value.pszVal = static_cast<LPSTR>(memcpy(CoTaskMemAlloc(4), "WGS", 4));
    CHECK(Converted(narrow.value, VT_BSTR) == L"WGS");

    const CLSID guid = {
        0x055C74D8, 0xCA6F, 0x47D6, {0x95, 0xC6, 0x1E, 0xD3, 0x63, 0x7A, 0x0F, 0xF4}};
    PropVariant id;
    id.value.vt = VT_CLSID;
    id.value.puuid = static_cast<CLSID*>(memcpy(CoTaskMemAlloc(sizeof(guid)), &guid, sizeof(guid)));
    CHECK(Converted(id.value, VT_BSTR) == L"{055C74D8-CA6F-47D6-95C6-1ED3637A0FF4}");

    SYSTEMTIME moment = {2024, 3, 5, 15, 13, 45, 30, 0};
    PropVariant time;
    time.value.vt = VT_FILETIME;
    REQUIRE(SystemTimeToFileTime(&moment, &time.value.filetime));
    Variant date;
    REQUIRE(ConvertPropVariant(time.value, date.value) == 1);
    DATE expected = 0;
    SystemTimeToVariantTime(&moment, &expected);
    CHECK(date.value.vt == VT_DATE);
    CHECK(date.value.date == doctest::Approx(expected));
}

TEST_CASE("vectors become safe arrays; unknown types stay empty")
{
    PropVariant numbers;
    numbers.value.vt = VT_VECTOR | VT_R8;
    numbers.value.cadbl.cElems = 2;
    numbers.value.cadbl.pElems = static_cast<double*>(CoTaskMemAlloc(2 * sizeof(double)));
    numbers.value.cadbl.pElems[0] = 1.0;
    numbers.value.cadbl.pElems[1] = -2.5;
    Variant array;
    REQUIRE(ConvertPropVariant(numbers.value, array.value) == 1);
    REQUIRE(array.value.vt == (VT_ARRAY | VT_R8));
    LONG index = 1;
    double element = 0;
    REQUIRE(SUCCEEDED(SafeArrayGetElement(array.value.parray, &index, &element)));
    CHECK(element == -2.5);

    PropVariant blob;
    blob.value.vt = VT_BLOB;
    Variant target;
    CHECK(ConvertPropVariant(blob.value, target.value) == 0);
    blob.value.vt = VT_VECTOR | VT_BLOB;
    CHECK(ConvertPropVariant(blob.value, target.value) == 0);
    blob.value.vt = VT_EMPTY;
    CHECK(target.value.vt == VT_EMPTY);
}

namespace {

// depth vectors of one variant each, around the number 7; the chain is
// owned by the vector, not by the values.
std::vector<PROPVARIANT> NestedVectors(size_t depth)
{
    std::vector<PROPVARIANT> chain(depth + 1);
    for (size_t level = 0; level < depth; ++level) {
        PropVariantInit(&chain[level]);
        chain[level].vt = VT_VECTOR | VT_VARIANT;
        chain[level].capropvar.cElems = 1;
        chain[level].capropvar.pElems = &chain[level + 1];
    }
    PropVariantInit(&chain[depth]);
    chain[depth].vt = VT_I4;
    chain[depth].lVal = 7;
    return chain;
}

} // namespace

TEST_CASE("nested vectors of variants convert a few levels deep, never without limit")
{
    std::vector<PROPVARIANT> shallow = NestedVectors(3);
    Variant converted;
    REQUIRE(ConvertPropVariant(shallow[0], converted.value) == 1);
    const VARIANT* level = &converted.value;
    for (int depth = 0; depth < 3; ++depth) {
        REQUIRE(level->vt == (VT_ARRAY | VT_VARIANT));
        level = static_cast<const VARIANT*>(level->parray->pvData);
    }
    CHECK(level->vt == VT_I4);
    CHECK(level->lVal == 7);

    // A driver's value this deep would otherwise run the stack out.
    std::vector<PROPVARIANT> endless = NestedVectors(200000);
    Variant refused;
    CHECK(ConvertPropVariant(endless[0], refused.value) == 0);
    CHECK(refused.value.vt == VT_EMPTY);
}

TEST_CASE("a reported value converts whether propsys or the program's own conversion serves")
{
    PropVariant source;
    source.value.vt = VT_UI4;
    source.value.ulVal = 4000000000u;
    Variant target;
    REQUIRE(ConvertReportedValue(source.value, target.value) == 1);
    CHECK(TextOf(target.value) == L"4000000000");
}
