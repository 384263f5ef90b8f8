#include <doctest.h>

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "base/WideString.h"
#include "update/Explode.h"
#include "update/ZipExtract.h"
#include "update/ZipFormat.h"
#include "update/ZipNames.h"

#include "TestText.h"
#include "UpdateTestFiles.h"

using namespace update_test;

namespace {

// A private folder with an empty "target" folder in it, removed afterwards.
struct Sandbox
{
    TempFolder root{L"tessel-zip"};
    std::wstring target = root / L"target\\";

    Sandbox() { Empty(); }
    void Empty() const
    {
        RemoveTree(target);
        REQUIRE(CreateDirectoryW(target.c_str(), nullptr));
    }
    int Extract(const std::wstring& archive) const
    {
        return ExtractZipArchive(archive.c_str(), target.c_str());
    }
    std::string Read(const std::wstring& name) const { return ReadWholeFile(target + name); }
    WIN32_FILE_ATTRIBUTE_DATA Attributes(const std::wstring& name) const
    {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        REQUIRE(GetFileAttributesExW((target + name).c_str(), GetFileExInfoStandard, &data));
        return data;
    }
    std::vector<std::wstring> Extracted() const { return ListTree(target); }
    // Only the target (and the test's own archive) may exist.
    std::vector<std::wstring> Outside() const
    {
        std::vector<std::wstring> names;
        for (const std::wstring& name : ListTree(root.Path())) {
            if (name.compare(0, 7, L"target\\") != 0 && name != L"case.zip")
                names.push_back(name);
        }
        return names;
    }
};

// Every file listed for the archive under expected\ must be in the target,
// byte for byte, and no other file.
void CheckMatchesExpected(const Sandbox& sandbox, const std::wstring& archive)
{
    const std::wstring expected = ZipFixture(L"expected\\" + archive + L"\\");
    const std::vector<std::wstring> files = ListTree(expected, false);
    REQUIRE(!files.empty());
    CHECK(ListTree(sandbox.target, false) == files);
    for (const std::wstring& name : files) {
        INFO("file: ", std::string(name.begin(), name.end()));
        CHECK(sandbox.Read(name) == ReadWholeFile(expected + name));
    }
}

ULONGLONG Ticks(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Year, month, day, hour, minute and second in the local time zone.
std::vector<WORD> LocalTime(const FILETIME& time)
{
    SYSTEMTIME utc;
    SYSTEMTIME local;
    REQUIRE(FileTimeToSystemTime(&time, &utc));
    REQUIRE(SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local));
    return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

} // namespace

TEST_CASE("Info-ZIP archive: stored, deflated, folders, read-only file and time stamps")
{
    Sandbox sandbox;
    const std::wstring archive = ZipFixture(L"infozip.zip");
    REQUIRE(sandbox.Extract(archive) == ZIP_OK);
    // The extended time stamp holds the modification and access times
    // (checked before any read moves the access time).
    const WIN32_FILE_ATTRIBUTE_DATA notes = sandbox.Attributes(L"notes.txt");
    CHECK(Ticks(notes.ftLastWriteTime) == Ticks(UnixTimeToFileTime(1000000000)));
    CHECK(Ticks(notes.ftLastAccessTime) == Ticks(UnixTimeToFileTime(1000000100)));
    CHECK_FALSE((notes.dwFileAttributes & FILE_ATTRIBUTE_READONLY));
    CHECK((sandbox.Attributes(L"readonly.txt").dwFileAttributes & FILE_ATTRIBUTE_READONLY));
    CHECK((sandbox.Attributes(L"empty").dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY));
    CheckMatchesExpected(sandbox, L"infozip.zip");

    // Again over the extracted files: a changed file and the read-only one
    // are replaced without a question, through the narrow entry point.
    REQUIRE(WriteWholeFile(sandbox.target + L"notes.txt", "changed"));
    CHECK(ExtractZip(Narrow(archive).c_str(), Narrow(sandbox.target).c_str()) == 1);
    CheckMatchesExpected(sandbox, L"infozip.zip");
}

TEST_CASE("Every archive extracts what it can read, no damaged file stays and nothing is "
          "written outside the target")
{
    // expected: the folder under expected\ whose files the target must
    // hold byte for byte; null: nothing may be extracted.
    const struct
    {
        const wchar_t* archive;
        int code;
        const wchar_t* expected;
    } cases[] = {
        // Colon, question mark, UTF-8 names, nested folders.
        {L"python.zip", ZIP_OK, L"python.zip"},
        // Every implode dictionary and tree combination.
        {L"implode-4k-2trees.zip", ZIP_OK, L"implode-4k-2trees.zip"},
        {L"implode-4k-3trees.zip", ZIP_OK, L"implode-4k-3trees.zip"},
        {L"implode-8k-2trees.zip", ZIP_OK, L"implode-8k-2trees.zip"},
        {L"implode-8k-3trees.zip", ZIP_OK, L"implode-8k-3trees.zip"},
        // Encrypted, shrunk and reduced entries are skipped, the rest
        // extracted; nothing but skipped entries tells why.
        {L"encrypted.zip", ZIP_WARNING, L"encrypted.zip"},
        {L"old-methods.zip", ZIP_WARNING, L"old-methods.zip"},
        {L"all-encrypted.zip", ZIP_ALL_BAD_PASSWORD, nullptr},
        {L"all-shrunk.zip", ZIP_ALL_UNSUPPORTED, nullptr},
        // Output beyond the declared size, an archive cut in the middle,
        // declared sizes beyond the free space, no archive, not a ZIP file.
        {L"too-long.zip", ZIP_ARCHIVE_ERROR, nullptr},
        {L"truncated.zip", ZIP_NOT_FOUND, nullptr},
        {L"huge.zip", ZIP_DISK_FULL, nullptr},
        {L"missing.zip", ZIP_NOT_FOUND, nullptr},
        {L"expected\\prefixed.zip\\good.txt", ZIP_NOT_FOUND, nullptr},
        // A wrong CRC-32 removes that file only.
        {L"bad-crc.zip", ZIP_ARCHIVE_ERROR, L"bad-crc.zip"},
        // Data in front of the archive, found without its .zip.
        {L"prefixed", ZIP_OK, L"prefixed.zip"},
        // Entries that move between folders; a file where a later entry
        // needs a folder fails that entry only.
        {L"folders.zip", ZIP_OK, L"folders.zip"},
        {L"file-for-folder.zip", ZIP_DISK_FULL, L"file-for-folder.zip"},
        // Names that leave the target are refused, the others extracted;
        // last, so that no folder of the refused ones is checked below.
        {L"hostile.zip", ZIP_ARCHIVE_ERROR, L"hostile.zip"},
    };
    Sandbox sandbox;
    const bool rootXExisted = Exists(L"C:\\x");
    for (const auto& row : cases) {
        CAPTURE(std::string(row.archive, row.archive + wcslen(row.archive)));
        sandbox.Empty();
        CHECK(sandbox.Extract(ZipFixture(row.archive)) == row.code);
        if (row.expected)
            CheckMatchesExpected(sandbox, row.expected);
        else
            CHECK(sandbox.Extracted().empty());
        CHECK(sandbox.Outside().empty());
    }
    CHECK(sandbox.Extracted() == std::vector<std::wstring>{L"inside.txt"});
    CHECK(Exists(L"C:\\x") == rootXExisted);
    CHECK(ExtractZip(nullptr, "C:\\") == 0);

    // A folder removed behind the extraction's back is made again. DOS
    // times are local times.
    sandbox.Empty();
    REQUIRE(sandbox.Extract(ZipFixture(L"python.zip")) == ZIP_OK);
    RemoveTree(sandbox.target + L"deep\\");
    REQUIRE(sandbox.Extract(ZipFixture(L"python.zip")) == ZIP_OK);
    CheckMatchesExpected(sandbox, L"python.zip");
    CHECK(LocalTime(sandbox.Attributes(L"stored.txt").ftLastWriteTime) ==
          std::vector<WORD>{2010, 6, 15, 12, 30, 44});

    // A folder where the output file should go.
    sandbox.Empty();
    REQUIRE(CreateDirectoryW((sandbox.target + L"good.txt").c_str(), nullptr));
    CHECK(sandbox.Extract(ZipFixture(L"prefixed.zip")) == ZIP_DISK_FULL);

    // Real PKZIP output: the CRC-32 checks vouch for the contents.
    sandbox.Empty();
    CHECK(sandbox.Extract(ZipFixture(L"implode_public_libarchive_ibin.zip")) == ZIP_OK);
    CHECK(sandbox.Read(L"I.BIN").size() == 2048);
    CHECK(sandbox.Extract(ZipFixture(L"implode_public_libarchive_validate.zip")) == ZIP_OK);
    CHECK(sandbox.Read(L"VALIDATE.TXT").size() == 2904);
    CHECK(sandbox.Read(L"VALIDATE.C").size() == 7513);
    CHECK(sandbox.Read(L"MAKEFILE").size() == 603);
}

TEST_CASE("mutated archives never crash, hang or write outside the target")
{
    const wchar_t* sources[] = {L"python.zip", L"infozip.zip",
                                L"implode_public_libarchive_validate.zip", L"old-methods.zip",
                                L"encrypted.zip"};
    // The size and offset fields of the three record kinds.
    const struct
    {
        const char* signature;
        std::vector<int> fields;
    } records[] = {{"PK\x03\x04", {14, 18, 22, 26, 28}},
                   {"PK\x01\x02", {16, 20, 24, 28, 30, 42}},
                   {"PK\x05\x06", {8, 10, 12, 16, 20}}};

    Sandbox sandbox;
    const std::wstring archive = sandbox.root / L"case.zip";
    std::mt19937 next(0x2545F491u);
    int results[256] = {};
    for (int round = 0; round < 300; ++round) {
        std::string bytes = ReadWholeFile(ZipFixture(sources[round % std::size(sources)]));
        REQUIRE(bytes != "<missing>");
        switch (next() % 3) {
        case 0: // flipped bytes
            for (unsigned flips = 1 + next() % 8; flips > 0; --flips)
                bytes[next() % bytes.size()] ^= static_cast<char>(1 + next() % 255);
            break;
        case 1: // cut short
            bytes.resize(next() % bytes.size());
            break;
        default: { // a lying size, count or offset
            const auto& record = records[next() % 3];
            std::vector<size_t> starts;
            for (size_t at = bytes.find(record.signature, 0, 4); at != std::string::npos;
                 at = bytes.find(record.signature, at + 4, 4))
                starts.push_back(at);
            if (starts.empty())
                break;
            const size_t field =
                starts[next() % starts.size()] + record.fields[next() % record.fields.size()];
            const unsigned values[] = {0u, 1u, 0xFFFFu, 0xFFFFFFFFu, next() % 100000u, next()};
            const unsigned value = values[next() % 6];
            for (size_t i = 0; i < 4 && field + i < bytes.size(); ++i)
                bytes[field + i] = static_cast<char>(value >> (8 * i));
        }
        }
        REQUIRE(WriteWholeFile(archive, bytes));
        const int code = sandbox.Extract(archive);
        ++results[code & 0xFF];
        INFO("round ", round);
        REQUIRE(sandbox.Outside().empty());
        sandbox.Empty();
    }
    // The mutations reach past the end record into the entries.
    CHECK(results[ZIP_ARCHIVE_ERROR] + results[ZIP_END_OF_ARCHIVE] > 0);
}

TEST_CASE("entry names map under the target or are refused")
{
    auto map = [](const wchar_t* name, bool shortNames = false) {
        WideString relative(L"untouched");
        const ZipNameKind kind = MapZipEntryName(name, shortNames, relative);
        return std::to_wstring(kind) + L":" + relative.Data();
    };
    CHECK(map(L"docs/readme.txt") == L"1:docs\\readme.txt");
    CHECK(map(L"docs\\sub\\") == L"2:docs\\sub");
    CHECK(map(L"./a//b/./c.txt") == L"1:a\\b\\c.txt");
    CHECK(map(L"dir/.") == L"2:dir");
    CHECK(map(L"a\"b*c:d<e>f?g|h.txt") == L"1:a_b_c_d_e_f_g_h.txt");
    CHECK(map(L"ab:c/two words.txt") == L"1:ab_c\\two words.txt");
    CHECK(map(L"two words/a b.txt", true) == L"1:two_words\\a_b.txt");
    CHECK(map(L"1:x") == L"1:1_x");
    CHECK(map(L"com10.txt") == L"1:com10.txt");
    for (const wchar_t* hostile :
         {L"",    L"../x",    L"..\\x",         L"a/../../x",  L"a/..",
          L"/x",  L"\\x",     L"\\\\server\\x", L"//server/x", L"C:\\x",
          L"c:x", L"C:",      L"x:y/z",         L"docs/.. /x", L"...",
          L"NUL", L"con.txt", L"dir/Aux .log",  L"LPT1",       L"com9.dat"}) {
        CHECK(map(hostile) == L"0:untouched");
    }

    CHECK(IsPathInsideFolder(L"C:\\app\\x.txt", L"C:\\app\\") == 1);
    CHECK(IsPathInsideFolder(L"c:\\APP\\sub\\x", L"C:\\app") == 1);
    CHECK(IsPathInsideFolder(L"C:\\application\\x", L"C:\\app\\") == 0);
    CHECK(IsPathInsideFolder(L"C:\\x", L"C:\\app\\") == 0);
}

TEST_CASE("record readers stay within their buffers")
{
    // An end record with a comment, preceded by a false signature whose
    // comment would run past the end.
    BYTE tail[64] = {};
    const BYTE signature[] = {0x50, 0x4B, 0x05, 0x06};
    memcpy(tail + 10, signature, 4);
    tail[10 + 20] = 200;
    memcpy(tail + 30, signature, 4);
    tail[30 + 20] = 12;
    unsigned offset = 0;
    REQUIRE(FindZipEndRecord(tail, sizeof(tail), offset) == 1);
    CHECK(offset == 30);
    tail[30 + 20] = 13;
    CHECK(FindZipEndRecord(tail, sizeof(tail), offset) == 0);
    CHECK(FindZipEndRecord(tail, 21, offset) == 0);

    // Extended time stamps: modification time required, fields bounded.
    const BYTE extra[] = {0x0A, 0x00, 0x02, 0x00, 0xFF, 0xFF,             // other field
                          0x55, 0x54, 0x09, 0x00, 0x03, 0x00, 0xCA, 0x9A, // flags, mtime
                          0x3B, 0x64, 0xCA, 0x9A, 0x3B};                  // atime
    // The times read are the Info-ZIP archive's, checked on its files.
    ZipUnixTimes times;
    REQUIRE(FindZipUnixTimes(extra, sizeof(extra), times) == 1);
    CHECK_FALSE(times.hasCreated);
    CHECK(FindZipUnixTimes(extra, sizeof(extra) - 4, times) == 0);
    // Day 0; valid DOS times are the Python archive's.
    SYSTEMTIME time;
    CHECK(DosDateTimeToSystemTime(0x3A60, 0x63D6, time) == 0);

    const FILETIME even = UnixTimeToFileTime(1000000002);
    CHECK(Ticks(RoundUpToFatTime(UnixTimeToFileTime(1000000001))) == Ticks(even));
    CHECK(Ticks(RoundUpToFatTime(even)) == Ticks(even));

    CHECK(ZipVolumeTraitsFor(12, L"fat").shortNamesOnly);
    CHECK(ZipVolumeTraitsFor(255, L"vfat").fatTimes);
    CHECK_FALSE(ZipVolumeTraitsFor(255, L"NTFS").fatTimes);
    CHECK(ZipNameCodePage(0, 0) == CP_OEMCP);
    CHECK(ZipNameCodePage(0, 3) == CP_ACP);
}

namespace {

struct MemoryStream
{
    const BYTE* data;
    unsigned size;
    std::string output;

    static unsigned Read(void* context, BYTE* buffer, unsigned capacity)
    {
        MemoryStream& stream = *static_cast<MemoryStream*>(context);
        const unsigned count = std::min(capacity, stream.size);
        memcpy(buffer, stream.data, count);
        stream.data += count;
        stream.size -= count;
        return count;
    }
    static int Write(void* context, const BYTE* data, unsigned count)
    {
        static_cast<MemoryStream*>(context)->output.append(reinterpret_cast<const char*>(data),
                                                           count);
        return 1;
    }
};

ExplodeResult ExplodeBytes(const std::vector<BYTE>& bytes, ULONGLONG size)
{
    MemoryStream stream{bytes.data(), static_cast<unsigned>(bytes.size()), {}};
    return Explode(0, size, MemoryStream::Read, &stream, MemoryStream::Write, &stream);
}

} // namespace

TEST_CASE("explode rejects malformed trees and data that ends early")
{
    // Tree of 64 lengths: one run byte of 16 symbols falls short of 64.
    CHECK(ExplodeBytes({0x00, 0xF5}, 1) == EXPLODE_BAD_DATA);
    // 64 codes of length 1 cannot all exist.
    CHECK(ExplodeBytes({0x03, 0xF0, 0xF0, 0xF0, 0xF0}, 1) == EXPLODE_BAD_DATA);
    // Valid trees (64 codes of 6 bits each), then nothing.
    const std::vector<BYTE> trees = {0x03, 0xF5, 0xF5, 0xF5, 0xF5, 0x03, 0xF5, 0xF5, 0xF5, 0xF5};
    CHECK(ExplodeBytes(trees, 1) == EXPLODE_TRUNCATED);
    CHECK(ExplodeBytes(trees, 0) == EXPLODE_OK);
    // A literal 'A' (flag bit, 8 bits), then a match of 2 needing 3 bytes.
    std::vector<BYTE> literal = trees;
    literal.push_back(static_cast<BYTE>(1 | ('A' << 1)));
    literal.push_back(static_cast<BYTE>('A' >> 7));
    CHECK(ExplodeBytes(literal, 1) == EXPLODE_OK);
    std::vector<BYTE> overlong = literal;
    overlong.insert(overlong.end(), {0xFF, 0xFF, 0xFF});
    CHECK(ExplodeBytes(overlong, 2) == EXPLODE_BAD_DATA);
}
