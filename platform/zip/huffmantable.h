#pragma once
// Canonical Huffman decoding tables, shared by the deflate block walker and the Deflate64
// decoder. An entry keeps its code's length (plus, for the walker, the extra bits that
// follow) in its low 8 bits and a value in its top 16; the caller's `Invalid` marks "no code"
// and `Subtable` a link from the root table to a subtable (start << 16 | Subtable | width).
// A code longer than the root table's index continues in a subtable, indexed by the bits
// after the root's; its entries hold the code's full length.

#include <cstdint>

namespace pnvzip::huffman {

inline unsigned reverseBits(unsigned code, unsigned length)
{
    unsigned r = 0;
    for (unsigned i = 0; i < length; ++i, code >>= 1)
        r = (r << 1) | (code & 1);
    return r;
}

// Builds the table of the canonical code with `lengths` (one per symbol, 0: unused).
// Fails on an over-subscribed code and on an incomplete one, except, with `loneCode`, a
// single code of one bit (a block may use a single distance); a code with no symbols at
// all gives a table of Invalid entries, which fails once something is decoded with it.
template <typename Entry, Entry Invalid, Entry Subtable, unsigned MaxCodeLength, unsigned LitLenSymbols>
bool buildTable(const uint8_t *lengths, unsigned symbols, const Entry *info, Entry *table,
                unsigned tableBits, unsigned capacity, bool loneCode = true)
{
    unsigned count[MaxCodeLength + 1] = {};
    for (unsigned s = 0; s < symbols; ++s)
        ++count[lengths[s]];
    count[0] = 0;
    int left = 1;
    unsigned maxLength = 0;
    for (unsigned len = 1; len <= MaxCodeLength; ++len) {
        left = 2 * left - int(count[len]);
        if (left < 0)
            return false;
        if (count[len])
            maxLength = len;
    }
    const unsigned rootSize = 1u << tableBits;
    for (unsigned i = 0; i < rootSize; ++i)
        table[i] = Invalid;
    if (maxLength == 0)
        return true;
    if (left > 0 && (!loneCode || maxLength != 1))
        return false;

    unsigned offset[MaxCodeLength + 2] = {};
    unsigned next[MaxCodeLength + 1] = {};
    for (unsigned len = 1; len <= MaxCodeLength; ++len) {
        offset[len + 1] = offset[len] + count[len];
        next[len] = len == 1 ? 0 : (next[len - 1] + count[len - 1]) << 1;
    }
    uint16_t sorted[LitLenSymbols];
    unsigned codes[LitLenSymbols];
    const unsigned total = offset[MaxCodeLength + 1];
    for (unsigned s = 0; s < symbols; ++s) {
        if (const unsigned len = lengths[s])
            sorted[offset[len]++] = uint16_t(s);
    }
    for (unsigned i = 0; i < total; ++i)
        codes[i] = next[lengths[sorted[i]]]++;

    unsigned used = rootSize;
    unsigned group = ~0u; // the root index whose subtable is being filled
    unsigned subStart = 0;
    unsigned subBits = 0;
    for (unsigned i = 0; i < total; ++i) {
        const unsigned symbol = sorted[i];
        const unsigned len = lengths[symbol];
        const Entry entry = info[symbol] == Invalid ? Invalid : Entry(info[symbol] + len);
        const unsigned reversed = reverseBits(codes[i], len);
        if (len <= tableBits) {
            for (unsigned j = reversed; j < rootSize; j += 1u << len)
                table[j] = entry;
            continue;
        }
        const unsigned root = reversed & (rootSize - 1);
        if (root != group) {
            // The codes sharing these first bits follow one another, longest last.
            const unsigned prefix = codes[i] >> (len - tableBits);
            unsigned longest = len;
            for (unsigned k = i + 1; k < total; ++k) {
                const unsigned klen = lengths[sorted[k]];
                if (codes[k] >> (klen - tableBits) != prefix)
                    break;
                longest = klen;
            }
            group = root;
            subBits = longest - tableBits;
            subStart = used;
            used += 1u << subBits;
            if (used > capacity)
                return false;
            for (unsigned j = subStart; j < used; ++j)
                table[j] = Invalid;
            table[root] = (Entry(subStart) << 16) | Subtable | subBits;
        }
        for (unsigned j = reversed >> tableBits; j < (1u << subBits); j += 1u << (len - tableBits))
            table[subStart + j] = entry;
    }
    return true;
}

} // namespace pnvzip::huffman
