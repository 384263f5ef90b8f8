#include <doctest.h>

#include <windows.h>

#include <string.h>

#include <utility>
#include <vector>

#include "BuildConfig.h"
#include "ByteWriter.h"
#include "base/WideString.h"
#include "system/ModuleVersion.h"

namespace {

// A VS_VERSIONINFO block with one string table.
std::vector<BYTE>
BuildVersionResource(const wchar_t* table,
                     std::vector<std::pair<const wchar_t*, const wchar_t*>> strings)
{
    ByteWriter out;
    auto begin = [&](const wchar_t* key, WORD valueLength, WORD type) {
        out.AlignToDword();
        size_t start = out.bytes.size();
        out.Word(0);
        out.Word(valueLength);
        out.Word(type);
        out.Text(key);
        out.AlignToDword();
        return start;
    };
    auto end = [&](size_t start) {
        out.PatchWord(start, static_cast<WORD>(out.bytes.size() - start));
    };
    VS_FIXEDFILEINFO fixed = {};
    fixed.dwSignature = 0xFEEF04BD;
    fixed.dwStrucVersion = 0x00010000;
    size_t root = begin(L"VS_VERSION_INFO", sizeof fixed, 0);
    out.Raw(&fixed, sizeof fixed);
    size_t fileInfo = begin(L"StringFileInfo", 0, 1);
    size_t tableStart = begin(table, 0, 1);
    for (const auto& entry : strings) {
        size_t item = begin(entry.first, static_cast<WORD>(wcslen(entry.second) + 1), 1);
        out.Text(entry.second);
        end(item);
    }
    end(tableStart);
    end(fileInfo);
    end(root);
    return out.bytes;
}

// A temporary copy of the test program with another version resource.
struct ProgramCopy
{
    wchar_t path[MAX_PATH] = {};
    bool ready = false;

    explicit ProgramCopy(const std::vector<BYTE>& versionResource)
    {
        wchar_t self[MAX_PATH];
        wchar_t folder[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        GetTempPathW(MAX_PATH, folder);
        GetTempFileNameW(folder, L"ver", 0, path);
        HANDLE update = CopyFileW(self, path, FALSE) ? BeginUpdateResourceW(path, FALSE) : nullptr;
        if (update) {
            BOOL changed = UpdateResourceW(update, RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO),
                                           MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                           const_cast<BYTE*>(versionResource.data()),
                                           static_cast<DWORD>(versionResource.size()));
            ready = EndUpdateResourceW(update, !changed) && changed;
        }
    }
    ~ProgramCopy() { DeleteFileW(path); }
    ProgramCopy(const ProgramCopy&) = delete;
    ProgramCopy& operator=(const ProgramCopy&) = delete;
};

} // namespace

TEST_CASE("Resource lookup in the best language")
{
    LANGID order[kResourceLanguageCount];
    ResourceLanguageOrder(0x0807, order);
    const LANGID expected[] = {0x0807, 0x0407, 0x0007, 1033, 2057, 9, 1031};
    CHECK(memcmp(order, expected, sizeof expected) == 0);

    HMODULE self = GetModuleHandleW(nullptr);
    DWORD size = 99;
    CHECK(FindResourceAnyLanguage(self, RT_DIALOG, MAKEINTRESOURCEW(4321), 0, &size) == nullptr);
    CHECK(size == 99);
}

TEST_CASE("Version text parsing")
{
    unsigned major = 1;
    unsigned minor = 1;
    CHECK(ParseVersionText(L"3.12.7 beta", major, minor) == 2);
    CHECK((major == 3 && minor == 12));
    CHECK(ParseVersionText(L"v1.2", major, minor) == 0);
    CHECK((major == 3 && minor == 12));
}

TEST_CASE("The test program's own module and version")
{
    wchar_t file[MAX_PATH];
    REQUIRE(ModuleFileName(nullptr, file));
    unsigned major = 7;
    unsigned minor = 7;
    WideString text;
    REQUIRE(ReadFileVersion(file, major, minor, &text));
    CHECK((major == TESSEL_VERSION_MAJOR && minor == TESSEL_VERSION_MINOR));
    CHECK(text.Compare(TESSEL_VERSION_WTEXT) == 0);

    // The German table comes first; a missing string leaves the output.
    WideString value;
    REQUIRE(ReadVersionString(value, L"FileDescription"));
    CHECK(value.Compare(L"Tessel Sensor-Anzeige") == 0);
    CHECK(ReadVersionString(value, L"NoSuchString") == 0);
    CHECK(value.Compare(L"Tessel Sensor-Anzeige") == 0);
}

TEST_CASE("Version resources with only the US English table, or without a known one")
{
    ProgramCopy english(
        BuildVersionResource(L"040904B0", {{L"FileVersion", L"2"}, {L"Comments", L"en"}}));
    REQUIRE(english.ready);
    WideString value;
    REQUIRE(ReadVersionString(value, L"Comments", english.path));
    CHECK(value.Compare(L"en") == 0);
    unsigned major = 1;
    unsigned minor = 1;
    REQUIRE(ReadFileVersion(english.path, major, minor));
    CHECK((major == 2 && minor == 1));

    ProgramCopy japanese(BuildVersionResource(L"041104B0", {{L"FileVersion", L"3.3"}}));
    REQUIRE(japanese.ready);
    WideString text(L"kept");
    CHECK(ReadFileVersion(japanese.path, major, minor, &text) == 0);
    CHECK((major == 2 && minor == 1));
    CHECK(text.Compare(L"kept") == 0);
    CHECK(ReadFileVersion(L"C:\\no\\such\\file.exe", major, minor) == 0);
}
