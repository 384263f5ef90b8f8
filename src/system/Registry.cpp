#include "system/Registry.h"

#include "base/WideString.h"
#include "system/Wow64.h"

namespace {

REGSAM ViewBitsForThisProcess(REGSAM view)
{
    if (!(view & REGISTRY_VIEW_MASK)) {
        return 0;
    }
    return EffectiveViewBits(view, IsWow64(nullptr));
}

} // namespace

REGSAM EffectiveViewBits(REGSAM view, int runsUnderWow64)
{
    // A 64-bit process has no WOW64; only a 32-bit one under it sees two views.
    const bool is32BitProcess = sizeof(void*) == 4;
    if (is32BitProcess && runsUnderWow64) {
        return view & REGISTRY_VIEW_MASK;
    }
    return 0;
}

int RegistryKey::Open(HKEY root, const wchar_t* subkey, REGSAM view)
{
    // A handle that would not close stays with this object.
    if (!Close()) {
        return 0;
    }
    HKEY key = nullptr;
    REGSAM access = KEY_READ | ViewBitsForThisProcess(view);
    if (RegOpenKeyExW(root, subkey, 0, access, &key) != ERROR_SUCCESS) {
        return 0;
    }
    key_.Reset(key);
    return 1;
}

int RegistryKey::Create(HKEY root, const wchar_t* subkey, REGSAM view)
{
    if (!Close()) {
        return 0;
    }
    HKEY key = nullptr;
    REGSAM viewBits = ViewBitsForThisProcess(view);
    LONG result;
    if (viewBits == 0) {
        result = RegCreateKeyW(root, subkey, &key);
    } else {
        result = RegCreateKeyExW(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_ALL_ACCESS | viewBits, nullptr, &key, nullptr);
    }
    if (result != ERROR_SUCCESS) {
        return 0;
    }
    key_.Reset(key);
    return 1;
}

int RegistryKey::Close()
{
    if (!key_) {
        return 1;
    }
    if (RegCloseKey(key_.Get()) != ERROR_SUCCESS) {
        return 0;
    }
    key_.Detach();
    return 1;
}

int RegistryKey::ReadDword(const wchar_t* name, DWORD& value)
{
    if (!key_) {
        return 0;
    }
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (RegQueryValueExW(key_.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data),
                         &size) != ERROR_SUCCESS) {
        return 0;
    }
    value = data;
    return 1;
}

int RegistryKey::ReadBinary(const wchar_t* name, void* buffer, DWORD& size)
{
    if (!key_) {
        return 0;
    }
    return RegQueryValueExW(key_.Get(), name, nullptr, nullptr, static_cast<BYTE*>(buffer),
                            &size) == ERROR_SUCCESS;
}

int RegistryKey::ReadStringFixed(const wchar_t* name, wchar_t* buffer, DWORD capacity,
                                 DWORD* neededBytes)
{
    if (!key_ || !buffer || capacity == 0) {
        return 0;
    }
    DWORD size = capacity * sizeof(wchar_t);
    LONG result = RegQueryValueExW(key_.Get(), name, nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(buffer), &size);
    if (result != ERROR_SUCCESS) {
        if (neededBytes) {
            *neededBytes = size;
        }
        return 0;
    }
    // A value may be stored without its terminator; it fits only when
    // there is room to add one.
    const DWORD units = size / sizeof(wchar_t);
    if (units > 0 && buffer[units - 1] == L'\0') {
        return 1;
    }
    if (units >= capacity) {
        if (neededBytes) {
            *neededBytes = size + sizeof(wchar_t);
        }
        return 0;
    }
    buffer[units] = L'\0';
    return 1;
}

int RegistryKey::ReadString(const wchar_t* name, WideString& text)
{
    // Read into a scratch string so that a failure leaves the caller's text.
    WideString value;
    DWORD needed = 0;
    if (!ReadStringFixed(name, value.Data(), value.Capacity(), &needed)) {
        unsigned units = (needed + 1) / sizeof(wchar_t) + 1;
        if (!value.Reserve(units + 1) ||
            !ReadStringFixed(name, value.Data(), value.Capacity(), nullptr)) {
            return 0;
        }
    }
    value.RefreshCount();
    return text.Assign(value);
}

int RegistryKey::WriteDword(const wchar_t* name, DWORD value)
{
    if (!key_) {
        return 0;
    }
    return RegSetValueExW(key_.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value)) == ERROR_SUCCESS;
}

int RegistryKey::WriteString(const wchar_t* name, const wchar_t* text)
{
    if (!key_ || !text) {
        return 0;
    }
    DWORD bytes = static_cast<DWORD>((lstrlenW(text) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key_.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          bytes) == ERROR_SUCCESS;
}

DWORD ReadDwordValue(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD defaultValue)
{
    RegistryKey key;
    DWORD value = defaultValue;
    if (key.Open(root, subkey)) {
        key.ReadDword(name, value);
    }
    return value;
}

int WriteDwordValue(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD value)
{
    RegistryKey key;
    if (!key.Create(root, subkey)) {
        return 0;
    }
    int written = key.WriteDword(name, value);
    key.Close();
    return written;
}

int ReadStringValue(HKEY root, const wchar_t* subkey, const wchar_t* name, WideString& text,
                    const wchar_t* defaultText)
{
    RegistryKey key;
    if (key.Open(root, subkey) && key.ReadString(name, text)) {
        return 1;
    }
    text.Assign(defaultText ? defaultText : L"");
    return 0;
}

int WriteStringValue(HKEY root, const wchar_t* subkey, const wchar_t* name, const wchar_t* text)
{
    RegistryKey key;
    if (!key.Create(root, subkey)) {
        return 0;
    }
    int written = key.WriteString(name, text);
    key.Close();
    return written;
}
