#include <doctest.h>

#include "base/ComValue.h"
#include "sensors/SensorValue.h"

#include <string>
#include <vector>

namespace {

std::wstring TextOf(const VARIANT& value)
{
    WideString text;
    REQUIRE(FormatSensorValue(value, text) == 1);
    return text.Data();
}

std::wstring Converted(const PROPVARIANT& source, VARTYPE expectedType)
{
    ScopedVariant target;
    REQUIRE(ConvertPropVariant(source, target.Get()) == 1);
    REQUIRE(target.Get().vt == expectedType);
    return TextOf(target.Get());
}

} // namespace

// Reals, strings and booleans as the simulator reports them, and its byte
// vector (the chromaticity), are read back in the sensor list's and the
// app's tests.
TEST_CASE("value texts: none for empty values, bytes in hexadecimal, any bit set is true")
{
    ScopedVariant value;
    CHECK(TextOf(value.Get()) == L"");
    value.SetBool(false);
    CHECK(TextOf(value.Get()) == L"False");
    value.Get().boolVal = 1; // as the platform's conversion counts it
    CHECK(TextOf(value.Get()) == L"True");

    WideString text(L"before");
    const BYTE bytes[] = {0xEA, 0xFF, 0x00};
    REQUIRE(FormatHexBytes(bytes, 3, text) == 1);
    CHECK(std::wstring(text.Data()) == L"EA FF 00");
    // A long vector outgrows the default text capacity.
    value.SetByteArray(SafeArrayCreateVector(VT_UI1, 0, 200));
    const std::wstring shown = TextOf(value.Get());
    CHECK(shown.size() == 200 * 3 - 1);
    CHECK(shown.compare(0, 6, L"00 00 ") == 0);
    value.SetByteArray(SafeArrayCreateVector(VT_UI1, 0, 0));
    CHECK(TextOf(value.Get()) == L"");

    // An array of numbers or of two dimensions has no text: the conversion
    // fails and the text is kept.
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    value.SetByteArray(SafeArrayCreate(VT_UI1, 2, bounds));
    CHECK(FormatSensorValue(value.Get(), text) == 0);
    value.SetByteArray(SafeArrayCreateVector(VT_R8, 0, 3));
    value.Get().vt = VT_ARRAY | VT_R8;
    CHECK(FormatSensorValue(value.Get(), text) == 0);
    CHECK(std::wstring(text.Data()) == L"EA FF 00");
}

TEST_CASE("reported scalars and vectors become automation values; unknown types stay empty")
{
    ScopedPropVariant narrow;
    narrow.Get().vt = VT_LPSTR;
    narrow.Get().pszVal = static_cast<LPSTR>(memcpy(CoTaskMemAlloc(4), "WGS", 4));
    CHECK(Converted(narrow.Get(), VT_BSTR) == L"WGS");

    const CLSID guid = {
        0x055C74D8, 0xCA6F, 0x47D6, {0x95, 0xC6, 0x1E, 0xD3, 0x63, 0x7A, 0x0F, 0xF4}};
    ScopedPropVariant id;
    id.Get().vt = VT_CLSID;
    id.Get().puuid = static_cast<CLSID*>(memcpy(CoTaskMemAlloc(sizeof(guid)), &guid, sizeof(guid)));
    CHECK(Converted(id.Get(), VT_BSTR) == L"{055C74D8-CA6F-47D6-95C6-1ED3637A0FF4}");

    SYSTEMTIME moment = {2024, 3, 5, 15, 13, 45, 30, 0};
    ScopedPropVariant time;
    time.Get().vt = VT_FILETIME;
    REQUIRE(SystemTimeToFileTime(&moment, &time.Get().filetime));
    ScopedVariant date;
    REQUIRE(ConvertPropVariant(time.Get(), date.Get()) == 1);
    DATE expected = 0;
    SystemTimeToVariantTime(&moment, &expected);
    CHECK(date.Get().vt == VT_DATE);
    CHECK(date.Get().date == doctest::Approx(expected));

    ScopedPropVariant numbers;
    numbers.Get().vt = VT_VECTOR | VT_R8;
    numbers.Get().cadbl.cElems = 2;
    numbers.Get().cadbl.pElems = static_cast<double*>(CoTaskMemAlloc(2 * sizeof(double)));
    numbers.Get().cadbl.pElems[0] = 1.0;
    numbers.Get().cadbl.pElems[1] = -2.5;
    ScopedVariant array;
    REQUIRE(ConvertPropVariant(numbers.Get(), array.Get()) == 1);
    REQUIRE(array.Get().vt == (VT_ARRAY | VT_R8));
    LONG index = 1;
    double element = 0;
    REQUIRE(SUCCEEDED(SafeArrayGetElement(array.Get().parray, &index, &element)));
    CHECK(element == -2.5);

    ScopedPropVariant blob;
    blob.Get().vt = VT_BLOB;
    ScopedVariant target;
    CHECK(ConvertPropVariant(blob.Get(), target.Get()) == 0);
    blob.Get().vt = VT_VECTOR | VT_BLOB;
    CHECK(ConvertPropVariant(blob.Get(), target.Get()) == 0);
    blob.Get().vt = VT_EMPTY;
    CHECK(target.Get().vt == VT_EMPTY);
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
    ScopedVariant converted;
    REQUIRE(ConvertPropVariant(shallow[0], converted.Get()) == 1);
    const VARIANT* level = &converted.Get();
    for (int depth = 0; depth < 3; ++depth) {
        REQUIRE(level->vt == (VT_ARRAY | VT_VARIANT));
        level = static_cast<const VARIANT*>(level->parray->pvData);
    }
    CHECK(level->vt == VT_I4);
    CHECK(level->lVal == 7);

    // A driver's value this deep would otherwise run the stack out.
    std::vector<PROPVARIANT> endless = NestedVectors(200000);
    ScopedVariant refused;
    CHECK(ConvertPropVariant(endless[0], refused.Get()) == 0);
    CHECK(refused.Get().vt == VT_EMPTY);
}
