#pragma once

#include <windows.h>

// Decoder of the "imploded" ZIP method (6): a 4 KiB or 8 KiB sliding
// dictionary whose literals, lengths and distances are coded with
// Shannon-Fano trees stored at the start of the data.

enum ExplodeResult
{
    EXPLODE_OK = 0,
    EXPLODE_BAD_DATA = 1,     // malformed trees or codes, or output beyond its size
    EXPLODE_TRUNCATED = 2,    // the compressed data ended early
    EXPLODE_WRITE_FAILED = 3, // the output callback refused
    EXPLODE_NO_MEMORY = 4,
};

// Fills buffer with up to capacity bytes and answers the count; 0 at the end
// of the compressed data.
using ExplodeReadFunction = unsigned (*)(void* context, BYTE* buffer, unsigned capacity);
// Takes count bytes of output; answers 1 or 0.
using ExplodeWriteFunction = int (*)(void* context, const BYTE* data, unsigned count);

// Decodes exactly outputSize bytes. flags are the entry's general-purpose
// flags (bit 1: 8 KiB dictionary, bit 2: three trees).
ExplodeResult Explode(WORD flags, ULONGLONG outputSize, ExplodeReadFunction read, void* readContext,
                      ExplodeWriteFunction write, void* writeContext);
