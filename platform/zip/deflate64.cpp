#include "deflate64.h"

#include "huffmantable.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__GNUC__)
#define PNV_LIKELY(x) __builtin_expect(!!(x), 1)
#define PNV_UNLIKELY(x) __builtin_expect(!!(x), 0)
#else
#define PNV_LIKELY(x) (x)
#define PNV_UNLIKELY(x) (x)
#endif

namespace pnvzip {

namespace {

// ---- decoding tables -----------------------------------------------------------------
//
// An entry says what the next code in the bit stream stands for:
//   bits  0- 7  the code's length in bits (a subtable link: the subtable's index width)
//   bits  8-12  the number of extra bits after the code (lengths and distances)
//   bits 13-15  the kind
//   bits 16-31  the value: a literal byte, the base of a length or a distance, the symbol
//               of a code-length code, or where a subtable starts
// A code longer than the root table's index continues in a subtable, indexed by the bits
// after the root's; its entries hold the code's full length.
using Entry = uint32_t;
constexpr Entry KindMask = 7u << 13;
constexpr Entry Plain = 0u << 13;      // a literal, a distance or a code-length symbol
constexpr Entry Length = 1u << 13;     // a length symbol: a distance follows
constexpr Entry EndOfBlock = 2u << 13;
constexpr Entry Subtable = 3u << 13;
constexpr Entry Invalid = 4u << 13;    // no code, or a symbol outside the alphabet

constexpr Entry info(Entry kind, unsigned extra, unsigned value)
{
    return kind | Entry(extra) << 8 | Entry(value) << 16;
}
constexpr unsigned codeBits(Entry e) { return e & 0xff; }
constexpr unsigned extraBits(Entry e) { return (e >> 8) & 0x1f; }
constexpr unsigned valueOf(Entry e) { return e >> 16; }

constexpr unsigned MaxCodeLength = 15;
constexpr unsigned LitLenBits = 10;
constexpr unsigned DistBits = 8;
constexpr unsigned CodeLengthBits = 7;
// Room for the subtables of any complete code: a subtable k bits wide holds a complete
// subtree of the code, so at least k + 1 of its symbols, and k is at most 15 minus the
// root's width; 288 symbols then fill at most 288 / 6 * 32 entries beyond the root's
// 1024, and 32 distance symbols at most 32 / 8 * 128 beyond its 256. Building a table
// that would need more fails rather than overflowing.
constexpr unsigned LitLenCapacity = 1024 + 288 / 6 * 32;
constexpr unsigned DistCapacity = 256 + 32 / 8 * 128;
constexpr unsigned LitLenSymbols = 288;
constexpr unsigned DistSymbols = 32;
constexpr unsigned CodeLengthSymbols = 19;

constexpr size_t Window = size_t(1) << 16;
constexpr unsigned MaxMatch = 65538;
constexpr size_t InputSize = size_t(256) << 10;
// Zero bytes put after the input's end, so that the last symbols decode like the others;
// decoding that reaches into them has run past the data.
constexpr size_t InputPad = 32;
// The symbol loop runs while this many input bytes are left: two refills of 8 bytes.
constexpr ptrdiff_t FastInput = 16;
constexpr size_t CopySlack = 16; // a copy may write this far past a match's end

constexpr uint16_t LengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                     31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t DistBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                   49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                   2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t DistExtra[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                   7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr uint8_t CodeLengthOrder[CodeLengthSymbols] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5,
                                                        11, 4, 12, 3, 13, 2, 14, 1, 15};

// What each symbol of the three alphabets means.
struct Alphabets
{
    Entry litLen[LitLenSymbols];
    Entry dist[DistSymbols];
    Entry codeLength[CodeLengthSymbols];
    unsigned distCodes; // how many distance codes a dynamic block may declare

    constexpr explicit Alphabets(bool deflate64) : litLen(), dist(), codeLength(), distCodes(deflate64 ? 32 : 30)
    {
        for (unsigned s = 0; s < 256; ++s)
            litLen[s] = info(Plain, 0, s);
        litLen[256] = info(EndOfBlock, 0, 0);
        for (unsigned s = 257; s < 286; ++s)
            litLen[s] = info(Length, LengthExtra[s - 257], LengthBase[s - 257]);
        if (deflate64)
            litLen[285] = info(Length, 16, 3);
        litLen[286] = litLen[287] = Invalid;
        for (unsigned s = 0; s < DistSymbols; ++s)
            dist[s] = s < distCodes ? info(Plain, DistExtra[s], DistBase[s]) : Invalid;
        for (unsigned s = 0; s < CodeLengthSymbols; ++s)
            codeLength[s] = info(Plain, 0, s);
    }
};
constexpr Alphabets Deflate64Symbols(true);
constexpr Alphabets DeflateSymbols(false);

// Builds the table of the canonical code with `lengths` in this decoder's entry layout.
bool buildTable(const uint8_t *lengths, unsigned symbols, const Entry *info, Entry *table,
                unsigned tableBits, unsigned capacity, bool loneCode = true)
{
    return huffman::buildTable<Entry, Invalid, Subtable, MaxCodeLength, LitLenSymbols>(
        lengths, symbols, info, table, tableBits, capacity, loneCode);
}

// The entry for the code at the start of `bits`, following a subtable link.
inline Entry lookup(const Entry *table, unsigned rootBits, uint64_t bits)
{
    Entry e = table[bits & ((1u << rootBits) - 1)];
    if (PNV_UNLIKELY((e & KindMask) == Subtable))
        e = table[valueOf(e) + ((bits >> rootBits) & ((1u << codeBits(e)) - 1))];
    return e;
}

// Copies a match of `length` bytes from `distance` bytes back (1 <= distance <= what was
// written before `out`); may write up to CopySlack bytes past its end.
inline uint8_t *copyMatch(uint8_t *out, unsigned distance, unsigned length)
{
    const uint8_t *src = out - distance;
    uint8_t *const stop = out + length;
    if (PNV_LIKELY(distance >= 16)) {
        do {
            std::memcpy(out, src, 16);
            out += 16;
            src += 16;
        } while (out < stop);
    } else if (distance >= 8) {
        do {
            std::memcpy(out, src, 8);
            out += 8;
            src += 8;
        } while (out < stop);
    } else if (distance == 1) {
        std::memset(out, *src, length);
    } else {
        do
            *out++ = *src++;
        while (out < stop);
    }
    return stop;
}

} // namespace

struct Deflate64Decoder::Impl
{
    enum class Step { Ok, Stop };

    const Alphabets &symbols;
    Entry fixedLitLen[1u << LitLenBits];
    Entry fixedDist[1u << DistBits];
    Entry litLen[LitLenCapacity];
    Entry dist[DistCapacity];

    // Input: [next, end) is unread; after the stream's end `end` includes InputPad zero
    // bytes and `realEnd` marks where they start.
    std::unique_ptr<uint8_t[]> input{new uint8_t[InputSize + InputPad]};
    const uint8_t *next = nullptr;
    const uint8_t *end = nullptr;
    const uint8_t *realEnd = nullptr;
    bool ended = false;
    bool readFailed = false;
    // The bits not yet consumed sit in `bits` from its lowest bit, `count` of them; the
    // bits above are zero or the stream's next bits, so a refill may OR whole words in.
    uint64_t bits = 0;
    unsigned count = 0;

    // Output: the window (up to 64 KiB before `flushed`) and the bytes not yet written.
    std::unique_ptr<uint8_t[]> output{new uint8_t[Window + OutputSlice + MaxMatch + CopySlack]};
    uint8_t *out = nullptr;
    uint8_t *flushed = nullptr;
    uint8_t *outLimit = nullptr; // a symbol starts only at or before this point
    // The output up to here was decoded from the real input (none of it from the padding
    // after its end): what a truncated stream hands over.
    uint8_t *trusted = nullptr;

    const Reader *reader = nullptr;
    const Writer *writer = nullptr;
    Result failure = Result::Damaged; // why a step stopped

    // The window and input may hold decrypted data: wiped before they are freed.
    ~Impl()
    {
        OPENSSL_cleanse(input.get(), InputSize + InputPad);
        OPENSSL_cleanse(output.get(), Window + OutputSlice + MaxMatch + CopySlack);
    }

    explicit Impl(Format format) : symbols(format == Format::Deflate64 ? Deflate64Symbols : DeflateSymbols)
    {
        uint8_t lengths[LitLenSymbols];
        for (unsigned s = 0; s < LitLenSymbols; ++s)
            lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        uint8_t distLengths[DistSymbols];
        std::memset(distLengths, 5, sizeof distLengths);
        buildTable(lengths, LitLenSymbols, symbols.litLen, fixedLitLen, LitLenBits, 1u << LitLenBits);
        buildTable(distLengths, DistSymbols, symbols.dist, fixedDist, DistBits, 1u << DistBits);
    }

    Step fail(Result why)
    {
        failure = why;
        return Step::Stop;
    }
    Step inputFailure() { return fail(readFailed ? Result::ReadFailed : Result::Truncated); }

    // True when decoding has consumed bits beyond the real input (into the padding).
    bool pastEnd() const { return ended && (next - realEnd) * 8 > ptrdiff_t(count); }

    // Tops the input up to FastInput bytes when the stream has them; false on a read error.
    bool fill()
    {
        if (readFailed)
            return false;
        while (!ended && end - next < FastInput) {
            const size_t keep = size_t(end - next);
            std::memmove(input.get(), next, keep);
            next = input.get();
            uint8_t *const to = input.get() + keep;
            const ptrdiff_t n = (*reader)(to, InputSize - keep);
            if (n < 0 || size_t(n) > InputSize - keep) {
                readFailed = true;
                end = realEnd = to;
                return false;
            }
            end = realEnd = to + n;
            if (n == 0) {
                ended = true;
                std::memset(to, 0, InputPad);
                end = to + InputPad;
            }
        }
        return true;
    }

    // Makes at least `n` (at most 57) bits available, a byte at a time.
    bool need(unsigned n)
    {
        while (count < n) {
            if (next == end && (!fill() || next == end))
                return false;
            bits |= uint64_t(*next++) << count;
            count += 8;
        }
        return true;
    }
    unsigned take(unsigned n) // n <= count
    {
        const unsigned v = unsigned(bits & ((uint64_t(1) << n) - 1));
        bits >>= n;
        count -= n;
        return v;
    }

    // Hands the bytes not yet written to the writer and keeps the last 64 KiB as window.
    bool flush()
    {
        if (out > flushed && !(*writer)(flushed, size_t(out - flushed)))
            return false;
        if (size_t(out - output.get()) > Window) {
            std::memmove(output.get(), out - Window, Window);
            out = output.get() + Window;
        }
        flushed = out;
        return true;
    }

    // Room for the next symbol: FastInput bytes of input and a match's worth of output.
    // Near the input's end it runs before every symbol: a symbol read from the padding
    // ends the stream as truncated, and the output before it is trusted.
    Step makeRoom()
    {
        if (pastEnd())
            return fail(Result::Truncated);
        if (out > outLimit && !flush())
            return fail(Result::Stopped);
        trusted = out;
        if (end - next < FastInput && (!fill() || end - next < FastInput))
            return inputFailure();
        return Step::Ok;
    }

    Step storedBlock()
    {
        take(count % 8); // the rest of the header's byte
        if (!need(32))
            return inputFailure();
        unsigned length = take(16);
        if (length != (~take(16) & 0xffff))
            return fail(Result::Damaged);
        // Whole bytes still in the bit buffer come first, then the input's.
        for (; length && count >= 8; --length)
            *out++ = uint8_t(take(8));
        if (length == 0)
            return Step::Ok;
        bits = 0; // the bytes to copy come next; the bits above `count` are theirs
        if (!pastEnd())
            trusted = out;
        while (length) {
            if (out > outLimit && !flush())
                return fail(Result::Stopped);
            trusted = out;
            // The header may have been read from the padding after the input's end.
            if (next >= realEnd && (ended || !fill() || next >= realEnd))
                return inputFailure();
            const size_t n = std::min({size_t(length), size_t(realEnd - next), size_t(MaxMatch)});
            std::memcpy(out, next, n);
            out += n;
            trusted = out;
            next += n;
            length -= unsigned(n);
        }
        return Step::Ok;
    }

    // Reads a dynamic block's code lengths and builds its tables.
    Step dynamicTables()
    {
        if (!need(14))
            return inputFailure();
        const unsigned nlen = take(5) + 257;
        const unsigned ndist = take(5) + 1;
        const unsigned ncode = take(4) + 4;
        if (nlen > 286 || ndist > symbols.distCodes)
            return fail(Result::Damaged);
        uint8_t codeLengths[CodeLengthSymbols] = {};
        for (unsigned i = 0; i < ncode; ++i) {
            if (!need(3))
                return inputFailure();
            codeLengths[CodeLengthOrder[i]] = uint8_t(take(3));
        }
        Entry codeTable[1u << CodeLengthBits];
        if (!buildTable(codeLengths, CodeLengthSymbols, symbols.codeLength, codeTable, CodeLengthBits,
                        1u << CodeLengthBits, false))
            return fail(Result::Damaged);

        uint8_t lengths[286 + 32] = {};
        const unsigned wanted = nlen + ndist;
        unsigned have = 0;
        while (have < wanted) {
            if (!need(CodeLengthBits + 7))
                return inputFailure();
            const Entry e = codeTable[bits & ((1u << CodeLengthBits) - 1)];
            if ((e & KindMask) != Plain)
                return fail(Result::Damaged);
            take(codeBits(e));
            const unsigned symbol = valueOf(e);
            if (symbol < 16) {
                lengths[have++] = uint8_t(symbol);
                continue;
            }
            uint8_t value = 0;
            unsigned repeat;
            if (symbol == 16) {
                if (have == 0)
                    return fail(Result::Damaged);
                value = lengths[have - 1];
                repeat = 3 + take(2);
            } else if (symbol == 17) {
                repeat = 3 + take(3);
            } else {
                repeat = 11 + take(7);
            }
            if (repeat > wanted - have)
                return fail(Result::Damaged);
            std::memset(lengths + have, value, repeat);
            have += repeat;
        }
        if (lengths[256] == 0)
            return fail(Result::Damaged); // a block must be able to end
        uint8_t litLengths[LitLenSymbols] = {};
        std::memcpy(litLengths, lengths, nlen);
        uint8_t distLengths[DistSymbols] = {};
        std::memcpy(distLengths, lengths + nlen, ndist);
        if (!buildTable(litLengths, LitLenSymbols, symbols.litLen, litLen, LitLenBits, LitLenCapacity)
            || !buildTable(distLengths, DistSymbols, symbols.dist, dist, DistBits, DistCapacity))
            return fail(Result::Damaged);
        return Step::Ok;
    }

    // Decodes a Huffman block's symbols up to and including its end-of-block code. The
    // state lives in locals while it runs. A refill makes at least 56 bits available: a
    // length takes at most 15 + 16 of them and its distance 15 + 14, so a match needs a
    // second refill at most; three literals (at most 45 bits) need none.
    Step huffmanBlock(const Entry *lit, const Entry *dst)
    {
        constexpr unsigned LitMask = (1u << LitLenBits) - 1;
        uint64_t b = bits;
        unsigned n = count;
        const uint8_t *in = next;
        // Past the input's end, every symbol goes through makeRoom.
        const uint8_t *inEnd = ended ? realEnd : end;
        uint8_t *o = out;
        uint8_t *const base = output.get();
        uint8_t *const limit = outLimit;
        auto save = [&] {
            bits = b;
            count = n;
            next = in;
            out = o;
        };
        auto load = [&] {
            b = bits;
            n = count;
            in = next;
            inEnd = ended ? realEnd : end;
            o = out;
        };
        auto refill = [&] {
            uint64_t word;
            std::memcpy(&word, in, 8);
            if constexpr (std::endian::native == std::endian::big)
                word = __builtin_bswap64(word);
            b |= word << n;
            in += (63 - n) >> 3;
            n |= 56;
        };
        auto consume = [&](unsigned k) {
            b >>= k;
            n -= k;
        };
        for (;;) {
            if (PNV_UNLIKELY(inEnd - in < FastInput || o > limit)) {
                save();
                if (makeRoom() != Step::Ok)
                    return Step::Stop;
                load();
            }
            refill();
            Entry e = lookup(lit, LitLenBits, b);
            Entry kind = e & KindMask;
            if (PNV_LIKELY(kind == Plain)) {
                *o++ = uint8_t(valueOf(e));
                consume(codeBits(e));
                // Up to two more literals while the bits last (near the input's end,
                // one symbol at a time).
                e = lit[b & LitMask];
                if ((e & KindMask) != Plain || PNV_UNLIKELY(inEnd - in < FastInput))
                    continue;
                *o++ = uint8_t(valueOf(e));
                consume(codeBits(e));
                e = lit[b & LitMask];
                if ((e & KindMask) != Plain)
                    continue;
                *o++ = uint8_t(valueOf(e));
                consume(codeBits(e));
                continue;
            }
            if (PNV_LIKELY(kind == Length)) {
                unsigned k = codeBits(e);
                const unsigned length = valueOf(e) + (unsigned(b >> k) & ((1u << extraBits(e)) - 1));
                consume(k + extraBits(e));
                if (n < 30)
                    refill();
                e = lookup(dst, DistBits, b);
                if (PNV_UNLIKELY((e & KindMask) != Plain)) {
                    save();
                    return fail(Result::Damaged);
                }
                k = codeBits(e);
                const unsigned distance = valueOf(e) + (unsigned(b >> k) & ((1u << extraBits(e)) - 1));
                consume(k + extraBits(e));
                if (PNV_UNLIKELY(distance > size_t(o - base))) {
                    save();
                    return fail(Result::Damaged);
                }
                o = copyMatch(o, distance, length);
                continue;
            }
            if (kind == EndOfBlock) {
                consume(codeBits(e));
                save();
                return Step::Ok;
            }
            save();
            return fail(Result::Damaged);
        }
    }

    Result decode(const Reader &read, const Writer &write)
    {
        reader = &read;
        writer = &write;
        next = end = realEnd = input.get();
        ended = readFailed = false;
        bits = 0;
        count = 0;
        out = flushed = trusted = output.get();
        outLimit = output.get() + Window + OutputSlice;

        // A truncated stream hands over what it decoded from the real input first.
        auto cutShort = [&] {
            out = trusted;
            flush();
            return Result::Truncated;
        };
        for (;;) {
            if (!need(3)) {
                inputFailure();
                return failure == Result::Truncated ? cutShort() : failure;
            }
            const unsigned final = take(1);
            const unsigned type = take(2);
            Step step = Step::Stop;
            failure = Result::Damaged;
            if (type == 0)
                step = storedBlock();
            else if (type == 1)
                step = huffmanBlock(fixedLitLen, fixedDist);
            else if (type == 2 && dynamicTables() == Step::Ok)
                step = huffmanBlock(litLen, dist);
            if (step != Step::Ok) {
                if (failure == Result::Truncated || (failure == Result::Damaged && pastEnd()))
                    return cutShort();
                return failure;
            }
            if (pastEnd())
                return cutShort();
            trusted = out;
            if (final)
                return flush() ? Result::Finished : Result::Stopped;
        }
    }
};

Deflate64Decoder::Deflate64Decoder(Format format) : d(std::make_unique<Impl>(format)) {}

Deflate64Decoder::~Deflate64Decoder() = default;

Deflate64Decoder::Result Deflate64Decoder::decode(const Reader &read, const Writer &write)
{
    return d->decode(read, write);
}

} // namespace pnvzip
