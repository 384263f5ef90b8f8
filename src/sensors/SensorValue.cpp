#include "sensors/SensorValue.h"

#include "base/ComValue.h"
#include "base/DynamicLibrary.h"
#include "system/SystemInfo.h"

#include <string.h>

namespace {

// Element types whose vector elements are copied byte for byte.
bool IsPlainElement(VARTYPE type)
{
    switch (type) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_R4:
    case VT_R8:
    case VT_BOOL:
    case VT_CY:
    case VT_DATE:
    case VT_ERROR:
        return true;
    default:
        return false;
    }
}

// Types that a VARIANT holds in the same layout as a PROPVARIANT, so that
// VariantCopy takes them over unchanged.
bool IsSharedScalar(VARTYPE type)
{
    switch (type) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_INT:
    case VT_UINT:
    case VT_DECIMAL:
    case VT_BSTR:
        return true;
    default:
        return IsPlainElement(type);
    }
}

BSTR NarrowToBstr(const char* text)
{
    if (!text) {
        return SysAllocString(L"");
    }
    int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (units <= 0) {
        return nullptr;
    }
    BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(units - 1));
    if (result) {
        MultiByteToWideChar(CP_ACP, 0, text, -1, result, units);
    }
    return result;
}

BSTR GuidToBstr(const GUID& guid)
{
    wchar_t text[64];
    return StringFromGUID2(guid, text, 64) ? SysAllocString(text) : nullptr;
}

int FileTimeToDate(const FILETIME& time, DATE& date)
{
    SYSTEMTIME parts;
    return FileTimeToSystemTime(&time, &parts) && SystemTimeToVariantTime(&parts, &date);
}

int StoreBstr(BSTR copy, void* target)
{
    *static_cast<BSTR*>(target) = copy;
    return copy != nullptr;
}

// Stores one vector element into a safe array element of the converted type.
int ConvertElement(VARTYPE type, const BYTE* element, void* target)
{
    switch (type) {
    case VT_LPWSTR: {
        const wchar_t* text = *reinterpret_cast<const LPWSTR*>(element);
        return StoreBstr(SysAllocString(text ? text : L""), target);
    }
    case VT_BSTR: {
        BSTR text = *reinterpret_cast<const BSTR*>(element);
        return StoreBstr(SysAllocStringLen(text, SysStringLen(text)), target);
    }
    case VT_LPSTR:
        return StoreBstr(NarrowToBstr(*reinterpret_cast<const LPSTR*>(element)), target);
    case VT_CLSID:
        return StoreBstr(GuidToBstr(*reinterpret_cast<const CLSID*>(element)), target);
    case VT_FILETIME:
        return FileTimeToDate(*reinterpret_cast<const FILETIME*>(element),
                              *static_cast<DATE*>(target));
    case VT_VARIANT:
        return ConvertPropVariant(*reinterpret_cast<const PROPVARIANT*>(element),
                                  *static_cast<VARIANT*>(target));
    default:
        return 0;
    }
}

struct VectorShape
{
    VARTYPE arrayType;
    size_t sourceSize;
};

int ShapeOfVector(VARTYPE element, VectorShape& shape)
{
    switch (element) {
    case VT_LPWSTR:
    case VT_LPSTR:
        shape = {VT_BSTR, sizeof(char*)};
        return 1;
    case VT_BSTR:
        shape = {VT_BSTR, sizeof(BSTR)};
        return 1;
    case VT_CLSID:
        shape = {VT_BSTR, sizeof(CLSID)};
        return 1;
    case VT_FILETIME:
        shape = {VT_DATE, sizeof(FILETIME)};
        return 1;
    case VT_VARIANT:
        shape = {VT_VARIANT, sizeof(PROPVARIANT)};
        return 1;
    default:
        return 0;
    }
}

int ConvertVector(const PROPVARIANT& source, VARIANT& target)
{
    const VARTYPE element = static_cast<VARTYPE>(source.vt & VT_TYPEMASK);
    // Every counted array of a PROPVARIANT has the same layout: a count and
    // a pointer to the elements.
    const ULONG count = source.caub.cElems;
    const BYTE* elements = source.caub.pElems;
    VectorShape shape = {};
    const bool plain = IsPlainElement(element);
    if (!plain && !ShapeOfVector(element, shape)) {
        return 0;
    }
    ScopedSafeArray array(SafeArrayCreateVector(plain ? element : shape.arrayType, 0, count));
    void* data = nullptr;
    if (!array || FAILED(SafeArrayAccessData(array.Get(), &data))) {
        return 0;
    }
    const UINT targetSize = SafeArrayGetElemsize(array.Get());
    int converted = 1;
    if (plain) {
        if (count) {
            memcpy(data, elements, static_cast<size_t>(count) * targetSize);
        }
    } else {
        for (ULONG i = 0; i < count && converted; ++i) {
            converted = ConvertElement(element, elements + i * shape.sourceSize,
                                       static_cast<BYTE*>(data) + i * targetSize);
        }
    }
    SafeArrayUnaccessData(array.Get());
    if (!converted) {
        return 0;
    }
    target.vt = static_cast<VARTYPE>(VT_ARRAY | (plain ? element : shape.arrayType));
    target.parray = array.Detach();
    return 1;
}

int ConvertWithBstr(BSTR text, VARIANT& target)
{
    if (!text) {
        return 0;
    }
    target.vt = VT_BSTR;
    target.bstrVal = text;
    return 1;
}

int ConvertScalar(const PROPVARIANT& source, VARIANT& target)
{
    if (IsSharedScalar(source.vt)) {
        return SUCCEEDED(
            VariantCopy(&target, reinterpret_cast<VARIANT*>(const_cast<PROPVARIANT*>(&source))));
    }
    switch (source.vt) {
    case VT_LPWSTR:
        return ConvertWithBstr(SysAllocString(source.pwszVal ? source.pwszVal : L""), target);
    case VT_LPSTR:
        return ConvertWithBstr(NarrowToBstr(source.pszVal), target);
    case VT_CLSID:
        return source.puuid && ConvertWithBstr(GuidToBstr(*source.puuid), target);
    case VT_FILETIME: {
        DATE date = 0;
        if (!FileTimeToDate(source.filetime, date)) {
            return 0;
        }
        target.vt = VT_DATE;
        target.date = date;
        return 1;
    }
    default:
        return 0;
    }
}

// A one-dimensional byte array as hexadecimal bytes.
int FormatByteArray(SAFEARRAY* array, WideString& text)
{
    LONG lower = 0;
    LONG upper = -1;
    if (!array || SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(array, 1, &upper))) {
        return 0;
    }
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) {
        return 0;
    }
    const size_t count = upper >= lower ? static_cast<size_t>(upper - lower) + 1 : 0;
    const int ok = FormatHexBytes(static_cast<const BYTE*>(data), count, text);
    SafeArrayUnaccessData(array);
    return ok;
}

// Vectors of variants may hold vectors of variants: a value nested deeper
// than any sensor reports is refused rather than followed down the stack.
constexpr int kMaxValueNesting = 16;
thread_local int tValueNesting = 0;

class NestingGuard
{
public:
    NestingGuard() { ++tValueNesting; }
    ~NestingGuard() { --tValueNesting; }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;
    bool TooDeep() const { return tValueNesting > kMaxValueNesting; }
};

using PropVariantToVariantFunction = HRESULT(WINAPI*)(const PROPVARIANT*, VARIANT*);

// The platform's conversion, looked up for each value so that a system
// without propsys.dll still shows the names.
int ConvertWithPropsys(const PROPVARIANT& source, VARIANT& target)
{
    DynamicLibrary propsys;
    if (!propsys.Load(L"propsys.dll")) {
        return 0;
    }
    auto convert = propsys.Symbol<PropVariantToVariantFunction>("PropVariantToVariant");
    if (!convert || FAILED(convert(&source, &target))) {
        VariantInit(&target);
        return 0;
    }
    return 1;
}

} // namespace

int ConvertPropVariant(const PROPVARIANT& source, VARIANT& target)
{
    NestingGuard nesting;
    if (nesting.TooDeep() || (source.vt & (VT_ARRAY | VT_BYREF))) {
        return 0;
    }
    ScopedVariant converted;
    const int ok = (source.vt & VT_VECTOR) ? ConvertVector(source, converted.Get())
                                           : ConvertScalar(source, converted.Get());
    if (!ok) {
        return 0;
    }
    target = converted.Detach();
    return 1;
}

int ConvertReportedValue(const PROPVARIANT& source, VARIANT& target)
{
    static const bool wine = IsWine();
    return wine ? ConvertPropVariant(source, target) : ConvertWithPropsys(source, target);
}

int FormatHexBytes(const BYTE* bytes, size_t count, WideString& text)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    WideString hex;
    for (size_t i = 0; i < count; ++i) {
        if ((i && !hex.Append(L' ')) || !hex.Append(digits[bytes[i] >> 4]) ||
            !hex.Append(digits[bytes[i] & 0xF])) {
            return 0;
        }
    }
    return text.Assign(hex.Data());
}

int FormatSensorValue(const VARIANT& value, WideString& text)
{
    switch (value.vt) {
    case VT_BOOL:
        return text.Assign(value.boolVal ? L"True" : L"False");
    case VT_ARRAY | VT_UI1:
        return FormatByteArray(value.parray, text);
    case VT_EMPTY:
        return text.Assign(L"");
    case VT_R4:
        return Format(text, L"%f", static_cast<double>(value.fltVal));
    case VT_R8:
        // "%f" rather than "%Lf": the same six decimals for a double, and
        // safe whether the formatter takes long double as 8 or 10 bytes.
        return Format(text, L"%f", value.dblVal);
    case VT_BSTR:
        return CopyBstr(value.bstrVal, text);
    default:
        break;
    }
    ScopedVariant converted;
    if (FAILED(VariantChangeType(converted.Receive(), const_cast<VARIANT*>(&value), 0, VT_BSTR))) {
        return 0;
    }
    return CopyBstr(converted.Get().bstrVal, text);
}
