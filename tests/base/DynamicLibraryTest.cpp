#include <doctest.h>

#include <windows.h>
#include <string>
#include <vector>

#include "UpdateTestFiles.h"
#include "base/DynamicLibrary.h"

namespace {

std::wstring ProgramPath()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// A loadable image under a library's name in a folder: a copy of this test
// program, which the loader maps like a library. Deleted at the end.
struct PlantedCopy
{
    const std::wstring path;
    const bool copied;

    PlantedCopy(const std::wstring& folder, const wchar_t* name)
        : path(folder + name), copied(CopyFileW(ProgramPath().c_str(), path.c_str(), FALSE) != 0)
    {
    }
    ~PlantedCopy() { DeleteFileW(path.c_str()); }
};

} // namespace

TEST_CASE("only bare names of system libraries are loaded")
{
    CHECK(IsBareLibraryName(L"dbghelp.dll"));
    CHECK(IsBareLibraryName(L"wininet"));
    for (const wchar_t* name :
         {L"", L".", L"..", L"..\\dbghelp.dll", L"sub/dbghelp.dll", L"C:dbghelp.dll",
          L"C:\\Windows\\System32\\dbghelp.dll", L"\\\\server\\share\\x.dll", L"x.dll:stream"}) {
        CAPTURE(std::string(name, name + wcslen(name)));
        CHECK_FALSE(IsBareLibraryName(name));
    }
    CHECK_FALSE(IsBareLibraryName(nullptr));
    DynamicLibrary library;
    CHECK(library.Load(L"..\\kernel32.dll") == 0);
    CHECK(library.Handle() == nullptr);

    wchar_t path[16] = L"untouched";
    CHECK(SystemLibraryPath(L"C:\\Windows\\System32", L"x.dll", path, 16) == 0);
    CHECK(std::wstring(path) == L"untouched");
    wchar_t room[MAX_PATH];
    REQUIRE(SystemLibraryPath(L"C:\\Windows\\System32", L"x.dll", room, MAX_PATH));
    CHECK(std::wstring(room) == L"C:\\Windows\\System32\\x.dll");
    REQUIRE(SystemLibraryPath(L"C:\\", L"x.dll", room, MAX_PATH));
    CHECK(std::wstring(room) == L"C:\\x.dll");
    CHECK(SystemLibraryPath(L"", L"x.dll", room, MAX_PATH) == 0);
    // Exactly full: the terminator needs one more.
    CHECK(SystemLibraryPath(L"C:\\ab", L"x.dll", room, 11) == 0);
    CHECK(SystemLibraryPath(L"C:\\ab", L"x.dll", room, 12) == 1);
}

TEST_CASE("a library beside the program or in the current folder is never loaded")
{
    const std::wstring program = ProgramPath();
    const std::wstring programFolder = program.substr(0, program.rfind(L'\\') + 1);
    const update_test::TempFolder currentFolder{L"tessel-library"};
    wchar_t previousFolder[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previousFolder);
    {
        PlantedCopy beside(programFolder, L"tessel_beside.dll");
        PlantedCopy current(currentFolder.Path(), L"tessel_current.dll");
        REQUIRE(beside.copied);
        REQUIRE(current.copied);
        REQUIRE(SetCurrentDirectoryW(currentFolder.Path().c_str()));

        DynamicLibrary library;
        CHECK(library.Load(L"tessel_beside.dll") == 0);
        CHECK(library.Load(L"tessel_current.dll") == 0);
        // The system's own libraries still load, by name.
        CHECK(library.Load(L"dbghelp.dll") == 1);

        // Restricted for the whole process, loads by name that the system
        // makes for itself find neither copy either.
        RestrictLibrarySearch();
        for (const wchar_t* name : {L"tessel_beside.dll", L"tessel_current.dll"}) {
            HMODULE module = LoadLibraryW(name);
            CHECK(module == nullptr);
            if (module)
                FreeLibrary(module);
        }
        // A full path is still the caller's to give.
        HMODULE named = LoadLibraryExW(beside.path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
        CHECK(named != nullptr);
        if (named)
            FreeLibrary(named);
        SetCurrentDirectoryW(previousFolder);
    }
}

TEST_CASE("a library handle is closed once, by its own function")
{
    std::vector<int> closed;
    auto close = [&closed](int* handle) { closed.push_back(*handle); };
    int first = 1;
    int second = 2;
    int third = 3;
    {
        LibraryHandle<int*, decltype(close)> handle(close);
        CHECK_FALSE(handle);
        handle.Reset();
        CHECK(closed.empty());
        handle.Reset(&first);
        REQUIRE(handle);
        CHECK(handle.Get() == &first);
        // Replacing, and receiving a new one, close the held handle first.
        handle.Reset(&second);
        *handle.Out() = &third;
        CHECK(closed == std::vector<int>{1, 2});
    }
    CHECK(closed == std::vector<int>{1, 2, 3});
}
