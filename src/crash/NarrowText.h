#pragma once

#include <stddef.h>

// printf-style formatting into a caller's narrow buffer, always
// terminated, cut at the buffer's end. Patterns are those of the C
// runtime's narrow formatter: %s narrow, %S wide, %I64X 64-bit. Answers the
// length written.
size_t FormatNarrow(char* text, size_t size, const char* pattern, ...);

// Copies at most size - 1 characters and terminates; answers the length.
size_t CopyNarrow(char* text, size_t size, const char* source);

// Appends wide text converted to the ANSI code page at text[length], whole
// characters only, as long as the text stays within limit bytes (the
// terminator not counted); a character the code page lacks becomes its
// default character. Terminates and answers the new length.
size_t AppendAnsi(char* text, size_t length, size_t limit, const wchar_t* source);
