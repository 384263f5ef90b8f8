#include "SimField.h"

#include <cmath>
#include <cstring>

namespace {

const double pi = 3.14159265358979323846;

// A fixed seed per key, so a scenario yields the same values on every run.
unsigned SeedOf(const PROPERTYKEY& key)
{
    return (key.fmtid.Data1 ^ (key.pid * 2654435761u)) | 1u;
}

// A number in [-1, 1) from a linear congruential generator.
double NextRandom(unsigned* state)
{
    *state = *state * 1664525u + 1013904223u;
    return static_cast<double>(*state >> 8) / static_cast<double>(1u << 23) - 1.0;
}

double Clamp(double value, double minimum, double maximum)
{
    return value < minimum ? minimum : value > maximum ? maximum : value;
}

double RampValue(const FieldDefinition& definition, unsigned updates)
{
    double value = definition.number + definition.step * updates;
    double range = definition.maximum - definition.minimum;
    if (range <= 0) {
        return value;
    }
    double offset = std::fmod(value - definition.minimum, range);
    return definition.minimum + (offset < 0 ? offset + range : offset);
}

LPWSTR CopyToTaskMemory(const std::wstring& text)
{
    size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (copy) {
        memcpy(copy, text.c_str(), bytes);
    }
    return copy;
}

int NumberValue(VARTYPE type, double number, PROPVARIANT* value)
{
    double rounded = std::floor(number + 0.5);
    value->vt = type;
    switch (type) {
    case VT_I1:
        value->cVal = static_cast<CHAR>(rounded);
        return 1;
    case VT_I2:
        value->iVal = static_cast<SHORT>(rounded);
        return 1;
    case VT_I4:
        value->lVal = static_cast<LONG>(rounded);
        return 1;
    case VT_INT:
        value->intVal = static_cast<INT>(rounded);
        return 1;
    case VT_I8:
        value->hVal.QuadPart = static_cast<LONGLONG>(rounded);
        return 1;
    case VT_UI1:
        value->bVal = static_cast<BYTE>(rounded);
        return 1;
    case VT_UI2:
        value->uiVal = static_cast<USHORT>(rounded);
        return 1;
    case VT_UI4:
        value->ulVal = static_cast<ULONG>(rounded);
        return 1;
    case VT_UINT:
        value->uintVal = static_cast<UINT>(rounded);
        return 1;
    case VT_UI8:
        value->uhVal.QuadPart = static_cast<ULONGLONG>(rounded);
        return 1;
    case VT_R4:
        value->fltVal = static_cast<FLOAT>(number);
        return 1;
    case VT_R8:
        value->dblVal = number;
        return 1;
    case VT_DATE:
        value->date = number;
        return 1;
    case VT_BOOL:
        value->boolVal = number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        return 1;
    case VT_ERROR:
        value->scode = static_cast<SCODE>(static_cast<unsigned long>(number));
        return 1;
    default:
        value->vt = VT_EMPTY;
        return 1;
    }
}

} // namespace

FieldState StartField(const FieldDefinition& definition)
{
    FieldState field;
    field.definition = definition;
    field.current = definition.number;
    field.random = SeedOf(definition.key);
    if (definition.generator == Generator::Walk) {
        field.current = Clamp(definition.number, definition.minimum, definition.maximum);
    }
    return field;
}

void AdvanceField(FieldState* field, unsigned intervalMs)
{
    const FieldDefinition& definition = field->definition;
    ++field->updates;
    switch (definition.generator) {
    case Generator::Sine: {
        double elapsed = static_cast<double>(field->updates) * (intervalMs ? intervalMs : 1000);
        field->current = definition.number +
                         definition.amplitude * std::sin(2 * pi * elapsed / definition.periodMs);
        break;
    }
    case Generator::Ramp:
        field->current = RampValue(definition, field->updates);
        break;
    case Generator::Walk:
        field->current = Clamp(field->current + definition.step * NextRandom(&field->random),
                               definition.minimum, definition.maximum);
        break;
    default:
        break;
    }
}

int FieldValue(const FieldState& field, const FILETIME& now, PROPVARIANT* value)
{
    const FieldDefinition& definition = field.definition;
    PropVariantInit(value);
    switch (definition.type) {
    case VT_LPWSTR:
        value->pwszVal = CopyToTaskMemory(definition.text);
        value->vt = value->pwszVal ? VT_LPWSTR : VT_EMPTY;
        return value->pwszVal != nullptr;
    case VT_BSTR:
        value->bstrVal =
            SysAllocStringLen(definition.text.c_str(), static_cast<UINT>(definition.text.size()));
        value->vt = value->bstrVal ? VT_BSTR : VT_EMPTY;
        return value->bstrVal != nullptr;
    case VT_CLSID:
        value->puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
        if (!value->puuid) {
            return 0;
        }
        *value->puuid = definition.guid;
        value->vt = VT_CLSID;
        return 1;
    case VT_FILETIME:
        value->vt = VT_FILETIME;
        value->filetime = definition.generator == Generator::Now ? now : definition.time;
        return 1;
    case VT_VECTOR | VT_UI1: {
        ULONG count = static_cast<ULONG>(definition.bytes.size());
        value->caub.pElems = static_cast<UCHAR*>(CoTaskMemAlloc(count ? count : 1));
        if (!value->caub.pElems) {
            return 0;
        }
        if (count) {
            memcpy(value->caub.pElems, definition.bytes.data(), count);
        }
        value->caub.cElems = count;
        value->vt = VT_VECTOR | VT_UI1;
        return 1;
    }
    default:
        return NumberValue(definition.type, field.current, value);
    }
}
