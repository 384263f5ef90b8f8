#include <doctest.h>

#include <windows.h>

#include <string.h>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "app/resource.h"
#include "base/WideString.h"
#include "ui/DialogTemplate.h"
#include "ui/VersionInfo.h"

namespace {

// Byte-level writer for dialog templates and version resources.
class ByteWriter
{
public:
    std::vector<BYTE> bytes;

    void Word(WORD value) { Raw(&value, sizeof value); }
    void Dword(DWORD value) { Raw(&value, sizeof value); }
    void Text(const wchar_t* text) { Raw(text, (wcslen(text) + 1) * sizeof(wchar_t)); }
    void Raw(const void* data, size_t size)
    {
        const BYTE* from = static_cast<const BYTE*>(data);
        bytes.insert(bytes.end(), from, from + size);
    }
    void AlignToDword() { bytes.resize((bytes.size() + 3) & ~size_t(3)); }
    void PatchWord(size_t at, WORD value) { memcpy(&bytes[at], &value, sizeof value); }
};

constexpr int kFirstControlId = 200;
constexpr int kControls = 3;
constexpr DWORD kTemplateStyle = WS_POPUP | WS_CAPTION | DS_SETFONT;

// A dialog template in 8 points with push buttons "Button 200" to "Button 202".
std::vector<BYTE> BuildTemplate(bool extended, const wchar_t* title, const wchar_t* face,
                                DWORD style = kTemplateStyle)
{
    ByteWriter out;
    // Extended: version 1, signature, help id, extended style, style.
    // Standard: style, extended style.
    const DWORD head[] = {0xFFFF0001, 0, 0, style, 0};
    out.Raw(extended ? head : head + 3, extended ? 16 : 8);
    for (int value : {kControls, 10, 10, 200, 100, 0, 0}) // count, x, y, cx, cy, no menu, no class
        out.Word(static_cast<WORD>(value));
    out.Text(title);
    if (style & DS_SETFONT) {
        out.Word(8);
        if (extended) // weight, italic 1, character set 0xEE
            out.Dword(MAKELONG(FW_BOLD, 0xEE01));
        out.Text(face);
    }
    for (int i = 0; i < kControls; ++i) {
        out.AlignToDword();
        const DWORD itemStyle[] = {0, 0, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0};
        out.Raw(extended ? itemStyle : itemStyle + 2, extended ? 12 : 8);
        for (int value : {5, 5 + 15 * i, 60, 14})
            out.Word(static_cast<WORD>(value));
        const DWORD id = kFirstControlId + i;
        out.Raw(&id, extended ? 4 : 2);
        out.Dword(0x0080FFFF); // the button class by ordinal
        WideString text;
        Format(text, L"Button %d", kFirstControlId + i);
        out.Text(text.Data());
        out.Word(0); // no creation data
    }
    return out.bytes;
}

std::wstring FaceOf(const BYTE* data, const DialogFontBlock& block)
{
    return std::wstring(reinterpret_cast<const wchar_t*>(data + block.faceAt), block.faceLength);
}

WORD WordAt(const BYTE* data, DWORD at)
{
    WORD value;
    memcpy(&value, data + at, sizeof value);
    return value;
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

// Creates the template as a real dialog and checks every button.
void CheckDialogCreates(const DialogTemplate& dialogTemplate)
{
    HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dialogTemplate.Get(),
                                             nullptr, PlainDialogProc, 0);
    REQUIRE(dialog);
    for (int i = 0; i < kControls; ++i) {
        wchar_t text[32] = {};
        GetDlgItemTextW(dialog, kFirstControlId + i, text, 32);
        WideString expected;
        Format(expected, L"Button %d", kFirstControlId + i);
        CHECK(expected.Compare(text) == 0);
    }
    DestroyWindow(dialog);
}

const FontInstalledTest AllInstalled = [](const wchar_t*, void*) { return 1; };
const FontInstalledTest NoneInstalled = [](const wchar_t*, void*) { return 0; };
const FontInstalledTest OnlyShellDlg2 = [](const wchar_t* face, void*) {
    return int(wcscmp(face, L"MS Shell Dlg 2") == 0);
};

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

TEST_CASE("Rewriting the face keeps the size arithmetic and the 4-byte control alignment")
{
    struct Case
    {
        bool extended;
        const wchar_t* title; // both parities put the old face end on either half of a unit
        const wchar_t* oldFace;
        const wchar_t* newFace;
    };
    const Case cases[] = {
        {false, L"T", L"MS Sans Serif", L"Segoe UI"},
        {true, L"Ti", L"MS Sans Serif", L"Segoe UI"},
        {false, L"Ti", L"System", L"MS Shell Dlg 2"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.extended);
        std::vector<BYTE> source = BuildTemplate(c.extended, c.title, c.oldFace);
        const DWORD size = static_cast<DWORD>(source.size());
        DialogFontBlock block;
        REQUIRE(LocateDialogFont(source.data(), size, block));
        CHECK(LocateDialogFont(source.data(), block.faceAt + 4, block) == 0);
        REQUIRE(LocateDialogFont(source.data(), size, block));

        DialogFontChoice choice;
        wcscpy(choice.face, c.newFace);
        choice.pointSize = 9;
        DialogTemplate copy;
        REQUIRE(RewriteDialogFont(source.data(), size, block, choice, copy) == 1);
        CHECK(copy.Size() == size + 2 * (wcslen(c.newFace) - wcslen(c.oldFace)) + 4);

        DialogFontBlock rewritten;
        REQUIRE(LocateDialogFont(copy.Bytes(), copy.Size(), rewritten));
        CHECK((FaceOf(copy.Bytes(), rewritten) == c.newFace));
        CHECK(WordAt(copy.Bytes(), rewritten.pointSizeAt) == 9);
        CHECK(memcmp(copy.Bytes() + rewritten.itemsAt, source.data() + block.itemsAt,
                     size - block.itemsAt) == 0);
        if (c.extended) {
            CHECK(WordAt(copy.Bytes(), rewritten.pointSizeAt + 2) == FW_BOLD);
            CHECK(copy.Bytes()[rewritten.pointSizeAt + 5] == 0xEE);
        }
        CheckDialogCreates(copy);
    }
}

TEST_CASE("Templates in modern faces or without a font block are left alone")
{
    for (const wchar_t* face : {L"MS Shell Dlg 2", L"system", L""}) {
        CAPTURE(face);
        // The empty face stands for a template without DS_SETFONT.
        std::vector<BYTE> data =
            BuildTemplate(false, L"T", face, *face ? kTemplateStyle : WS_POPUP | WS_CAPTION);
        for (int prefer : {0, 1}) {
            DialogTemplate result;
            CHECK(ReplaceDialogFont(data.data(), static_cast<DWORD>(data.size()), prefer, result) ==
                  0);
            CHECK(result.IsEmpty());
        }
    }
}

TEST_CASE("Choice of the replacement font")
{
    struct Case
    {
        const wchar_t* messageFace;
        LONG height;
        int dotsPerInch;
        int prefer;
        FontInstalledTest installed;
        const wchar_t* face; // null: the template keeps its font
        WORD points;
    };
    const Case cases[] = {
        {L"Tahoma", -15, 120, 0, AllInstalled, L"Tahoma", 9}, // MulDiv rounds to nearest
        {L"Tahoma", 15, 120, 0, AllInstalled, L"Tahoma", 9},  // a cell height
        {L"Tahoma", 0, 96, 0, AllInstalled, L"Tahoma", 8},
        {L"Tahoma", -12, 0, 0, AllInstalled, L"Tahoma", 9},
        {L"Segoe UI", -12, 96, 1, AllInstalled, L"MS Shell Dlg 2", 8},
        {L"Segoe UI", -12, 96, 0, OnlyShellDlg2, L"MS Shell Dlg 2", 8},
        {L"Segoe UI", -12, 96, 1, NoneInstalled, L"MS Shell Dlg", 8},
        {L"Arial", -12, 96, 0, AllInstalled, nullptr, 0},
    };
    for (const Case& c : cases) {
        CAPTURE(c.height);
        CAPTURE(c.prefer);
        DialogFontChoice choice;
        int chosen = ChooseDialogFont(c.messageFace, c.height, c.dotsPerInch, c.prefer, c.installed,
                                      nullptr, choice);
        REQUIRE(chosen == (c.face != nullptr));
        if (chosen) {
            CHECK((std::wstring(choice.face) == c.face));
            CHECK(choice.pointSize == c.points);
        }
    }
}

TEST_CASE("The main dialog resource through the loader")
{
    LANGID order[kResourceLanguageCount];
    ResourceLanguageOrder(0x0807, order);
    const LANGID expected[] = {0x0807, 0x0407, 0x0007, 1033, 2057, 9, 1031};
    CHECK(memcmp(order, expected, sizeof expected) == 0);

    HMODULE self = GetModuleHandleW(nullptr);
    DWORD size = 99;
    CHECK(FindResourceAnyLanguage(self, RT_DIALOG, MAKEINTRESOURCEW(4321), 0, &size) == nullptr);
    CHECK(size == 99);

    // A template that comes back is the main dialog in a modern face.
    DialogTemplate loaded;
    if (LoadDialogTemplate(self, MAKEINTRESOURCEW(IDD_MAIN), 0, 0, loaded)) {
        DialogFontBlock block;
        REQUIRE(LocateDialogFont(loaded.Bytes(), loaded.Size(), block));
        std::wstring face = FaceOf(loaded.Bytes(), block);
        CHECK(IsLegacyDialogFace(face.c_str(), block.faceLength) == (face == L"MS Shell Dlg"));
        HWND dialog = CreateDialogIndirectParamW(self, loaded.Get(), nullptr, PlainDialogProc, 0);
        REQUIRE(dialog);
        CHECK(GetDlgItem(dialog, IDC_AUTO_UPDATE) != nullptr);
        DestroyWindow(dialog);
    }
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
    WideString title;
    FormatVersionTitle(title, L"Tessel", major, minor);
    CHECK(title.Compare(L"Tessel [2.01]") == 0);

    ProgramCopy japanese(BuildVersionResource(L"041104B0", {{L"FileVersion", L"3.3"}}));
    REQUIRE(japanese.ready);
    WideString text(L"kept");
    CHECK(ReadFileVersion(japanese.path, major, minor, &text) == 0);
    CHECK((major == 2 && minor == 1));
    CHECK(text.Compare(L"kept") == 0);
    CHECK(ReadFileVersion(L"C:\\no\\such\\file.exe", major, minor) == 0);
}
