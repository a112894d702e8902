#pragma once
// Decodes Implode (zip method 6), the sliding-window method of early PKZIP versions.
//
// The data starts with two or three Shannon-Fano code descriptions (literals when the
// entry's flag bit 2 is set, then lengths, then distances), each a byte holding how many
// bytes follow less one, then bytes of (count - 1) << 4 | (bit length - 1) for runs of
// symbols of the same code length. Codes are given out from the longest down, as
// consecutive numbers within each length, and stored with their first bit first in the
// least-significant-first bit stream. Then, until the recorded size is reached: a 1 bit
// and a literal (coded, or 8 plain bits without a literal code), or a 0 bit and a match:
// the distance's low 6 bits (7 with the 8 KiB window, flag bit 1), its high 6 bits coded,
// plus one; the length coded (with 8 plain bits added to the highest code, 63), plus 3
// with a literal code, 2 without. Bytes before the start of the data read as zeros.
//
// Memory is fixed: the code tables, an input buffer and the output window (about 140 KiB).

#include "streamdecoder.h"

#include <cstdint>
#include <memory>

namespace pnvzip {

class ImplodeDecoder
{
public:
    struct Options
    {
        bool largeWindow = false; // 8 KiB instead of 4 KiB
        bool literalTree = false; // literals are coded (three code tables, not two)
    };

    ImplodeDecoder();
    ~ImplodeDecoder();
    ImplodeDecoder(const ImplodeDecoder &) = delete;
    ImplodeDecoder &operator=(const ImplodeDecoder &) = delete;

    // Decodes data that unpacks to `size` bytes.
    stream::Result decode(Options options, uint64_t size, const stream::Reader &read, const stream::Writer &write);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace pnvzip
