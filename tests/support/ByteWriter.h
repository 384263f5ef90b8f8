#pragma once

#include <windows.h>

#include <string.h>

#include <vector>

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
