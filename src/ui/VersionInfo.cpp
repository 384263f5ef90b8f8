#include "ui/VersionInfo.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <utility>

#include "base/ScopedHandle.h"
#include "system/SystemInfo.h"

namespace {

// The string tables of the version resource, in the order they are asked.
const wchar_t* const kVersionTables[] = {L"040704B0", L"040904B0"};

// A file's version resource, read into a zero-filled LocalAlloc block.
class VersionBlock
{
public:
    int Read(const wchar_t* path)
    {
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeW(path, &ignored);
        if (size == 0) {
            return 0;
        }
        block_.Reset(LocalAlloc(LPTR, size));
        return block_.IsValid() && GetFileVersionInfoW(path, 0, size, block_.Get());
    }

    // A string of the German table, else of the US English one; null when
    // neither has it. count receives its length.
    const wchar_t* FindString(const wchar_t* name, unsigned& count) const
    {
        for (const wchar_t* table : kVersionTables) {
            WideString query;
            Format(query, L"\\StringFileInfo\\%s\\%s", table, name);
            void* value = nullptr;
            UINT length = 0;
            if (VerQueryValueW(block_.Get(), query.Data(), &value, &length) && value) {
                const wchar_t* text = static_cast<const wchar_t*>(value);
                count = static_cast<unsigned>(wcsnlen(text, length));
                return text;
            }
        }
        return nullptr;
    }

private:
    ScopedLocalMemory block_;
};

bool ReadDecimal(const wchar_t*& text, unsigned& value)
{
    if (*text < L'0' || *text > L'9') {
        return false;
    }
    unsigned number = 0;
    while (*text >= L'0' && *text <= L'9') {
        number = number * 10 + static_cast<unsigned>(*text - L'0');
        ++text;
    }
    value = number;
    return true;
}

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

// ---------------------------------------------------------------------------
// Module and version resource

int ModuleFileName(HMODULE module, wchar_t* buffer)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    // A full buffer means the name was cut.
    if (length == 0 || length >= MAX_PATH) {
        return 0;
    }
    memcpy(buffer, path, (length + 1) * sizeof(wchar_t));
    return 1;
}

int ModuleDirectory(HMODULE module, wchar_t* buffer)
{
    wchar_t path[MAX_PATH];
    if (!ModuleFileName(module, path)) {
        return 0;
    }
    wchar_t* lastSlash = wcsrchr(path, L'\\');
    if (lastSlash) {
        lastSlash[1] = L'\0';
    } else {
        path[0] = L'\0';
    }
    wcscpy(buffer, path);
    return 1;
}

int ParseVersionText(const wchar_t* text, unsigned& major, unsigned& minor)
{
    if (!text) {
        return 0;
    }
    while (iswspace(*text)) {
        ++text;
    }
    if (!ReadDecimal(text, major)) {
        return 0;
    }
    if (*text != L'.') {
        return 1;
    }
    ++text;
    return ReadDecimal(text, minor) ? 2 : 1;
}

int ReadFileVersion(const wchar_t* path, unsigned& major, unsigned& minor, WideString* text)
{
    VersionBlock block;
    if (!path || !block.Read(path)) {
        return 0;
    }
    unsigned count = 0;
    const wchar_t* value = block.FindString(L"FileVersion", count);
    if (!value) {
        return 0;
    }
    WideString version;
    version.Assign(value, count);
    ParseVersionText(version.Data(), major, minor);
    if (text) {
        text->Assign(version);
    }
    return 1;
}

void PackedVersion(HMODULE module, WORD* packed, WideString* text)
{
    unsigned major = 1;
    unsigned minor = 1;
    wchar_t path[MAX_PATH];
    if (ModuleFileName(module, path)) {
        ReadFileVersion(path, major, minor, text);
    }
    if (packed) {
        *packed = static_cast<WORD>((major & 0xFF) << 8 | (minor & 0xFF));
    }
}

int ReadVersionString(WideString& out, const wchar_t* name, const wchar_t* path)
{
    wchar_t ownPath[MAX_PATH];
    if (!path) {
        if (!ModuleFileName(nullptr, ownPath)) {
            return 0;
        }
        path = ownPath;
    }
    VersionBlock block;
    unsigned count = 0;
    const wchar_t* value = name && block.Read(path) ? block.FindString(name, count) : nullptr;
    if (!value) {
        return 0;
    }
    return out.Assign(value, count);
}

int FormatVersionTitle(WideString& title, const wchar_t* name, unsigned major, unsigned minor)
{
    return Format(title, L"%s [%u.%02u]", name ? name : L"", major, minor);
}

const wchar_t* VersionInfo::VersionTitle(const wchar_t* name, HMODULE module)
{
    unsigned major = 1;
    unsigned minor = 1;
    wchar_t path[MAX_PATH];
    if (ModuleFileName(module, path)) {
        ReadFileVersion(path, major, minor);
    }
    FormatVersionTitle(title_, name, major, minor);
    return title_.Data();
}

// ---------------------------------------------------------------------------
// Resources in the best language

void ResourceLanguageOrder(LANGID language, LANGID (&order)[kResourceLanguageCount])
{
    order[0] = language;
    order[1] = static_cast<LANGID>((language & 0x3FF) | 0x400);
    order[2] = static_cast<LANGID>(language & 0x3FF);
    order[3] = 1033;
    order[4] = 2057;
    order[5] = 9;
    order[6] = 1031;
}

const void* FindResourceAnyLanguage(HMODULE module, const wchar_t* type, const wchar_t* name,
                                    LANGID language, DWORD* size)
{
    LANGID order[kResourceLanguageCount];
    ResourceLanguageOrder(language, order);
    HRSRC found = nullptr;
    for (int i = 0; i < kResourceLanguageCount && !found; ++i) {
        found = FindResourceExW(module, type, name, order[i]);
    }
    if (!found) {
        return nullptr;
    }
    HGLOBAL loaded = LoadResource(module, found);
    DWORD length = SizeofResource(module, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data || length == 0) {
        return nullptr;
    }
    if (size) {
        *size = length;
    }
    return data;
}

// ---------------------------------------------------------------------------
// Dialog template fonts

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
