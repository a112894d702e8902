#pragma once
// Finds where the last block of a raw deflate stream starts, without inflating it.
//
// The walk decodes only the block structure: a stored block's length is read and its
// bytes skipped; in a Huffman block (fixed or dynamic codes) each literal, length and
// distance symbol is looked up in a table and stepped over with its extra bits, without
// a window and without producing any output, until the end-of-block symbol. Its only use
// is joining independently compressed pieces (deflatepieces.h), where the final block's
// "final" bit has to be cleared.
//
// The walk reads nothing outside [data, data + size), whatever the bytes. It checks the
// structure the way an inflater would (codes neither over-subscribed nor incomplete,
// code-length repeats within bounds, no length or distance symbols outside the alphabet,
// stored lengths matching their complement, the stream ending in its last byte) but not
// that distances stay within the data decoded so far, which needs the output's length.

#include <cstddef>

namespace pnvzip {

struct FinalBlock
{
    size_t headerBit = 0; // the bit (8 * byte + bit in byte, from the lowest) of its BFINAL bit
    unsigned padBits = 0; // unused bits at the end of the stream's last byte, 0 to 7
};

// True if `data` is exactly one complete raw deflate stream (padding bits aside), with
// `*out` telling where its final block starts and how its last byte ends.
bool findFinalBlock(const unsigned char *data, size_t size, FinalBlock *out);

} // namespace pnvzip
