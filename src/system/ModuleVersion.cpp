#include "system/ModuleVersion.h"

#include <string.h>
#include <wchar.h>

#include "base/DynamicLibrary.h"
#include "base/ScopedHandle.h"

namespace {

// The string tables of the version resource, in the order they are asked.
const wchar_t* const kVersionTables[] = {L"040704B0", L"040904B0"};

// A file's version resource, read into a zero-filled LocalAlloc block.
class VersionBlock
{
public:
    int Read(const wchar_t* path)
    {
        if (!Bind()) {
            return 0;
        }
        DWORD ignored = 0;
        DWORD size = size_(path, &ignored);
        if (size == 0) {
            return 0;
        }
        block_.Reset(LocalAlloc(LPTR, size));
        return block_.IsValid() && read_(path, 0, size, block_.Get());
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
            if (query_ && query_(block_.Get(), query.Data(), &value, &length) && value) {
                const wchar_t* text = static_cast<const wchar_t*>(value);
                count = static_cast<unsigned>(wcsnlen(text, length));
                return text;
            }
        }
        return nullptr;
    }

private:
    using SizeFunction = DWORD(WINAPI*)(const wchar_t*, DWORD*);
    using ReadFunction = BOOL(WINAPI*)(const wchar_t*, DWORD, DWORD, void*);
    using QueryFunction = BOOL(WINAPI*)(const void*, const wchar_t*, void**, UINT*);

    int Bind()
    {
        if (!version_.Load(L"version.dll")) {
            return 0;
        }
        size_ = version_.Symbol<SizeFunction>("GetFileVersionInfoSizeW");
        read_ = version_.Symbol<ReadFunction>("GetFileVersionInfoW");
        query_ = version_.Symbol<QueryFunction>("VerQueryValueW");
        return size_ && read_ && query_;
    }

    // Not linked: a version.dll beside the program would otherwise be
    // loaded with it.
    DynamicLibrary version_;
    SizeFunction size_ = nullptr;
    ReadFunction read_ = nullptr;
    QueryFunction query_ = nullptr;
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

// ---------------------------------------------------------------------------
// Resources in the best language

void ResourceLanguageOrder(LANGID language, LANGID (&order)[kResourceLanguageCount])
{
    order[0] = language;
    order[1] = static_cast<LANGID>((language & 0x3FF) | 0x400);
    order[2] = static_cast<LANGID>(language & 0x3FF);
    order[3] = kLanguageEnglishUs;
    order[4] = kLanguageEnglishUk;
    order[5] = kLanguageEnglishNeutral;
    order[6] = kLanguageGerman;
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
