#include "crash/NarrowText.h"

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

size_t FormatNarrow(char* text, size_t size, const char* pattern, ...)
{
    if (!text || size == 0) {
        return 0;
    }
    va_list args;
    va_start(args, pattern);
    // The runtime's own formatter: it leaves the buffer unterminated when
    // the text does not fit, so the last byte is kept for the terminator.
    int written = _vsnprintf(text, size - 1, pattern, args);
    va_end(args);
    text[size - 1] = 0;
    if (written < 0 || static_cast<size_t>(written) >= size - 1) {
        return strlen(text);
    }
    return static_cast<size_t>(written);
}

size_t CopyNarrow(char* text, size_t size, const char* source)
{
    if (!text || size == 0) {
        return 0;
    }
    size_t length = 0;
    while (source && source[length] && length + 1 < size) {
        text[length] = source[length];
        ++length;
    }
    text[length] = 0;
    return length;
}

size_t AppendAnsi(char* text, size_t length, size_t limit, const wchar_t* source)
{
    if (length > limit) {
        length = limit;
    }
    for (size_t i = 0; source && source[i];) {
        // A surrogate pair is one character.
        const int units = IS_HIGH_SURROGATE(source[i]) && IS_LOW_SURROGATE(source[i + 1]) ? 2 : 1;
        char bytes[8];
        int count = WideCharToMultiByte(CP_ACP, 0, source + i, units, bytes, sizeof(bytes), nullptr,
                                        nullptr);
        if (count <= 0) {
            bytes[0] = '?';
            count = 1;
        }
        if (length + static_cast<size_t>(count) > limit) {
            break;
        }
        memcpy(text + length, bytes, static_cast<size_t>(count));
        length += static_cast<size_t>(count);
        i += static_cast<size_t>(units);
    }
    text[length] = 0;
    return length;
}
