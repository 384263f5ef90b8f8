#include "ui/DialogTemplate.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <utility>

#include "base/ScopedHandle.h"
#include "system/ModuleVersion.h"
#include "ui/GdiHelpers.h"

namespace {

WORD ReadWord(const BYTE* data, DWORD at)
{
    WORD value;
    memcpy(&value, data + at, sizeof(value));
    return value;
}

DWORD ReadDword(const BYTE* data, DWORD at)
{
    DWORD value;
    memcpy(&value, data + at, sizeof(value));
    return value;
}

DWORD AlignToDword(DWORD offset)
{
    return (offset + 3) & ~DWORD(3);
}

// Moves past a zero-terminated UTF-16 string; false when it runs off the end.
bool SkipString(const BYTE* data, DWORD size, DWORD& at)
{
    for (; at + 2 <= size; at += 2) {
        if (ReadWord(data, at) == 0) {
            at += 2;
            return true;
        }
    }
    return false;
}

// Menu, class and title: 0xFFFF and an ordinal, or a string.
bool SkipNameOrOrdinal(const BYTE* data, DWORD size, DWORD& at)
{
    if (at + 2 > size) {
        return false;
    }
    if (ReadWord(data, at) == 0xFFFF) {
        at += 4;
        return at <= size;
    }
    return SkipString(data, size, at);
}

bool SameText(const wchar_t* a, const wchar_t* b)
{
    return wcscmp(a, b) == 0;
}

int IsFontFamilyInstalled(const wchar_t* face, void*)
{
    return FontFamilyExists(face, DEFAULT_CHARSET, nullptr);
}

} // namespace

int DialogTemplate::Allocate(DWORD size)
{
    block_.Reset(size ? LocalAlloc(LPTR, size) : nullptr);
    size_ = block_.IsValid() ? size : 0;
    return block_.IsValid();
}

void DialogTemplate::Reset()
{
    block_.Reset();
    size_ = 0;
}

int LocateDialogFont(const BYTE* data, DWORD size, DialogFontBlock& block)
{
    if (!data || size < 4) {
        return 0;
    }
    const bool extended = ReadWord(data, 2) == 0xFFFF;
    const DWORD fixedPart = extended ? 26 : 18;
    const DWORD styleAt = extended ? 12 : 0;
    if (size < fixedPart || !(ReadDword(data, styleAt) & DS_SETFONT)) {
        return 0;
    }
    DWORD at = fixedPart;
    for (int field = 0; field < 3; ++field) {
        if (!SkipNameOrOrdinal(data, size, at)) {
            return 0;
        }
    }
    const DWORD pointSizeAt = at;
    // Weight (16 bits), italic and character set (8 bits each) come first
    // in the extended form.
    const DWORD faceAt = pointSizeAt + (extended ? 6 : 2);
    DWORD faceEnd = faceAt;
    if (!SkipString(data, size, faceEnd)) {
        return 0;
    }
    block.extended = extended;
    block.pointSizeAt = pointSizeAt;
    block.faceAt = faceAt;
    block.faceLength = (faceEnd - faceAt) / 2 - 1;
    block.itemsAt = AlignToDword(faceEnd);
    return 1;
}

bool IsLegacyDialogFace(const wchar_t* face, DWORD length)
{
    static const wchar_t* const kLegacyFaces[] = {L"MS Sans Serif", L"MS Shell Dlg", L"System"};
    for (const wchar_t* legacy : kLegacyFaces) {
        if (wcslen(legacy) == length && wmemcmp(legacy, face, length) == 0) {
            return true;
        }
    }
    return false;
}

int ChooseDialogFont(const wchar_t* messageFace, LONG messageHeight, int dotsPerInch,
                     int preferShellFont, FontInstalledTest isInstalled, void* context,
                     DialogFontChoice& choice)
{
    if (!messageFace || !(SameText(messageFace, L"MS Sans Serif") ||
                          SameText(messageFace, L"Tahoma") || SameText(messageFace, L"Segoe UI"))) {
        return 0;
    }
    const wchar_t* face = nullptr;
    int points = 8;
    if (preferShellFont && SameText(messageFace, L"Segoe UI") &&
        isInstalled(L"MS Shell Dlg 2", context)) {
        face = L"MS Shell Dlg 2";
    } else if (isInstalled(messageFace, context)) {
        face = messageFace;
        // A positive height is a cell height; its size still tells the
        // points. A height that gives no usable size keeps 8 points.
        int pixels = abs(static_cast<int>(messageHeight));
        int converted = MulDiv(pixels, 72, dotsPerInch > 0 ? dotsPerInch : 96);
        if (converted > 0 && converted <= 0x7FFF) {
            points = converted;
        }
    } else if (isInstalled(L"MS Shell Dlg 2", context)) {
        face = L"MS Shell Dlg 2";
    } else {
        face = L"MS Shell Dlg";
    }
    wcscpy(choice.face, face);
    choice.pointSize = static_cast<WORD>(points);
    return 1;
}

int RewriteDialogFont(const BYTE* data, DWORD size, const DialogFontBlock& block,
                      const DialogFontChoice& choice, DialogTemplate& result)
{
    const DWORD newLength = static_cast<DWORD>(wcslen(choice.face));
    const long long allocation = static_cast<long long>(size) +
                                 2 * (static_cast<long long>(newLength) - block.faceLength) + 4;
    if (allocation <= 0 || allocation > 0x7FFFFFFF || block.faceAt > size) {
        return 0;
    }
    DialogTemplate copy;
    if (!copy.Allocate(static_cast<DWORD>(allocation))) {
        return 0;
    }
    BYTE* target = copy.Bytes();
    memcpy(target, data, block.faceAt);
    memcpy(target + block.faceAt, choice.face, (newLength + 1) * sizeof(wchar_t));
    const DWORD newItemsAt = AlignToDword(block.faceAt + (newLength + 1) * sizeof(wchar_t));
    const DWORD rest = size > block.itemsAt ? size - block.itemsAt : 0;
    memcpy(target + newItemsAt, data + block.itemsAt, rest);
    memcpy(target + block.pointSizeAt, &choice.pointSize, sizeof(choice.pointSize));

    result = std::move(copy);
    return 1;
}

int ReplaceDialogFont(const void* data, DWORD size, int preferShellFont, DialogTemplate& result)
{
    const BYTE* bytes = static_cast<const BYTE*>(data);
    DialogFontBlock block;
    if (!LocateDialogFont(bytes, size, block) || block.faceLength >= LF_FACESIZE) {
        return 0;
    }
    wchar_t face[LF_FACESIZE] = {};
    memcpy(face, bytes + block.faceAt, block.faceLength * sizeof(wchar_t));
    if (!IsLegacyDialogFace(face, block.faceLength)) {
        return 0;
    }

    // 500 bytes: the layout without the padded-border field, which every
    // Windows version accepts.
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = 500;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 500, &metrics, 0)) {
        return 0;
    }
    int dotsPerInch = 96;
    {
        ScreenDc screen;
        if (screen.Get()) {
            dotsPerInch = GetDeviceCaps(screen.Get(), LOGPIXELSY);
        }
    }
    DialogFontChoice choice;
    if (!ChooseDialogFont(metrics.lfMessageFont.lfFaceName, metrics.lfMessageFont.lfHeight,
                          dotsPerInch, preferShellFont, IsFontFamilyInstalled, nullptr, choice)) {
        return 0;
    }
    return RewriteDialogFont(bytes, size, block, choice, result);
}

int LoadDialogTemplate(HMODULE module, const wchar_t* dialogId, LANGID language,
                       int preferShellFont, DialogTemplate& result)
{
    DWORD size = 0;
    const void* data = FindResourceAnyLanguage(module, RT_DIALOG, dialogId, language, &size);
    return data ? ReplaceDialogFont(data, size, preferShellFont, result) : 0;
}
