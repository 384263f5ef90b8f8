#include <doctest.h>

#include <string>

#include "update/UpdateRules.h"

namespace {

constexpr DWORD kNow = 1800000000;
constexpr DWORD kDay = 86400;

std::wstring Decorated(const wchar_t* name, const wchar_t* suffix)
{
    WideString text;
    REQUIRE(DecorateFileName(name, suffix, text));
    return text.Data();
}

std::wstring Hex(const BYTE (&digest)[SHA256_SIZE])
{
    std::wstring text;
    for (BYTE b : digest) {
        wchar_t pair[3];
        swprintf(pair, 3, L"%02x", b);
        text += pair;
    }
    return text;
}

} // namespace

TEST_CASE("The weekly schedule")
{
    CHECK(ScheduleCheck(0, kNow) == CheckSchedule::Due);
    CHECK(ScheduleCheck(kNow - 6 * kDay, kNow) == CheckSchedule::NotDue);
    CHECK(ScheduleCheck(kNow - 8 * kDay, kNow) == CheckSchedule::Due);
    CHECK(ScheduleCheck(kNow - UPDATE_CHECK_INTERVAL, kNow) == CheckSchedule::NotDue);
    CHECK(ScheduleCheck(UPDATE_SKIP_NEXT_CHECK, kNow) == CheckSchedule::SkipOnce);
    // A time after now (a clock set back, a bad value) is due, also one
    // close to the end of the range.
    CHECK(ScheduleCheck(kNow + kDay, kNow) == CheckSchedule::Due);
    CHECK(ScheduleCheck(0xFFFFFF00, kNow) == CheckSchedule::Due);
    CHECK(ScheduleCheck(kNow, kNow) == CheckSchedule::NotDue);

    FILETIME epoch = {0xD53E8000, 0x019DB1DE};
    CHECK(UnixTimeOf(epoch) == 0);
    FILETIME early = {0, 0};
    CHECK(UnixTimeOf(early) == 0);
}

TEST_CASE("Version comparison and parsing")
{
    CHECK(IsNewerVersion(1, 5, 1, 4));
    CHECK(IsNewerVersion(2, 0, 1, 4));
    CHECK_FALSE(IsNewerVersion(1, 4, 1, 4));
    CHECK_FALSE(IsNewerVersion(1, 3, 1, 4));
    CHECK_FALSE(IsNewerVersion(0, 99, 1, 4));

    unsigned major = 7, minor = 7;
    CHECK(ParseOfferedVersion(L"1.05", major, minor));
    CHECK(major == 1);
    CHECK(minor == 5);
    for (const wchar_t* bad : {L"", L"1", L"x.1", L"1.", L".5"}) {
        major = minor = 7;
        CHECK_FALSE(ParseOfferedVersion(bad, major, minor));
        CHECK(major == 7);
    }
}

TEST_CASE("The _new and _old names keep short extensions and repeat long ones")
{
    CHECK(Decorated(L"Tessel.exe", L"_new") == L"Tessel_new.exe");
    CHECK(Decorated(L"page.html", L"_new") == L"page.html_new.html");
    CHECK(Decorated(L"README", L"_old") == L"README_old");
    CHECK(Decorated(L"end.", L"_new") == L"end_new.");
    CHECK(Decorated(L"docs\\readme.txt", L"_new") == L"docs\\readme_new.txt");
    CHECK(Decorated(L"v1.0\\readme", L"_new") == L"v1.0\\readme_new");
    CHECK(Decorated(L"odd. name", L"_new") == L"odd. name_new");
}

TEST_CASE("Programs to run are named after the address's file part")
{
    WideString name;
    REQUIRE(ProgramFileName(L"http://u/get.php?f=setup.exe", name));
    CHECK(std::wstring(name.Data()) == L"setup.exe");
    REQUIRE(ProgramFileName(L"http://u/files/tool.exe", name));
    CHECK(std::wstring(name.Data()) == L"tool.exe");
    REQUIRE(ProgramFileName(L"http://u/g?f=dir\\inner.exe", name));
    CHECK(std::wstring(name.Data()) == L"inner.exe");
    for (const wchar_t* bad : {L"http://u/", L"http://u/g?f=..", L"http://u/g?f=C:evil.exe"})
        CHECK_FALSE(ProgramFileName(bad, name));
}

TEST_CASE("Names from the answer must stay inside the application folder")
{
    for (const wchar_t* good : {L"Tessel.exe", L"docs\\readme.txt", L"a/b/c", L"..x", L"COM10",
                                L"console.txt", L"nullable", L"LPT"})
        CHECK(IsContainedRelativeName(good));
    const std::initializer_list<const wchar_t*> refused[] = {
        {L"", L"..\\x", L"../x", L"a\\..\\..\\x", L"a/.."},
        {L"C:\\x", L"C:x", L"\\\\server\\x", L"\\x", L"/x", L"file.txt:stream"},
        {L".", L". ", L"...", L"a\\ .\\b", L"x..\\y", L"Tessel.exe.", L"Tessel.exe ", L"a\\\\b",
         L"a/"},
        {L"NUL", L"nul.txt", L"docs\\COM1", L"lpt9.log", L"CON", L"aux", L"PRN.exe", L"CONIN$"},
        {L"a?b", L"a*b", L"a<b", L"a|b", L"a\"b", L"tab\there"},
    };
    for (const auto& group : refused)
        for (const wchar_t* bad : group)
            CHECK_FALSE(IsContainedRelativeName(bad));
}

TEST_CASE("Help links, answer bytes and the program's own identity")
{
    CHECK(IsWebAddress(L"http://example.com/tessel"));
    CHECK(IsWebAddress(L"HTTPS://example.com/?a=1&b=2"));
    for (const wchar_t* bad : {L"", L"C:\\Windows\\notepad.exe", L"file:///C:/x", L"httpx://a",
                               L"\\\\server\\x.exe", L"http://a b", L"http://a\"b", L"ftp://a"})
        CHECK_FALSE(IsWebAddress(bad));

    std::string bytes = "untouched";
    WideString text;
    text.Assign(L"a\u00FF\u0100");
    CHECK_FALSE(BytesOfWidenedText(text, bytes));
    CHECK(bytes == "untouched");
    text.Assign(L"a\u00FF");
    REQUIRE(BytesOfWidenedText(text, bytes));
    CHECK(bytes == "a\xFF");

    CHECK(IsUsableProgram(L"C:\\App\\Tessel.exe", L"C:\\App\\", 1, 1, 0));
    CHECK(IsUsableProgram(L"C:\\App\\Tessel.exe", L"C:\\App\\", 1, 0, 1));
    CHECK_FALSE(IsUsableProgram(L"C:\\App\\Tessel.exe", L"", 1, 1, 0));
    CHECK_FALSE(IsUsableProgram(L"", L"C:\\App\\", 1, 1, 0));
    CHECK_FALSE(IsUsableProgram(L"C:\\App\\Tessel.exe", L"C:\\App\\", 0, 1, 0));
    CHECK_FALSE(IsUsableProgram(L"C:\\App\\Tessel.exe", L"C:\\App\\", 1, 0, 0));
}

TEST_CASE("SHA-256 test vectors and digest texts")
{
    BYTE digest[SHA256_SIZE];
    Sha256Of("", 0, digest);
    CHECK(Hex(digest) == L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    Sha256Of("abc", 3, digest);
    CHECK(Hex(digest) == L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const char* twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    Sha256Of(twoBlocks, strlen(twoBlocks), digest);
    CHECK(Hex(digest) == L"248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");

    Sha256 pieces;
    std::string million(1000000, 'a');
    for (size_t at = 0; at < million.size(); at += 999)
        pieces.Add(million.data() + at, million.size() - at < 999 ? million.size() - at : 999);
    pieces.Finish(digest);
    CHECK(Hex(digest) == L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");

    CHECK(DigestMatchesText(digest,
                            L"CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0"));
    CHECK_FALSE(DigestMatchesText(
        digest, L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd1"));
    CHECK_FALSE(DigestMatchesText(digest, L"cdc76e"));
    CHECK_FALSE(DigestMatchesText(
        digest, L"zdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"));
}
