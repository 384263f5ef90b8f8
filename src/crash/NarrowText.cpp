#include "crash/NarrowText.h"

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
