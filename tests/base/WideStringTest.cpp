#include <doctest.h>

#include "BoundedThread.h"
#include "base/DynamicLibrary.h"
#include "base/WideString.h"

#include <atomic>
#include <string>

TEST_CASE("format follows the platform's wide pattern conventions")
{
    WideString s;
    REQUIRE(Format(s, L"%s|%hs|%S|%c|%08X|%I64X|%-8u|%10.10s|%Lf|%f|%%", L"w\x00E9", "narrow",
                   "big-s", L'\x20AC', 0xBEEFu, 0x123456789ABCDEFull, 42u, L"abcdefghijklmnop", 1.5,
                   0.25) == 1);
    CHECK(s.Compare(L"w\x00E9|narrow|big-s|\x20AC|0000BEEF|123456789ABCDEF|42      |"
                    L"abcdefghij|1.500000|0.250000|%") == 0);
    CHECK(s.Count() == s.Length() + 1);
}

TEST_CASE("format grows in steps and gives up at its limit")
{
    WideString s;
    REQUIRE(Format(s, L"%s", std::wstring(259, L'x').c_str()) == 1);
    CHECK(s.Capacity() == 260);
    CHECK(s.Length() == 259);

    REQUIRE(Format(s, L"%s", std::wstring(300, L'y').c_str()) == 1);
    CHECK(s.Capacity() == 520);
    CHECK(s.Length() == 300);
    CHECK(s.CharAt(299) == L'y');

    const unsigned limit = 0x300000;
    // Start close to the limit so that only the last step is taken here.
    REQUIRE(s.Reserve(limit - 100));
    REQUIRE(Format(s, L"%s", std::wstring(limit - 1, L'z').c_str()) == 1);
    CHECK(s.Capacity() == limit);
    CHECK(s.Length() == limit - 1);

    CHECK(Format(s, L"%s", std::wstring(limit, L'z').c_str()) == 0);
    CHECK(s.Length() == 0);
    CHECK(s.Capacity() == 260);

    // The target's own text may be an argument, also when it has to grow.
    s.Assign(L"inner");
    REQUIRE(Format(s, L"[%s] %s", s.Data(), std::wstring(400, L'p').c_str()) == 1);
    CHECK(s.CompareNoCaseN(L"[INNER] ppp", 11) == 0);
    CHECK(s.Length() == 408);
}

TEST_CASE("appending, inserting and cutting")
{
    WideString s(5);
    REQUIRE(s.Assign(L"abcd"));
    REQUIRE(s.Append(L'e'));
    CHECK(s.Capacity() == 26);
    REQUIRE(s.Append(s.Data()));
    CHECK(s.Compare(L"abcdeabcde") == 0);
    REQUIRE(s.Insert(99, L"!"));
    REQUIRE(s.Insert(0, s.Data() + 8));
    CHECK(s.Compare(L"de!abcdeabcde!") == 0);
    s.Erase(3, 5);
    CHECK(s.Compare(L"de!abcde!") == 0);
    s.Erase(20, 1);
    s.Mid(3, 100);
    CHECK(s.Compare(L"abcde!") == 0);
    s.Mid(-4, 2);
    CHECK(s.Compare(L"ab") == 0);
    s.TruncateAt(1);
    CHECK(s.Compare(L"a") == 0);
    REQUIRE(s.EnsureTrailing(L'\\'));
    REQUIRE(s.EnsureTrailing(L'\\'));
    CHECK(s.Compare(L"a\\") == 0);
    CHECK(s.SetCount(0) == 0);
    CHECK(s.SetCount(s.Capacity()) == 0);
    REQUIRE(s.Assign(static_cast<const WideString*>(nullptr)));
    CHECK(s.Capacity() == 260);
    CHECK(s.IsEmpty());
}

TEST_CASE("search, comparison and replacement")
{
    WideString s(L"Sensor_Data_Type");
    CHECK(s.CompareNoCase(L"SENSOR_DATA_TYPE") == 0);
    CHECK(s.CompareNoCaseN(L"sensorX", 6) == 0);
    // Folding covers A and Z themselves, and nothing beside them ('@' and
    // '[' would fold to '`' and '{').
    CHECK(WideString(L"AZ").CompareNoCase(L"az") == 0);
    CHECK(WideString(L"z").CompareNoCaseN(L"Z", 1) == 0);
    CHECK(WideString(L"Zone").FindNoCaseIndex(L"ZONE") == 0);
    CHECK(WideString(L"@[").CompareNoCase(L"`{") != 0);
    // A copy into a caller's array stops at its end.
    wchar_t small[4];
    CHECK(WideString(L"Tessel").Data(small) == small);
    CHECK(wcscmp(small, L"Tes") == 0);
    CHECK(s.FindNoCaseIndex(L"data") == 7);
    CHECK(s.FindNoCaseIndex(L"type_") == -1);
    CHECK(s.FindNoCase(nullptr) == nullptr);
    CHECK(s.FindChar(L'_', 7) == 11);
    CHECK(s.FindChar(L'_', 17) == -1);
    CHECK(s.FindLastChar(L'_') == 11);

    s.Assign(L"SENSOR_DATA_TYPE_CITY");
    CHECK(s.Compare(s.Replace(L"SENSOR_DATA_TYPE_", nullptr)) == 0);
    CHECK(s.Compare(L"CITY") == 0);

    s.Assign(L"aXbx");
    REQUIRE(s.ReplaceNoCase(L"x", L"-xX-") != nullptr);
    CHECK(s.Compare(L"a-xX-b-xX-") == 0);
    REQUIRE(s.Replace(L"", L"z") != nullptr);
    CHECK(s.Compare(L"a-xX-b-xX-") == 0);
}

TEST_CASE("tokenising")
{
    WideString s(L"::first:second");
    CHECK(std::wstring(s.Token(1, L":")) == L"first");
    CHECK(s.Compare(L"::first") == 0);
    CHECK(std::wstring(s.Token(0, L":")) == L"second");
    CHECK(s.Token(0, L":") == nullptr);

    WideString plain(L"no colon");
    CHECK(std::wstring(plain.Token(1, L":")) == L"no colon");
    WideString empty;
    CHECK(empty.Token(1, L":") == nullptr);
}

TEST_CASE("each thread keeps its own tokenising position")
{
    std::atomic<int> started{0};
    std::atomic<int> mismatches{0};
    auto tokenise = [&](wchar_t letter) {
        WideString s;
        for (int i = 0; i < 200; ++i)
            Format(s, L"%s%c%d,", s.Data(), letter, i);
        wchar_t* token = s.Token(1, L",");
        // Both threads have started tokenising before either goes on (or
        // the other never came).
        ++started;
        for (int wait = 0; started < 2 && wait < 10000; ++wait)
            Sleep(1);
        for (int i = 0; i < 200; ++i, token = s.Token(0, L",")) {
            if (!token || std::wstring(1, letter) + std::to_wstring(i) != token)
                ++mismatches;
        }
        if (s.Token(0, L","))
            ++mismatches;
    };
    BoundedThread a([&] { tokenise(L'a'); });
    BoundedThread b([&] { tokenise(L'b'); });
    REQUIRE((a.Started() && b.Started()));
    a.Join();
    b.Join();
    CHECK(mismatches == 0);
}

TEST_CASE("8-bit and automation string conversions")
{
    WideString s;
    REQUIRE(s.AssignNarrow("\xC3\xA9", 2, WideString::kRaw));
    CHECK(s.Compare(L"\x00C3\x00A9") == 0);
    CHECK(std::string(s.ToNarrow(WideString::kRaw)) == "\xC3\xA9");

    WideString decoded;
    REQUIRE(s.DecodeUtf8Into(decoded));
    CHECK(decoded.Compare(L"\x00E9") == 0);
    REQUIRE(s.DecodeUtf8Into(s));
    CHECK(s.Compare(L"\x00E9") == 0);

    REQUIRE(s.AssignNarrow("caf\xC3\xA9!", 5, 0, CP_UTF8));
    CHECK(s.Compare(L"caf\x00E9") == 0);

    s.Assign(L" \t\r\n x y ");
    s.TrimLeft();
    CHECK(s.Compare(L"x y ") == 0);

    AutomationString copy;
    {
        AutomationString text = s.ToAutomationString();
        copy = text;
    }
    REQUIRE(copy.Get() != nullptr);
    CHECK(SysStringLen(copy.Get()) == 4);
}

TEST_CASE("raw text functions")
{
    wchar_t path[64] = L"dir\\file";
    CHECK(CutLastComponent(path) == 1);
    CHECK(std::wstring(path) == L"dir");
    wcscpy(path, L"C:\\file");
    CHECK(CutLastComponent(path) == 1);
    CHECK(std::wstring(path) == L"C:\\");
    CHECK(CutLastComponent(path) == 0);
    wcscpy(path, L"file");
    CHECK(CutLastComponent(path) == 1);
    CHECK(path[0] == 0);
    wcscpy(path, L"\\");
    CHECK(CutLastComponent(path) == 0);
    CHECK(CutLastComponent(nullptr) == 0);
    CHECK(std::wstring(FileNamePart(L"a/b\\c.txt")) == L"c.txt");
    CHECK(std::wstring(FileNamePart(L"a\\b\\")) == L"b\\");

    WideString extension;
    ExtensionOf(L"http://host/a.b/file.zip?v=1.2", extension);
    CHECK(extension.Compare(L".zip") == 0);
    ExtensionOf(L"dir.d\\file", extension);
    CHECK(extension.IsEmpty());

    wcscpy(path, L"name.html");
    CutExtension(path, 3);
    CHECK(std::wstring(path) == L"name.html");
    CutExtension(path, 4);
    CHECK(std::wstring(path) == L"name");

    wcscpy(path, L"a\r\nb  ");
    CHECK(*FlattenLines(path) == 0);
    TrimTrailingSpaces(path);
    CHECK(std::wstring(path) == L"a  b");

    wchar_t message[260];
    REQUIRE(SystemErrorText(ERROR_FILE_NOT_FOUND, message) == message);
    std::wstring text(message);
    CHECK(text.find_first_of(L"\r\n") == std::wstring::npos);
    CHECK(text.back() != L' ');
    CHECK(SystemErrorText(0x2FFFFFFF, message) == nullptr);
    DynamicLibrary wininet(L"wininet.dll");
    CHECK(SystemErrorText(12007, message) == message);
}
