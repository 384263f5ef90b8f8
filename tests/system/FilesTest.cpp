#include <doctest.h>

#include <windows.h>
#include <shlobj.h>
#include <userenv.h>

#include <set>
#include <string>
#include <vector>

#include "UpdateTestFiles.h"
#include "UrlProtocolRecorder.h"
#include "base/DynamicLibrary.h"
#include "base/ScopedHandle.h"
#include "base/WideString.h"
#include "system/Files.h"

using namespace update_test;

namespace {

const wchar_t kEnvironmentKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// Sets (or removes) a value of the system environment and puts the old one back.
class SavedValue
{
public:
    explicit SavedValue(const wchar_t* name) : name_(name)
    {
        existed_ = RegGetValueW(HKEY_LOCAL_MACHINE, kEnvironmentKey, name,
                                RRF_RT_ANY | RRF_NOEXPAND, &type_, data_, &size_) == ERROR_SUCCESS;
    }
    ~SavedValue() { existed_ ? Write(type_, data_, size_) : Set(nullptr); }
    // Null removes the value.
    void Set(const wchar_t* text)
    {
        if (!text)
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kEnvironmentKey, name_);
        else
            Write(REG_EXPAND_SZ, text, static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    }

private:
    void Write(DWORD type, const void* data, DWORD size)
    {
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, kEnvironmentKey, name_, type, data, size);
    }

    const wchar_t* name_;
    bool existed_ = false;
    DWORD type_ = 0;
    BYTE data_[2048] = {};
    DWORD size_ = sizeof(data_);
};

// A path as a narrow text that a failed check can print.
std::string Printable(const wchar_t* path)
{
    std::string text;
    for (; *path; ++path)
        text += *path < 0x80 ? static_cast<char>(*path) : '?';
    return text;
}

// One folder: the same path but for case and a trailing backslash.
bool SameFolder(const wchar_t* a, const wchar_t* b)
{
    std::wstring first(a);
    std::wstring second(b);
    for (std::wstring* path : {&first, &second}) {
        if (path->size() > 3 && path->back() == L'\\')
            path->pop_back();
    }
    return lstrcmpiW(first.c_str(), second.c_str()) == 0;
}

// A profile folder (FOLDER_..._PROFILE) as userenv.dll gives it; false when
// it gives none.
bool ProfileFolder(int id, wchar_t* path)
{
    DynamicLibrary userenv(L"userenv.dll");
    DWORD size = MAX_PATH;
    if (id != FOLDER_USER_PROFILE) {
        auto folder = userenv.Symbol<BOOL(WINAPI*)(LPWSTR, LPDWORD)>(
            id == FOLDER_ALL_PROFILES ? "GetProfilesDirectoryW"
                                      : "GetDefaultUserProfileDirectoryW");
        return folder && folder(path, &size);
    }
    auto folder = userenv.Symbol<decltype(&GetUserProfileDirectoryW)>("GetUserProfileDirectoryW");
    ScopedHandle token;
    return folder && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()) &&
           folder(token.Get(), path, &size);
}

constexpr size_t kNever = static_cast<size_t>(-1);

// The pieces a write was made of; the piece at failAt fails, the one at
// shortAt is written short.
struct PieceLog
{
    std::vector<DWORD> pieces;
    size_t failAt = kNever;
    size_t shortAt = kNever;
};

int RecordPiece(void* context, const BYTE*, DWORD count, DWORD* written)
{
    PieceLog& log = *static_cast<PieceLog*>(context);
    const size_t index = log.pieces.size();
    log.pieces.push_back(count);
    *written = index == log.shortAt ? count - 1 : count;
    return index == log.failAt ? 0 : 1;
}

} // namespace

TEST_CASE("a write falls back to pieces of at most 1 MiB; one that fails or is short ends it")
{
    const std::vector<BYTE> data(2 * FILE_WRITE_PIECE + 5);
    const DWORD size = static_cast<DWORD>(data.size());
    // The pieces tried, and a 0 after them when the write failed.
    auto pieces = [&](DWORD count, DWORD pieceSize, PieceLog log) {
        if (!WriteInPieces(data.data(), count, pieceSize, &RecordPiece, &log))
            log.pieces.push_back(0);
        return log.pieces;
    };
    using Pieces = std::vector<DWORD>;
    const DWORD piece = FILE_WRITE_PIECE;
    CHECK(pieces(size, piece, {}) == Pieces{piece, piece, 5});
    CHECK(pieces(size, piece, {{}, kNever, 1}) == Pieces{piece, piece, 0});
    CHECK(pieces(10, 4, {{}, 0}) == Pieces{4, 0});
    CHECK(pieces(10, 0, {}) == Pieces{0});
}

TEST_CASE("AddBackslash")
{
    wchar_t path[MAX_PATH] = L"C:\\folder";
    CHECK(AddBackslash(path));
    CHECK(AddBackslash(path));
    CHECK(std::wstring(path) == L"C:\\folder\\");
    wchar_t empty[4] = L"";
    CHECK(AddBackslash(empty));
    CHECK(empty[0] == L'\0');
    // No room for the backslash and the terminator: the text stays as it is.
    wchar_t full[4] = L"abc";
    CHECK_FALSE(AddBackslash(full, 4));
    CHECK(std::wstring(full) == L"abc");
}

TEST_CASE("GetFolderPath")
{
    wchar_t path[MAX_PATH];

    SUBCASE("the system temporary folder expands its environment variables")
    {
        // TMP first, then TEMP, then the Windows folder's Temp.
        SavedValue tmp(L"TMP");
        SavedValue temp(L"TEMP");
        wchar_t expected[MAX_PATH];
        ExpandEnvironmentStringsW(L"%SystemRoot%\\TesselTmp\\", expected, MAX_PATH);
        tmp.Set(L"%SystemRoot%\\TesselTmp");
        temp.Set(L"x");
        REQUIRE(GetFolderPath(FOLDER_SYSTEM_TEMP, path));
        CHECK(std::wstring(path) == expected);
        tmp.Set(nullptr);
        temp.Set(L"%SystemRoot%\\TesselTmp\\");
        REQUIRE(GetFolderPath(FOLDER_SYSTEM_TEMP, path));
        CHECK(std::wstring(path) == expected);
        temp.Set(nullptr);
        GetWindowsDirectoryW(expected, MAX_PATH);
        REQUIRE(GetFolderPath(FOLDER_SYSTEM_TEMP, path));
        CHECK(std::wstring(path) == std::wstring(expected) + L"\\Temp\\");
    }

    SUBCASE("the folders beyond the shell's as the platform gives them, or none when it gives none")
    {
        const struct
        {
            int id;
            bool (*platform)(wchar_t* path); // none: a profile folder
        } folders[] = {
            {FOLDER_USER_TEMP, [](wchar_t* to) { return GetTempPathW(MAX_PATH, to) != 0; }},
            {FOLDER_CURRENT, [](wchar_t* to) { return GetCurrentDirectoryW(MAX_PATH, to) != 0; }},
            {FOLDER_WINDOWS, [](wchar_t* to) { return GetWindowsDirectoryW(to, MAX_PATH) != 0; }},
            {FOLDER_SYSTEM, [](wchar_t* to) { return GetSystemDirectoryW(to, MAX_PATH) != 0; }},
            {FOLDER_ALL_PROFILES, nullptr},
            {FOLDER_USER_PROFILE, nullptr},
            {FOLDER_DEFAULT_PROFILE, nullptr}};
        for (const auto& folder : folders) {
            CAPTURE(folder.id);
            wchar_t expected[MAX_PATH] = {};
            const bool given =
                folder.platform ? folder.platform(expected) : ProfileFolder(folder.id, expected);
            // Only the plain folders end with a backslash.
            if (folder.id >= FOLDER_SYSTEM_TEMP)
                REQUIRE(AddBackslash(expected));
            wcscpy(path, L"untouched");
            CHECK(GetFolderPath(folder.id, path) == (given ? 1 : 0));
            CHECK(Printable(path) == Printable(given ? expected : L"untouched"));
        }
    }

    SUBCASE("every shell folder id as the platform's SHGetFolderPathW gives it")
    {
        // Folders of the shell's namespace only, which have no path (Wine
        // answers some of them with one).
        const std::set<int> virtualFolders = {0x1, 0x3, 0x4, 0xA, 0x11, 0x12, 0x31, 0x3D};
        int known = 0;
        for (int id = 0; id < 0x40; ++id) {
            if (virtualFolders.count(id))
                continue;
            CAPTURE(id);
            wchar_t expected[MAX_PATH] = {};
            if (SHGetFolderPathW(nullptr, id, nullptr, 0, expected) != S_OK)
                continue;
            ++known;
            wcscpy(path, L"untouched");
            CHECK(GetFolderPath(id, path) == 1);
            CHECK(SameFolder(path, expected));
        }
        CHECK(known >= 10);
    }

    SUBCASE("an unknown id answers 0 and leaves the buffer alone")
    {
        wcscpy(path, L"untouched");
        CHECK_FALSE(GetFolderPath(0x10008, path));
        CHECK_FALSE(GetFolderPath(-1, path));
        CHECK(std::wstring(path) == L"untouched");
    }
}

TEST_CASE("DeleteFileForced removes a read-only file")
{
    TempFolder folder{L"tessel-files"};
    const std::wstring path = folder / L"readonly.txt";
    REQUIRE(WriteWholeFile(path, "keep"));
    REQUIRE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    CHECK_FALSE(DeleteFileW(path.c_str()));
    CHECK(DeleteFileForced(path.c_str()));
    CHECK(GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES);
    CHECK_FALSE(DeleteFileForced(path.c_str()));
}

TEST_CASE("FileObject")
{
    TempFolder folder{L"tessel-files"};
    const std::wstring path = folder / L"file.bin";
    FileObject file;

    SUBCASE("a failed open or mapping releases what the object held")
    {
        REQUIRE(WriteWholeFile(path, ""));
        REQUIRE(file.Open(path.c_str(), FILE_MODE_READ));
        CHECK_FALSE(file.Open(path.c_str(), 6));
        CHECK_FALSE(file.IsOpen());
        // Nobody holds the file any more: an exclusive open succeeds.
        HANDLE exclusive = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
        CHECK(exclusive != INVALID_HANDLE_VALUE);
        CloseHandle(exclusive);
        REQUIRE(file.Open(path.c_str(), FILE_MODE_READ));
        CHECK(file.Map(0, 0) == nullptr); // an empty file cannot be mapped
        CHECK_FALSE(file.IsOpen());
    }

    SUBCASE("a mode 0 mapping is read-only")
    {
        REQUIRE(WriteWholeFile(path, "mapped text"));
        REQUIRE(file.Open(path.c_str(), FILE_MODE_READ, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ));
        const char* view = static_cast<const char*>(file.Map(0, 0));
        REQUIRE(view);
        CHECK(std::string(view, 11) == "mapped text");
        MEMORY_BASIC_INFORMATION info = {};
        REQUIRE(VirtualQuery(view, &info, sizeof(info)));
        CHECK(info.Protect == PAGE_READONLY);
    }

    SUBCASE("a view at an offset reaches beyond the mapping's first size")
    {
        SYSTEM_INFO system;
        GetSystemInfo(&system);
        const DWORD granularity = system.dwAllocationGranularity;
        std::string bytes(granularity + 16, 'a');
        bytes.replace(granularity, 4, "tail");
        REQUIRE(WriteWholeFile(path, bytes));
        REQUIRE(file.Open(path.c_str(), FILE_MODE_READ));
        const char* view = static_cast<const char*>(file.Map(granularity, 16));
        REQUIRE(view);
        CHECK(std::string(view, 4) == "tail");
    }

    file.Close();
}

TEST_CASE("the shell starts programs; OpenUrl runs the system folder's rundll32.exe only")
{
    WideString parameters;
    REQUIRE(UrlHandlerParameters(L"http://example.com/a b", parameters));
    CHECK(std::wstring(parameters.Data()) == L"url.dll,FileProtocolHandler http://example.com/a b");
    CHECK_FALSE(ShellRun(L"Z:\\no\\such\\program.exe", nullptr, nullptr, SW_HIDE, 0, L"open"));

    wchar_t system[MAX_PATH];
    REQUIRE(GetSystemDirectoryW(system, MAX_PATH));
    WideString program;
    REQUIRE(UrlHandlerProgram(program));
    CHECK(std::wstring(program.Data()) == std::wstring(system) + L"\\rundll32.exe");

    // A planted program that cannot even start in the current folder: a
    // bare-name search that finds it fails the open on Windows. (Wine runs
    // its builtin rundll32 for a bare name, so there only the path above
    // tells.)
    TempFolder folder{L"tessel-planted-rundll32"};
    REQUIRE(WriteWholeFile(folder / L"rundll32.exe", "MZ planted"));
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    UrlProtocolRecorder recorder(L"tessel-files-test");
    REQUIRE(recorder.IsRegistered());
    REQUIRE(SetCurrentDirectoryW(folder.Path().c_str()));
    const bool opened = OpenUrl(L"tessel-files-test:first");
    const bool recorded = recorder.WaitForLines(1, 20000);
    SetCurrentDirectoryW(previous);
    CHECK(opened);
    REQUIRE(recorded);
    CHECK(recorder.Lines()[0] == L"tessel-files-test:first");

    CHECK(ShellOpen(L"tessel-files-test:second"));
    REQUIRE(recorder.WaitForLines(2, 20000));
    CHECK(recorder.Lines()[1] == L"tessel-files-test:second");
}
