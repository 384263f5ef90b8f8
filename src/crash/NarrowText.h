#pragma once

#include <stddef.h>

// printf-style formatting into a caller's narrow buffer, always
// terminated, cut at the buffer's end. Patterns are those of the C
// runtime's narrow formatter: %s narrow, %S wide, %I64X 64-bit. Answers the
// length written.
size_t FormatNarrow(char* text, size_t size, const char* pattern, ...);

// Copies at most size - 1 characters and terminates; answers the length.
size_t CopyNarrow(char* text, size_t size, const char* source);
