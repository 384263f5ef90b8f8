#pragma once

#include <windows.h>
#include <oleauto.h>
#include <propidl.h>

#include "base/ScopedHandle.h"
#include "base/WideString.h"

// Copies an automation string, embedded zeros cut as WideString does; a
// null one is the empty text.
inline int CopyBstr(BSTR text, WideString& target)
{
    return text ? target.Assign(text, SysStringLen(text)) : target.Assign(L"");
}

// A safe array of the program's own making, until a VARIANT takes it over.
struct SafeArrayTraits
{
    using Type = SAFEARRAY*;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type array) { return array != nullptr; }
    static void Close(Type array) { SafeArrayDestroy(array); }
};
using ScopedSafeArray = ScopedObject<SafeArrayTraits>;

// A VARIANT cleared (and whatever it holds released) when it goes.
class ScopedVariant
{
public:
    ScopedVariant() { VariantInit(&value_); }
    ~ScopedVariant() { VariantClear(&value_); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;

    VARIANT& Get() { return value_; }
    const VARIANT& Get() const { return value_; }
    // For out-parameters: clears the current value first.
    VARIANT* Receive()
    {
        VariantClear(&value_);
        return &value_;
    }
    // Gives up the value without clearing it; this object is empty after.
    VARIANT Detach()
    {
        VARIANT value = value_;
        VariantInit(&value_);
        return value;
    }

    int SetText(const wchar_t* text)
    {
        ScopedBstr copy = MakeBstr(text);
        if (!copy) {
            VariantClear(&value_);
            return 0;
        }
        Receive()->vt = VT_BSTR;
        value_.bstrVal = copy.Detach();
        return 1;
    }
    void SetInteger(long number)
    {
        Receive()->vt = VT_I4;
        value_.lVal = number;
    }
    void SetBool(bool flag)
    {
        Receive()->vt = VT_BOOL;
        value_.boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
    }
    // Takes over the object's reference.
    void SetObject(IUnknown* object)
    {
        Receive()->vt = VT_UNKNOWN;
        value_.punkVal = object;
    }
    // Takes over the array.
    void SetByteArray(SAFEARRAY* array)
    {
        Receive()->vt = VT_ARRAY | VT_UI1;
        value_.parray = array;
    }

private:
    VARIANT value_;
};

// A PROPVARIANT cleared (and whatever it holds released) when it goes.
class ScopedPropVariant
{
public:
    ScopedPropVariant() { PropVariantInit(&value_); }
    ~ScopedPropVariant() { PropVariantClear(&value_); }
    ScopedPropVariant(const ScopedPropVariant&) = delete;
    ScopedPropVariant& operator=(const ScopedPropVariant&) = delete;

    PROPVARIANT& Get() { return value_; }
    const PROPVARIANT& Get() const { return value_; }
    // For out-parameters: clears the current value first.
    PROPVARIANT* Receive()
    {
        PropVariantClear(&value_);
        return &value_;
    }

private:
    PROPVARIANT value_;
};
