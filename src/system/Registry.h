#pragma once

#include <windows.h>

#include "base/ScopedHandle.h"

class WideString;

// The registry-view access bits a caller may add to Open and Create.
constexpr REGSAM REGISTRY_VIEW_MASK = KEY_WOW64_64KEY | KEY_WOW64_32KEY;

// The view bits that reach the system: kept only for a 32-bit process under
// WOW64, where the two views differ; removed everywhere else.
REGSAM EffectiveViewBits(REGSAM view, int runsUnderWow64);

// Owns one open registry key. Every operation answers 1 or 0; system error
// codes are not passed on, callers keep their own defaults instead.
class RegistryKey
{
public:
    RegistryKey() = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Read-only; never creates.
    int Open(HKEY root, const wchar_t* subkey, REGSAM view = 0);
    // Opens the key, creating every missing level, with full access.
    int Create(HKEY root, const wchar_t* subkey, REGSAM view = 0);
    // A failed close keeps the handle so the destructor tries again.
    int Close();
    HKEY Handle() const { return key_.Get(); }
    bool IsOpen() const { return key_.IsValid(); }

    // The value's type is not checked; value is untouched on failure.
    int ReadDword(const wchar_t* name, DWORD& value);
    // size: capacity in bytes on entry, as the system leaves it on return.
    int ReadBinary(const wchar_t* name, void* buffer, DWORD& size);
    // Reads into a buffer of capacity wide characters and terminates the
    // text. On failure the size the system reported (in bytes) goes to
    // neededBytes when given.
    int ReadStringFixed(const wchar_t* name, wchar_t* buffer, DWORD capacity,
                        DWORD* neededBytes = nullptr);
    // Grows the string once when the value does not fit; the string is
    // left as it was on failure.
    int ReadString(const wchar_t* name, WideString& text);
    int WriteDword(const wchar_t* name, DWORD value);
    // REG_SZ including the terminating null.
    int WriteString(const wchar_t* name, const wchar_t* text);

private:
    ScopedRegistryKey key_;
};

// One-shot operations: open (or create), act and close, always in the
// default registry view.
DWORD ReadDwordValue(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD defaultValue);
int WriteDwordValue(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD value);
// On failure text becomes defaultText (empty when null) and 0 is returned.
int ReadStringValue(HKEY root, const wchar_t* subkey, const wchar_t* name, WideString& text,
                    const wchar_t* defaultText);
int WriteStringValue(HKEY root, const wchar_t* subkey, const wchar_t* name, const wchar_t* text);
