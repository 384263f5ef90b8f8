#include "SimValues.h"

#include <cstring>
#include <new>

namespace {

const HRESULT notFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

LPWSTR CopyString(LPCWSTR text)
{
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (copy) {
        memcpy(copy, text, bytes);
    }
    return copy;
}

} // namespace

bool SameKey(const PROPERTYKEY& a, const PROPERTYKEY& b)
{
    return a.pid == b.pid && IsEqualGUID(a.fmtid, b.fmtid);
}

PortableValues::~PortableValues()
{
    for (Entry& entry : entries_) {
        PropVariantClear(&entry.value);
    }
}

const PROPVARIANT* PortableValues::Find(const PROPERTYKEY& key) const
{
    for (const Entry& entry : entries_) {
        if (SameKey(entry.key, key)) {
            return &entry.value;
        }
    }
    return nullptr;
}

int PortableValues::Adopt(const PROPERTYKEY& key, PROPVARIANT* value)
{
    try {
        for (Entry& entry : entries_) {
            if (SameKey(entry.key, key)) {
                PropVariantClear(&entry.value);
                entry.value = *value;
                PropVariantInit(value);
                return 1;
            }
        }
        entries_.push_back(Entry{key, *value});
        PropVariantInit(value);
        return 1;
    } catch (...) {
        PropVariantClear(value);
        return 0;
    }
}

int PortableValues::Put(const PROPERTYKEY& key, const PROPVARIANT& value)
{
    PROPVARIANT copy;
    PropVariantInit(&copy);
    if (FAILED(PropVariantCopy(&copy, &value))) {
        return 0;
    }
    return Adopt(key, &copy);
}

HRESULT PortableValues::PutValue(const PROPERTYKEY& key, PROPVARIANT* value)
{
    return Adopt(key, value) ? S_OK : E_OUTOFMEMORY;
}

HRESULT PortableValues::Select(IPortableDeviceKeyCollection* keys, IPortableDeviceValues** selected)
{
    if (!selected) {
        return E_POINTER;
    }
    *selected = nullptr;
    ComPtr<PortableValues> result(new (std::nothrow) PortableValues);
    if (!result) {
        return E_OUTOFMEMORY;
    }
    if (!keys) {
        for (const Entry& entry : entries_) {
            if (!result->Put(entry.key, entry.value)) {
                return E_OUTOFMEMORY;
            }
        }
    } else {
        DWORD count = 0;
        HRESULT hr = keys->GetCount(&count);
        for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
            PROPERTYKEY key = {};
            hr = keys->GetAt(i, &key);
            const PROPVARIANT* value = SUCCEEDED(hr) ? Find(key) : nullptr;
            if (value && !result->Put(key, *value)) {
                return E_OUTOFMEMORY;
            }
        }
        if (FAILED(hr)) {
            return hr;
        }
    }
    *selected = result.Detach();
    return S_OK;
}

const PROPVARIANT* PortableValues::FindTyped(const PROPERTYKEY& key, VARTYPE type,
                                             HRESULT* result) const
{
    const PROPVARIANT* value = Find(key);
    *result = !value ? notFound : value->vt != type ? DISP_E_TYPEMISMATCH : S_OK;
    return SUCCEEDED(*result) ? value : nullptr;
}

HRESULT PortableValues::GetCount(DWORD* count)
{
    if (!count) {
        return E_POINTER;
    }
    *count = static_cast<DWORD>(entries_.size());
    return S_OK;
}

HRESULT PortableValues::GetAt(const DWORD index, PROPERTYKEY* key, PROPVARIANT* value)
{
    if (!key && !value) {
        return E_POINTER;
    }
    if (index >= entries_.size()) {
        return E_INVALIDARG;
    }
    if (value) {
        PropVariantInit(value);
        HRESULT hr = PropVariantCopy(value, &entries_[index].value);
        if (FAILED(hr)) {
            return hr;
        }
    }
    if (key) {
        *key = entries_[index].key;
    }
    return S_OK;
}

HRESULT PortableValues::SetValue(REFPROPERTYKEY key, const PROPVARIANT* value)
{
    if (!value) {
        return E_POINTER;
    }
    return Put(key, *value) ? S_OK : E_OUTOFMEMORY;
}

HRESULT PortableValues::GetValue(REFPROPERTYKEY key, PROPVARIANT* value)
{
    if (!value) {
        return E_POINTER;
    }
    const PROPVARIANT* stored = Find(key);
    if (!stored) {
        return notFound;
    }
    PropVariantInit(value);
    return PropVariantCopy(value, stored);
}

HRESULT PortableValues::SetStringValue(REFPROPERTYKEY key, LPCWSTR value)
{
    if (!value) {
        return E_POINTER;
    }
    PROPVARIANT stored;
    PropVariantInit(&stored);
    stored.pwszVal = CopyString(value);
    if (!stored.pwszVal) {
        return E_OUTOFMEMORY;
    }
    stored.vt = VT_LPWSTR;
    return PutValue(key, &stored);
}

HRESULT PortableValues::GetStringValue(REFPROPERTYKEY key, LPWSTR* value)
{
    if (!value) {
        return E_POINTER;
    }
    HRESULT hr = S_OK;
    const PROPVARIANT* stored = FindTyped(key, VT_LPWSTR, &hr);
    if (!stored) {
        return hr;
    }
    LPWSTR copy = CopyString(stored->pwszVal ? stored->pwszVal : L"");
    if (!copy) {
        return E_OUTOFMEMORY;
    }
    *value = copy;
    return S_OK;
}

// The typed setters and getters of plain values differ only in type and member.
#define SIM_TYPED_ACCESSORS(Name, CType, Vt, Member)                                               \
    HRESULT PortableValues::Set##Name(REFPROPERTYKEY key, const CType value)                       \
    {                                                                                              \
        PROPVARIANT stored;                                                                        \
        PropVariantInit(&stored);                                                                  \
        stored.vt = Vt;                                                                            \
        stored.Member = value;                                                                     \
        return PutValue(key, &stored);                                                             \
    }                                                                                              \
    HRESULT PortableValues::Get##Name(REFPROPERTYKEY key, CType* value)                            \
    {                                                                                              \
        return ReadTyped(key, Vt, value, [](const PROPVARIANT& stored) { return stored.Member; }); \
    }

SIM_TYPED_ACCESSORS(UnsignedIntegerValue, ULONG, VT_UI4, ulVal)
SIM_TYPED_ACCESSORS(SignedIntegerValue, LONG, VT_I4, lVal)
SIM_TYPED_ACCESSORS(UnsignedLargeIntegerValue, ULONGLONG, VT_UI8, uhVal.QuadPart)
SIM_TYPED_ACCESSORS(SignedLargeIntegerValue, LONGLONG, VT_I8, hVal.QuadPart)
SIM_TYPED_ACCESSORS(FloatValue, FLOAT, VT_R4, fltVal)
SIM_TYPED_ACCESSORS(ErrorValue, HRESULT, VT_ERROR, scode)

#undef SIM_TYPED_ACCESSORS

HRESULT PortableValues::SetBoolValue(REFPROPERTYKEY key, const WINBOOL value)
{
    PROPVARIANT stored;
    PropVariantInit(&stored);
    stored.vt = VT_BOOL;
    stored.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return PutValue(key, &stored);
}

HRESULT PortableValues::GetBoolValue(REFPROPERTYKEY key, WINBOOL* value)
{
    return ReadTyped(key, VT_BOOL, value, [](const PROPVARIANT& stored) -> WINBOOL {
        return stored.boolVal != VARIANT_FALSE;
    });
}

HRESULT PortableValues::SetGuidValue(REFPROPERTYKEY key, REFGUID value)
{
    PROPVARIANT stored;
    PropVariantInit(&stored);
    stored.puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
    if (!stored.puuid) {
        return E_OUTOFMEMORY;
    }
    *stored.puuid = value;
    stored.vt = VT_CLSID;
    return PutValue(key, &stored);
}

HRESULT PortableValues::GetGuidValue(REFPROPERTYKEY key, GUID* value)
{
    return ReadTyped(key, VT_CLSID, value, [](const PROPVARIANT& stored) {
        return stored.puuid ? *stored.puuid : GUID_NULL;
    });
}

HRESULT PortableValues::SetIUnknownValue(REFPROPERTYKEY key, IUnknown* value)
{
    if (!value) {
        return E_POINTER;
    }
    PROPVARIANT stored;
    PropVariantInit(&stored);
    stored.vt = VT_UNKNOWN;
    stored.punkVal = value;
    value->AddRef();
    return PutValue(key, &stored);
}

HRESULT PortableValues::GetIUnknownValue(REFPROPERTYKEY key, IUnknown** value)
{
    return ReadTyped(key, VT_UNKNOWN, value, [](const PROPVARIANT& stored) {
        return ComPtr<IUnknown>::Share(stored.punkVal).Detach();
    });
}

HRESULT PortableValues::SetBufferValue(REFPROPERTYKEY key, BYTE* value, DWORD size)
{
    if (!value && size) {
        return E_POINTER;
    }
    PROPVARIANT stored;
    PropVariantInit(&stored);
    stored.caub.pElems = static_cast<UCHAR*>(CoTaskMemAlloc(size ? size : 1));
    if (!stored.caub.pElems) {
        return E_OUTOFMEMORY;
    }
    if (size) {
        memcpy(stored.caub.pElems, value, size);
    }
    stored.caub.cElems = size;
    stored.vt = VT_VECTOR | VT_UI1;
    return PutValue(key, &stored);
}

HRESULT PortableValues::GetBufferValue(REFPROPERTYKEY key, BYTE** value, DWORD* size)
{
    if (!value || !size) {
        return E_POINTER;
    }
    HRESULT hr = S_OK;
    const PROPVARIANT* stored = FindTyped(key, VT_VECTOR | VT_UI1, &hr);
    if (!stored) {
        return hr;
    }
    DWORD count = stored->caub.cElems;
    auto* copy = static_cast<BYTE*>(CoTaskMemAlloc(count ? count : 1));
    if (!copy) {
        return E_OUTOFMEMORY;
    }
    if (count) {
        memcpy(copy, stored->caub.pElems, count);
    }
    *value = copy;
    *size = count;
    return S_OK;
}

HRESULT PortableValues::SetKeyValue(REFPROPERTYKEY, REFPROPERTYKEY)
{
    return E_NOTIMPL;
}

HRESULT PortableValues::GetKeyValue(REFPROPERTYKEY, PROPERTYKEY*)
{
    return E_NOTIMPL;
}

HRESULT PortableValues::SetIPortableDeviceValuesValue(REFPROPERTYKEY, IPortableDeviceValues*)
{
    return E_NOTIMPL;
}

HRESULT PortableValues::GetIPortableDeviceValuesValue(REFPROPERTYKEY, IPortableDeviceValues**)
{
    return E_NOTIMPL;
}

HRESULT
PortableValues::SetIPortableDevicePropVariantCollectionValue(REFPROPERTYKEY,
                                                             IPortableDevicePropVariantCollection*)
{
    return E_NOTIMPL;
}

HRESULT
PortableValues::GetIPortableDevicePropVariantCollectionValue(REFPROPERTYKEY,
                                                             IPortableDevicePropVariantCollection**)
{
    return E_NOTIMPL;
}

HRESULT PortableValues::SetIPortableDeviceKeyCollectionValue(REFPROPERTYKEY,
                                                             IPortableDeviceKeyCollection*)
{
    return E_NOTIMPL;
}

HRESULT PortableValues::GetIPortableDeviceKeyCollectionValue(REFPROPERTYKEY,
                                                             IPortableDeviceKeyCollection**)
{
    return E_NOTIMPL;
}

HRESULT PortableValues::SetIPortableDeviceValuesCollectionValue(REFPROPERTYKEY,
                                                                IPortableDeviceValuesCollection*)
{
    return E_NOTIMPL;
}

HRESULT PortableValues::GetIPortableDeviceValuesCollectionValue(REFPROPERTYKEY,
                                                                IPortableDeviceValuesCollection**)
{
    return E_NOTIMPL;
}

HRESULT PortableValues::RemoveValue(REFPROPERTYKEY key)
{
    for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
        if (SameKey(entry->key, key)) {
            PropVariantClear(&entry->value);
            entries_.erase(entry);
            return S_OK;
        }
    }
    return notFound;
}

HRESULT PortableValues::CopyValuesFromPropertyStore(IPropertyStore*)
{
    return E_NOTIMPL;
}

HRESULT PortableValues::CopyValuesToPropertyStore(IPropertyStore*)
{
    return E_NOTIMPL;
}

HRESULT PortableValues::Clear()
{
    for (Entry& entry : entries_) {
        PropVariantClear(&entry.value);
    }
    entries_.clear();
    return S_OK;
}

int KeyCollection::Append(const PROPERTYKEY& key)
{
    try {
        keys_.push_back(key);
        return 1;
    } catch (...) {
        return 0;
    }
}

HRESULT KeyCollection::GetCount(DWORD* count)
{
    if (!count) {
        return E_POINTER;
    }
    *count = static_cast<DWORD>(keys_.size());
    return S_OK;
}

HRESULT KeyCollection::GetAt(const DWORD index, PROPERTYKEY* key)
{
    if (!key) {
        return E_POINTER;
    }
    if (index >= keys_.size()) {
        return E_INVALIDARG;
    }
    *key = keys_[index];
    return S_OK;
}

HRESULT KeyCollection::Add(REFPROPERTYKEY key)
{
    return Append(key) ? S_OK : E_OUTOFMEMORY;
}

HRESULT KeyCollection::Clear()
{
    keys_.clear();
    return S_OK;
}

HRESULT KeyCollection::RemoveAt(const DWORD index)
{
    if (index >= keys_.size()) {
        return E_INVALIDARG;
    }
    keys_.erase(keys_.begin() + index);
    return S_OK;
}
