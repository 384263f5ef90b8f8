#pragma once
// Text conversions of the tests: paths, modes and expected values are
// written as plain strings, the system's texts are wide.

#include <windows.h>

#include <string>

// Each byte one code unit: for ASCII texts such as paths and mode names.
inline std::wstring Widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// Through the code page, as the program itself narrows texts.
inline std::string Narrow(const std::wstring& text, UINT codePage = CP_ACP)
{
    const int length = static_cast<int>(text.size());
    const int size =
        length ? WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr)
               : 0;
    std::string bytes(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(codePage, 0, text.data(), length, &bytes[0], size, nullptr, nullptr);
    return bytes;
}

// The low byte of each unit: for texts read raw, one byte a unit.
inline std::string LowBytes(const wchar_t* units, size_t count)
{
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<char>(units[i] & 0xFF);
    return bytes;
}
