#include "deflatewalk.h"
#include "huffmantable.h"

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
// An entry says what the next code in the bit stream is. Its low byte is the number of
// bits to step over: the code's length plus, for a length or distance symbol, its extra
// bits (at most 15 + 13), which is all the walk needs of it. The second byte is its kind.
// A code longer than the table's index reaches a subtable: then the low byte is the
// subtable's index width and the top 16 bits its first entry. A code-length code's
// entries keep the symbol in the top 16 bits.
using Entry = uint32_t;
constexpr Entry KindMask = 0xff00;
constexpr Entry Plain = 0 << 8;      // a literal, a distance or a code-length symbol
constexpr Entry Length = 1 << 8;     // a length symbol: a distance follows
constexpr Entry EndOfBlock = 2 << 8;
constexpr Entry Subtable = 3 << 8;
constexpr Entry Invalid = 4 << 8;    // no code, or a symbol outside the alphabet

constexpr unsigned MaxCodeLength = 15;
constexpr unsigned LitLenBits = 10;
constexpr unsigned DistBits = 8;
constexpr unsigned CodeLengthBits = 7;
// Room for the largest complete codes' subtables (1334 and 402 entries at these index
// widths); building a table that would need more fails rather than overflowing.
constexpr unsigned LitLenCapacity = 2048;
constexpr unsigned DistCapacity = 768;
constexpr unsigned LitLenSymbols = 288;
constexpr unsigned DistSymbols = 32;
constexpr unsigned CodeLengthSymbols = 19;

constexpr uint8_t LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t DistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                   6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t CodeLengthOrder[CodeLengthSymbols] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5,
                                                        11, 4, 12, 3, 13, 2, 14, 1, 15};

struct Alphabets
{
    Entry litLen[LitLenSymbols];
    Entry dist[DistSymbols];
    Entry codeLength[CodeLengthSymbols];

    constexpr Alphabets() : litLen(), dist(), codeLength()
    {
        for (unsigned s = 0; s < 256; ++s)
            litLen[s] = Plain;
        litLen[256] = EndOfBlock;
        for (unsigned s = 257; s < 286; ++s)
            litLen[s] = Length | LengthExtra[s - 257];
        litLen[286] = litLen[287] = Invalid;
        for (unsigned s = 0; s < 30; ++s)
            dist[s] = Plain | DistExtra[s];
        dist[30] = dist[31] = Invalid;
        for (unsigned s = 0; s < CodeLengthSymbols; ++s)
            codeLength[s] = Plain | (Entry(s) << 16);
    }
};
constexpr Alphabets Symbols;

// Builds the table of the canonical code with `lengths` in this decoder's entry layout.
bool buildTable(const uint8_t *lengths, unsigned symbols, const Entry *info, Entry *table,
                unsigned tableBits, unsigned capacity, bool loneCode = true)
{
    return huffman::buildTable<Entry, Invalid, Subtable, MaxCodeLength, LitLenSymbols>(
        lengths, symbols, info, table, tableBits, capacity, loneCode);
}

struct FixedTables
{
    Entry litLen[1u << LitLenBits];
    Entry dist[1u << DistBits];
    bool ok = false;

    FixedTables()
    {
        uint8_t lengths[LitLenSymbols];
        for (unsigned s = 0; s < LitLenSymbols; ++s)
            lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        uint8_t distLengths[DistSymbols];
        std::memset(distLengths, 5, sizeof distLengths);
        ok = buildTable(lengths, LitLenSymbols, Symbols.litLen, litLen, LitLenBits, 1u << LitLenBits)
             && buildTable(distLengths, DistSymbols, Symbols.dist, dist, DistBits, 1u << DistBits);
    }
};

const FixedTables &fixedTables()
{
    static const FixedTables tables;
    return tables;
}

// ---- bits ----------------------------------------------------------------------------
//
// The bits not yet consumed sit in `buffer` from its lowest bit, `count` of them; the
// bits above them are either zero or the stream's next bits, so a refill may OR whole
// words in. Past the end of the data, zero bytes are fed in and counted, and a walk that
// needs more than a word of them has run off its data.
class BitReader
{
public:
    BitReader(const unsigned char *data, size_t size) : m_start(data), m_next(data), m_end(data + size) {}

    // Makes at least 56 bits available; false once the walk is far past the data.
    bool refill()
    {
        if (PNV_LIKELY(m_end - m_next >= 8)) {
            uint64_t word;
            std::memcpy(&word, m_next, 8);
            if constexpr (std::endian::native == std::endian::big)
                word = __builtin_bswap64(word);
            m_buffer |= word << m_count;
            m_next += (63 - m_count) >> 3;
            m_count |= 56;
            return true;
        }
        while (m_count <= 56) {
            if (m_next < m_end)
                m_buffer |= uint64_t(*m_next++) << m_count;
            else if (++m_overrun > 8)
                return false;
            m_count += 8;
        }
        return true;
    }
    uint64_t peek() const { return m_buffer; }
    unsigned available() const { return m_count; }
    void consume(unsigned n)
    {
        m_buffer >>= n;
        m_count -= n;
    }
    unsigned take(unsigned n) // n <= available()
    {
        const unsigned v = unsigned(m_buffer & ((uint64_t(1) << n) - 1));
        consume(n);
        return v;
    }
    // The bit position of the next unconsumed bit.
    size_t position() const { return size_t(m_next - m_start + m_overrun) * 8 - m_count; }
    size_t size() const { return size_t(m_end - m_start); }
    // Restarts reading at byte `offset` (at most size()).
    void seek(size_t offset)
    {
        m_next = m_start + offset;
        m_buffer = 0;
        m_count = 0;
        m_overrun = 0;
    }

private:
    const unsigned char *m_start;
    const unsigned char *m_next;
    const unsigned char *m_end;
    uint64_t m_buffer = 0;
    unsigned m_count = 0;
    unsigned m_overrun = 0;
};

// ---- blocks --------------------------------------------------------------------------

struct Walker
{
    BitReader bits;
    Entry litLen[LitLenCapacity];
    Entry dist[DistCapacity];

    Walker(const unsigned char *data, size_t size) : bits(data, size) {}

    // Steps over a stored block's length, its complement and its bytes.
    bool skipStored()
    {
        const size_t at = (bits.position() + 7) / 8; // the rest of the header's byte is padding
        if (at > bits.size() || bits.size() - at < 4)
            return false;
        bits.seek(at);
        if (!bits.refill())
            return false;
        const unsigned len = bits.take(16);
        const unsigned nlen = bits.take(16);
        if (len != (~nlen & 0xffff) || bits.size() - at - 4 < len)
            return false;
        bits.seek(at + 4 + len);
        return true;
    }

    // Reads a dynamic block's code lengths and builds its tables.
    bool readDynamicTables()
    {
        if (!bits.refill())
            return false;
        const unsigned nlen = bits.take(5) + 257;
        const unsigned ndist = bits.take(5) + 1;
        const unsigned ncode = bits.take(4) + 4;
        if (nlen > 286 || ndist > 30)
            return false;
        uint8_t codeLengths[CodeLengthSymbols] = {};
        for (unsigned i = 0; i < ncode; ++i) {
            if (bits.available() < 3 && !bits.refill())
                return false;
            codeLengths[CodeLengthOrder[i]] = uint8_t(bits.take(3));
        }
        Entry codeTable[1u << CodeLengthBits];
        if (!buildTable(codeLengths, CodeLengthSymbols, Symbols.codeLength, codeTable, CodeLengthBits,
                        1u << CodeLengthBits, false))
            return false;

        uint8_t lengths[286 + 30] = {};
        const unsigned wanted = nlen + ndist;
        unsigned have = 0;
        while (have < wanted) {
            if (!bits.refill())
                return false;
            const Entry e = codeTable[bits.peek() & ((1u << CodeLengthBits) - 1)];
            if ((e & KindMask) != Plain)
                return false;
            bits.consume(e & 0xff);
            const unsigned symbol = e >> 16;
            if (symbol < 16) {
                lengths[have++] = uint8_t(symbol);
                continue;
            }
            uint8_t value = 0;
            unsigned repeat;
            if (symbol == 16) {
                if (have == 0)
                    return false;
                value = lengths[have - 1];
                repeat = 3 + bits.take(2);
            } else if (symbol == 17) {
                repeat = 3 + bits.take(3);
            } else {
                repeat = 11 + bits.take(7);
            }
            if (repeat > wanted - have)
                return false;
            std::memset(lengths + have, value, repeat);
            have += repeat;
        }
        if (lengths[256] == 0)
            return false; // a block must be able to end
        uint8_t litLengths[LitLenSymbols] = {};
        std::memcpy(litLengths, lengths, nlen);
        uint8_t distLengths[DistSymbols] = {};
        std::memcpy(distLengths, lengths + nlen, ndist);
        return buildTable(litLengths, LitLenSymbols, Symbols.litLen, litLen, LitLenBits, LitLenCapacity)
               && buildTable(distLengths, DistSymbols, Symbols.dist, dist, DistBits, DistCapacity);
    }

    // Steps over a Huffman block's symbols up to and including its end-of-block code.
    // Every step takes at most 48 bits (a 15-bit length code with 5 extra bits, then a
    // 15-bit distance code with 13), so one refill a step is enough.
    bool skipSymbols(const Entry *lit, const Entry *dst)
    {
        constexpr unsigned litMask = (1u << LitLenBits) - 1;
        constexpr unsigned distMask = (1u << DistBits) - 1;
        for (;;) {
            if (PNV_UNLIKELY(!bits.refill()))
                return false;
            uint64_t buffer = bits.peek();
            Entry e = lit[buffer & litMask];
            if (PNV_UNLIKELY((e & KindMask) == Subtable))
                e = lit[(e >> 16) + ((buffer >> LitLenBits) & ((1u << (e & 0xff)) - 1))];
            const Entry kind = e & KindMask;
            if (PNV_LIKELY(kind == Plain)) {
                bits.consume(e & 0xff);
                // A second literal or more without a refill while the bits last.
                buffer = bits.peek();
                e = lit[buffer & litMask];
                if ((e & KindMask) == Plain && (e & 0xff) <= bits.available()) {
                    bits.consume(e & 0xff);
                }
                continue;
            }
            if (kind == Length) {
                bits.consume(e & 0xff);
                buffer = bits.peek();
                Entry d = dst[buffer & distMask];
                if (PNV_UNLIKELY((d & KindMask) == Subtable))
                    d = dst[(d >> 16) + ((buffer >> DistBits) & ((1u << (d & 0xff)) - 1))];
                if (PNV_UNLIKELY((d & KindMask) != Plain))
                    return false;
                bits.consume(d & 0xff);
                continue;
            }
            if (kind == EndOfBlock) {
                bits.consume(e & 0xff);
                return true;
            }
            return false;
        }
    }

    bool run(FinalBlock *out)
    {
        for (;;) {
            if (!bits.refill())
                return false;
            const size_t header = bits.position();
            const unsigned final = bits.take(1);
            const unsigned type = bits.take(2);
            bool ok = false;
            if (type == 0) {
                ok = skipStored();
            } else if (type == 1) {
                const FixedTables &fixed = fixedTables();
                ok = fixed.ok && skipSymbols(fixed.litLen, fixed.dist);
            } else if (type == 2) {
                ok = readDynamicTables() && skipSymbols(litLen, dist);
            }
            if (!ok)
                return false;
            if (final) {
                const size_t end = bits.position();
                if (end > bits.size() * 8 || (end + 7) / 8 != bits.size())
                    return false;
                out->headerBit = header;
                out->padBits = unsigned(bits.size() * 8 - end);
                return true;
            }
        }
    }
};

} // namespace

bool findFinalBlock(const unsigned char *data, size_t size, FinalBlock *out)
{
    if (!data || size == 0 || !out)
        return false;
    Walker walker(data, size);
    return walker.run(out);
}

} // namespace pnvzip
