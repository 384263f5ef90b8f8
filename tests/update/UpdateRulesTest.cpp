#include <doctest.h>

#include <string>

#include "TestText.h"
#include "UpdateSigner.h"
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

} // namespace

TEST_CASE("The weekly schedule, and offered versions")
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

    CHECK(UnixTimeOf(FILETIME{0xD53E8000, 0x019DB1DE}) == 0); // 1970 itself
    CHECK(UnixTimeOf(FILETIME{0, 0}) == 0);                   // and before

    // Which offer is newer, and how its version is read.
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
        CHECK_FALSE_MESSAGE(ParseOfferedVersion(bad, major, minor), Narrow(bad));
        CHECK(major == 7);
    }
}

TEST_CASE("The _new and _old names keep short extensions and repeat long ones; programs to run")
{
    CHECK(Decorated(L"Tessel.exe", L"_new") == L"Tessel_new.exe");
    CHECK(Decorated(L"page.html", L"_new") == L"page.html_new.html");
    CHECK(Decorated(L"README", L"_old") == L"README_old");
    CHECK(Decorated(L"end.", L"_new") == L"end_new.");
    CHECK(Decorated(L"docs\\readme.txt", L"_new") == L"docs\\readme_new.txt");
    CHECK(Decorated(L"v1.0\\readme", L"_new") == L"v1.0\\readme_new");
    CHECK(Decorated(L"odd. name", L"_new") == L"odd. name_new");

    // Programs to run are named after the address's file part.
    WideString name;
    REQUIRE(ProgramFileName(L"http://u/get.php?f=setup.exe", name));
    CHECK(std::wstring(name.Data()) == L"setup.exe");
    REQUIRE(ProgramFileName(L"http://u/files/tool.exe", name));
    CHECK(std::wstring(name.Data()) == L"tool.exe");
    REQUIRE(ProgramFileName(L"http://u/g?f=dir\\inner.exe", name));
    CHECK(std::wstring(name.Data()) == L"inner.exe");
    for (const wchar_t* bad : {L"http://u/", L"http://u/g?f=..", L"http://u/g?f=C:evil.exe"})
        CHECK_FALSE_MESSAGE(ProgramFileName(bad, name), Narrow(bad));
}

TEST_CASE("Names from the answer must stay inside the application folder")
{
    for (const wchar_t* good : {L"Tessel.exe", L"docs\\readme.txt", L"a/b/c", L"..x", L"COM10",
                                L"console.txt", L"nullable", L"LPT"})
        CHECK_MESSAGE(IsContainedRelativeName(good), Narrow(good));
    const std::initializer_list<const wchar_t*> refused[] = {
        {L"", L"..\\x", L"../x", L"a\\..\\..\\x", L"a/.."},
        {L"C:\\x", L"C:x", L"\\\\server\\x", L"\\x", L"/x", L"file.txt:stream"},
        {L".", L". ", L"...", L"a\\ .\\b", L"sub\\.\\x", L"x..\\y", L"Tessel.exe.", L"Tessel.exe ",
         L"a\\\\b", L"a/"},
        {L"NUL", L"nul.txt", L"docs\\COM1", L"com1.exe", L"lpt9.log", L"CON", L"aux", L"PRN.exe",
         L"CONIN$"},
        {L"a?b", L"a*b", L"a<b", L"a|b", L"a\"b", L"tab\there"},
    };
    for (const auto& group : refused)
        for (const wchar_t* bad : group)
            CHECK_FALSE_MESSAGE(IsContainedRelativeName(bad), Narrow(bad));
}

TEST_CASE("Help links, answer bytes and the program's own identity")
{
    CHECK(IsWebAddress(L"http://example.com/tessel"));
    CHECK(IsWebAddress(L"HTTPS://example.com/?a=1&b=2"));
    for (const wchar_t* bad : {L"", L"C:\\Windows\\notepad.exe", L"file:///C:/x", L"httpx://a",
                               L"\\\\server\\x.exe", L"http://a b", L"http://a\"b", L"ftp://a"})
        CHECK_FALSE_MESSAGE(IsWebAddress(bad), Narrow(bad));

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
    CHECK(HexSha256("") == "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    CHECK(HexSha256("abc") == "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    CHECK(HexSha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq") ==
          "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");

    BYTE digest[SHA256_SIZE];
    Sha256 pieces;
    std::string million(1000000, 'a');
    for (size_t at = 0; at < million.size(); at += 999)
        pieces.Add(million.data() + at, million.size() - at < 999 ? million.size() - at : 999);
    pieces.Finish(digest);
    CHECK(HexDigest(digest) == "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");

    CHECK(DigestMatchesText(digest,
                            L"CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0"));
    CHECK_FALSE(DigestMatchesText(
        digest, L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd1"));
    CHECK_FALSE(DigestMatchesText(digest, L"cdc76e"));
    CHECK_FALSE(DigestMatchesText(
        digest, L"zdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"));
}

TEST_CASE("A signed answer counts only when it is for this build, unexpired and not older")
{
    unsigned long long expiry = 0;
    REQUIRE(ParseUtcTimestamp(L"2026-12-31T00:00:00Z", expiry));
    CHECK(expiry == 1798675200ULL);
    const unsigned long long before = expiry - 1;
    AnswerClaims claims;
    claims.application = L"Tessel";
    claims.platform = L"win32";
    claims.expires = L"2026-12-31T00:00:00Z";
    claims.serial = L"7";
    DWORD serial = 0;
    auto judge = [&](const AnswerClaims& c, unsigned long long now, DWORD highest) {
        serial = 0;
        return JudgeAnswerClaims(c, L"Tessel", L"win32", now, highest, serial);
    };

    CHECK(judge(claims, before, 6) == AnswerVerdict::Accepted);
    CHECK(serial == 7);
    // The same serial again is a re-check; the last second still counts.
    CHECK(judge(claims, expiry, 7) == AnswerVerdict::Accepted);
    CHECK(judge(claims, expiry + 1, 7) == AnswerVerdict::Expired);
    CHECK(judge(claims, before, 8) == AnswerVerdict::Replayed);
    CHECK(serial == 0);

    AnswerClaims other = claims;
    other.application = L"tessel";
    CHECK(judge(other, before, 0) == AnswerVerdict::OtherApplication);
    other = claims;
    other.platform = L"win64";
    CHECK(judge(other, before, 0) == AnswerVerdict::OtherPlatform);
    for (int missing = 0; missing < 4; ++missing) {
        other = claims;
        const wchar_t** fields[] = {&other.application, &other.platform, &other.expires,
                                    &other.serial};
        *fields[missing] = nullptr;
        CAPTURE(missing);
        CHECK(judge(other, before, 0) == AnswerVerdict::Incomplete);
    }
}

TEST_CASE("Expiry times and serials are read strictly")
{
    unsigned long long seconds = 0;
    CHECK(ParseUtcTimestamp(L"1970-01-01T00:00:00Z", seconds));
    CHECK(seconds == 0);
    CHECK(ParseUtcTimestamp(L"2024-02-29T23:59:59Z", seconds));
    CHECK(seconds == 1709251199ULL);
    CHECK(ParseUtcTimestamp(L"2106-02-07T06:28:16Z", seconds));
    CHECK(seconds == 0x100000000ULL);
    const wchar_t* refused[] = {
        L"",
        L"2026-12-31",
        L"2026-12-31T00:00:00",       // local time
        L"2026-12-31T00:00:00+01:00", // an offset
        L"2026-12-31T00:00:00.5Z",
        L"2026-12-31 00:00:00Z",
        L"2025-02-29T00:00:00Z", // no leap year
        L"2026-13-01T00:00:00Z",
        L"2026-04-31T00:00:00Z",
        L"2026-12-31T24:00:00Z",
        L"1969-12-31T23:59:59Z",
        L"2026-12-31T00:00:00Z ",
        L"+026-12-31T00:00:00Z",
    };
    for (const wchar_t* text : refused) {
        CAPTURE(Narrow(text));
        seconds = 42;
        CHECK_FALSE(ParseUtcTimestamp(text, seconds));
        CHECK(seconds == 42);
    }
    CHECK_FALSE(ParseUtcTimestamp(nullptr, seconds));

    DWORD serial = 5;
    CHECK(ParseAnswerSerial(L"4294967295", serial));
    CHECK(serial == 0xFFFFFFFF);
    for (const wchar_t* text : {L"0", L"4294967296", L"-1", L"+1", L" 1", L"1 ", L"0x10", L""}) {
        CAPTURE(Narrow(text));
        serial = 5;
        CHECK_FALSE(ParseAnswerSerial(text, serial));
        CHECK(serial == 5);
    }
    ULONGLONG size = 0;
    CHECK(ParseFileSize(L"1", size));
    CHECK(size == 1);
    CHECK_FALSE(ParseFileSize(L"0", size));
    CHECK_FALSE(ParseFileSize(L"12k", size));
}
