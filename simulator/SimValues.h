#pragma once

#include "SimCom.h"

#include <portabledevicetypes.h>

#include <vector>

// A set of (key, value) pairs in insertion order, as reports, events and
// sensor properties hand them out. Not shared between threads while it is
// being filled; afterwards only read, or changed by its one holder.
class PortableValues : public SimObject<IPortableDeviceValues>
{
public:
    PortableValues() = default;
    ~PortableValues() override;

    // Stores a copy of value (replacing one of the same key); 0 if out of memory.
    int Put(const PROPERTYKEY& key, const PROPVARIANT& value);
    // Stores value itself, which the set then clears.
    int Adopt(const PROPERTYKEY& key, PROPVARIANT* value);
    // A new set with copies of the values whose keys are listed (all if keys is null).
    HRESULT Select(IPortableDeviceKeyCollection* keys, IPortableDeviceValues** selected);
    const PROPVARIANT* Find(const PROPERTYKEY& key) const;

    HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override;
    HRESULT STDMETHODCALLTYPE GetAt(const DWORD index, PROPERTYKEY* key,
                                    PROPVARIANT* value) override;
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, const PROPVARIANT* value) override;
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override;
    HRESULT STDMETHODCALLTYPE SetStringValue(REFPROPERTYKEY key, LPCWSTR value) override;
    HRESULT STDMETHODCALLTYPE GetStringValue(REFPROPERTYKEY key, LPWSTR* value) override;
    HRESULT STDMETHODCALLTYPE SetUnsignedIntegerValue(REFPROPERTYKEY key,
                                                      const ULONG value) override;
    HRESULT STDMETHODCALLTYPE GetUnsignedIntegerValue(REFPROPERTYKEY key, ULONG* value) override;
    HRESULT STDMETHODCALLTYPE SetSignedIntegerValue(REFPROPERTYKEY key, const LONG value) override;
    HRESULT STDMETHODCALLTYPE GetSignedIntegerValue(REFPROPERTYKEY key, LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetUnsignedLargeIntegerValue(REFPROPERTYKEY key,
                                                           const ULONGLONG value) override;
    HRESULT STDMETHODCALLTYPE GetUnsignedLargeIntegerValue(REFPROPERTYKEY key,
                                                           ULONGLONG* value) override;
    HRESULT STDMETHODCALLTYPE SetSignedLargeIntegerValue(REFPROPERTYKEY key,
                                                         const LONGLONG value) override;
    HRESULT STDMETHODCALLTYPE GetSignedLargeIntegerValue(REFPROPERTYKEY key,
                                                         LONGLONG* value) override;
    HRESULT STDMETHODCALLTYPE SetFloatValue(REFPROPERTYKEY key, const FLOAT value) override;
    HRESULT STDMETHODCALLTYPE GetFloatValue(REFPROPERTYKEY key, FLOAT* value) override;
    HRESULT STDMETHODCALLTYPE SetErrorValue(REFPROPERTYKEY key, const HRESULT value) override;
    HRESULT STDMETHODCALLTYPE GetErrorValue(REFPROPERTYKEY key, HRESULT* value) override;
    HRESULT STDMETHODCALLTYPE SetKeyValue(REFPROPERTYKEY key, REFPROPERTYKEY value) override;
    HRESULT STDMETHODCALLTYPE GetKeyValue(REFPROPERTYKEY key, PROPERTYKEY* value) override;
    HRESULT STDMETHODCALLTYPE SetBoolValue(REFPROPERTYKEY key, const WINBOOL value) override;
    HRESULT STDMETHODCALLTYPE GetBoolValue(REFPROPERTYKEY key, WINBOOL* value) override;
    HRESULT STDMETHODCALLTYPE SetIUnknownValue(REFPROPERTYKEY key, IUnknown* value) override;
    HRESULT STDMETHODCALLTYPE GetIUnknownValue(REFPROPERTYKEY key, IUnknown** value) override;
    HRESULT STDMETHODCALLTYPE SetGuidValue(REFPROPERTYKEY key, REFGUID value) override;
    HRESULT STDMETHODCALLTYPE GetGuidValue(REFPROPERTYKEY key, GUID* value) override;
    HRESULT STDMETHODCALLTYPE SetBufferValue(REFPROPERTYKEY key, BYTE* value, DWORD size) override;
    HRESULT STDMETHODCALLTYPE GetBufferValue(REFPROPERTYKEY key, BYTE** value,
                                             DWORD* size) override;
    HRESULT STDMETHODCALLTYPE SetIPortableDeviceValuesValue(REFPROPERTYKEY key,
                                                            IPortableDeviceValues* value) override;
    HRESULT STDMETHODCALLTYPE GetIPortableDeviceValuesValue(REFPROPERTYKEY key,
                                                            IPortableDeviceValues** value) override;
    HRESULT STDMETHODCALLTYPE SetIPortableDevicePropVariantCollectionValue(
        REFPROPERTYKEY key, IPortableDevicePropVariantCollection* value) override;
    HRESULT STDMETHODCALLTYPE GetIPortableDevicePropVariantCollectionValue(
        REFPROPERTYKEY key, IPortableDevicePropVariantCollection** value) override;
    HRESULT STDMETHODCALLTYPE SetIPortableDeviceKeyCollectionValue(
        REFPROPERTYKEY key, IPortableDeviceKeyCollection* value) override;
    HRESULT STDMETHODCALLTYPE GetIPortableDeviceKeyCollectionValue(
        REFPROPERTYKEY key, IPortableDeviceKeyCollection** value) override;
    HRESULT STDMETHODCALLTYPE SetIPortableDeviceValuesCollectionValue(
        REFPROPERTYKEY key, IPortableDeviceValuesCollection* value) override;
    HRESULT STDMETHODCALLTYPE GetIPortableDeviceValuesCollectionValue(
        REFPROPERTYKEY key, IPortableDeviceValuesCollection** value) override;
    HRESULT STDMETHODCALLTYPE RemoveValue(REFPROPERTYKEY key) override;
    HRESULT STDMETHODCALLTYPE CopyValuesFromPropertyStore(IPropertyStore* store) override;
    HRESULT STDMETHODCALLTYPE CopyValuesToPropertyStore(IPropertyStore* store) override;
    HRESULT STDMETHODCALLTYPE Clear() override;

private:
    struct Entry
    {
        PROPERTYKEY key;
        PROPVARIANT value;
    };

    // The stored value of key with the given type, or null.
    const PROPVARIANT* FindTyped(const PROPERTYKEY& key, VARTYPE type, HRESULT* result) const;
    // Stores read(stored value) in *value when key holds a value of the given
    // type; answers E_POINTER, the lookup's failure or S_OK.
    template <class Value, class Read>
    HRESULT ReadTyped(const PROPERTYKEY& key, VARTYPE type, Value* value, Read read) const
    {
        if (!value) {
            return E_POINTER;
        }
        HRESULT hr = S_OK;
        const PROPVARIANT* stored = FindTyped(key, type, &hr);
        if (stored) {
            *value = read(*stored);
        }
        return hr;
    }
    HRESULT PutValue(const PROPERTYKEY& key, PROPVARIANT* value);

    std::vector<Entry> entries_;
};

// An ordered list of property keys.
class KeyCollection : public SimObject<IPortableDeviceKeyCollection>
{
public:
    int Append(const PROPERTYKEY& key);

    HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override;
    HRESULT STDMETHODCALLTYPE GetAt(const DWORD index, PROPERTYKEY* key) override;
    HRESULT STDMETHODCALLTYPE Add(REFPROPERTYKEY key) override;
    HRESULT STDMETHODCALLTYPE Clear() override;
    HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD index) override;

private:
    std::vector<PROPERTYKEY> keys_;
};

bool SameKey(const PROPERTYKEY& a, const PROPERTYKEY& b);
