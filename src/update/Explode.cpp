#include "update/Explode.h"

#include "base/ScopedHandle.h"
#include "update/ZipFormat.h"

namespace {

constexpr unsigned kMaxCodeLength = 16;
constexpr unsigned kLiteralSymbols = 256;
constexpr unsigned kLengthSymbols = 64;
constexpr unsigned kDistanceSymbols = 64;
constexpr unsigned kInputSize = 16384;
// A power of two larger than the biggest dictionary, so a distance never
// reaches output that has already been flushed.
constexpr unsigned kWindowSize = 65536;
constexpr unsigned kWindowMask = kWindowSize - 1;

// A Shannon-Fano tree as counts per code length and symbols ordered by
// length, then value. The application note builds the codes so that, with
// every bit complemented, they are the canonical codes of these lengths.
struct CodeTree
{
    WORD counts[kMaxCodeLength + 1];
    WORD symbols[kLiteralSymbols];
};

// Least significant bit first, as the encoder packs them.
class BitReader
{
public:
    BitReader(ExplodeReadFunction read, void* context, BYTE* buffer)
        : read_(read), context_(context), buffer_(buffer)
    {
    }

    // Takes count bits (at most 16); 0 when the data ended.
    int Take(unsigned count, unsigned& value)
    {
        while (available_ < count) {
            BYTE next;
            if (!NextByte(next)) {
                return 0;
            }
            bits_ |= static_cast<unsigned long>(next) << available_;
            available_ += 8;
        }
        value = static_cast<unsigned>(bits_ & ((1UL << count) - 1));
        bits_ >>= count;
        available_ -= count;
        return 1;
    }

    int NextByte(BYTE& byte)
    {
        if (position_ == size_) {
            size_ = read_(context_, buffer_, kInputSize);
            position_ = 0;
            if (size_ == 0) {
                return 0;
            }
        }
        byte = buffer_[position_++];
        return 1;
    }

private:
    ExplodeReadFunction read_;
    void* context_;
    BYTE* buffer_;
    unsigned position_ = 0;
    unsigned size_ = 0;
    unsigned long bits_ = 0;
    unsigned available_ = 0;
};

// Reads a stored tree: a byte giving the number of following bytes minus
// one, then bytes whose high nibble is a run length minus one and whose low
// nibble is a code length minus one, for the symbols in order.
ExplodeResult ReadTree(BitReader& input, unsigned symbolCount, CodeTree& tree)
{
    BYTE lengths[kLiteralSymbols];
    BYTE header;
    if (!input.NextByte(header)) {
        return EXPLODE_TRUNCATED;
    }
    unsigned filled = 0;
    for (unsigned i = 0; i <= header; ++i) {
        BYTE run;
        if (!input.NextByte(run)) {
            return EXPLODE_TRUNCATED;
        }
        const unsigned count = (run >> 4) + 1u;
        if (filled + count > symbolCount) {
            return EXPLODE_BAD_DATA;
        }
        for (unsigned j = 0; j < count; ++j) {
            lengths[filled++] = static_cast<BYTE>((run & 15) + 1);
        }
    }
    if (filled != symbolCount) {
        return EXPLODE_BAD_DATA;
    }

    ZeroMemory(tree.counts, sizeof(tree.counts));
    for (unsigned symbol = 0; symbol < symbolCount; ++symbol) {
        ++tree.counts[lengths[symbol]];
    }
    // More codes of a length than the shorter ones leave room for: no
    // prefix code has these lengths.
    long left = 1;
    for (unsigned length = 1; length <= kMaxCodeLength; ++length) {
        left = left * 2 - tree.counts[length];
        if (left < 0) {
            return EXPLODE_BAD_DATA;
        }
    }
    WORD offsets[kMaxCodeLength + 2] = {};
    for (unsigned length = 1; length <= kMaxCodeLength; ++length) {
        offsets[length + 1] = static_cast<WORD>(offsets[length] + tree.counts[length]);
    }
    for (unsigned symbol = 0; symbol < symbolCount; ++symbol) {
        tree.symbols[offsets[lengths[symbol]]++] = static_cast<WORD>(symbol);
    }
    return EXPLODE_OK;
}

ExplodeResult DecodeSymbol(BitReader& input, const CodeTree& tree, unsigned& symbol)
{
    unsigned code = 0;
    unsigned first = 0;
    unsigned index = 0;
    for (unsigned length = 1; length <= kMaxCodeLength; ++length) {
        unsigned bit;
        if (!input.Take(1, bit)) {
            return EXPLODE_TRUNCATED;
        }
        code |= bit ^ 1u;
        const unsigned count = tree.counts[length];
        if (code - first < count) {
            symbol = tree.symbols[index + code - first];
            return EXPLODE_OK;
        }
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return EXPLODE_BAD_DATA;
}

// The sliding window; it is flushed to the output when full and at the end.
struct Window
{
    BYTE* bytes;
    unsigned position = 0;
    unsigned flushed = 0;
    ExplodeWriteFunction write;
    void* context;

    int Flush()
    {
        const unsigned count = position - flushed;
        if (count && !write(context, bytes + flushed, count)) {
            return 0;
        }
        flushed = position & kWindowMask;
        position = flushed;
        return 1;
    }
    int Put(BYTE byte)
    {
        bytes[position++] = byte;
        return position == kWindowSize ? Flush() : 1;
    }
};

struct Trees
{
    CodeTree literals;
    CodeTree lengths;
    CodeTree distances;
};

ExplodeResult ReadTrees(BitReader& input, bool literalTree, Trees& trees)
{
    ExplodeResult result = EXPLODE_OK;
    if (literalTree) {
        result = ReadTree(input, kLiteralSymbols, trees.literals);
    }
    if (result == EXPLODE_OK) {
        result = ReadTree(input, kLengthSymbols, trees.lengths);
    }
    if (result == EXPLODE_OK) {
        result = ReadTree(input, kDistanceSymbols, trees.distances);
    }
    return result;
}

struct ExplodeState
{
    BitReader& input;
    Window& window;
    const Trees& trees;
    bool literalTree;
    unsigned lowDistanceBits;
    unsigned minimumMatch;
};

ExplodeResult DecodeLiteral(ExplodeState& state)
{
    unsigned literal;
    if (state.literalTree) {
        ExplodeResult result = DecodeSymbol(state.input, state.trees.literals, literal);
        if (result != EXPLODE_OK) {
            return result;
        }
    } else if (!state.input.Take(8, literal)) {
        return EXPLODE_TRUNCATED;
    }
    return state.window.Put(static_cast<BYTE>(literal)) ? EXPLODE_OK : EXPLODE_WRITE_FAILED;
}

// A copy of length bytes from distance bytes back; before the start of the
// output the dictionary holds zeros.
ExplodeResult DecodeMatch(ExplodeState& state, ULONGLONG& remaining)
{
    unsigned low;
    unsigned high;
    unsigned length;
    if (!state.input.Take(state.lowDistanceBits, low)) {
        return EXPLODE_TRUNCATED;
    }
    ExplodeResult result = DecodeSymbol(state.input, state.trees.distances, high);
    if (result == EXPLODE_OK) {
        result = DecodeSymbol(state.input, state.trees.lengths, length);
    }
    if (result != EXPLODE_OK) {
        return result;
    }
    if (length == kLengthSymbols - 1) {
        unsigned extra;
        if (!state.input.Take(8, extra)) {
            return EXPLODE_TRUNCATED;
        }
        length += extra;
    }
    length += state.minimumMatch;
    if (length > remaining) {
        return EXPLODE_BAD_DATA;
    }
    remaining -= length;
    const unsigned distance = ((high << state.lowDistanceBits) | low) + 1;
    Window& window = state.window;
    for (unsigned i = 0; i < length; ++i) {
        const BYTE byte = window.bytes[(window.position - distance) & kWindowMask];
        if (!window.Put(byte)) {
            return EXPLODE_WRITE_FAILED;
        }
    }
    return EXPLODE_OK;
}

} // namespace

ExplodeResult Explode(WORD flags, ULONGLONG outputSize, ExplodeReadFunction read, void* readContext,
                      ExplodeWriteFunction write, void* writeContext)
{
    ScopedHeapMemory memory(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, kWindowSize + kInputSize + sizeof(Trees)));
    if (!memory) {
        return EXPLODE_NO_MEMORY;
    }
    BYTE* base = static_cast<BYTE*>(memory.Get());
    Trees& trees = *reinterpret_cast<Trees*>(base + kWindowSize + kInputSize);
    BitReader input(read, readContext, base + kWindowSize);
    Window window{base, 0, 0, write, writeContext};

    const bool literalTree = (flags & ZIP_FLAG_IMPLODE_3_TREES) != 0;
    ExplodeResult result = ReadTrees(input, literalTree, trees);
    ExplodeState state{input,
                       window,
                       trees,
                       literalTree,
                       (flags & ZIP_FLAG_IMPLODE_8K) ? 7u : 6u,
                       literalTree ? 3u : 2u};
    ULONGLONG remaining = outputSize;
    while (result == EXPLODE_OK && remaining > 0) {
        unsigned isLiteral;
        if (!input.Take(1, isLiteral)) {
            result = EXPLODE_TRUNCATED;
        } else if (isLiteral) {
            result = DecodeLiteral(state);
            --remaining;
        } else {
            result = DecodeMatch(state, remaining);
        }
    }
    if (result == EXPLODE_OK && !window.Flush()) {
        result = EXPLODE_WRITE_FAILED;
    }
    return result;
}
