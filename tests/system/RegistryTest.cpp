#include <doctest.h>

#include "base/WideString.h"
#include "system/Registry.h"

#include <string>

namespace {

const wchar_t kTestKey[] = L"Software\\Brindle\\TesselTest";

// Gives each test case a fresh test key and removes it afterwards.
struct TestKey
{
    TestKey() { RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey); }
    ~TestKey() { RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey); }

    // Stores raw bytes with a type, bypassing the wrapper.
    static void StoreRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes)
    {
        REQUIRE(RegSetKeyValueW(HKEY_CURRENT_USER, kTestKey, name, type, data, bytes) ==
                ERROR_SUCCESS);
    }
};

} // namespace

TEST_CASE("view bits reach the system only for a 32-bit process under WOW64")
{
    const REGSAM both = KEY_WOW64_64KEY | KEY_WOW64_32KEY;
    const REGSAM expectedUnderWow64 = sizeof(void*) == 4 ? KEY_WOW64_64KEY : 0;
    CHECK(EffectiveViewBits(KEY_WOW64_64KEY | KEY_READ, 1) == expectedUnderWow64);
    CHECK(EffectiveViewBits(both, 1) == (sizeof(void*) == 4 ? both : 0));
    CHECK(EffectiveViewBits(both, 0) == 0);
}

TEST_CASE("one-shot values fall back to their defaults; reading creates no key")
{
    TestKey scope;
    WideString text(L"previous");
    CHECK(ReadDwordValue(HKEY_CURRENT_USER, kTestKey, L"Missing", 77) == 77);
    CHECK(ReadStringValue(HKEY_CURRENT_USER, kTestKey, L"Missing", text, L"fallback") == 0);
    CHECK(text.Compare(L"fallback") == 0);
    HKEY probe = nullptr;
    CHECK(RegOpenKeyExW(HKEY_CURRENT_USER, kTestKey, 0, KEY_READ, &probe) == ERROR_FILE_NOT_FOUND);

    REQUIRE(WriteDwordValue(HKEY_CURRENT_USER, kTestKey, L"Count", 5) == 1);
    CHECK(ReadDwordValue(HKEY_CURRENT_USER, kTestKey, L"Count", 77) == 5);
    CHECK(ReadStringValue(HKEY_CURRENT_USER, kTestKey, L"Other", text, nullptr) == 0);
    CHECK(text.IsEmpty());
}

TEST_CASE("deep string write creates every level and reads back")
{
    TestKey scope;
    WideString deep;
    Format(deep, L"%s\\One\\Two\\Three", kTestKey);
    REQUIRE(WriteStringValue(HKEY_CURRENT_USER, deep.Data(), L"Main", L"1,2,3,4") == 1);
    WideString text;
    CHECK(ReadStringValue(HKEY_CURRENT_USER, deep.Data(), L"Main", text, L"x") == 1);
    CHECK(text.Compare(L"1,2,3,4") == 0);
    CHECK(WriteStringValue(HKEY_CURRENT_USER, deep.Data(), L"Main", nullptr) == 0);
}

TEST_CASE("string values: terminator, emptiness and size")
{
    TestKey scope;
    RegistryKey key;

    SUBCASE("a value without terminator is read as exactly its data, and never overruns")
    {
        const wchar_t data[] = {L'a', L'b', L'c', L'd'};
        TestKey::StoreRaw(L"Bare", REG_SZ, data, sizeof(data));
        REQUIRE(key.Open(HKEY_CURRENT_USER, kTestKey));
        wchar_t buffer[8] = {L'#', L'#', L'#', L'#', L'#', L'#', L'#', L'#'};
        DWORD needed = 0;
        CHECK(key.ReadStringFixed(L"Bare", buffer, 4, &needed) == 0);
        CHECK(needed == sizeof(data) + sizeof(wchar_t));
        CHECK(buffer[4] == L'#');
        CHECK(key.ReadStringFixed(L"Bare", buffer, 8) == 1);
        CHECK(lstrcmpW(buffer, L"abcd") == 0);
        CHECK(key.ReadStringFixed(L"Bare", buffer, 5) == 1);
        WideString text;
        CHECK(key.ReadString(L"Bare", text) == 1);
        CHECK(text.Compare(L"abcd") == 0);
        CHECK(text.Length() == 4);
    }
    SUBCASE("a value that fills the buffer with its terminator fits; a longer one grows a string")
    {
        const std::wstring fitting(259, L'f');
        REQUIRE(WriteStringValue(HKEY_CURRENT_USER, kTestKey, L"Fits", fitting.c_str()));
        const std::wstring tooLong(1000, L't');
        REQUIRE(WriteStringValue(HKEY_CURRENT_USER, kTestKey, L"TooLong", tooLong.c_str()));
        REQUIRE(key.Open(HKEY_CURRENT_USER, kTestKey));
        wchar_t buffer[260];
        CHECK(key.ReadStringFixed(L"Fits", buffer, 260) == 1);
        CHECK(buffer == fitting);
        DWORD needed = 0;
        CHECK(key.ReadStringFixed(L"TooLong", buffer, 260, &needed) == 0);
        CHECK(needed == 1001 * sizeof(wchar_t));
        WideString text;
        CHECK(key.ReadString(L"TooLong", text) == 1);
        CHECK(text.Data() == tooLong);
    }
    SUBCASE("an empty value reads as an empty string")
    {
        TestKey::StoreRaw(L"Empty", REG_SZ, L"", 0);
        WideString text(L"old");
        CHECK(ReadStringValue(HKEY_CURRENT_USER, kTestKey, L"Empty", text, L"default") == 1);
        CHECK(text.IsEmpty());
    }
    SUBCASE("a failed read leaves the string as it was")
    {
        REQUIRE(key.Create(HKEY_CURRENT_USER, kTestKey));
        WideString text(L"kept");
        CHECK(key.ReadString(L"Missing", text) == 0);
        CHECK(text.Compare(L"kept") == 0);
    }
}

TEST_CASE("key object: access, views and closing")
{
    TestKey scope;
    RegistryKey key;
    DWORD value = 42;
    CHECK(key.ReadDword(L"Anything", value) == 0);
    CHECK(key.WriteDword(L"Anything", 1) == 0);
    CHECK(key.Close() == 1);

    // Open never creates.
    CHECK(key.Open(HKEY_CURRENT_USER, kTestKey) == 0);
    CHECK(value == 42);

    REQUIRE(key.Create(HKEY_CURRENT_USER, kTestKey, KEY_WOW64_64KEY));
    CHECK(key.WriteDword(L"Number", 0x12345678) == 1);
    CHECK(key.WriteString(L"Text", L"hello") == 1);
    BYTE raw[16] = {};
    DWORD size = sizeof(raw);
    CHECK(key.ReadBinary(L"Text", raw, size) == 1);
    CHECK(size == 12);
    size = 2;
    CHECK(key.ReadBinary(L"Text", raw, size) == 0);
    CHECK(size == 12);
    CHECK(key.Close() == 1);

    // Outside WOW64 the 64-bit view is the same key as no view.
    REQUIRE(key.Open(HKEY_CURRENT_USER, kTestKey, KEY_WOW64_64KEY));
    CHECK(key.ReadDword(L"Number", value) == 1);
    CHECK(value == 0x12345678);
    // A read-only key refuses writes.
    CHECK(key.WriteDword(L"Number", 1) == 0);
    // A longer value does not fit a DWORD and leaves it alone.
    CHECK(key.ReadDword(L"Text", value) == 0);
    CHECK(value == 0x12345678);
}

TEST_CASE("a handle that would not close is kept, and no other key replaces it")
{
    TestKey scope;
    WideString other;
    Format(other, L"%s\\Other", kTestKey);
    REQUIRE(WriteDwordValue(HKEY_CURRENT_USER, other.Data(), L"Count", 1) == 1);
    RegistryKey key;
    REQUIRE(key.Open(HKEY_CURRENT_USER, kTestKey));
    const HKEY kept = key.Handle();
    // Closed behind the object's back, the handle can no longer be closed.
    REQUIRE(RegCloseKey(kept) == ERROR_SUCCESS);
    CHECK(key.Close() == 0);
    CHECK(key.Open(HKEY_CURRENT_USER, other.Data()) == 0);
    CHECK(key.Create(HKEY_CURRENT_USER, other.Data()) == 0);
    CHECK(key.Handle() == kept);
}
