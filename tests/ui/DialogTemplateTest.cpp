#include <doctest.h>

#include <windows.h>

#include <string.h>
#include <string>
#include <vector>

#include "ByteWriter.h"
#include "ui/DialogTemplate.h"

namespace {

constexpr int kFirstControlId = 200;
constexpr int kControls = 3;
constexpr DWORD kTemplateStyle = WS_POPUP | WS_CAPTION | DS_SETFONT;

// "Button 200" to "Button 202", the text of each control of the template.
std::wstring ButtonText(int index)
{
    return L"Button " + std::to_wstring(kFirstControlId + index);
}

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
        out.Text(ButtonText(i).c_str());
        out.Word(0); // no creation data
    }
    return out.bytes;
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
        CHECK((text == ButtonText(i)));
    }
    DestroyWindow(dialog);
}

const FontInstalledTest AllInstalled = [](const wchar_t*, void*) { return 1; };
const FontInstalledTest NoneInstalled = [](const wchar_t*, void*) { return 0; };
const FontInstalledTest OnlyShellDlg2 = [](const wchar_t* face, void*) {
    return int(wcscmp(face, L"MS Shell Dlg 2") == 0);
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
        INFO("row " << (&c - cases));
        std::vector<BYTE> source = BuildTemplate(c.extended, c.title, c.oldFace);
        const DWORD size = static_cast<DWORD>(source.size());
        DialogFontBlock block;
        REQUIRE(LocateDialogFont(source.data(), size, block));
        DialogFontBlock truncated;
        CHECK(LocateDialogFont(source.data(), block.faceAt + 4, truncated) == 0);

        DialogFontChoice choice;
        wcscpy(choice.face, c.newFace);
        choice.pointSize = 9;
        DialogTemplate copy;
        REQUIRE(RewriteDialogFont(source.data(), size, block, choice, copy) == 1);
        CHECK(copy.Size() == size + 2 * (wcslen(c.newFace) - wcslen(c.oldFace)) + 4);

        DialogFontBlock rewritten;
        REQUIRE(LocateDialogFont(copy.Bytes(), copy.Size(), rewritten));
        const auto* face = reinterpret_cast<const wchar_t*>(copy.Bytes() + rewritten.faceAt);
        CHECK((std::wstring(face, rewritten.faceLength) == c.newFace));
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
        INFO("row " << (&c - cases));
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
